// Threshold, forced black and Stucki error diffusion.
//
// The diffusion must give exactly the dots of the plain form (one double accumulator per dot,
// each neighbour receiving (error × w) / 42.0 in raster order). It keeps the same additions in
// the same order per cell; only the operands are produced more cheaply: since w is a power of
// two, (error × w) / 42.0 equals w × (error / 42.0) bit for bit unless error / 42.0 is
// subnormal, which is handled apart. A zero error adds +0.0, which changes no cell's value.
#include "pipeline/tone.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

const int blacklevellist[7] = {192, 160, 144, 128, 112, 96, 64};
const int graylevellist[7] = {140, 128, 96, 64, 32, 16, 0};

int effectiveBlackLevel(int level) {
  return level >= 1 && level <= 7 ? level : 4;
}
int effectiveGrayLevel(int level) {
  return level >= 1 && level <= 7 ? level : 7;
}

void buildThresholdMap(int threshold, unsigned char map[256]) {
  for (int v = 0; v < 256; v++) map[v] = v > threshold ? 255 : 0;
}

void buildForcedBlackMap(int limit, unsigned char map[256]) {
  for (int v = 0; v < 256; v++) map[v] = static_cast<unsigned char>(v < limit ? 0 : v);
}

void mapDots(unsigned char *dots, size_t count, const unsigned char map[256]) {
  for (size_t i = 0; i < count; i++) dots[i] = map[dots[i]];
}

StuckiDiffusion::StuckiDiffusion(int width)
    : width_(width), stride_(static_cast<size_t>(width) + 4), errors_(4 * stride_, 0.0) {
  for (int i = 0; i < 4; i++) rows_[i] = errors_.data() + i * stride_ + 2;
}

namespace {

// Below this magnitude error / 42.0 may be subnormal, where scaling by a power of two is no
// longer exact; such errors take the four divisions of the plain form.
constexpr double kExactScaleMin = 42.0 * 4.0 * DBL_MIN;

// The diffusion along one row. The cells still receiving errors live in registers: c0 (this
// dot) and c1 (the next) of the row itself, and the five cells x-2..x+2 of each of the two rows
// below (a*, b*); each cell gets its additions in the same order as in the plain form.
struct RowChain {
  unsigned char *row;
  double *cur, *next, *after;  // errors of this row and of the two below
  double c0 = 0, c1 = 0, a0 = 0, a1 = 0, a2 = 0, a3 = 0, b0 = 0, b1 = 0, b2 = 0, b3 = 0;

  RowChain(unsigned char *dots, double *const errorRows[3])
      : row(dots), cur(errorRows[0]), next(errorRows[1]), after(errorRows[2]) {}

  // Takes over the cells of the first dots, once nothing above writes to them any more.
  void open() {
    c0 = cur[0];
    c1 = cur[1];
    a0 = next[-2];
    a1 = next[-1];
    a2 = next[0];
    a3 = next[1];
    b0 = after[-2];
    b1 = after[-1];
    b2 = after[0];
    b3 = after[1];
  }

