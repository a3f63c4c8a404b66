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

const char *reasonKeyword(PrinterReason reason) {
  switch (reason) {
    case kReasonMediaEmpty:
      return "media-empty-error";
    case kReasonCoverOpen:
      return "cover-open-error";
    case kReasonOverheat:
      return "fuser-over-temp-warning";
  }
  return "other";
}

void LogSink::message(MessageLevel level, std::string_view text) {
  const char *prefix = level == MessageLevel::Error     ? "ERROR:"
                       : level == MessageLevel::Warning ? "WARNING:"
                                                        : "INFO:";
  std::string line(prefix);
  if (!text.empty()) line.append(" ").append(text);
  write(line.append("\n"));
}

void LogSink::pageBegins(int page) {
  write("PAGE: " + std::to_string(page) + " 1\n");
}

void LogSink::pageProgress(unsigned percent) {
  write("ATTR: job-media-progress=" + std::to_string(percent) + "\n");
}

void LogSink::printerReason(PrinterReason reason, bool on) {
  write(std::string("STATE: ") + (on ? '+' : '-') + reasonKeyword(reason) + "\n");
}

void Log::event(MessageLevel level, const char *fmt, va_list ap) {
  const FormattedText text(fmt, ap);
  std::lock_guard<std::mutex> guard(lock_);
  sink_.message(level, text.view());
}

void Log::info(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  event(MessageLevel::Info, fmt, ap);
  va_end(ap);
}

void Log::warning(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  event(MessageLevel::Warning, fmt, ap);
  va_end(ap);
}

void Log::error(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  event(MessageLevel::Error, fmt, ap);
  va_end(ap);
}

void Log::pageBegins(int page) {
  std::lock_guard<std::mutex> guard(lock_);
  sink_.pageBegins(page);
}

void Log::pageProgress(unsigned percent) {
  std::lock_guard<std::mutex> guard(lock_);
  sink_.pageProgress(percent);
}

void Log::printerReason(PrinterReason reason, bool on) {
  std::lock_guard<std::mutex> guard(lock_);
  sink_.printerReason(reason, on);
}
