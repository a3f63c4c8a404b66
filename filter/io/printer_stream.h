// The one stream that carries printer data (commands, bitmaps, label languages) to the backend.
// Everything the printer receives goes through prnWrite/prnPrintf; tests swap the sink.
#pragma once

#include <cstddef>
#include <string>

// Destination of the printer stream. The default sink writes to standard output.
class PrinterSink {
 public:
  virtual ~PrinterSink() = default;
  // Takes n bytes; returns false when the device side has gone away.
  virtual bool write(const void *data, size_t n) = 0;
};

// Appends the bytes to a buffer, and writes the buffer to the sink on prnFlush or when full.
void prnWrite(const void *data, size_t n);
void prnPut(unsigned char byte);
void prnPrintf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void prnFlush();

// True once a write to the device failed (the backend closed the stream).
bool prnFailed();

// Replaces the sink (nullptr restores standard output); pending bytes are dropped.
void prnSetSink(PrinterSink *sink);

// A sink that keeps every byte, for tests and for in-process tools.
class StringSink : public PrinterSink {
 public:
  bool write(const void *data, size_t n) override {
    bytes.append(static_cast<const char *>(data), n);
    return true;
  }
  std::string bytes;
};

// Called once, from the thread that wrote, when a write to the device first fails.
void prnSetFailureHandler(void (*handler)());