  // Dot x: 255 if its value plus its error exceeds 127, else 0; the difference is spread.
  __attribute__((always_inline)) inline void step(int x) {
    double oldPixel = row[x] + c0;
    double error;
#ifdef __SSE2__
    // Without a branch: a photograph makes the choice unpredictable.
    __m128d old = _mm_set_sd(oldPixel);
    __m128d white = _mm_cmpgt_sd(old, _mm_set_sd(127.0));
    error = _mm_cvtsd_f64(_mm_sub_sd(old, _mm_and_pd(white, _mm_set_sd(255.0))));
    row[x] = static_cast<unsigned char>(_mm_cvtsi128_si32(_mm_castpd_si128(white)));
#else
    static const double kNewPixel[2] = {0.0, 255.0};
    int white = oldPixel > 127.0;
    error = oldPixel - kNewPixel[white];
    row[x] = static_cast<unsigned char>(-white);
#endif
    double e1, e2, e4, e8;
    if (__builtin_expect(std::fabs(error) < kExactScaleMin && error != 0, 0)) {
      e1 = error / 42.0;
      e2 = error * 2 / 42.0;
      e4 = error * 4 / 42.0;
      e8 = error * 8 / 42.0;
    } else {
      e1 = error / 42.0;
      e2 = 2 * e1;
      e4 = 4 * e1;
      e8 = 8 * e1;
    }
    c0 = c1 + e8;
    c1 = cur[x + 2] + e4;
    double a4 = next[x + 2];
    a0 += e2;
    a1 += e4;
    a2 += e8;
    a3 += e4;
    a4 += e2;
    next[x - 2] = a0;
    a0 = a1;
    a1 = a2;
    a2 = a3;
    a3 = a4;
    double b4 = after[x + 2];
    b0 += e1;
    b1 += e2;
    b2 += e4;
    b3 += e2;
    b4 += e1;
    after[x - 2] = b0;
    b0 = b1;
    b1 = b2;
    b2 = b3;
    b3 = b4;
  }

  // Hands the last open cells back (width dots done).
  void close(int width) {
    next[width - 2] = a0;
    next[width - 1] = a1;
    next[width] = a2;
    next[width + 1] = a3;
    after[width - 2] = b0;
    after[width - 1] = b1;
    after[width] = b2;
    after[width + 1] = b3;
  }
};

// A second row may diffuse dot x once the row above has diffused dot x + 4: by then every cell
// the two rows share has received all its additions from the row above.
constexpr int kLag = 4;

}  // namespace

// A row of pure black and white with no error waiting for it changes nothing and spreads nothing.
bool StuckiDiffusion::quiet(const unsigned char *row, const double *errors) const {
  unsigned char mixed = 0;
  for (int x = 0; x < width_; x++) mixed |= static_cast<unsigned char>(row[x] + 1) & 0xFE;
  if (mixed) return false;
  bool any = false;
  for (int x = 0; x < width_; x++) any |= errors[x] != 0;
  return !any;
}

void StuckiDiffusion::diffuseRow(unsigned char *row) {
  if (!queued_) {
    queued_ = row;
    return;
  }
  unsigned char *first = queued_;
  queued_ = nullptr;
  if (quiet(first, rows_[0]) && quiet(row, rows_[1])) {
    retire(2);  // both error rows are empty already
    return;
  }
  diffusePair(first, row);
}

void StuckiDiffusion::finish() {
  if (!queued_) return;
  unsigned char *row = queued_;
  queued_ = nullptr;
  if (quiet(row, rows_[0]))
    retire(1);
  else
    diffuseSingle(row);
}

// The first count error rows are done: they are cleared and become the rows furthest below.
void StuckiDiffusion::retire(int count) {
  for (int i = 0; i < count; i++) std::memset(rows_[i] - 2, 0, stride_ * sizeof(double));
  double *done[4];
  for (int i = 0; i < 4; i++) done[i] = rows_[i];
  for (int i = 0; i < 4; i++) rows_[i] = done[(i + count) % 4];
}

void StuckiDiffusion::diffuseSingle(unsigned char *row) {
  RowChain chain(row, rows_);
  chain.open();
  for (int x = 0; x < width_; x++) chain.step(x);
  chain.close(width_);
  retire(1);
}

void StuckiDiffusion::diffusePair(unsigned char *first, unsigned char *second) {
  RowChain upper(first, rows_), lower(second, rows_ + 1);
  upper.open();
  int x = 0;
  for (; x < width_ && x < kLag; x++) upper.step(x);
  if (width_ > kLag) {
    lower.open();
    for (; x < width_; x++) {
      upper.step(x);
      lower.step(x - kLag);
    }
  }
  upper.close(width_);
  if (width_ <= kLag) lower.open();
  for (int t = width_ > kLag ? width_ - kLag : 0; t < width_; t++) lower.step(t);
  lower.close(width_);
  retire(2);
}
