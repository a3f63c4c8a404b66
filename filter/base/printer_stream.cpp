// Buffered printer stream: one buffer per job, written to its sink on flush.
#include "base/printer_stream.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "base/format.h"

namespace {
// Large enough for a whole 1024-byte bitmap piece plus its commands; flushed at every drain.
constexpr size_t kBufferSize = 64 * 1024;
}  // namespace

bool FdSink::write(const void *data, size_t n) {
  const char *p = static_cast<const char *>(data);
  while (n > 0) {
    ssize_t w = ::write(fd_, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

PrinterStream::PrinterStream(PrinterSink &sink)
    : sink_(sink), buffer_(new unsigned char[kBufferSize]) {}

void PrinterStream::writeOut(const void *data, size_t n) {
  if (n == 0 || failed_) return;
  if (!sink_.write(data, n)) {
    failed_ = true;
    if (onFailure) onFailure();
  }
}

void PrinterStream::flush() {
  writeOut(buffer_.get(), used_);
  used_ = 0;
}

void PrinterStream::write(const void *data, size_t n) {
  if (n >= kBufferSize) {
    flush();
    writeOut(data, n);
    return;
  }
  if (used_ + n > kBufferSize) flush();
  std::memcpy(buffer_.get() + used_, data, n);
  used_ += n;
}

void PrinterStream::printf(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const FormattedText text(fmt, ap);
  va_end(ap);
  write(text.view().data(), text.view().size());
}
