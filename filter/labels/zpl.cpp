// Zebra ZPL: the page is downloaded as one graphic ("~DGR") of hexadecimal rows with repeat
// counts, then printed and deleted by one label format at the page end.
#include <cstdlib>
#include <cstring>

#include "driver/job.h"
#include "io/printer_stream.h"
#include "labels/label_private.h"
#include "labels/labels.h"

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

unsigned char *zplCodeRun(unsigned char *out, char digit, long count) {
  if (count > 1) {
    for (; count > 399; count -= 400) *out++ = 'z';
    if (count > 19) {
      *out++ = static_cast<unsigned char>(0x66 + count / 20);
      count %= 20;
    }
    if (count != 0) *out++ = static_cast<unsigned char>(0x46 + count);
  }
  *out++ = static_cast<unsigned char>(digit);
  return out;
}

void ZPLCompress(char repeat_char, int repeat_count) {
  // Long runs go out 400 digits a byte; what is left fits the small buffer.
  static const unsigned char kFullRuns[8] = {'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z'};
  for (; repeat_count > 399 + 400 * 8; repeat_count -= 400 * 8) prnWrite(kFullRuns, 8);
  unsigned char run[16];
  prnWrite(run, static_cast<size_t>(zplCodeRun(run, repeat_char, repeat_count) - run));
}

size_t zplCodeRow(const unsigned char *row, size_t n, unsigned char *work) {
  const size_t digits = 2 * n;
  for (size_t i = 0; i < n; i++) {
    work[2 * i] = static_cast<unsigned char>(kHexDigits[row[i] >> 4]);
    work[2 * i + 1] = static_cast<unsigned char>(kHexDigits[row[i] & 15]);
  }
  work[digits] = 0;
  // Runs are coded in place: a run's code is never longer than the run, so the write position
  // never passes the digits still to be read.
  unsigned char *out = work;
  size_t i = 0;
  while (i < digits) {
    const unsigned char digit = work[i];
    size_t end = i + 1;
    while (end < digits && work[end] == digit) end++;
    const size_t length = end - i;
    if (end == digits && digit == '0') {
      // A trailing run of zeros: "," fills the rest of the row with zeros.
      if (length % 2 == 1) *out++ = '0';
      if (length > 1) *out++ = ',';
    } else {
      out = zplCodeRun(out, static_cast<char>(digit), static_cast<long>(length));
    }
    i = end;
  }
  return static_cast<size_t>(out - work);
}

void zplStartPage(const cups_page_header2_t *header) {
  if (darknessGiven(header->cupsCompression))
    prnPrintf("~SD%02d\n", asSigned(header->cupsCompression * 30 / 100));
  const unsigned n = labelRowBytes(header);
  prnPrintf("~DGR:CUPS.GRF,%d,%d,\n", asSigned(n * header->cupsHeight), asSigned(n));
  allocateRowCoderBuffers(n);
}

void zplOutputLine(const unsigned char *row, size_t n) {
  if (!CompBuffer || !LastBuffer) return;
  if (LastSet && std::memcmp(row, LastBuffer, n) == 0) {
    prnPut(':');
    return;
  }
  prnWrite(CompBuffer, zplCodeRow(row, n, CompBuffer));
  prnFlush();
  std::memcpy(LastBuffer, row, n);
  LastSet = 1;
}

void zplEndPage(ppd_file_t *ppd, const cups_page_header2_t *header) {
  if (Canceled) {
    // The graphic is never recalled; the printer drops the unfinished download.
    writeText("~DN\n");
    return;
  }
  writeText("^XA\n");
  const char *choice;
  if (markedChoiceOtherThan(ppd, "zePrintRate", "Default", &choice)) {
    int rate = choiceInt(choice);
    prnPrintf("^PR%d,%d,%d\n", rate, rate, rate);
  }
  writeText("^LH0,0\n");
  const char *tracking = markedChoice(ppd, "zeMediaTracking");
  if (choiceIs(tracking, "Continuous")) {
    prnPrintf("^LL%d\n", asSigned(header->cupsHeight));
    writeText("^MNN\n");
  } else if (choiceIs(tracking, "Web")) {
    writeText("^MNY\n");
  } else if (choiceIs(tracking, "Mark")) {
    writeText("^MNM\n");
  }
  if (header->cupsRowStep != 200) prnPrintf("^LT%u\n", header->cupsRowStep);
  if (headerStringIs(header->MediaType, "Thermal"))
    writeText("^MTT\n");
  else if (headerStringIs(header->MediaType, "Direct"))
    writeText("^MTD\n");
  if (markedChoiceOtherThan(ppd, "zePrintMode", "Saved", &choice)) {
    const char *mode = choiceIs(choice, "Tear")         ? "T,Y"
                       : choiceIs(choice, "Peel")       ? "P,Y"
                       : choiceIs(choice, "Rewind")     ? "R,Y"
                       : choiceIs(choice, "Applicator") ? "A,Y"
                                                        : "C,Y";
    prnPrintf("^MM%s\n", mode);
  }
  const int advance = asSigned(header->AdvanceDistance);
  if (advance != 1000) prnPrintf(advance < 0 ? "~TA%04d\n" : "~TA%03d\n", advance);
  const char *reprint = markedChoice(ppd, "zeErrorReprint");
  if (choiceIs(reprint, "Always"))
    writeText("^JZY\n");
  else if (choiceIs(reprint, "Never"))
    writeText("^JZN\n");
  if (header->NumCopies > 1) prnPrintf("^PQ%u, 0, 0, N\n", labelCopies(header));
  writeText("^FO0,0^XGR:CUPS.GRF,1,1^FS\n^IDR:CUPS.GRF^FS\n^XZ\n");
}
