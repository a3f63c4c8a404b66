// Bitmap transmission. (Placeholder until the transmission lands.)
#include "thermal/transmission.h"

int compressBitmap(const unsigned char *, unsigned char *, int) {
  return 0;
}
size_t compressedCapacity(size_t size) {
  return size + size / 16 + 1024;
}
TransmitResult transmitBitmap(ppd_file_t *, const cups_page_header2_t *, const unsigned char *,
                              size_t) {
  return TransmitResult::Sent;
}
