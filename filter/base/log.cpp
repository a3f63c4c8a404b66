// Scheduler lines: formatted into one buffer and handed to the sink whole.
#include "base/log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "base/format.h"

void FdLogSink::write(std::string_view text) {
  const char *p = text.data();
  size_t n = text.size();
  while (n > 0) {
    ssize_t w = ::write(fd_, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}

// The localised error printer of libcups (exported, not in the public headers).
extern "C" void _cupsLangPrintError(const char *prefix, const char *message);

void LogSink::localisedError(const char *prefix, const char *message) {
  const std::string text = std::string(prefix) + ":" + message + ": " + std::strerror(errno) + "\n";
  write(text);
}

void FdLogSink::localisedError(const char *prefix, const char *message) {
  if (fd_ == STDERR_FILENO)
    _cupsLangPrintError(prefix, message);
  else
    LogSink::localisedError(prefix, message);
}

void Log::localisedError(const char *prefix, const char *message) {
  std::lock_guard<std::mutex> guard(lock_);
  sink_.localisedError(prefix, message);
}

void Log::message(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const FormattedText text(fmt, ap);
  va_end(ap);
  std::lock_guard<std::mutex> guard(lock_);
  sink_.write(text.view());
}
