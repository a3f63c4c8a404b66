// Page geometry: worked placements of one dot for every model on small pages, offsets that clip
// it, and hostile parameters that fail with a reason or drop the picture. (Real pages, their
// placements and log lines are the reference jobs'.)
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "pipeline/geometry.h"

namespace {

using Dots = std::vector<unsigned char>;

struct Placed {
  Dots dots;
  int64_t w = 0, h = 0;
  int paperCode = -1;
};

// The filter's geometry of a page of w x h dots; false with the reason when it fails.
bool applied(const Dots &input, int w, int h, const GeometryParams &p, Placed &out,
             std::string &error) {
  StringLogSink sink;
  Log log(sink);
  DotBuffer page = allocateDots(input.size() + 1);
  std::copy(input.begin(), input.end(), page.get());
  if (!applyGeometry(page, w, h, p, log, out.paperCode, error)) return false;
  out.dots.assign(page.get(), page.get() + size_t(w) * size_t(h));
  out.w = w;
  out.h = h;
  return true;
}

// Worked placements at resolutions low enough for small pages, for every model's placement, the
// turn, the width limit and offsets that push the picture partly or wholly off the page: where
// the one black dot lands (or that it is dropped), the finished size and paper code, and the
// size the plan gives without the dots. (The placements of real pages at 203 and 300 dpi are
// the reference jobs'.)
TEST(Geometry, PlacementsMoveTheDotAndSizeThePage) {
  const struct {
    int model;
    const char *size, *name;
    unsigned res;
    float length, top;  // points
    int rotate, hOff, vOff, tofill;
    bool continuous;
    int W, H, x, y;                // the page and its black dot
    int w, h, code, landX, landY;  // the finished page, its paper code, the dot (-1: dropped)
  } cases[] = {
      // clang-format off
      // Turned, then cut to 1280 dots.
      {400, "A4", "", 10, 0, 0, 1, 0, 0, 0, false, 1288, 2, 10, 1, 1280, 2, -1, 1277, 0},
      {400, "A4", "", 10, 0, 0, 1, 0, 0, 0, false, 1288, 2, 1, 1, 1280, 2, -1, -1, -1},
      // Only a half turn turns; offsets move the picture within its page, or off it.
      {18, "A4", "", 10, 0, 0, 90, 4, 2, 0, false, 8, 4, 3, 1, 8, 4, -1, 7, 3},
      {18, "A4", "", 10, 0, 0, 0, 5, 0, 0, false, 8, 4, 3, 1, 8, 4, -1, -1, -1},
      {18, "A4", "", 10, 0, 0, 0, 1, 0, 0, false, 8, 4, 0, 1, 8, 4, -1, 1, 1},
      {0, "A4", "", 10, 0, 0, 0, -3, -1, 0, false, 8, 4, 3, 1, 8, 4, -1, 0, 0},
      {0, "A4", "", 10, 0, 0, 0, 0, -2, 0, false, 8, 4, 3, 1, 8, 4, -1, -1, -1},
      {0, "A4", "", 10, 0, 0, 0, INT_MIN, INT_MAX, 0, false, 8, 4, 3, 1, 8, 4, -1, -1, -1},
      // Widened to the paper (210 mm: 82 dots), centred after the pad columns.
      {22, "A4", "", 10, 0, 0, 0, 0, 0, 3, false, 8, 2, 2, 1, 82, 2, 0, 42, 1},
      {23, "EnvISOB5", "", 10, 0, 0, 0, 0, 0, 0, false, 8, 2, 0, 0, 69, 2, 2, 30, 0},
      {22, "EnvISOB5", "", 10, 0, 0, 0, 0, 0, 0, false, 8, 2, 0, 0, 68, 2, 2, 30, 0},
      {302, "A5", "", 10, 0, 0, 0, 0, 0, 0, false, 8, 4, 0, 0, 58, 82, 3, 25, 0},
      // On the sheet: lowered by the top margin beyond 12 mm, or raised by 12 mm.
      {831, "A4", "", 10, 0, 0, 0, 0, 0, 0, false, 8, 4, 1, 1, 8, 116, -1, 1, 1},
      {831, "RX5_A4", "", 100, 0, 0, 0, 0, 0, 0, false, 8, 4, 0, 0, 8, 1181, -1, 0, 112},
      {831, "w1", "", 10, 0, 0, 0, 0, 0, 0, false, 8, 8, 1, 5, 8, 8, -1, 1, 1},
      {21, "Tattoo-A4", "", 10, 100, 0, 0, 0, 0, 0, false, 8, 4, 0, 0, 8, 116, -1, 0, 8},
      {21, "Letter", "", 10, 0, 0, 0, 0, 0, 0, false, 8, 4, 0, 0, 8, 110, -1, 0, 0},
      {64519, "Letter", "", 10, 0, 0, 0, 0, 0, 0, true, 8, 4, 0, 0, 8, 110, -1, 0, 0},
      {64519, "A4", "", 10, 0, 0, 0, 0, 0, 0, false, 8, 4, 1, 1, 8, 4, -1, 1, 1},
      // As long as the page, lowered by 9 mm, 8 mm on the HQ models, the page's own margin on
      // the VN2W but for the tattoo sizes.
      {590314, "A4", "", 100, 100, 90, 0, 0, 0, 0, false, 8, 4, 0, 0, 8, 138, -1, 0, 35},
      {590314, "A4", "HQ32", 100, 100, 90, 0, 0, 0, 0, false, 8, 4, 0, 0, 8, 138, -1, 0, 31},
      {590314, "A4", "VN2W", 100, 100, 80, 0, 0, 0, 0, false, 8, 4, 0, 0, 8, 138, -1, 0, 27},
      {590314, "Tattoo-letter", "VN2W", 100, 100, 80, 0, 0, 0, 0, false, 8, 4, 0, 0, 8, 138, -1, 0, 35},
      {613207, "A4", "", 10, 100, 0, 0, 0, 0, 0, false, 8, 4, 1, 1, 8, 13, -1, 1, 1},
      {613207, "A4", "", 10, 100, 0, 0, 0, 1, 0, false, 1, 4, 0, 1, 1, 13, -1, 0, 2},
      {613207, "A4", "", 10, 100, 0, 0, 0, 0, 0, false, 8, 0, 0, 0, 8, 13, -1, -1, -1},  // no rows
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(&c - cases);
    const GeometryParams p{c.model, c.name,   c.size, c.res,  c.res,    c.length,
                           c.top,   c.rotate, c.hOff, c.vOff, c.tofill, c.continuous};
    Dots input(static_cast<size_t>(c.W) * c.H, 255);
    if (!input.empty()) input[static_cast<size_t>(c.y) * c.W + c.x] = 0;
    Placed got;
    std::string error;
    ASSERT_TRUE(applied(input, c.W, c.H, p, got, error)) << error;
    EXPECT_EQ(std::tie(got.w, got.h, got.paperCode),
              std::make_tuple(int64_t{c.w}, int64_t{c.h}, c.code));
    EXPECT_EQ(std::count(got.dots.begin(), got.dots.end(), 0), c.landX >= 0);
    if (c.landX >= 0) {
      EXPECT_EQ(got.dots[static_cast<size_t>(c.landY) * c.w + c.landX], 0);
    }
    int64_t w = 0, h = 0;
    ASSERT_TRUE(finishedPageSize(p, c.W, c.H, w, h, error)) << error;
    EXPECT_EQ(std::tie(w, h), std::tie(got.w, got.h));
  }
}

// Parameters of a placement: page length L and imaging top T in points.
GeometryParams at(int model, const char *size, unsigned res, float L = 0, float T = 0,
                  const char *modelName = "") {
  return {model, modelName, size, res, res, L, T};
}

TEST(Geometry, HostileParametersFailWithAReasonOrDropThePicture) {
  const float inf = INFINITY, nan = NAN;
  const struct {
    GeometryParams p;
    int W;
    const char *reason;  // nullptr: succeeds with a white page of W x wantH
    int wantH = 0;
  } cases[] = {
      {at(590314, "A4", 203, 1e30f), 8, "cannot place the page on 8 x 1099511627776 dots"},
      {at(613207, "A4", 203, inf), 8, "cannot place the page: its length is not finite"},
      // One dot wide, so that no overflow of width x length refuses it in place of the sign.
      {at(613207, "A4", 203, -100), 1, "cannot place the page on 1 x -281 dots"},
      {at(613207, "A4", 203), 8, nullptr, 0},
      {at(613207, "A4", 72, 2e6f), 1000, "cannot allocate 2000000000 bytes for the placed page"},
      {at(831, "A4", UINT_MAX), 8, "cannot place the page on 8 x 50220680575 dots"},
      {at(302, "Letter", UINT_MAX), 8, "cannot place the page on 36524131327 x 47244640245 dots"},
      {at(831, "Tattoo-A4", 10, 100, nan), 8,
       "cannot place the page: its top margin is not finite"},
      {at(831, "Tattoo-A4", 10, 100, -1e30f), 8, nullptr, 116},
      {at(590314, "A4", 10, 100, 1e30f, "VN2W"), 8, nullptr, 13}};
  for (const auto &c : cases) {
    Placed page;
    std::string error;
    const bool ok = applied(Dots(size_t(c.W) * 4, 0), c.W, 4, c.p, page, error);
    if (c.reason) {
      EXPECT_FALSE(ok) << c.reason;
      EXPECT_EQ(error.rfind(c.reason, 0), 0u) << error;
      continue;
    }
    ASSERT_TRUE(ok) << &c - cases << ": " << error;
    EXPECT_EQ(page.w, c.W);
    EXPECT_EQ(page.h, c.wantH);
    EXPECT_EQ(std::count(page.dots.begin(), page.dots.end(), 0), 0);
  }
  StringLogSink sink;
  Log log(sink);
  int width = 8, height = 4, code = 0;
  std::string error;
  DotBuffer none;
  EXPECT_FALSE(applyGeometry(none, width, height, GeometryParams{}, log, code, error));
  EXPECT_EQ(error, "cannot place a page without dots");
}

}  // namespace
