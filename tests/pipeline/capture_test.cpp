// Capture: luminance, brightness offset, pad columns, short rasters, gray rasters, log line.
#include <gtest/gtest.h>

#include <random>

#include "page_builder.h"
#include "pipeline/capture.h"

namespace {

// The captured dots of one raster row, before any tone conversion.
Dots capturedRow(const Dots &raster, RasterLayout layout, int width, int offset) {
  unsigned char map[256];
  buildLightMap(offset, map);
  Dots out(static_cast<size_t>(paddedWidth(width)));
  captureRow(raster.data(), layout, width, paddedWidth(width), map, out.data());
  return out;
}

}  // namespace

TEST(Capture, LuminanceAndOffsetOfTypicalDots) {
  struct Case {
    unsigned char r, g, b;
    int offset;
    unsigned char expected;
  } cases[] = {
      {255, 255, 255, 0, 255},  {0, 0, 0, 0, 0},          {128, 128, 128, 0, 128},
      {255, 0, 0, 0, 76},       {0, 255, 0, 0, 149},      {0, 0, 255, 0, 29},
      {0, 0, 0, 300, 255},      {255, 255, 255, -300, 0}, {100, 100, 100, 27, 127},
      {100, 100, 100, -27, 73},
  };
  for (const Case &c : cases)
    EXPECT_EQ(capturedRow({c.r, c.g, c.b}, RasterLayout::Rgb24, 1, c.offset)[0], c.expected)
        << int(c.r) << "," << int(c.g) << "," << int(c.b) << " offset " << c.offset;
}

TEST(Capture, PadColumnsAreWhiteWhateverTheOffset) {
  Dots one = capturedRow({0, 0, 0}, RasterLayout::Rgb24, 1, -300);
  EXPECT_EQ(one, Dots({0, 255, 255, 255, 255, 255, 255, 255}));
  Dots eight = capturedRow(Dots(24, 0), RasterLayout::Rgb24, 8, 0);
  EXPECT_EQ(eight, Dots(8, 0));  // a multiple of 8 gets no pad
  EXPECT_EQ(paddedWidth(9), 16);
}

TEST(Capture, GrayRasterGivesTheDotsOfEqualRgbComponents) {
  std::mt19937 rng(7);
  for (int width : {1, 5, 8, 13}) {
    Dots gray(static_cast<size_t>(width)), rgb;
    for (unsigned char &g : gray) {
      g = static_cast<unsigned char>(rng());
      rgb.insert(rgb.end(), {g, g, g});
    }
    Dots inverted;
    for (unsigned char g : gray) inverted.push_back(static_cast<unsigned char>(255 - g));
    for (int offset : {-40, 0, 17}) {
      Dots expected = capturedRow(rgb, RasterLayout::Rgb24, width, offset);
      EXPECT_EQ(capturedRow(gray, RasterLayout::White8, width, offset), expected);
      EXPECT_EQ(capturedRow(inverted, RasterLayout::Black8, width, offset), expected);
    }
  }
}

TEST(Capture, WholeGrayPagesMatchTheirRgbTwinInEveryMode) {
  std::mt19937 rng(8);
  const int width = 29, height = 23;
  std::vector<Dots> rgb = noiseRows(rng, width, height), white, black;
  for (Dots &row : rgb) {
    Dots w, k;
    for (int x = 0; x < width; x++) {
      row[3 * x + 1] = row[3 * x + 2] = row[3 * x];
      w.push_back(row[3 * x]);
      k.push_back(static_cast<unsigned char>(255 - row[3 * x]));
    }
    white.push_back(w);
    black.push_back(k);
  }
  for (int mode = 0; mode < 4; mode++) {
    ImageSettings s;
    s.gray = mode & 1;
    s.sketchPrint = mode >> 1;
    Dots expected = tonedPage(rgbHeader(width, height), rgb, s);
    for (cups_cspace_t space : {CUPS_CSPACE_W, CUPS_CSPACE_SW, CUPS_CSPACE_K}) {
      cups_page_header2_t h = rgbHeader(width, height);
      h.cupsColorSpace = space;
      h.cupsBitsPerPixel = 8;
      h.cupsBytesPerLine = width;
      EXPECT_EQ(tonedPage(h, space == CUPS_CSPACE_K ? black : white, s), expected)
          << "space " << space << " mode " << mode;
    }
  }
}

TEST(Capture, LayoutFromHeader) {
  struct Case {
    cups_cspace_t space;
    unsigned bitsPerColor, bitsPerPixel;
    cups_order_t order;
    RasterLayout expected;
  } cases[] = {
      {CUPS_CSPACE_RGB, 8, 24, CUPS_ORDER_CHUNKED, RasterLayout::Rgb24},
      {CUPS_CSPACE_SRGB, 8, 24, CUPS_ORDER_CHUNKED, RasterLayout::Rgb24},
      {CUPS_CSPACE_ADOBERGB, 8, 24, CUPS_ORDER_CHUNKED, RasterLayout::Rgb24},
      {CUPS_CSPACE_W, 8, 8, CUPS_ORDER_CHUNKED, RasterLayout::White8},
      {CUPS_CSPACE_SW, 8, 8, CUPS_ORDER_CHUNKED, RasterLayout::White8},
      {CUPS_CSPACE_K, 8, 8, CUPS_ORDER_CHUNKED, RasterLayout::Black8},
      {CUPS_CSPACE_K, 1, 1, CUPS_ORDER_CHUNKED, RasterLayout::Unsupported},
      {CUPS_CSPACE_RGB, 8, 24, CUPS_ORDER_BANDED, RasterLayout::Unsupported},
      {CUPS_CSPACE_RGB, 16, 48, CUPS_ORDER_CHUNKED, RasterLayout::Unsupported},
      {CUPS_CSPACE_RGB, 8, 32, CUPS_ORDER_CHUNKED, RasterLayout::Unsupported},
      {CUPS_CSPACE_CMYK, 8, 32, CUPS_ORDER_CHUNKED, RasterLayout::Unsupported},
      {CUPS_CSPACE_W, 8, 24, CUPS_ORDER_CHUNKED, RasterLayout::Unsupported},
  };
  for (const Case &c : cases) {
    cups_page_header2_t h = rgbHeader(4, 4);
    h.cupsColorSpace = c.space;
    h.cupsBitsPerColor = c.bitsPerColor;
    h.cupsBitsPerPixel = c.bitsPerPixel;
    h.cupsColorOrder = c.order;
    EXPECT_EQ(rasterLayoutOf(h), c.expected) << c.space << " " << c.bitsPerPixel;
  }
}

TEST(Capture, ShortRasterLeavesWhiteRowsAndLogsTheWidth) {
  std::string log;
  ImageSettings s;
  Dots page = tonedPage(rgbHeader(3, 4), uniformRows(3, 1, 0, 0, 0), s, &log);
  ASSERT_EQ(page.size(), 32u);
  EXPECT_EQ(Dots(page.begin(), page.begin() + 8), Dots({0, 0, 0, 255, 255, 255, 255, 255}));
  EXPECT_EQ(Dots(page.begin() + 8, page.end()), Dots(24, 255));
  EXPECT_EQ(log, "nw is 8 1 and cupsBytesPerLine is 9\nbalck");
}
