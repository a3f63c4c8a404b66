// Scheduler messages: formatted into one buffer and written whole to standard error.
#include "io/log.h"

#include <unistd.h>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace {
std::mutex captureLock;
std::function<void(std::string_view)> capture;

void writeAll(const char *p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(STDERR_FILENO, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}
}  // namespace

void logMessage(const char *fmt, ...) {
  char line[2048];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  if (n < 0) return;
  std::string big;
  const char *text = line;
  if (static_cast<size_t>(n) >= sizeof line) {
    big.assign(static_cast<size_t>(n) + 1, '\0');
    va_start(ap, fmt);
    vsnprintf(big.data(), big.size(), fmt, ap);
    va_end(ap);
    text = big.data();
  }
  {
    std::lock_guard<std::mutex> guard(captureLock);
    if (capture) {
      capture(std::string_view(text, static_cast<size_t>(n)));
      return;
    }
  }
  writeAll(text, static_cast<size_t>(n));
}

void logSetCapture(std::function<void(std::string_view)> fn) {
  std::lock_guard<std::mutex> guard(captureLock);
  capture = std::move(fn);
}
