// Dymo: label length, bytes per line and darkness before the page; rows as SYN and the raw
// bytes, blank rows counted and sent as skips of at most 255 rows.
#include <cstdint>

#include "labels/label_private.h"

namespace {

// 'c' for darkness 0 up to 'g' for 4, the darkest letter the printer knows.
const SettingRange kDarkness = {"a darkness of ", "", 0, 4};

}  // namespace

void dymoStartPage(JobBase &job, const Page &page) {
  const cups_page_header2_t *header = &page.header;
  // The label length in dots; 64-bit so that no header can overflow it. Only its low 16 bits
  // reach the printer.
  int64_t length = static_cast<int64_t>(static_cast<uint64_t>(header->PageSize[1]) *
                                        header->HWResolution[1] / 72);
  unsigned char prologue[] = {
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
  job.prn.write(prologue, sizeof prologue);
}

void dymoOutputLine(JobBase &job, Page &page, const unsigned char *row, size_t n) {
  if (isBlankRow(row, n)) {
    page.Feed++;
    return;
  }
  if (page.Feed > 0) {
    unsigned char skip[] = {0x1B, 'f', 0x01, 0xFF};
    for (; page.Feed > 255; page.Feed -= 255) job.prn.write(skip, sizeof skip);
    skip[3] = static_cast<unsigned char>(page.Feed);
    job.prn.write(skip, sizeof skip);
    page.Feed = 0;
  }
  job.prn.put(0x16);
  job.prn.write(row, n);
  job.prn.flush();
}
