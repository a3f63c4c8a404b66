// Scheduler messages: formatted into one buffer and written whole to standard error.
#include "io/log.h"

#include "io/format.h"

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
  std::string spill;
  va_list ap;
  va_start(ap, fmt);
  std::string_view text = formatText(line, sizeof line, spill, fmt, ap);
  va_end(ap);
  {
    std::lock_guard<std::mutex> guard(captureLock);
    if (capture) {
      capture(text);
      return;
    }
  }
  writeAll(text.data(), text.size());
}

void logSetCapture(std::function<void(std::string_view)> fn) {
  std::lock_guard<std::mutex> guard(captureLock);
  capture = std::move(fn);
}
