// Header checks: the raster layouts the capture reads (gray ones in the gray-twin identity test),
// and what it cannot read refused with a reason naming what came, memory limit included.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>

#include "page_builder.h"
#include "pipeline/capture.h"
#include "pipeline/page_check.h"

// Clears RX5K_PAGE_MEMORY_LIMIT after each test.
class PageMemory : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("RX5K_PAGE_MEMORY_LIMIT"); }
};

TEST(PageCheck, RefusesWhatTheCaptureCannotRead) {
  using Header = cups_page_header2_t;
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const auto gray8 = [](Header &h) {
    h.cupsColorSpace = CUPS_CSPACE_K;
    h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = h.cupsWidth;
  };
  struct Case {
    const char *what;
    std::function<void(Header &)> change;
    const char *reason;  // nullptr: accepted; the reason starts so
  } cases[] = {
      // clang-format off
      {"A4 RGB", [](Header &) {}, nullptr},
      {"gray", gray8, nullptr},
      {"1-bit", [&](Header &h) { gray8(h), h.cupsBitsPerColor = h.cupsBitsPerPixel = 1; },
       "unsupported raster format: 1 bits per pixel, colour space 3, order 0"},
      {"banded", [](Header &h) { h.cupsColorOrder = CUPS_ORDER_BANDED; },
       "unsupported raster format: 24 bits per pixel, colour space 1, order 1"},
      {"zero width", [](Header &h) { h.cupsWidth = 0; }, "empty page: width 0, height 10"},
      {"short rows", [](Header &h) { h.cupsBytesPerLine = 10; },
       "bytes per line 10 too small for width 4"},
      {"huge width", [](Header &h) { h.cupsWidth = 4000000000u; },
       "page of 4000000000 x 10 dots too large"},
      {"no resolution", [](Header &h) { h.HWResolution[1] = 0; },
       "resolution 203x0 dpi out of range"},
      {"absurd resolution", [](Header &h) { h.HWResolution[0] = 10001; },
       "resolution 10001x203 dpi out of range"},
      {"infinite length", [&](Header &h) { h.cupsPageSize[1] = inf; },
       "page size 595 x inf points or imageable area 0 0 595 842 out of range"},
      {"NaN margin", [&](Header &h) { h.cupsImagingBBox[3] = nan; }, ""},
      {"length beyond int", [](Header &h) { h.cupsPageSize[1] = 3e35f; }, ""},
      {"negative length", [](Header &h) { h.cupsPageSize[1] = -1; }, ""},
      {"sRGB", [](Header &h) { h.cupsColorSpace = CUPS_CSPACE_SRGB; }, nullptr},
      {"Adobe RGB", [](Header &h) { h.cupsColorSpace = CUPS_CSPACE_ADOBERGB; }, nullptr},
      {"16 bits a colour", [](Header &h) { h.cupsBitsPerColor = 16, h.cupsBitsPerPixel = 48; },
       "unsupported raster format: 48 bits"},
      {"32 bits a dot", [](Header &h) { h.cupsBitsPerPixel = 32, h.cupsBytesPerLine = 16; },
       "unsupported raster format: 32 bits per pixel, colour space 1"},
      {"CMYK", [](Header &h) { h.cupsColorSpace = CUPS_CSPACE_CMYK, h.cupsBitsPerPixel = 32; },
       "unsupported raster format: 32 bits per pixel, colour space 6"},
      {"white in 24 bits", [](Header &h) { h.cupsColorSpace = CUPS_CSPACE_W; },
       "unsupported raster format: 24 bits per pixel, colour space 0"},
      {"4e9 x 4e9 page", [&](Header &h) { h.cupsWidth = h.cupsHeight = 2000000000u, gray8(h); },
       "page of 2000000000 x 2000000000 dots needs "},
      // clang-format on
  };
  for (const Case &c : cases) {
    cups_page_header2_t h = rgbHeader(4, 10);
    c.change(h);
    std::string reason;
    bool accepted = checkPageHeader(h, reason);
    if (!c.reason) {
      EXPECT_TRUE(accepted) << c.what << ": " << reason;
      continue;
    }
    EXPECT_FALSE(accepted) << c.what;
    EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << c.what << ": " << reason;
  }
}

TEST_F(PageMemory, LimitFromTheEnvironment) {
  unsetenv("RX5K_PAGE_MEMORY_LIMIT");
  EXPECT_EQ(pageMemoryLimit(), uint64_t{1} << 30);
  struct Case {
    const char *text;
    uint64_t limit;
  } cases[] = {
      {"12345", 12345},
      {"64K", 65536},
      {"32m", 32u << 20},
      {"2G", uint64_t{2} << 30},
      {"0", 0},
      {"12X", uint64_t{1} << 30},
      {"", uint64_t{1} << 30},
      {"-5", uint64_t{1} << 30},
      {"99999999999G", uint64_t{1} << 30},
  };
  for (const Case &c : cases) {
    setenv("RX5K_PAGE_MEMORY_LIMIT", c.text, 1);
    EXPECT_EQ(pageMemoryLimit(), c.limit) << c.text;
  }
}

TEST_F(PageMemory, CountsEveryBufferOfTheSketchAndGeometry) {
  cups_page_header2_t a4 = rgbHeader(2480, 3508);
  a4.HWResolution[0] = a4.HWResolution[1] = 300;
  uint64_t need = 0;
  ASSERT_TRUE(pageMemoryNeed(a4, need));
  const uint64_t page = uint64_t{2480} * 3508;
  EXPECT_GE(need, 2 * page);  // the toned page and the placed page, or the two sketch pages
  EXPECT_LT(need, 3 * page);
  std::string reason;
  setenv("RX5K_PAGE_MEMORY_LIMIT", "20M", 1);
  EXPECT_TRUE(checkPageHeader(a4, reason)) << reason;
  setenv("RX5K_PAGE_MEMORY_LIMIT", "16M", 1);
  EXPECT_FALSE(checkPageHeader(a4, reason));
  EXPECT_NE(reason.find("above the limit of 16777216"), std::string::npos) << reason;
}
