// Lines for the scheduler ("INFO:", "ATTR:", "PAGE:", "DEBUG:", "ERROR:", "STATE:") and debug
// lines. Each job writes through its own Log; both of its threads may write, and every line
// reaches the sink whole.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

// Destination of the lines.
class LogSink {
 public:
  virtual ~LogSink() = default;
  // One formatted message (one or more whole lines, or the rare text without its line end).
  virtual void write(std::string_view text) = 0;
  // The line of the CUPS localised error printer for a failed call: prefix, the message and
  // the system's reason for errno.
  virtual void localisedError(const char *prefix, const char *message);
};

// Writes each message with one write(2) (standard error of the filter, unbuffered).
class FdLogSink : public LogSink {
 public:
  explicit FdLogSink(int fd) : fd_(fd) {}
  void write(std::string_view text) override;
  // On standard error, libcups's own printer (in the user's language).
  void localisedError(const char *prefix, const char *message) override;

 private:
  int fd_;
};

// Keeps every message, for tests and in-process tools.
class StringLogSink : public LogSink {
 public:
  void write(std::string_view text) override {
    std::lock_guard<std::mutex> guard(lock_);
    text_.append(text);
  }
  std::string text() const {
    std::lock_guard<std::mutex> guard(lock_);
    return text_;
  }

 private:
  mutable std::mutex lock_;
  std::string text_;
};

class Log {
 public:
  explicit Log(LogSink &sink) : sink_(sink) {}
  void message(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  void localisedError(const char *prefix, const char *message);

 private:
  LogSink &sink_;
  std::mutex lock_;  // one message at a time reaches the sink
};
