// Plain, slow reference versions of the page steps, written from their definitions without any
// of the filter's code: what a page should look like after capture, tone conversion, effects and
// simple geometry. The end-to-end tests compare the printer's decoded pages against them.
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

// Dots darker than forceBelow become black, then Stucki error diffusion, left to right on every
// row, over the whole padded page.
DotImage stucki(const DotImage &in, int forceBelow);

// Left-right mirror of every row.
DotImage mirror(const DotImage &in);

// Pencil sketch: colour-dodge blend of the page with its negative blurred by three box blurs of
// radii 9, 9 and 10 (edge dots repeated).
DotImage sketch(const DotImage &in);

// Turned by 180 degrees.
DotImage halfTurn(const DotImage &in);

// A white page of width x height with the picture's dot (x, y) at (x + left, y + top), clipped.
DotImage placed(const DotImage &in, int width, int height, int left, int top);

// The decoded thermal page equals the expected finished page: width rounded up to whole bytes
// with the pad bits white, same height, same dots.
::testing::AssertionResult samePage(const runtest::DecodedPage &decoded, const DotImage &expected);
// The decoded label shows the expected image at its top left and nothing else.
::testing::AssertionResult sameLabel(const runtest::DecodedPage &decoded, const DotImage &expected);

}  // namespace refpage
