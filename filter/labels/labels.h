// The label printer languages: page prologue, row output with each language's coding, page end.
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>

extern unsigned char *CompBuffer;  // coded row (ZPL, PCL)
extern unsigned char *LastBuffer;  // seed row (ZPL, PCL)
extern int LastSet;                // LastBuffer holds the printer's previous row

// Bytes per packed label row: (cupsWidth + 7) / 8.
unsigned labelRowBytes(const cups_page_header2_t *header);

void labelStartPage(ppd_file_t *ppd, cups_page_header2_t *header);
// Row y, Buffer pointing at header->cupsWidth dots of the finished page.
void labelOutputLine(ppd_file_t *ppd, cups_page_header2_t *header, int y);
void labelEndPage(ppd_file_t *ppd, cups_page_header2_t *header);

// Row coders.
void PCLCompress(const unsigned char *line, int length);
void ZPLCompress(char repeat_char, int repeat_count);
