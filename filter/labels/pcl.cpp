// Intellitech PCL: page format and, on the job's first page, the printer settings; raster
// rows in delta-row compression (mode 3) with blank rows skipped by ESC *b#Y.
#include <cstdio>
#include <cstring>

#include "labels/label_private.h"

namespace {

// Media size commands of the page lengths the printer knows, in points.
struct PclPageSize {
  unsigned length;
  const char *command;
};
const PclPageSize kPclPageSizes[] = {
    {540, "\033&l80A"}, {624, "\033&l90A"}, {649, "\033&l91A"}, {684, "\033&l81A"},
    {756, "\033&l1A"},  {792, "\033&l2A"},  {842, "\033&l26A"}, {1008, "\033&l3A"},
};

// The longest page whose length in 1/300 inch fits a value field.
const SettingRange kPageLength = {"a page length of ", " points", 0, kPclMaxValue * 72 / 300};
// Darkness 0 to 100 map to -15 to 15, the settings the printer descriptions offer.
const SettingRange kDarkness = {"a darkness setting of ", "", -15, 15};
const SettingRange kRowFeed = {"a row feed of ", "", 0, kPclMaxValue};
const SettingRange kRowCount = {"a row count of ", "", 0, kPclMaxValue};
const SettingRange kRowStep = {"a row step of ", "", 0, kPclMaxValue};

void pclPrinterSettings(JobBase &job, const cups_page_header2_t &header) {
  if (header.cupsRowFeed != 0)
    job.prn.printf("\033!p%lldS", heldSetting(job, kRowFeed, header.cupsRowFeed));
  // All bits set means no darkness was given.
  if (header.cupsCompression != ~0u)
    job.prn.printf("\033&d%lldA",
                   heldSetting(job, kDarkness, header.cupsCompression * 30LL / 100 - 15));
  const char *mode = markedChoiceOtherThan(job, "inPrintMode", "Default");
  if (!mode) return;
  if (choiceIs(mode, "Standard")) {
    writeText(job, "\033!p0M");
  } else if (choiceIs(mode, "Tear")) {
    writeText(job, "\033!p1M");
    if (header.cupsRowCount != 0)
      job.prn.printf("\033!n%lldT", heldSetting(job, kRowCount, header.cupsRowCount));
  } else {
    writeText(job, "\033!p2M");
    if (header.cupsRowStep != 0)
      job.prn.printf("\033!n%lldC", heldSetting(job, kRowStep, header.cupsRowStep));
  }
}

class PclPrinter final : public LabelPrinter {
 public:
  using LabelPrinter::LabelPrinter;
  void startJob() override { writeText(job, "\033E"); }
  bool pageFits(const Page &page, std::string &reason) const override;

 private:
  bool sendsCopies() const override { return true; }
  void prologue(Page &page) override;
  void codeRow(unsigned char *row, size_t n, int y) override;
  void pageEnd(Page &) override;

  RowCoderState coder;
  int Feed = 0;  // blank rows counted and not yet sent
};

}  // namespace

// The raster area's commands take values up to kPclMaxValue. Such a width also bounds a coded
// row (at most n + n / 8 + 1 bytes) and a row skip within the field.
bool PclPrinter::pageFits(const Page &page, std::string &reason) const {
  const cups_page_header2_t &header = page.header;
  if (header.cupsWidth <= kPclMaxValue && header.cupsHeight <= kPclMaxValue) return true;
  char text[160];
  std::snprintf(text, sizeof text,
                "a raster of %u x %u dots does not fit the printer's raster commands (at "
                "most %lld dots each way)",
                header.cupsWidth, header.cupsHeight, kPclMaxValue);
  reason = text;
  return false;
}

void PclPrinter::prologue(Page &page) {
  const cups_page_header2_t &header = page.header;
  writeText(job, "\033&l6D\033&k12H\033&l0O");
  const auto length = static_cast<unsigned>(heldSetting(job, kPageLength, header.PageSize[1]));
  const char *sizeCommand = nullptr;
  for (const PclPageSize &size : kPclPageSizes)
    if (size.length == length) sizeCommand = size.command;
  if (sizeCommand)
    writeText(job, sizeCommand);
  else
    job.prn.printf("\033!f%dZ", asSigned(length * 300 / 72));  // length in 1/300 inch
  job.prn.printf("\033&l%dP", asSigned(length / 12));
  job.prn.printf("\033&l0E\033&l%uX\033&l0L", header.NumCopies);
  if (job.Page == 1) pclPrinterSettings(job, header);
  job.prn.printf("\033*t%dR\033*r%dS\033*r%dT\033&a0H\033&a0V\033*r1A\033*b3M",
                 asSigned(header.HWResolution[0]), asSigned(header.cupsWidth),
                 asSigned(header.cupsHeight));
  Feed = 0;
  allocateRowCoderBuffers(job, coder, labelRowBytes(header));
}

size_t pclCodeDeltaRow(const unsigned char *line, const unsigned char *seed, size_t length,
                       unsigned char *out) {
  unsigned char *o = out;
  size_t p = 0;
  while (p < length) {
    if (!seed) {
      const size_t count = length - p < 8 ? length - p : 8;
      *o++ = static_cast<unsigned char>((count - 1) * 32);
      std::memcpy(o, line + p, count);
      o += count;
      p += count;
      continue;
    }
    const size_t start = p;
    while (p < length && line[p] == seed[p]) p++;
    if (p == length) break;
    const size_t offset = p - start;
    size_t count = 1;  // line[p] differs from its seed byte
    while (count < 8 && p + count < length && line[p + count] != seed[p + count]) count++;
    const unsigned char command = static_cast<unsigned char>((count - 1) * 32);
    if (offset <= 30) {
      *o++ = static_cast<unsigned char>(command + offset);
    } else {
      *o++ = static_cast<unsigned char>(command + 31);
      size_t rest = offset - 31;
      for (; rest >= 255; rest -= 255) *o++ = 255;
      *o++ = static_cast<unsigned char>(rest);
    }
    std::memcpy(o, line + p, count);
    o += count;
    p += count;
  }
  return static_cast<size_t>(o - out);
}

void PCLCompress(JobBase &job, RowCoderState &coder, const unsigned char *line, int length) {
  if (!coder.CompBuffer || !coder.LastBuffer || length < 0) return;
  size_t n = static_cast<size_t>(length);
  if (n > coder.rowBytes) n = coder.rowBytes;
  const size_t coded = pclCodeDeltaRow(line, coder.LastSet ? coder.LastBuffer.get() : nullptr, n,
                                       coder.CompBuffer.get());
  job.prn.printf("\033*b%dW", static_cast<int>(coded));
  job.prn.write(coder.CompBuffer.get(), coded);
  std::memcpy(coder.LastBuffer.get(), line, n);
  coder.LastSet = 1;
}

void PclPrinter::codeRow(unsigned char *row, size_t n, int) {
  if (isBlankRow(row, n)) {
    Feed++;
    return;
  }
  if (Feed > 0) {
    job.prn.printf("\033*b%dY", Feed);
    Feed = 0;
    coder.LastSet = 0;  // the printer clears its seed row on a skip
  }
  PCLCompress(job, coder, row, static_cast<int>(n));
}

void PclPrinter::pageEnd(Page &) {
  writeText(job, "\033*rB\f");
  releaseRowCoderBuffers(coder);
}

std::unique_ptr<PrinterLanguage> makePclPrinter(JobBase &job) {
  return std::make_unique<PclPrinter>(job);
}
