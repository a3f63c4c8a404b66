// What a job reports to its host: messages, page progress and printer conditions as typed
// events, which the filter writes as scheduler lines ("INFO:", "ATTR:", "PAGE:", "ERROR:",
// "STATE:"), and debug lines. Each job writes through its own Log; both of its threads may write,
// and every line reaches the sink whole.
#pragma once

#include <cstdarg>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

// The printer conditions a job reports as printer-state reasons (bits of a set).
enum PrinterReason : unsigned char {
  kReasonMediaEmpty = 1,  // "media-empty-error": out of paper
  kReasonCoverOpen = 2,   // "cover-open-error"
  kReasonOverheat = 4,    // "fuser-over-temp-warning": the print head is too hot
};
// The reason's IPP keyword.
const char *reasonKeyword(PrinterReason reason);

enum class MessageLevel { Info, Warning, Error };

// Where a job's reports go: typed events, and the debug text beside them. Each event's default
// writes the scheduler line of the CUPS filter convention through write(); a host other than
// the scheduler overrides the events it acts on.
class LogSink {
 public:
  virtual ~LogSink() = default;
  // Debug text: one formatted message (one or more whole lines, or the rare text without its
  // line end).
  virtual void write(std::string_view text) = 0;
  // The line of the CUPS localised error printer for a failed call: prefix, the message and
  // the system's reason for errno.
  virtual void localisedError(const char *prefix, const char *message);
  // A message for the user ("INFO: text", "WARNING: text", "ERROR: text"; an empty info
  // message clears the printer's message).
  virtual void message(MessageLevel level, std::string_view text);
  // Page page of the job begins ("PAGE: page 1").
  virtual void pageBegins(int page);
  // The share of the page's rows sent so far ("ATTR: job-media-progress=percent").
  virtual void pageProgress(unsigned percent);
  // A printer condition begins or ends ("STATE: +keyword" or "STATE: -keyword").
  virtual void printerReason(PrinterReason reason, bool on);
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
  // Debug text.
  void message(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  void localisedError(const char *prefix, const char *message);
  // The events, to the sink.
  void info(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  void warning(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  void error(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  void pageBegins(int page);
  void pageProgress(unsigned percent);
  void printerReason(PrinterReason reason, bool on);

 private:
  void event(MessageLevel level, const char *fmt, va_list ap);

  LogSink &sink_;
  std::mutex lock_;  // one message at a time reaches the sink
};
