// Threshold, forced black and Stucki error diffusion.
//
// The diffusion must give exactly the dots of the plain form (one double accumulator per dot,
// each neighbour receiving (error × w) / 42.0 in raster order). It keeps the same additions in
// the same order per cell; only the operands are produced more cheaply: since w is a power of
// two, (error × w) / 42.0 equals w × (error / 42.0) bit for bit unless error / 42.0 is
// subnormal, which is handled apart.
#include "pipeline/tone.h"

#include <cfloat>
#include <cmath>
#include <cstring>

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
    : width_(width), stride_(static_cast<size_t>(width) + 4), errors_(3 * stride_, 0.0) {
  for (int i = 0; i < 3; i++) rows_[i] = errors_.data() + i * stride_ + 2;
}

namespace {
// Below this magnitude error / 42.0 may be subnormal, where scaling by a power of two is no
// longer exact; such errors take the four divisions of the plain form.
constexpr double kExactScaleMin = 42.0 * 4.0 * DBL_MIN;
}  // namespace

void StuckiDiffusion::diffuseRow(unsigned char *row) {
  double *cur = rows_[0], *next = rows_[1], *after = rows_[2];
  // The cells still receiving errors live in registers: c0 (this dot) and c1 (the next one)
  // of the current row, and the five cells x-2..x+2 of each row below (a*, b*). Each cell gets
  // its additions in the same order as in the plain form.
  double c0 = cur[0], c1 = cur[1];
  double a0 = next[-2], a1 = next[-1], a2 = next[0], a3 = next[1];
  double b0 = after[-2], b1 = after[-1], b2 = after[0], b3 = after[1];
  for (int x = 0; x < width_; x++) {
    double oldPixel = row[x] + c0;
    bool white = oldPixel > 127.0;
    double error = oldPixel - (white ? 255.0 : 0.0);
    row[x] = white ? 255 : 0;
    double e1 = 0, e2 = 0, e4 = 0, e8 = 0;
    if (error != 0) {
      if (std::fabs(error) >= kExactScaleMin) {
        e1 = error / 42.0;
        e2 = 2 * e1;
        e4 = 4 * e1;
        e8 = 8 * e1;
      } else {
        e1 = error / 42.0;
        e2 = error * 2 / 42.0;
        e4 = error * 4 / 42.0;
        e8 = error * 8 / 42.0;
      }
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
  next[width_ - 2] = a0;
  next[width_ - 1] = a1;
  next[width_] = a2;
  next[width_ + 1] = a3;
  after[width_ - 2] = b0;
  after[width_ - 1] = b1;
  after[width_] = b2;
  after[width_ + 1] = b3;
  // The row done becomes the row two below, empty.
  std::memset(cur - 2, 0, stride_ * sizeof(double));
  rows_[0] = next;
  rows_[1] = after;
  rows_[2] = cur;
}
