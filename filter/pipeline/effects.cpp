// Mirror and sketch.
//
// The box passes work in place with a few rows of scratch: the horizontal pass copies the row,
// edge-extended, before overwriting it; the vertical pass keeps per-column running sums (integer,
// so their order does not matter) and a ring of the last r + 1 input rows it has overwritten.
// One box blur runs both passes in a single sweep down the page, each row blurred horizontally
// when it first enters the vertical window. The rounded means are those of the very expression
// val × iarr + 0.5 (a table of it, or an integer form checked against that table), so every dot
// is the one of the plain form. The colour-dodge blend is a 256 × 256 table.
#include "pipeline/effects.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

size_t pageSize(int width, int height) {
  return static_cast<size_t>(width) * static_cast<size_t>(height);
}

// The rounded mean of a window sum val of d = 2r + 1 dots, val × iarr + 0.5 truncated. As d is
// odd, that is floor((2 val + d) / 2d), which 16-bit lanes compute as a high multiply and a
// shift; the constructor checks that against the table of the expression for every possible
// sum and keeps to the table if any differs.
struct BoxMean {
  explicit BoxMean(int r) : count(2 * static_cast<uint32_t>(r) + 1), table(255 * count + 1) {
    double iarr = 1.0 / (r + r + 1);
    for (size_t val = 0; val < table.size(); val++)
      table[val] =
          static_cast<unsigned char>(static_cast<unsigned>(static_cast<int>(val) * iarr + 0.5));
    const uint32_t divisor = 2 * count;
    while ((2u << shift) <= divisor) shift++;  // 2^shift <= divisor < 2^(shift + 1)
    uint64_t m = ((uint64_t{1} << (16 + shift)) + divisor - 1) / divisor;
    exact = m < 65536 && 2 * (table.size() - 1) + count < 65536;
    multiplier = static_cast<uint16_t>(m);
    for (uint32_t val = 0; exact && val < table.size(); val++) exact = fast(val) == table[val];
  }
  uint32_t fast(uint32_t val) const { return ((2 * val + count) * multiplier >> 16) >> shift; }

  uint32_t count;
  std::vector<unsigned char> table;
  uint16_t multiplier = 0;
  int shift = 0;
  bool exact = false;
};

// Column (or row) window sums: 16 bits wide while every sum fits, else 32.
template <class Sum>
void addRow(Sum *sums, const unsigned char *in, const unsigned char *out, int n) {
  int x = 0;
#ifdef __SSE2__
  if constexpr (sizeof(Sum) == 2) {
    const __m128i zero = _mm_setzero_si128();
    for (; x + 16 <= n; x += 16) {
      __m128i i = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + x));
      __m128i o = out ? _mm_loadu_si128(reinterpret_cast<const __m128i *>(out + x)) : zero;
      __m128i *s = reinterpret_cast<__m128i *>(sums + x);
      __m128i lo = _mm_sub_epi16(_mm_add_epi16(_mm_loadu_si128(s), _mm_unpacklo_epi8(i, zero)),
                                 _mm_unpacklo_epi8(o, zero));
      __m128i hi = _mm_sub_epi16(_mm_add_epi16(_mm_loadu_si128(s + 1), _mm_unpackhi_epi8(i, zero)),
                                 _mm_unpackhi_epi8(o, zero));
      _mm_storeu_si128(s, lo);
      _mm_storeu_si128(s + 1, hi);
    }
  }
#endif
  for (; x < n; x++) sums[x] = static_cast<Sum>(sums[x] + in[x] - (out ? out[x] : 0));
}

// dst[x] = the mean of sums[x].
template <class Sum>
void meanRow(const BoxMean &mean, const Sum *sums, unsigned char *dst, int n) {
  int x = 0;
#ifdef __SSE2__
  if constexpr (sizeof(Sum) == 2) {
    if (mean.exact) {
      const __m128i count = _mm_set1_epi16(static_cast<short>(mean.count));
      const __m128i multiplier = _mm_set1_epi16(static_cast<short>(mean.multiplier));
      const __m128i shift = _mm_cvtsi32_si128(mean.shift);
      auto means = [&](const Sum *at) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
        v = _mm_add_epi16(_mm_add_epi16(v, v), count);
        return _mm_srl_epi16(_mm_mulhi_epu16(v, multiplier), shift);
      };
      for (; x + 16 <= n; x += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x),
                         _mm_packus_epi16(means(sums + x), means(sums + x + 8)));
    }
  }
