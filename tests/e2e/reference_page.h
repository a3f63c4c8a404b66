// Plain reference versions of the page steps a black-and-white page takes, written from their
// definitions without any of the filter's code: capture, threshold and placement. The end-to-end
// tests compare the printer's decoded pages against them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/raster_file.h"
#include "support/run_filter.h"

namespace refpage {

// Row-major page of one byte per dot (0 black, 255 white).
struct DotImage {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> dots;

  DotImage() = default;
  DotImage(int w, int h, unsigned char fill = 255);
  unsigned char at(int x, int y) const;  // 255 outside the page
  unsigned char &ref(int x, int y);
};

// Luminance (R 299, G 587, B 114 per mille, truncated) plus lightOffset, clamped; the rows are
// padded on the right with white up to a multiple of 8 dots. Rows missing from the raster are
// white.
DotImage capture(const rastertest::RasterPage &page, int lightOffset = 0);

// Black where the dot is threshold or darker, white elsewhere.
DotImage threshold(const DotImage &in, int threshold);

// A white page of width x height with the picture's dot (x, y) at (x + left, y + top), clipped.
DotImage placed(const DotImage &in, int width, int height, int left, int top);

// The decoded thermal page equals the expected finished page: width rounded up to whole bytes
// with the pad bits white, same height, same dots.
::testing::AssertionResult samePage(const runtest::DecodedPage &decoded, const DotImage &expected);
// The decoded label shows the expected image at its top left and nothing else.
::testing::AssertionResult sameLabel(const runtest::DecodedPage &decoded, const DotImage &expected);

}  // namespace refpage
