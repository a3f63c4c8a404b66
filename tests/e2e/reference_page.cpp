// Reference page steps for the end-to-end tests, each written the plainest way (direct sums,
// no running windows, fresh buffers) so that they share no shortcut with the filter.
#include "reference_page.h"

#include <algorithm>
#include <sstream>

namespace refpage {

DotImage::DotImage(int w, int h, unsigned char fill)
    : width(w), height(h), dots(static_cast<size_t>(w) * static_cast<size_t>(h), fill) {}

unsigned char DotImage::at(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return 255;
  return dots[static_cast<size_t>(y) * width + x];
}

unsigned char &DotImage::ref(int x, int y) {
  return dots[static_cast<size_t>(y) * width + x];
}

DotImage capture(const rastertest::RasterPage &page, int lightOffset) {
  const cups_page_header2_t &h = page.header;
  int width = static_cast<int>(h.cupsWidth);
  int height = static_cast<int>(h.cupsHeight);
  int rows = page.rowsToWrite < 0 ? height : std::min(height, page.rowsToWrite);
  DotImage out((width + 7) / 8 * 8, height);
  for (int y = 0; y < rows; y++) {
    const unsigned char *row = page.pixels.data() + static_cast<size_t>(y) * h.cupsBytesPerLine;
    for (int x = 0; x < width; x++) {
      const unsigned char *rgb = row + 3 * x;
      int v = (rgb[0] * 299 + rgb[1] * 587 + rgb[2] * 114) / 1000 + lightOffset;
      out.ref(x, y) = static_cast<unsigned char>(std::clamp(v, 0, 255));
    }
  }
  return out;
}

DotImage threshold(const DotImage &in, int t) {
  DotImage out = in;
  for (unsigned char &d : out.dots) d = d > t ? 255 : 0;
  return out;
}

DotImage stucki(const DotImage &in, int forceBelow) {
  // The Stucki kernel from the current dot's row down, columns x-2 .. x+2, over 42.
  static const int kWeights[3][5] = {{0, 0, 0, 8, 4}, {2, 4, 8, 4, 2}, {1, 2, 4, 2, 1}};
  DotImage out = in;
  for (unsigned char &d : out.dots)
    if (d < forceBelow) d = 0;
  std::vector<double> carried(in.dots.size(), 0.0);  // error received from earlier dots
  for (int y = 0; y < in.height; y++) {
    for (int x = 0; x < in.width; x++) {
      double old =
          static_cast<double>(out.at(x, y)) + carried[static_cast<size_t>(y) * in.width + x];
      double now = old > 127.0 ? 255.0 : 0.0;
      out.ref(x, y) = static_cast<unsigned char>(now);
      double error = old - now;
      for (int dy = 0; dy < 3; dy++) {
        for (int dx = -2; dx <= 2; dx++) {
          int w = kWeights[dy][dx + 2];
          int nx = x + dx, ny = y + dy;
          if (w == 0 || nx < 0 || nx >= in.width || ny >= in.height) continue;
          carried[static_cast<size_t>(ny) * in.width + nx] += error * w / 42.0;
        }
      }
    }
  }
  return out;
}

DotImage mirror(const DotImage &in) {
  DotImage out(in.width, in.height);
  for (int y = 0; y < in.height; y++)
    for (int x = 0; x < in.width; x++) out.ref(x, y) = in.at(in.width - 1 - x, y);
  return out;
}

namespace {

// One box blur: the mean of the 2r + 1 dots around each dot, first along the rows, then along
// the columns, indices clamped to the page.
DotImage boxBlur(const DotImage &in, int r) {
  double scale = 1.0 / (r + r + 1);
  auto mean = [&](long sum) { return static_cast<unsigned char>(sum * scale + 0.5); };
  DotImage across(in.width, in.height), out(in.width, in.height);
  for (int y = 0; y < in.height; y++) {
    for (int x = 0; x < in.width; x++) {
      long sum = 0;
      for (int k = -r; k <= r; k++) sum += in.at(std::clamp(x + k, 0, in.width - 1), y);
      across.ref(x, y) = mean(sum);
    }
  }
  for (int y = 0; y < in.height; y++) {
    for (int x = 0; x < in.width; x++) {
      long sum = 0;
      for (int k = -r; k <= r; k++) sum += across.at(x, std::clamp(y + k, 0, in.height - 1));
      out.ref(x, y) = mean(sum);
    }
  }
  return out;
}

}  // namespace

DotImage sketch(const DotImage &in) {
  DotImage negative = in;
  for (unsigned char &d : negative.dots) d = static_cast<unsigned char>(255 - d);
  // A gaussian of sigma 10 as three boxes of widths 19, 19 and 21.
  DotImage blurred = boxBlur(boxBlur(boxBlur(negative, 9), 9), 10);
  DotImage out = in;
  for (size_t i = 0; i < out.dots.size(); i++) {
    unsigned s = in.dots[i], b = blurred.dots[i];
    unsigned v = b == 255 ? 255 : s + (s * b) / (255 - b);
    out.dots[i] = static_cast<unsigned char>(std::min(v, 255u));
  }
  return out;
}

DotImage halfTurn(const DotImage &in) {
  DotImage out(in.width, in.height);
  for (int y = 0; y < in.height; y++)
    for (int x = 0; x < in.width; x++) out.ref(x, y) = in.at(in.width - 1 - x, in.height - 1 - y);
  return out;
}

DotImage placed(const DotImage &in, int width, int height, int left, int top) {
  DotImage out(width, height);
  for (int y = 0; y < in.height; y++) {
    for (int x = 0; x < in.width; x++) {
      int nx = x + left, ny = y + top;
      if (nx >= 0 && ny >= 0 && nx < width && ny < height) out.ref(nx, ny) = in.at(x, y);
    }
  }
  return out;
}

namespace {

::testing::AssertionResult compareDots(const runtest::DecodedPage &decoded,
                                       const DotImage &expected, int width, int height) {
  long wrong = 0;
  std::ostringstream first;
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      unsigned char want = expected.at(x, y), got = decoded.at(x, y);
      if (want == got) continue;
      if (wrong++ == 0)
        first << "first at (" << x << ", " << y << "): got " << int(got) << ", want " << int(want);
    }
  }
  if (wrong == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << wrong << " dots differ; " << first.str();
}

}  // namespace

::testing::AssertionResult samePage(const runtest::DecodedPage &decoded, const DotImage &expected) {
  int width = (expected.width + 7) / 8 * 8;
  if (decoded.width != width || decoded.height != expected.height)
    return ::testing::AssertionFailure()
           << "page " << decoded.number << " is " << decoded.width << " x " << decoded.height
           << ", want " << width << " x " << expected.height;
  if (decoded.dots.size() != static_cast<size_t>(width) * expected.height)
    return ::testing::AssertionFailure() << "page " << decoded.number << " has no image";
  return compareDots(decoded, expected, width, expected.height);
}

::testing::AssertionResult sameLabel(const runtest::DecodedPage &decoded,
                                     const DotImage &expected) {
  if (decoded.dots.empty()) return ::testing::AssertionFailure() << "the label has no image";
  return compareDots(decoded, expected, std::max(decoded.width, expected.width),
                     std::max(decoded.height, expected.height));
}

}  // namespace refpage
