// The three per-page steps that every model has, dispatched to the thermal or label subsystem.
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>

// Page set-up: header dump, the model's branch (ready wait, options, commands), row buffer.
void StartPage(ppd_file_t *ppd, cups_page_header2_t *header);
// Row y of the finished page, with Buffer pointing at it (header->cupsWidth dots).
void OutputLine(ppd_file_t *ppd, cups_page_header2_t *header, int y);
// Page end: the label languages' closing commands; paper state for some thermal models.
void EndPage(ppd_file_t *ppd, cups_page_header2_t *header);

// The page bitmap the thermal row output packs into (owned by the page loop).
extern unsigned char *sendBuf;