#endif
  for (; x < n; x++) dst[x] = mean.table[sums[x]];
}

// What a box pass of radius r over rows of w dots needs besides the page.
template <class Sum>
struct RowBlur {
  RowBlur(int w, int r)
      : mean(r), extended(static_cast<size_t>(w) + 2 * r + 1), sums(static_cast<size_t>(w)) {}
  BoxMean mean;
  std::vector<unsigned char> extended;  // one row with r + 1 edge copies left, r right
  std::vector<Sum> sums;                // window sums along the row
};

// Horizontal box pass over one row, src and dst possibly the same.
template <class Sum>
void boxBlurRow(const unsigned char *src, unsigned char *dst, int w, int r, RowBlur<Sum> &s) {
  unsigned char *ext = s.extended.data();
  // ext[j] = src[clamp(j - r - 1)]
  std::memset(ext, src[0], static_cast<size_t>(r) + 1);
  std::memcpy(ext + r + 1, src, static_cast<size_t>(w));
  std::memset(ext + r + 1 + w, src[w - 1], static_cast<size_t>(r));
  Sum *sums = s.sums.data();
  uint32_t val = 0;
  for (int j = 1; j <= 2 * r + 1; j++) val += ext[j];
  sums[0] = static_cast<Sum>(val);
  for (int x = 1; x < w; x++) {
    val = val + ext[x + 2 * r + 1] - ext[x];
    sums[x] = static_cast<Sum>(val);
  }
  meanRow(s.mean, sums, dst, w);
}

// Vertical box pass in place, each row first blurred horizontally when horizontalFirst.
template <class Sum>
void boxBlurInPlace(unsigned char *page, int w, int h, int r, bool horizontalFirst) {
  RowBlur<Sum> s(w, r);
  std::vector<unsigned char> ring(static_cast<size_t>(w) * (r + 1));  // last r + 1 input rows
  std::vector<Sum> columnSums(static_cast<size_t>(w), 0);
  const size_t stride = static_cast<size_t>(w);
  auto row = [&](int y) { return page + static_cast<size_t>(y) * stride; };
  int horizontalDone = horizontalFirst ? 0 : h;
  auto enter = [&](int y) {
    for (; horizontalDone <= y; horizontalDone++)
      boxBlurRow(row(horizontalDone), row(horizontalDone), w, r, s);
    return row(y);
  };
  Sum *sums = columnSums.data();
  for (int k = -r; k <= r; k++) addRow(sums, enter(std::clamp(k, 0, h - 1)), nullptr, w);
  for (int y = 0; y < h; y++) {
    if (y > 0) {
      const unsigned char *in = enter(std::min(y + r, h - 1));
      const unsigned char *out =
          ring.data() + static_cast<size_t>(std::max(y - r - 1, 0) % (r + 1)) * stride;
      addRow(sums, in, out, w);
    }
    unsigned char *dst = row(y);
    std::memcpy(ring.data() + static_cast<size_t>(y % (r + 1)) * stride, dst, stride);
    meanRow(s.mean, sums, dst, w);
  }
}

// The largest radius whose window sums fit in 16 bits.
constexpr int kNarrowSumRadius = (65535 / 255 - 1) / 2;

void boxBlurInPlace(unsigned char *page, int w, int h, int r, bool horizontalFirst) {
  if (r <= kNarrowSumRadius)
    boxBlurInPlace<uint16_t>(page, w, h, r, horizontalFirst);
  else
    boxBlurInPlace<uint32_t>(page, w, h, r, horizontalFirst);
}

void copyPage(const unsigned char *src, unsigned char *dst, int w, int h) {
  if (src != dst) std::memmove(dst, src, pageSize(w, h));
}

struct DodgeTable {
  DodgeTable() {
    for (unsigned b = 0; b < 256; b++)
      for (unsigned s = 0; s < 256; s++) {
        unsigned v = b == 255 ? 255 : s + (s * b) / (255 - b);
        blend[b][s] = static_cast<unsigned char>(v >= 255 ? 255 : v);
      }
  }
  unsigned char blend[256][256];
};

const DodgeTable &dodgeTable() {
  static const DodgeTable table;
  return table;
}

}  // namespace

