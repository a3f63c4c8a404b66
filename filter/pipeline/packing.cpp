// One bit per dot, eight dots at a time.
#include "pipeline/packing.h"

void packRow(const unsigned char *dots, int width, unsigned char *out) {
  int full = width / 8;
  for (int i = 0; i < full; i++) {
    const unsigned char *d = dots + 8 * i;
    unsigned char b = 0;
    for (int k = 0; k < 8; k++) b = static_cast<unsigned char>((b << 1) | (d[k] <= 128));
    out[i] = b;
  }
  if (int rest = width - 8 * full) {
    unsigned char b = 0;
    for (int k = 0; k < rest; k++)
      if (dots[8 * full + k] <= 128) b |= static_cast<unsigned char>(0x80 >> k);
    out[full] = b;
  }
}
