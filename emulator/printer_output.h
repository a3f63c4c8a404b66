// What the emulated printer hands on (decoded pages, its command log, the raw stream) and the
// caps that keep one job within memory and disk, whoever receives the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "page_png.h"

namespace emu {

struct PrinterLimits {
  // Stream bytes of one job (an uncompressed A4 page at 300 dpi is 1.1 MB, 2.2 MB as ZPL hex).
  uint64_t jobBytes = uint64_t{1} << 30;
  // Dots of one page (an A4 page at 300 dpi is 2479 x 3508 = 8.7 million).
  uint64_t pageDots = uint64_t{1} << 26;
  // Dots of all pages of one job (about 990 such A4 pages).
  uint64_t jobDots = uint64_t{1} << 33;
  // Files in one job's folder (the log, the raw stream, the page list, one image per page).
  uint64_t jobFiles = 2000;
  // Disk in the backend's folder, all job folders together, in whole blocks (a file of one byte
  // takes a block); older jobs are removed to make room. In the emulator program's folder: the
  // disk that the run's files take.
  uint64_t totalBytes = uint64_t{2} << 30;
  // Files in the backend's folder, all job folders together (older jobs make room as above).
  uint64_t totalFiles = 10000;
  // Dots that decoding label graphics may fill, paint and render in one job: a graphic stored
  // once and recalled on every label costs its dots each time, however few bytes the stream
  // spends on it. About 330 labels of 4 x 6 in at 300 dpi.
  uint64_t decodeDots = uint64_t{2} << 30;
};

// A page as the printer decoded it.
struct PrintedPage {
  int number = 0;        // from 1, in stream order
  bool label = false;    // a label language's page (else a thermal bitmap)
  std::string encoding;  // "raw" or "LZO" (thermal), "label" or "label-unprinted"
  int frames = 0;        // LZO frames of a thermal bitmap
  GrayImage image;       // 0 black, 255 white; may be empty (0 x 0)
};

enum class SinkStatus {
  Ok,
  OverLimit,  // a cap is reached: the job ends
  Failed,     // the output could not be written: the job ends
};

// Receives the pages one at a time, each as soon as it has ended. The printer keeps nothing of a
// page once it is handed on.
class PageSink {
 public:
  virtual ~PageSink() = default;
  // The sink may take the image. Anything but Ok ends the job with `error`.
  virtual SinkStatus page(PrintedPage &page, std::string &error) = 0;
  // The stream's bytes as they arrive, for a sink that keeps them; anything but Ok ends the job.
  virtual SinkStatus stream(const unsigned char *data, size_t n, std::string &error) {
    (void)data, (void)n, (void)error;
    return SinkStatus::Ok;
  }
};

// The printer's command log: one line per command, query answer and event.
class CommandLog {
 public:
  virtual ~CommandLog() = default;
  // One line without its line end; anything but Ok ends the job with `error`.
  virtual SinkStatus line(std::string_view text, std::string &error) = 0;
  // The lines so far should be readable now (at drains and at the end).
  virtual void flush() {}
};

}  // namespace emu
