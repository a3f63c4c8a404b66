// Page set-up of the thermal models: header dump, ready waits, option steps, set-up commands.
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>

// Page globals read by the image pipeline and the row output.
extern int hOffset;  // dots, signed
extern int vOffset;  // dots, signed
extern int Rotate;
extern int gray;
extern unsigned char *Buffer;  // raster row buffer, then the row being output
extern int Feed;

// The header dump that opens every page set-up.
void logPageHeader(const cups_page_header2_t *header);
// The branch of a thermal model number (ready wait, option steps, commands).
void thermalStartPage(ppd_file_t *ppd, cups_page_header2_t *header);
// Common end of every page set-up: a fresh row buffer of bytesPerLine bytes; Feed = 0.
// Returns false when the buffer cannot be allocated.
bool allocateRowBuffer(size_t bytesPerLine);
// Releases the row buffer (after the capture, or when a page is dropped).
void releaseRowBuffer();

// Millimetres to dots at dpi dots per inch, as (mm / 25.4) * dpi in double precision, truncated
// toward zero; clamped to +-1e6 dots so that absurd offsets stay representable.
int millimetresToDots(int mm, unsigned dpi);
// The media-tracking byte (bCmdGap[2]) as the page set-up of a 23, 302 or 64519 page will leave
// it, without sending anything.
unsigned char gapModeForPage(ppd_file_t *ppd, const cups_page_header2_t *header);
// True when the PPD's ModelName is exactly name (case included).
bool ppdModelNameIs(const ppd_file_t *ppd, const char *name);
