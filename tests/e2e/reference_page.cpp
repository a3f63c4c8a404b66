// Reference page steps for the end-to-end tests, each written the plainest way so that they share
// no shortcut with the filter.
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
