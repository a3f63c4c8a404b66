// The label printer languages: page prologue, row output with each language's coding, page end.
#pragma once

#include <cups/raster.h>

#include <cstddef>
#include <memory>
#include <string>

#include "base/job.h"
#include "base/page.h"
#include "base/page_memory.h"
#include "base/printer_language.h"

// The most copies a label page asks of the printer: the largest count the ZPL, CPCL and PCL copy
// fields all take. CUPS makes copies itself; the raster header's count is normally 1.
inline constexpr unsigned kMaxLabelCopies = 999;

// Bytes per packed label row: (cupsWidth + 7) / 8.
unsigned labelRowBytes(const cups_page_header2_t &header);

// The language of the job's label model (job.model->language), or null when the model has
// none. Its pageFits refuses the pages whose numbers that size what follows do not fit its
// commands (the Dymo row length and label length, the EPL line-mode row length, the size of the
// ZPL graphic, the PCL raster area); its startPage allocates the page's row buffers and its
// endPage releases them.
std::unique_ptr<PrinterLanguage> makeLabelPrinter(JobBase &job);

// The row state of a language that codes each row against the printer's previous one (ZPL,
// PCL): allocated by its page set-up for rows of rowBytes bytes, released at its page end.
struct RowCoderState {
  DotBuffer CompBuffer;  // coded row: 2 × rowBytes + 1 bytes
  DotBuffer LastBuffer;  // seed row: rowBytes bytes
  int LastSet = 0;       // LastBuffer holds the printer's previous row
  size_t rowBytes = 0;   // the row length the buffers were allocated for
};

// Row coders that write to the printer stream, over the coder's CompBuffer and LastBuffer.
// PCLCompress codes at most the coder's row length.
void PCLCompress(JobBase &job, RowCoderState &coder, const unsigned char *line, int length);
void ZPLCompress(JobBase &job, char repeat_char, int repeat_count);

// The coders as pure functions over buffers.
// Delta-row (PCL mode 3) form of line against seed (nullptr: no seed row, every byte sent in
// pieces of 8); out needs 2 × length bytes. Returns the coded length.
size_t pclCodeDeltaRow(const unsigned char *line, const unsigned char *seed, size_t length,
                       unsigned char *out);
// One run of count copies of the hexadecimal digit in ZPL's repeat-count form; out needs
// count / 400 + 3 bytes. Returns the end of the written bytes.
unsigned char *zplCodeRun(unsigned char *out, char digit, long count);
// ZPL form of a row of n bytes (hexadecimal digits, runs, the trailing-zero rules), coded in
// place in work (2n + 1 bytes). Returns the coded length.
size_t zplCodeRow(const unsigned char *row, size_t n, unsigned char *work);
