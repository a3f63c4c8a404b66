// Plain forms of the capture, effects and tone conversion.
#include "reference.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

const int kBlackLevels[7] = {192, 160, 144, 128, 112, 96, 64};
const int kGrayLevels[7] = {140, 128, 96, 64, 32, 16, 0};

unsigned char boxMean(int val, double iarr) {
  return static_cast<unsigned char>(static_cast<unsigned>(val * iarr + 0.5));
}

// One line (row or column) of a box pass: n dots at positions start + k × step, each output the
// mean of its window, the line's end dots standing in for positions beyond it.
void boxLine(const unsigned char *scl, unsigned char *tcl, int start, int step, int n, int r) {
  double iarr = 1.0 / (r + r + 1);
  auto at = [&](int k) { return scl[start + (k < 0 ? 0 : (k > n - 1 ? n - 1 : k)) * step]; };
  int val = 0;
  for (int j = -r - 1; j < r; j++) val += at(j);  // the window before the first dot
  for (int k = 0; k < n; k++) {
    val += at(k + r) - at(k - r - 1);
    tcl[start + k * step] = boxMean(val, iarr);
  }
}

void referenceBoxBlur(const unsigned char *scl, unsigned char *tcl, int w, int h, int r) {
  Dots between(static_cast<size_t>(w) * h);
  referenceBoxBlurH(scl, between.data(), w, h, r);
  referenceBoxBlurT(between.data(), tcl, w, h, r);
}

}  // namespace

void referenceMirror(const unsigned char *gray, unsigned char *des, int width, int height) {
  for (int y = 0; y < height; y++)
    for (int c = 0; c < width; c++) des[y * width + c] = gray[y * width + width - 1 - c];
}

void referenceBoxBlurH(const unsigned char *scl, unsigned char *tcl, int w, int h, int r) {
  for (int i = 0; i < h; i++) boxLine(scl, tcl, i * w, 1, w, r);
}

void referenceBoxBlurT(const unsigned char *scl, unsigned char *tcl, int w, int h, int r) {
  for (int i = 0; i < w; i++) boxLine(scl, tcl, i, w, h, r);
}

void referenceGaussBlur(const unsigned char *scl, unsigned char *tcl, int w, int h, int r) {
  int n = 3;
  double wIdeal = std::sqrt(12 * r * r / static_cast<double>(n) + 1.0);
  int wl = static_cast<int>(wIdeal);
  if (wl % 2 == 0) wl--;
  int wu = wl + 2;
  double mIdeal = static_cast<double>(12 * r * r - n * wl * wl - 4 * n * wl - 3 * n) /
                  static_cast<double>(-4 * wl - 4);
  int m = static_cast<int>(mIdeal + 0.5);
  int bxs[3];
  for (int i = 0; i < n; i++) bxs[i] = i < m ? wl : wu;
  Dots between(static_cast<size_t>(w) * h);
  referenceBoxBlur(scl, tcl, w, h, (bxs[0] - 1) / 2);
  referenceBoxBlur(tcl, between.data(), w, h, (bxs[1] - 1) / 2);
  referenceBoxBlur(between.data(), tcl, w, h, (bxs[2] - 1) / 2);
}

void referenceSketch(const unsigned char *gray, unsigned char *des, int width, int height) {
  size_t n = static_cast<size_t>(width) * height;
  Dots grayReverse(n), grayReverseBlur(n);
  for (size_t i = 0; i < n; i++) grayReverse[i] = static_cast<unsigned char>(255 - gray[i]);
  referenceGaussBlur(grayReverse.data(), grayReverseBlur.data(), width, height, 10);
  for (size_t i = 0; i < n; i++) {
    unsigned s = gray[i], b = grayReverseBlur[i];
    unsigned v = b == 255 ? 255 : s + (s * b) / (255 - b);
    des[i] = static_cast<unsigned char>(v >= 255 ? 255 : v);
  }
}

void referenceTone(Dots &tmp, Dots &rs, int nw, int height, const ImageSettings &s) {
  size_t n = static_cast<size_t>(nw) * height;
  if (!s.gray) {
    int level = s.blacklevel >= 1 && s.blacklevel <= 7 ? s.blacklevel : 4;
    int t = kBlackLevels[level - 1];
    for (size_t i = 0; i < n; i++) tmp[i] = rs[i] = rs[i] > t ? 255 : 0;
    return;
  }
  int level = s.graylevel >= 1 && s.graylevel <= 7 ? s.graylevel : 7;
  int g = kGrayLevels[level - 1];
  for (size_t i = 0; i < n; i++)
    if (rs[i] < g) tmp[i] = rs[i] = 0;
  std::vector<double> flo(n, 0.0);
  for (int y = 0; y < height; y++) referenceDiffuseRow(rs, flo, nw, height, y);
  tmp = rs;
}

void referenceDiffuseRow(Dots &rs, std::vector<double> &flo, int nw, int height, int y) {
  static const int kWeights[3][5] = {{0, 0, 0, 8, 4}, {2, 4, 8, 4, 2}, {1, 2, 4, 2, 1}};
  for (int x = 0; x < nw; x++) {
    size_t at = static_cast<size_t>(y) * nw + x;
    double oldPixel = static_cast<double>(rs[at]) + flo[at];
    double newPixel = oldPixel > 127.0 ? 255.0 : 0.0;
    double error = oldPixel - newPixel;
    rs[at] = static_cast<unsigned char>(newPixel);
    for (int dy = 0; dy < 3; dy++)
      for (int dx = -2; dx <= 2; dx++) {
        int w = kWeights[dy][dx + 2];
        int nx = x + dx, ny = y + dy;
        if (w == 0 || nx < 0 || nx >= nw || ny >= height) continue;
        flo[static_cast<size_t>(ny) * nw + nx] += error * w / 42.0;
      }
  }
}

Dots referenceTonedPage(const std::vector<Dots> &rgbRows, int width, int height,
                        const ImageSettings &s) {
  int nw = (width + 7) & ~7;
  size_t n = static_cast<size_t>(nw) * height;
  Dots tmp(n, 255), rs(n, 255);
  for (int y = 0; y < height && y < static_cast<int>(rgbRows.size()); y++) {
    const Dots &row = rgbRows[y];
    for (int x = 0; x < width; x++) {
      int v = (row[3 * x] * 299 + row[3 * x + 1] * 587 + row[3 * x + 2] * 114) / 1000;
      v += s.lightOffset;
      if (v < 0) v = 0;
      if (v > 255) v = 255;
      tmp[y * nw + x] = rs[y * nw + x] = static_cast<unsigned char>(v);
    }
    for (int x = width; x < nw; x++) tmp[y * nw + x] = rs[y * nw + x] = 255;
  }
  if (s.mirrorPrint) {
    referenceMirror(rs.data(), tmp.data(), nw, height);
    rs = tmp;
  }
  if (s.sketchPrint) {
    referenceSketch(rs.data(), tmp.data(), nw, height);
    rs = tmp;
  }
  referenceTone(tmp, rs, nw, height, s);
  return tmp;
}
