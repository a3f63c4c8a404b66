// Dymo: label length, bytes per line and darkness before the page; rows as SYN and the raw
// bytes, blank rows counted and sent as skips of at most 255 rows.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "labels/label_private.h"

namespace {

// 'c' for darkness 0 up to 'g' for 4, the darkest letter the printer knows.
const SettingRange kDarkness = {"a darkness of ", "", 0, 4};

class DymoPrinter final : public LabelPrinter {
 public:
  using LabelPrinter::LabelPrinter;
  void startJob() override;
  bool pageFits(const Page &page, std::string &reason) const override;

 private:
  void prologue(Page &page) override;
  void codeRow(unsigned char *row, size_t n, int y) override;
  void pageEnd(Page &) override { writeText(job, "\033E"); }

  int Feed = 0;  // blank rows counted and not yet sent
};

}  // namespace

// The printer is woken by a run of escapes, then reset.
void DymoPrinter::startJob() {
  unsigned char escapes[100];
  std::memset(escapes, 0x1B, sizeof escapes);
  job.prn.write(escapes, sizeof escapes);
  job.prn.write("\x1B@", 2);
}

// ESC D carries the row length in one byte, ESC L the label length in two.
bool DymoPrinter::pageFits(const Page &page, std::string &reason) const {
  const cups_page_header2_t &header = page.header;
  const uint64_t length = uint64_t{header.PageSize[1]} * header.HWResolution[1] / 72;
  if (!rowsFit(header, 255, reason)) return false;
  if (length <= 65535) return true;
  char text[160];
  std::snprintf(text, sizeof text,
                "a label length of %llu dots does not fit the printer's length field "
                "(at most 65535 dots)",
                static_cast<unsigned long long>(length));
  reason = text;
  return false;
}

void DymoPrinter::prologue(Page &page) {
  const cups_page_header2_t *header = &page.header;
  // The label length in dots; 64-bit so that no header can overflow it. Only its low 16 bits
  // reach the printer.
  int64_t length = static_cast<int64_t>(static_cast<uint64_t>(header->PageSize[1]) *
                                        header->HWResolution[1] / 72);
  unsigned char commands[] = {
      0x1B,
      'L',
      static_cast<unsigned char>(length >> 8),
      static_cast<unsigned char>(length),
      0x1B,
      'D',
      static_cast<unsigned char>(labelRowBytes(*header)),
      0x1B,
      static_cast<unsigned char>(heldSetting(job, kDarkness, header->cupsCompression) + 'c'),
  };
  job.prn.write(commands, sizeof commands);
  Feed = 0;
}

void DymoPrinter::codeRow(unsigned char *row, size_t n, int) {
  if (isBlankRow(row, n)) {
    Feed++;
    return;
  }
  if (Feed > 0) {
    unsigned char skip[] = {0x1B, 'f', 0x01, 0xFF};
    for (; Feed > 255; Feed -= 255) job.prn.write(skip, sizeof skip);
    skip[3] = static_cast<unsigned char>(Feed);
    job.prn.write(skip, sizeof skip);
    Feed = 0;
  }
  job.prn.put(0x16);
  job.prn.write(row, n);
  job.prn.flush();
}

std::unique_ptr<PrinterLanguage> makeDymoPrinter(JobBase &job) {
  return std::make_unique<DymoPrinter>(job);
}
