// Zebra CPCL: a "! 0" label of PAGE-WIDTH × PAGE-HEIGHT dots, one "CG" graphic per non-blank
// row, and the print settings of the PPD before PRINT.
#include <cstdlib>

#include "labels/label_private.h"

namespace {

// TONE takes up to 200; PRESENT-AT the distances the printer descriptions offer.
const SettingRange kTone = {"a tone of ", "", 0, 200};
const SettingRange kPresentAt = {"a presentation distance of ", " dots", 0, 120};

class CpclPrinter final : public LabelPrinter {
 public:
  using LabelPrinter::LabelPrinter;

 private:
  bool sendsCopies() const override { return true; }
  void prologue(Page &page) override;
  void codeRow(unsigned char *row, size_t n, int y) override;
  void pageEnd(Page &page) override;
};

}  // namespace

void CpclPrinter::prologue(Page &page) {
  const cups_page_header2_t &header = page.header;
  job.prn.printf("! 0 %u %u %u %u\r\n", header.HWResolution[0], header.HWResolution[1],
                 header.cupsHeight, header.NumCopies);
  job.prn.printf("PAGE-WIDTH %d\r\n", asSigned(header.cupsWidth));
  job.prn.printf("PAGE-HEIGHT %d\r\n", asSigned(header.cupsHeight));
}

void CpclPrinter::codeRow(unsigned char *row, size_t n, int y) {
  if (isBlankRow(row, n)) return;
  job.prn.printf("CG %u 1 0 %d ", static_cast<unsigned>(n), y);
  job.prn.write(row, n);
  writeText(job, "\r\n");
  job.prn.flush();
}

void CpclPrinter::pageEnd(Page &page) {
  const cups_page_header2_t &header = page.header;
  const int advance = asSigned(header.AdvanceDistance);
  if (advance != 1000)
    job.prn.printf("PRESENT-AT %lld 1\r\n", heldSetting(job, kPresentAt, advance));
  const char *reprint = job.markedChoice("zeErrorReprint");
  if (choiceIs(reprint, "Always"))
    writeText(job, "ON-OUT-OF-PAPER WAIT\r\n");
  else if (choiceIs(reprint, "Never"))
    writeText(job, "ON-OUT-OF-PAPER PURGE\r\n");
  if (headerFieldValue(header.CutMedia) != 0) writeText(job, "CUT\r\n");
  if (header.cupsCompression != 0)
    job.prn.printf("TONE %lld\r\n", heldSetting(job, kTone, 2LL * header.cupsCompression));
  if (const char *rate = markedChoiceOtherThan(job, "zePrintRate", "Default"))
    job.prn.printf("SPEED %d\r\n", choiceInt(rate));
  // Continuous media has no form to feed to; every other tracking (or none) feeds one.
  if (!choiceIs(job.markedChoice("zeMediaTracking"), "Continuous")) writeText(job, "FORM\r\n");
  writeText(job, "PRINT\r\n");
}

std::unique_ptr<PrinterLanguage> makeCpclPrinter(JobBase &job) {
  return std::make_unique<CpclPrinter>(job);
}
