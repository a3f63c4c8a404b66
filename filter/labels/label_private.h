// What the label dispatch shares with the language files: the page's packed row, the row
// coder buffers, PPD choices and the header helpers of the formats.
#pragma once

#include "driver/choices.h"
#include "driver/header_fields.h"

#include <cstddef>
#include <cstring>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "io/printer_stream.h"

// Packed bytes per row of the current page, as allocated by the page set-up (0 when no row
// buffer could be had, so rows write nothing).
extern size_t labelPageRowBytes;

// Packs the finished row at Buffer into the page's scratch; n receives its length. Returns
// nullptr when there is no row to code.
unsigned char *packLabelRow(const cups_page_header2_t *header, size_t &n);
bool isBlankRow(const unsigned char *row, size_t n);
// CompBuffer (2n + 1 bytes) and LastBuffer (n bytes) for the ZPL and PCL coders; LastSet = 0.
void allocateRowCoderBuffers(size_t n);
void releaseRowCoderBuffers();

// True when option has a marked choice other than except.
bool markedChoiceOtherThan(ppd_file_t *ppd, const char *option, const char *except,
                           const char **choice);
bool choiceIs(const char *choice, const char *name);
// Exact comparison of a fixed-size header string, which need not be terminated.
bool headerStringIs(const char (&field)[64], const char *text);
// Writes a command text (no NUL inside) to the printer stream.
inline void writeText(const char *text) {
  prnWrite(text, std::strlen(text));
}
// Unsigned header arithmetic written with "%d", as the formats do.
inline int asSigned(unsigned value) {
  return static_cast<int>(value);
}
// The header's copy count, limited to kMaxLabelCopies.
unsigned labelCopies(const cups_page_header2_t *header);
// The darkness range of the EPL and ZPL commands; outside it they send nothing.
inline bool darknessGiven(unsigned darkness) {
  return darkness >= 1 && darkness <= 100;
}

// The languages, by model number.
void dymoStartPage(const cups_page_header2_t *header);
void dymoOutputLine(const unsigned char *row, size_t n);
void eplLineStartPage(ppd_file_t *ppd, const cups_page_header2_t *header);
void eplLineOutputLine(const unsigned char *row, size_t n);
void eplPageStartPage(ppd_file_t *ppd, const cups_page_header2_t *header);
void eplPageOutputLine(unsigned char *row, size_t n, int y);
void zplStartPage(const cups_page_header2_t *header);
void zplOutputLine(const unsigned char *row, size_t n);
void zplEndPage(ppd_file_t *ppd, const cups_page_header2_t *header);
void cpclStartPage(const cups_page_header2_t *header);
void cpclOutputLine(const unsigned char *row, size_t n, int y);
void cpclEndPage(ppd_file_t *ppd, const cups_page_header2_t *header);
void model20OutputLine(unsigned char *row, size_t n);
void pclStartPage(ppd_file_t *ppd, const cups_page_header2_t *header);
void pclOutputLine(const unsigned char *row, size_t n);
