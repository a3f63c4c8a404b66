// Zebra CPCL: a "! 0" label of PAGE-WIDTH × PAGE-HEIGHT dots, one "CG" graphic per non-blank
// row, and the print settings of the PPD before PRINT.
#include <cstdlib>

#include "labels/label_private.h"

void cpclStartPage(const cups_page_header2_t *header) {
  prnPrintf("! 0 %u %u %u %u\r\n", header->HWResolution[0], header->HWResolution[1],
            header->cupsHeight, labelCopies(header));
  prnPrintf("PAGE-WIDTH %d\r\n", asSigned(header->cupsWidth));
  prnPrintf("PAGE-HEIGHT %d\r\n", asSigned(header->cupsHeight));
}

void cpclOutputLine(const unsigned char *row, size_t n, int y) {
  if (isBlankRow(row, n)) return;
  prnPrintf("CG %u 1 0 %d ", static_cast<unsigned>(n), y);
  prnWrite(row, n);
  writeText("\r\n");
  prnFlush();
}

void cpclEndPage(ppd_file_t *ppd, const cups_page_header2_t *header) {
  const int advance = asSigned(header->AdvanceDistance);
  if (advance != 1000) prnPrintf("PRESENT-AT %d 1\r\n", advance);
  const char *reprint = markedChoice(ppd, "zeErrorReprint");
  if (choiceIs(reprint, "Always"))
    writeText("ON-OUT-OF-PAPER WAIT\r\n");
  else if (choiceIs(reprint, "Never"))
    writeText("ON-OUT-OF-PAPER PURGE\r\n");
  if (headerFieldValue(header->CutMedia) != 0) writeText("CUT\r\n");
  if (header->cupsCompression != 0) prnPrintf("TONE %u\r\n", 2 * header->cupsCompression);
  const char *rate;
  if (markedChoiceOtherThan(ppd, "zePrintRate", "Default", &rate))
    prnPrintf("SPEED %d\r\n", choiceInt(rate));
  // Continuous media has no form to feed to; every other tracking (or none) feeds one.
  if (!choiceIs(markedChoice(ppd, "zeMediaTracking"), "Continuous")) writeText("FORM\r\n");
  writeText("PRINT\r\n");
}
