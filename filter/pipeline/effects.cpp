// Mirror and sketch.
//
// The box passes work in place with a few rows of scratch: the horizontal pass copies the row,
// edge-extended, before overwriting it; the vertical pass keeps per-column running sums (integer,
// so their order does not matter) and a ring of the last r + 1 input rows it has overwritten.
// One box blur runs both passes in a single sweep down the page, each row blurred horizontally
// when it first enters the vertical window. The rounded means come from a table built with the
// very expression of the mean, val × iarr + 0.5, so every dot is the one of the plain form.
#include "pipeline/effects.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

size_t pageSize(int width, int height) {
  return static_cast<size_t>(width) * static_cast<size_t>(height);
}

// mean[val] for every window sum val of 2r + 1 dots.
std::vector<unsigned char> boxMeanTable(int r) {
  double iarr = 1.0 / (r + r + 1);
  std::vector<unsigned char> mean(static_cast<size_t>(255 * (2 * r + 1) + 1));
  for (size_t val = 0; val < mean.size(); val++)
    mean[val] =
        static_cast<unsigned char>(static_cast<unsigned>(static_cast<int>(val) * iarr + 0.5));
  return mean;
}

// What a box pass of radius r over rows of w dots needs besides the page.
struct RowBlur {
  RowBlur(int w, int r) : mean(boxMeanTable(r)), extended(static_cast<size_t>(w) + 2 * r + 1) {}
  std::vector<unsigned char> mean;
  std::vector<unsigned char> extended;  // one row with r + 1 edge copies left, r right
};

// Horizontal box pass over one row, src and dst possibly the same.
void boxBlurRow(const unsigned char *src, unsigned char *dst, int w, int r, RowBlur &s) {
  unsigned char *ext = s.extended.data();
  // ext[j] = src[clamp(j - r - 1)]
  std::memset(ext, src[0], static_cast<size_t>(r) + 1);
  std::memcpy(ext + r + 1, src, static_cast<size_t>(w));
  std::memset(ext + r + 1 + w, src[w - 1], static_cast<size_t>(r));
  const unsigned char *mean = s.mean.data();
  int val = 0;
  for (int j = 1; j <= 2 * r + 1; j++) val += ext[j];
  dst[0] = mean[val];
  for (int x = 1; x < w; x++) {
    val += ext[x + 2 * r + 1] - ext[x];
    dst[x] = mean[val];
  }
}

// Vertical box pass in place, each row first blurred horizontally when horizontalFirst.
void boxBlurInPlace(unsigned char *page, int w, int h, int r, bool horizontalFirst) {
  RowBlur s(w, r);
  std::vector<unsigned char> ring(static_cast<size_t>(w) * (r + 1));  // last r + 1 input rows
  std::vector<int> columnSums(static_cast<size_t>(w), 0);
  const size_t stride = static_cast<size_t>(w);
  auto row = [&](int y) { return page + static_cast<size_t>(y) * stride; };
  int horizontalDone = horizontalFirst ? 0 : h;
  auto enter = [&](int y) {
    for (; horizontalDone <= y; horizontalDone++)
      boxBlurRow(row(horizontalDone), row(horizontalDone), w, r, s);
    return row(y);
  };
  int *sums = columnSums.data();
  const unsigned char *mean = s.mean.data();
  for (int k = -r; k <= r; k++) {
    const unsigned char *in = enter(std::clamp(k, 0, h - 1));
    for (int x = 0; x < w; x++) sums[x] += in[x];
  }
  for (int y = 0; y < h; y++) {
    if (y > 0) {
      const unsigned char *in = enter(std::min(y + r, h - 1));
      const unsigned char *out =
          ring.data() + static_cast<size_t>(std::max(y - r - 1, 0) % (r + 1)) * stride;
      for (int x = 0; x < w; x++) sums[x] += in[x] - out[x];
    }
    unsigned char *dst = row(y);
    std::memcpy(ring.data() + static_cast<size_t>(y % (r + 1)) * stride, dst, stride);
    for (int x = 0; x < w; x++) dst[x] = mean[sums[x]];
  }
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
  size_t n = pageSize(width, height);
  for (size_t i = 0; i < n; i++) grayReverse[i] = static_cast<unsigned char>(255 - gray[i]);
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
  RowBlur s(w, r);
  for (int y = 0; y < h; y++) {
    size_t at = static_cast<size_t>(y) * static_cast<size_t>(w);
    boxBlurRow(scl + at, tcl + at, w, r, s);
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
