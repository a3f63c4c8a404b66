// Zebra EPL in its two modes: line mode (ESC g rows) and page mode ("GW" graphic rows, with
// the bytes complemented because page-mode graphics print the 0 bits).
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>

#include "labels/label_private.h"

namespace {

// A choice's number in single precision. A finite value beyond the float range has no float
// conversion (undefined behaviour): it is held at the largest float of its sign.
float choiceFloat(const char *choice) {
  double value = std::atof(choice);
  if (std::isfinite(value))
    value = std::clamp(value, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX));
  return static_cast<float>(value);
}

class EplLinePrinter final : public LabelPrinter {
 public:
  using LabelPrinter::LabelPrinter;
  // ESC g takes three digits.
  bool pageFits(const Page &page, std::string &reason) const override {
    return rowsFit(page.header, 999, reason);
  }

 private:
  void prologue(Page &page) override;
  void codeRow(unsigned char *row, size_t n, int y) override;
  void pageEnd(Page &) override { writeText(job, "\033E\f"); }
};

class EplPagePrinter final : public LabelPrinter {
 public:
  using LabelPrinter::LabelPrinter;

 private:
  void prologue(Page &page) override;
  void codeRow(unsigned char *row, size_t n, int y) override;
  void pageEnd(Page &) override { writeText(job, "P1\n"); }
};

}  // namespace

void EplLinePrinter::prologue(Page &page) {
  const cups_page_header2_t &header = page.header;
  if (const char *rate = markedChoiceOtherThan(job, "zePrintRate", "Default"))
    job.prn.printf("\033S%.0f", 2 * std::atof(rate) - 2);
  if (darknessGiven(header.cupsCompression))
    job.prn.printf("\033D%d", asSigned(header.cupsCompression * 7 / 100));
  writeText(job, "\033M01\033B");
}

void EplLinePrinter::codeRow(unsigned char *row, size_t n, int) {
  job.prn.printf("\033g%03d", asSigned(static_cast<unsigned>(n)));
  job.prn.write(row, n);
  job.prn.flush();
}

void EplPagePrinter::prologue(Page &page) {
  const cups_page_header2_t &header = page.header;
  writeText(job, "\nN\n");
  if (headerStringIs(header.MediaType, "Direct")) writeText(job, "OD\n");
  if (const char *rate = markedChoiceOtherThan(job, "zePrintRate", "Default")) {
    // The page-mode speeds are whole rates from 3 on; below, the line-mode scale applies.
    float value = choiceFloat(rate);
    job.prn.printf("S%.0f\n", value >= 3.0 ? value : 2.0 * value - 2);
  }
  if (darknessGiven(header.cupsCompression))
    job.prn.printf("D%d\n", asSigned(header.cupsCompression * 15 / 100));
  job.prn.printf("q%d\n", asSigned((header.cupsWidth + 7) & ~7u));
}

void EplPagePrinter::codeRow(unsigned char *row, size_t n, int y) {
  if (isBlankRow(row, n)) return;
  job.prn.printf("GW0,%d,%d,1\n", y, asSigned(static_cast<unsigned>(n)));
  for (size_t i = 0; i < n; i++) row[i] = static_cast<unsigned char>(~row[i]);
  job.prn.write(row, n);
  job.prn.put('\n');
  job.prn.flush();
}

std::unique_ptr<PrinterLanguage> makeEplLinePrinter(JobBase &job) {
  return std::make_unique<EplLinePrinter>(job);
}

std::unique_ptr<PrinterLanguage> makeEplPagePrinter(JobBase &job) {
  return std::make_unique<EplPagePrinter>(job);
}
