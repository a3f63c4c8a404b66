// Dymo: label length, bytes per line and darkness before the page; rows as SYN and the raw
// bytes, blank rows counted and sent as skips of at most 255 rows.
#include <algorithm>
#include <cstdint>

#include "io/printer_stream.h"
#include "labels/label_private.h"
#include "labels/labels.h"
#include "thermal/page_setup.h"

void dymoStartPage(const cups_page_header2_t *header) {
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
      static_cast<unsigned char>(labelRowBytes(header)),
      0x1B,
      // 'c' for darkness 0 up to 'g' for 4, the darkest letter the printer knows.
      static_cast<unsigned char>(std::min(header->cupsCompression, 4u) + 'c'),
  };
  prnWrite(prologue, sizeof prologue);
}

void dymoOutputLine(const unsigned char *row, size_t n) {
  if (isBlankRow(row, n)) {
    Feed++;
    return;
  }
  if (Feed > 0) {
    unsigned char skip[] = {0x1B, 'f', 0x01, 0xFF};
    for (; Feed > 255; Feed -= 255) prnWrite(skip, sizeof skip);
    skip[3] = static_cast<unsigned char>(Feed);
    prnWrite(skip, sizeof skip);
    Feed = 0;
  }
  prnPut(0x16);
  prnWrite(row, n);
  prnFlush();
}
