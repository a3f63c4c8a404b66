// Label languages. (Placeholder until the label languages land.)
#include "labels/labels.h"

unsigned char *CompBuffer = nullptr;
unsigned char *LastBuffer = nullptr;
int LastSet = 0;

unsigned labelRowBytes(const cups_page_header2_t *header) {
  return (header->cupsWidth + 7) / 8;
}
void labelStartPage(ppd_file_t *, cups_page_header2_t *) {}
void labelOutputLine(ppd_file_t *, cups_page_header2_t *, int) {}
void labelEndPage(ppd_file_t *, cups_page_header2_t *) {}
void PCLCompress(const unsigned char *, int) {}
void ZPLCompress(char, int) {}
