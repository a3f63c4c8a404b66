// Zebra ZPL: the page is downloaded as one graphic ("~DGR") of hexadecimal rows with repeat
// counts, then printed and deleted by one label format at the page end.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "labels/label_private.h"

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

// The ranges of ^LL, ^LT and ~TA.
const SettingRange kLabelLength = {"a label length of ", " dots", 1, 32000};
const SettingRange kLabelTop = {"a label top of ", " dots", -120, 120};
const SettingRange kTearOff = {"a tear-off position of ", " dots", -120, 120};

class ZplPrinter final : public LabelPrinter {
 public:
  using LabelPrinter::LabelPrinter;
  bool pageFits(const Page &page, std::string &reason) const override;

 private:
  bool sendsCopies() const override { return true; }
  void prologue(Page &page) override;
  void codeRow(unsigned char *row, size_t n, int y) override;
  void pageEnd(Page &page) override;
  void sendPageEnd(const Page &page);

  RowCoderState coder;
};

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

void ZPLCompress(JobBase &job, char repeat_char, int repeat_count) {
  // Long runs go out 400 digits a byte; what is left fits the small buffer.
  static const unsigned char kFullRuns[8] = {'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z'};
  for (; repeat_count > 399 + 400 * 8; repeat_count -= 400 * 8) job.prn.write(kFullRuns, 8);
  unsigned char run[16];
  job.prn.write(run, static_cast<size_t>(zplCodeRun(run, repeat_char, repeat_count) - run));
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

bool ZplPrinter::pageFits(const Page &page, std::string &reason) const {
  const uint64_t size = uint64_t{labelRowBytes(page.header)} * page.header.cupsHeight;
  if (size <= static_cast<uint64_t>(INT_MAX)) return true;
  char text[160];
  std::snprintf(text, sizeof text,
                "a graphic of %llu bytes does not fit the printer's download command",
                static_cast<unsigned long long>(size));
  reason = text;
  return false;
}

void ZplPrinter::prologue(Page &page) {
  const cups_page_header2_t &header = page.header;
  if (darknessGiven(header.cupsCompression))
    job.prn.printf("~SD%02d\n", asSigned(header.cupsCompression * 30 / 100));
  const unsigned n = labelRowBytes(header);
  job.prn.printf("~DGR:CUPS.GRF,%d,%d,\n", asSigned(n * header.cupsHeight), asSigned(n));
  allocateRowCoderBuffers(job, coder, n);
}

void ZplPrinter::codeRow(unsigned char *row, size_t n, int) {
  if (!coder.CompBuffer || !coder.LastBuffer) return;
  if (coder.LastSet && std::memcmp(row, coder.LastBuffer.get(), n) == 0) {
    job.prn.put(':');
    return;
  }
  job.prn.write(coder.CompBuffer.get(), zplCodeRow(row, n, coder.CompBuffer.get()));
  job.prn.flush();
  std::memcpy(coder.LastBuffer.get(), row, n);
  coder.LastSet = 1;
}

void ZplPrinter::pageEnd(Page &page) {
  sendPageEnd(page);
  releaseRowCoderBuffers(coder);
}

void ZplPrinter::sendPageEnd(const Page &page) {
  const cups_page_header2_t &header = page.header;
  if (job.canceled()) {
    // The graphic is never recalled; the printer drops the unfinished download.
    writeText(job, "~DN\n");
    return;
  }
  writeText(job, "^XA\n");
  if (const char *choice = markedChoiceOtherThan(job, "zePrintRate", "Default")) {
    int rate = choiceInt(choice);
    job.prn.printf("^PR%d,%d,%d\n", rate, rate, rate);
  }
  writeText(job, "^LH0,0\n");
  const char *tracking = job.markedChoice("zeMediaTracking");
  if (choiceIs(tracking, "Continuous")) {
    job.prn.printf("^LL%lld\n", heldSetting(job, kLabelLength, header.cupsHeight));
    writeText(job, "^MNN\n");
  } else if (choiceIs(tracking, "Web")) {
    writeText(job, "^MNY\n");
  } else if (choiceIs(tracking, "Mark")) {
    writeText(job, "^MNM\n");
  }
  // 200 keeps the printer's label top.
  if (header.cupsRowStep != 200)
    job.prn.printf("^LT%lld\n", heldSetting(job, kLabelTop, header.cupsRowStep));
  if (headerStringIs(header.MediaType, "Thermal"))
    writeText(job, "^MTT\n");
  else if (headerStringIs(header.MediaType, "Direct"))
    writeText(job, "^MTD\n");
  if (const char *choice = markedChoiceOtherThan(job, "zePrintMode", "Saved")) {
    const char *mode = choiceIs(choice, "Tear")         ? "T,Y"
                       : choiceIs(choice, "Peel")       ? "P,Y"
                       : choiceIs(choice, "Rewind")     ? "R,Y"
                       : choiceIs(choice, "Applicator") ? "A,Y"
                                                        : "C,Y";
    job.prn.printf("^MM%s\n", mode);
  }
  // 1000 keeps the printer's tear-off position.
  const int advance = asSigned(header.AdvanceDistance);
  if (advance != 1000) {
    const long long held = heldSetting(job, kTearOff, advance);
    job.prn.printf(held < 0 ? "~TA%04lld\n" : "~TA%03lld\n", held);
  }
  const char *reprint = job.markedChoice("zeErrorReprint");
  if (choiceIs(reprint, "Always"))
    writeText(job, "^JZY\n");
  else if (choiceIs(reprint, "Never"))
    writeText(job, "^JZN\n");
  if (header.NumCopies > 1) job.prn.printf("^PQ%u, 0, 0, N\n", header.NumCopies);
  writeText(job, "^FO0,0^XGR:CUPS.GRF,1,1^FS\n^IDR:CUPS.GRF^FS\n^XZ\n");
}

std::unique_ptr<PrinterLanguage> makeZplPrinter(JobBase &job) {
  return std::make_unique<ZplPrinter>(job);
}
