// One bit per dot, sixteen (or eight) dots at a time.
#include "pipeline/packing.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// The eight bits of b in reverse order: the first dot is the lowest bit of a movemask.
unsigned char reversedBits(unsigned b) {
  b = ((b & 0xF0) >> 4) | ((b & 0x0F) << 4);
  b = ((b & 0xCC) >> 2) | ((b & 0x33) << 2);
  b = ((b & 0xAA) >> 1) | ((b & 0x55) << 1);
  return static_cast<unsigned char>(b);
}

}  // namespace

void packRow(const unsigned char *dots, int width, unsigned char *out) {
  int i = 0;
  const int full = width / 8;
#ifdef __SSE2__
  // A dot prints when it is 128 or less, i.e. when min(dot, 128) equals it.
  const __m128i limit = _mm_set1_epi8(static_cast<char>(128));
  for (; 2 * i + 2 <= full; i++) {
    __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(dots + 16 * i));
    unsigned mask =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(d, limit), d)));
    out[2 * i] = reversedBits(mask & 0xFF);
    out[2 * i + 1] = reversedBits(mask >> 8);
  }
  i *= 2;
#endif
  for (; i < full; i++) {
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