void mirrorRow(unsigned char *row, int width) {
  std::reverse(row, row + width);
}

void mirror(const unsigned char *gray, unsigned char *des, int width, int height) {
  if (width <= 0 || height <= 0) return;
  for (int y = 0; y < height; y++) {
    size_t at = static_cast<size_t>(y) * static_cast<size_t>(width);
    if (gray == des)
      mirrorRow(des + at, width);
    else
      std::reverse_copy(gray + at, gray + at + width, des + at);
  }
}

void getReverseGray(const unsigned char *gray, unsigned char *grayReverse, int width, int height) {
  if (width <= 0 || height <= 0) return;
  size_t n = pageSize(width, height), i = 0;
  // 255 - v is v with every bit flipped: eight dots at a time.
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, gray + i, 8);
    word = ~word;
    std::memcpy(grayReverse + i, &word, 8);
  }
  for (; i < n; i++) grayReverse[i] = static_cast<unsigned char>(255 - gray[i]);
}

std::vector<int> boxesForGauss(int sigma, int n) {
  double wIdeal = std::sqrt(12 * sigma * sigma / static_cast<double>(n) + 1.0);
  int wl = static_cast<int>(wIdeal);
  if (wl % 2 == 0) wl--;
  int wu = wl + 2;
  double mIdeal = static_cast<double>(12 * sigma * sigma - n * wl * wl - 4 * n * wl - 3 * n) /
                  static_cast<double>(-4 * wl - 4);
  int m = static_cast<int>(mIdeal + 0.5);
  std::vector<int> sizes(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) sizes[static_cast<size_t>(i)] = i < m ? wl : wu;
  return sizes;
}

void boxBlurH_4(const unsigned char *scl, unsigned char *tcl, int w, int h, int r) {
  if (w <= 0 || h <= 0) return;
  r = std::max(r, 0);
  auto pass = [&](auto &s) {
    for (int y = 0; y < h; y++) {
      size_t at = static_cast<size_t>(y) * static_cast<size_t>(w);
      boxBlurRow(scl + at, tcl + at, w, r, s);
    }
  };
  if (r <= kNarrowSumRadius) {
    RowBlur<uint16_t> s(w, r);
    pass(s);
  } else {
    RowBlur<uint32_t> s(w, r);
    pass(s);
  }
}

void boxBlurT_4(const unsigned char *scl, unsigned char *tcl, int w, int h, int r) {
  if (w <= 0 || h <= 0) return;
  copyPage(scl, tcl, w, h);
  boxBlurInPlace(tcl, w, h, std::max(r, 0), false);
}

void boxBlur_4(const unsigned char *scl, unsigned char *tcl, int w, int h, int r) {
  if (w <= 0 || h <= 0) return;
  copyPage(scl, tcl, w, h);
  boxBlurInPlace(tcl, w, h, std::max(r, 0), true);
}

void gaussBlur_4(const unsigned char *scl, unsigned char *tcl, int w, int h, int r) {
  if (w <= 0 || h <= 0) return;
  std::vector<int> bxs = boxesForGauss(r, 3);
  copyPage(scl, tcl, w, h);
  for (int box : bxs) boxBlurInPlace(tcl, w, h, std::max((box - 1) / 2, 0), true);
}

unsigned char colorDodge(unsigned s, unsigned b) {
  return dodgeTable().blend[b & 255][s & 255];
}

void ColorDodgeBlendMerge2(const unsigned char *src, const unsigned char *GaussianBuf,
                           unsigned char *des, int width, int height) {
  if (width <= 0 || height <= 0) return;
  const DodgeTable &t = dodgeTable();
  size_t n = pageSize(width, height);
  for (size_t i = 0; i < n; i++) des[i] = t.blend[GaussianBuf[i]][src[i]];
}

void sketch(const unsigned char *gray, unsigned char *des, int width, int height) {
  if (width <= 0 || height <= 0) return;
  std::vector<unsigned char> source;
  if (gray == des) {  // the negative is built in des, so keep the source apart
    source.assign(gray, gray + pageSize(width, height));
    gray = source.data();
  }
  getReverseGray(gray, des, width, height);
  gaussBlur_4(des, des, width, height, 10);
  ColorDodgeBlendMerge2(gray, des, des, width, height);
}
