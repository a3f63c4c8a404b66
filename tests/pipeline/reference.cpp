// Plain forms of the capture, effects and tone conversion.
#include "reference.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

const int kBlackLevels[7] = {192, 160, 144, 128, 112, 96, 64};
const int kGrayLevels[7] = {140, 128, 96, 64, 32, 16, 0};

// One line (row or column) of a box pass: n dots at positions start + k × step, each output the
// mean of its window, the line's end dots standing in for positions beyond it.
void boxLine(const unsigned char *scl, unsigned char *tcl, int start, int step, int n, int r) {
  const double iarr = 1.0 / (r + r + 1);
  auto at = [&](int k) { return scl[start + std::clamp(k, 0, n - 1) * step]; };
  int val = 0;
  for (int j = -r - 1; j < r; j++) val += at(j);  // the window before the first dot
  for (int k = 0; k < n; k++) {
    val += at(k + r) - at(k - r - 1);
    tcl[start + k * step] = static_cast<unsigned char>(static_cast<unsigned>(val * iarr + 0.5));
  }
}

}  // namespace

void referenceBoxBlur(const unsigned char *scl, unsigned char *tcl, int w, int h, int r) {
  Dots between(static_cast<size_t>(w) * h);
  referenceBoxBlurH(scl, between.data(), w, h, r);
  referenceBoxBlurT(between.data(), tcl, w, h, r);
}

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
  // Three boxes, the first m of width wl and the others wl + 2, for a gaussian of sigma r.
  int wl = static_cast<int>(std::sqrt(12 * r * r / 3.0 + 1.0));
  if (wl % 2 == 0) wl--;
  const int m = static_cast<int>(
      (12 * r * r - 3 * wl * wl - 12 * wl - 9) / static_cast<double>(-4 * wl - 4) + 0.5);
  Dots between(static_cast<size_t>(w) * h);
  referenceBoxBlur(scl, tcl, w, h, ((m > 0 ? wl : wl + 2) - 1) / 2);
  referenceBoxBlur(tcl, between.data(), w, h, ((m > 1 ? wl : wl + 2) - 1) / 2);
  referenceBoxBlur(between.data(), tcl, w, h, ((m > 2 ? wl : wl + 2) - 1) / 2);
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

void referenceTone(Dots &page, int nw, int height, const ImageSettings &s) {
  if (!s.gray) {
    const int t = kBlackLevels[(s.blacklevel >= 1 && s.blacklevel <= 7 ? s.blacklevel : 4) - 1];
    for (unsigned char &d : page) d = d > t ? 255 : 0;
    return;
  }
  const int g = kGrayLevels[(s.graylevel >= 1 && s.graylevel <= 7 ? s.graylevel : 7) - 1];
  for (unsigned char &d : page) d = d < g ? 0 : d;
  // Stucki diffusion, row by row, with a full page of errors.
  static const int kWeights[3][5] = {{0, 0, 0, 8, 4}, {2, 4, 8, 4, 2}, {1, 2, 4, 2, 1}};
  std::vector<double> flo(page.size(), 0.0);
  for (int y = 0; y < height; y++)
    for (int x = 0; x < nw; x++) {
      const size_t at = static_cast<size_t>(y) * nw + x;
      const double oldPixel = static_cast<double>(page[at]) + flo[at];
      const double newPixel = oldPixel > 127.0 ? 255.0 : 0.0;
      page[at] = static_cast<unsigned char>(newPixel);
      for (int dy = 0; dy < 3; dy++)
        for (int dx = -2; dx <= 2; dx++) {
          const int w = kWeights[dy][dx + 2], nx = x + dx, ny = y + dy;
          if (w != 0 && nx >= 0 && nx < nw && ny < height)
            flo[static_cast<size_t>(ny) * nw + nx] += (oldPixel - newPixel) * w / 42.0;
        }
    }
}

Dots referenceTonedPage(const std::vector<Dots> &rgbRows, int width, int height,
                        const ImageSettings &s) {
  const int nw = (width + 7) & ~7;
  Dots page(static_cast<size_t>(nw) * height, 255), out(page.size());
  for (int y = 0; y < height && y < static_cast<int>(rgbRows.size()); y++)
    for (int x = 0; x < width; x++) {
      const unsigned char *p = &rgbRows[y][3 * x];
      const int64_t v = (p[0] * 299 + p[1] * 587 + p[2] * 114) / 1000 + int64_t{s.lightOffset};
      page[static_cast<size_t>(y) * nw + x] =
          static_cast<unsigned char>(std::clamp<int64_t>(v, 0, 255));
    }
  if (s.mirrorPrint) referenceMirror(page.data(), out.data(), nw, height), page = out;
  if (s.sketchPrint) referenceSketch(page.data(), out.data(), nw, height), page = out;
  referenceTone(page, nw, height, s);
  return page;
}
