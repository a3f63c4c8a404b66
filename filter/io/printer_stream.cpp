// Buffered printer stream: one buffer, written out with write(2) on flush.
#include "io/printer_stream.h"

#include "io/format.h"

#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

class StdoutSink : public PrinterSink {
 public:
  bool write(const void *data, size_t n) override {
    const char *p = static_cast<const char *>(data);
    while (n > 0) {
      ssize_t w = ::write(STDOUT_FILENO, p, n);
      if (w < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      p += w;
      n -= static_cast<size_t>(w);
    }
    return true;
  }
};

StdoutSink stdoutSink;
PrinterSink *sink = &stdoutSink;
std::atomic<bool> failed{false};
void (*failureHandler)() = nullptr;

// Large enough for a whole 1024-byte bitmap piece plus its commands; flushed at every drain.
constexpr size_t kBufferSize = 64 * 1024;
unsigned char buffer[kBufferSize];
size_t used = 0;

void writeOut(const void *data, size_t n) {
  if (n == 0 || failed.load(std::memory_order_relaxed)) return;
  if (!sink->write(data, n) && !failed.exchange(true) && failureHandler) failureHandler();
}

}  // namespace

void prnFlush() {
  writeOut(buffer, used);
  used = 0;
}

void prnWrite(const void *data, size_t n) {
  if (n >= kBufferSize) {
    prnFlush();
    writeOut(data, n);
    return;
  }
  if (used + n > kBufferSize) prnFlush();
  std::memcpy(buffer + used, data, n);
  used += n;
}

void prnPut(unsigned char byte) {
  prnWrite(&byte, 1);
}

void prnPrintf(const char *fmt, ...) {
  char line[1024];
  std::string spill;
  va_list ap;
  va_start(ap, fmt);
  std::string_view text = formatText(line, sizeof line, spill, fmt, ap);
  va_end(ap);
  prnWrite(text.data(), text.size());
}

bool prnFailed() {
  return failed.load();
}

void prnSetSink(PrinterSink *s) {
  used = 0;
  failed.store(false);
  sink = s ? s : &stdoutSink;
}

void prnSetFailureHandler(void (*handler)()) {
  failureHandler = handler;
}
