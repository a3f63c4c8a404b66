// The one stream that carries printer data (commands, bitmaps, label languages) to the device.
// Each job owns one, over a sink: standard output for the filter, the emulated printer in a
// test, a device in the printer application.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

// Destination of the printer stream.
class PrinterSink {
 public:
  virtual ~PrinterSink() = default;
  // Takes n bytes; returns false when the device side has gone away.
  virtual bool write(const void *data, size_t n) = 0;
};

// Writes to a descriptor (standard output of the filter).
class FdSink : public PrinterSink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  bool write(const void *data, size_t n) override;

 private:
  int fd_;
};

// Keeps every byte, for tests and in-process tools.
class StringSink : public PrinterSink {
 public:
  bool write(const void *data, size_t n) override {
    bytes.append(static_cast<const char *>(data), n);
    return true;
  }
  std::string bytes;
};

// Buffers the bytes and hands them to the sink on flush() or when the buffer is full. Only the
// job's main thread writes.
class PrinterStream {
 public:
  explicit PrinterStream(PrinterSink &sink);
  PrinterStream(const PrinterStream &) = delete;
  PrinterStream &operator=(const PrinterStream &) = delete;

  void write(const void *data, size_t n);
  void put(unsigned char byte) { write(&byte, 1); }
  void printf(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  void flush();
  // True once a write to the device failed (the backend closed the stream); later bytes are
  // dropped.
  bool failed() const { return failed_; }
  // Called once, when a write to the device first fails.
  std::function<void()> onFailure;

 private:
  void writeOut(const void *data, size_t n);
  PrinterSink &sink_;
  std::unique_ptr<unsigned char[]> buffer_;
  size_t used_ = 0;
  bool failed_ = false;
};
