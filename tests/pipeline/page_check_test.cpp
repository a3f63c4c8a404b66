// Header checks: the raster layouts the capture reads (gray ones in the gray-twin identity test),
// and what it cannot read refused with a reason naming what came; the memory a page needs and
// the ceiling it is held to.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <functional>

#include "base/page_memory.h"
#include "page_builder.h"
#include "pipeline/page_check.h"

TEST(PageCheck, RefusesWhatTheCaptureCannotRead) {
  using H = cups_page_header2_t;
  const float inf = INFINITY, nan = NAN;
  // 8-bit gray, 0 white.
  const auto k8 = [](H &h) { h.cupsColorSpace = CUPS_CSPACE_K, h.cupsBitsPerPixel = 8; };
  const struct {
    std::function<void(H &)> change;  // of an RGB page of 4 x 10 dots at 203 dpi on A4
    const char *reason;               // how the reason starts; nullptr: accepted
  } cases[] = {
      // clang-format off
      {[](H &) {}, nullptr},
      {[&](H &h) { k8(h), h.cupsBytesPerLine = 4; }, nullptr},
      {[](H &h) { h.cupsColorSpace = CUPS_CSPACE_SRGB; }, nullptr},
      {[](H &h) { h.cupsColorSpace = CUPS_CSPACE_ADOBERGB; }, nullptr},
      {[](H &h) { h.HWResolution[0] = 10000; }, nullptr},
      {[&](H &h) { k8(h), h.cupsBitsPerColor = h.cupsBitsPerPixel = 1; },
       "unsupported raster format: 1 bits per pixel, colour space 3, order 0"},
      {[](H &h) { h.cupsColorOrder = CUPS_ORDER_BANDED; },
       "unsupported raster format: 24 bits per pixel, colour space 1, order 1"},
      {[](H &h) { h.cupsBitsPerColor = 16, h.cupsBitsPerPixel = 48; }, "unsupported raster format: 48"},
      {[](H &h) { h.cupsBitsPerPixel = 32, h.cupsBytesPerLine = 16; }, "unsupported raster format: 32"},
      {[](H &h) { h.cupsColorSpace = CUPS_CSPACE_CMYK; }, "unsupported raster format: 24 bits per pixel, colour space 6"},
      {[](H &h) { h.cupsColorSpace = CUPS_CSPACE_W; }, "unsupported raster format: 24 bits per pixel, colour space 0"},
      {[](H &h) { std::memset(h.MediaType, 'x', sizeof h.MediaType); }, "header string without its end (NUL)"},
      {[](H &h) { h.cupsWidth = 0; }, "empty page: width 0, height 10"},
      {[](H &h) { h.cupsHeight = 0; }, "empty page: width 4, height 0"},
      {[](H &h) { h.cupsWidth = INT_MAX - 6; }, "page of 2147483641 x 10 dots too large"},
      {[](H &h) { h.cupsWidth = INT_MAX - 7; }, "bytes per line 12 too small for width 2147483640"},
      {[](H &h) { h.cupsHeight = 1u << 31; }, "page of 4 x 2147483648 dots too large"},
      {[](H &h) { h.cupsHeight = INT_MAX; }, "page of 4 x 2147483647 dots needs "},
      {[](H &h) { h.cupsBytesPerLine = 11; }, "bytes per line 11 too small for width 4"},
      {[](H &h) { h.HWResolution[1] = 0; }, "resolution 203x0 dpi out of range"},
      {[](H &h) { h.HWResolution[0] = 10001; }, "resolution 10001x203 dpi out of range"},
      {[&](H &h) { h.cupsPageSize[1] = inf; },
       "page size 595 x inf points or imageable area 0 0 595 842 out of range"},
      {[&](H &h) { h.cupsImagingBBox[3] = nan; }, "page size"},
      {[](H &h) { h.cupsPageSize[1] = 3e35f; }, "page size"},
      {[](H &h) { h.cupsPageSize[1] = -1; }, "page size"},
      {[&](H &h) { k8(h), h.cupsBytesPerLine = h.cupsWidth = h.cupsHeight = 2000000000u; },
       "page of 2000000000 x 2000000000 dots needs "},
      // clang-format on
  };
  for (const auto &c : cases) {
    H h = rgbHeader(4, 10);
    c.change(h);
    std::string reason;
    EXPECT_EQ(checkPageHeader(h, reason), !c.reason) << &c - cases << ": " << reason;
    EXPECT_EQ(reason.rfind(c.reason ? c.reason : "", 0), 0u) << &c - cases << ": " << reason;
  }
}

TEST(PageMemory, LimitFromTheEnvironment) {
  const std::pair<const char *, uint64_t> cases[] = {
      {"12345", 12345},  {"64K", 65536}, {"32m", 32u << 20}, {"2G", 2ull << 30},        {"0", 0},
      {"12X", 1u << 30}, {"", 1u << 30}, {"-5", 1u << 30},   {"99999999999G", 1u << 30}};
  for (const auto &[text, limit] : cases) {
    setenv("RX5K_PAGE_MEMORY_LIMIT", text, 1);
    EXPECT_EQ(pageMemoryLimit(), limit) << text;
  }
  unsetenv("RX5K_PAGE_MEMORY_LIMIT");
  EXPECT_EQ(pageMemoryLimit(), 1u << 30);
}

// The peak of each step wins once: the capture (a one-dot page), the sketch's two pages (wider
// than the widest paper), the placed page beside the toned one (A4) and the placed page beside
// its bitmap (a page length far beyond the paper).
TEST(PageMemory, CountsTheBuffersOfTheStepThatNeedsMost) {
  const struct {
    int width, height;
    unsigned dpi;
    float length;
    uint64_t need;
  } cases[] = {{1, 1, 1, 0, 395},
               {3000, 4000, 203, 842, 24096000},
               {2480, 3508, 300, 842, 17738033},
               {8, 10, 203, 10000, 54752748}};
  for (const auto &c : cases) {
    cups_page_header2_t h = rgbHeader(c.width, c.height);
    h.HWResolution[0] = h.HWResolution[1] = c.dpi;
    h.cupsPageSize[1] = c.length;
    uint64_t need = 0;
    ASSERT_TRUE(pageMemoryNeed(h, need));
    EXPECT_EQ(need, c.need) << c.width;
    // The ceiling holds the page to exactly that.
    std::string reason;
    setenv("RX5K_PAGE_MEMORY_LIMIT", std::to_string(c.need).c_str(), 1);
    EXPECT_TRUE(checkPageHeader(h, reason)) << reason;
    setenv("RX5K_PAGE_MEMORY_LIMIT", std::to_string(c.need - 1).c_str(), 1);
    EXPECT_FALSE(checkPageHeader(h, reason));
    EXPECT_NE(reason.find("needs " + std::to_string(c.need) + " bytes, above the limit of " +
                          std::to_string(c.need - 1)),
              std::string::npos);
  }
  unsetenv("RX5K_PAGE_MEMORY_LIMIT");
}
