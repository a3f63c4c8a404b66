// Page geometry on worked examples: the placement of each model on its paper sizes, the paper
// code across pages, the log lines and hostile parameters. (The turn, the offsets and the width
// limit are compared with the plain reference steps and checked end to end.)
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pipeline/geometry.h"
#include "support/capture.h"
#include "thermal/commands.h"

namespace {

struct Page {
  DotBuffer dots;
  int width = 0, height = 0;
  unsigned char at(int x, int y) const { return dots[static_cast<size_t>(y) * width + x]; }
};

Page whitePage(int width, int height) {
  size_t count = static_cast<size_t>(width) * height;
  Page page{DotBuffer(static_cast<unsigned char *>(std::malloc(count + 1))), width, height};
  std::memset(page.dots.get(), 255, count);
  return page;
}

bool runGeometry(Page &page, const GeometryParams &p, std::string &error) {
  CapturedIO io;  // keeps the log lines off standard error
  return applyGeometry(page.dots, page.width, page.height, p, error);
}

// Where the only black dot of the page is, {-1, -1} when there is none; fails on a second one.
std::pair<int, int> blackDot(const Page &page) {
  std::pair<int, int> found{-1, -1};
  for (int y = 0; y < page.height; y++)
    for (int x = 0; x < page.width; x++)
      if (page.at(x, y) != 255) {
        EXPECT_EQ(found.first, -1) << "second black dot at " << x << "," << y;
        found = {x, y};
      }
  return found;
}

// Parameters of a placement: page length L and imaging top T in points.
GeometryParams at(int model, const char *size, unsigned res, float L = 0, float T = 0,
                  const char *modelName = "", unsigned char gap = 0x26, int tofill = 0) {
  GeometryParams p;
  p.model = model;
  p.pageSizeName = size;
  p.resX = p.resY = res;
  p.pageLength = L;
  p.imagingTop = T;
  p.modelName = modelName;
  p.gapMode = gap;
  p.tofill = tofill;
  return p;
}

// A page of W × H dots with one black dot at (dotX, dotY), placed; the finished size, where the
// dot lands ({-1, -1}: dropped) and bCmdPaper byte 3 (kKeep: unchanged).
constexpr int kKeep = -1;

struct PlacementCase {
  const char *what;
  GeometryParams p;
  int W, H, dotX, dotY, wantW, wantH, wantX, wantY;
  int wantCode = kKeep;
};

const PlacementCase kPlacements[] = {
    {"23 EnvISOB5 widened", at(23, "EnvISOB5", 203), 1400, 4, 0, 0, 1406, 4, 3, 0, 2},
    {"22 EnvISOB5 narrower paper", at(22, "EnvISOB5", 203), 1400, 4, 0, 0, 1400, 4, 0, 0, 2},
    {"23 EnvISOB5 300 dpi", at(23, "EnvISOB5", 300, 0, 0, "", 0x26, 5), 1400, 2, 0, 1, 2078, 2, 344,
     1, 2},
    {"22 A5_Lanspace", at(22, "A5_Lanspace", 203), 1600, 2, 0, 0, 1678, 2, 39, 0, 1},
    {"23 unlisted size keeps code", at(23, "a4", 203), 16, 2, 1, 1, 16, 2, 1, 1},
    {"302 Letter tall page", at(302, "Letter", 203), 1600, 2400, 0, 2399, 1726, 2400, 63, 2399, 4},
    {"831 A4 taller page", at(831, "A4", 203), 16, 2400, 3, 7, 16, 2400, 3, 7},
    {"831 RX5_A4 300 dpi", at(831, "RX5_A4", 300), 16, 3000, 0, 0, 16, 3543, 0, 18},
    {"831 unlisted moves up", at(831, "Custom", 203), 16, 200, 2, 95, 16, 200, 2, 0},
    {"831 unlisted top lost", at(831, "Custom", 203), 16, 200, 2, 94, 16, 200, -1, -1},
    {"831 Tattoo small margin", at(831, "MyTattooSheet", 203, 841.89f, 830), 16, 2000, 0, 0, 16,
     2373, 0, 0},
    {"590314 VN2W Tattoo-A4", at(590314, "Tattoo-A4", 203, 841.89f, 820, "VN2W"), 16, 100, 0, 0, 16,
     2373, 0, 71},
    {"590314 VN2W other Tattoo", at(590314, "Tattoo-A5", 203, 595, 560, "VN2W"), 16, 100, 0, 0, 16,
     1677, 0, 98},
    {"590314 VN2W negative margin", at(590314, "A4", 203, 100, 110, "VN2W"), 16, 100, 0, 30, 16,
     281, 0, 2},
    {"590314 shorter page drops", at(590314, "A4", 203, 100, 90), 16, 300, 0, 250, 16, 281, -1, -1},
    {"613207 taller, single precision", at(613207, "A4", 203, 100.374382f), 16, 100, 0, 99, 16, 283,
     0, 99},
    {"613207 shorter drops", at(613207, "A4", 300, 100), 16, 500, 0, 416, 16, 416, -1, -1},
    {"400 has no placement", at(400, "A4", 203, 1000, 0, "", 0x0B), 16, 5, 3, 4, 16, 5, 3, 4}};

TEST(Geometry, PlacementByModelAndPageSize) {
  for (const PlacementCase &c : kPlacements) {
    SCOPED_TRACE(c.what);
    Page page = whitePage(c.W, c.H);
    page.dots[static_cast<size_t>(c.dotY) * c.W + c.dotX] = 0;
    bCmdPaper[3] = 9;
    std::string error;
    ASSERT_TRUE(runGeometry(page, c.p, error)) << error;
    EXPECT_EQ(page.width, c.wantW);
    EXPECT_EQ(page.height, c.wantH);
    EXPECT_EQ(blackDot(page), std::make_pair(c.wantX, c.wantY));
    EXPECT_EQ(bCmdPaper[3], c.wantCode == kKeep ? 9 : c.wantCode);
  }
  resetThermalCommands();
}

TEST(Geometry, LogLines) {
  Page page = whitePage(1288, 2);
  GeometryParams p;
  p.model = 400;
  p.rotate = 1;
  CapturedIO io;
  std::string error;
  ASSERT_TRUE(applyGeometry(page.dots, page.width, page.height, p, error));
  EXPECT_EQ(io.log(),
            "process gray end and width is 1288 and height is 2 and rotate is 1\n"
            "\nprocess rotate end\n"
            "width: 1280, height: 2\n");
}

struct HostileCase {
  const char *what;
  GeometryParams p;
  int W, H;
  const char *reason;  // nullptr: succeeds with a white page of W × wantH
  int wantH;
};

const float kInf = INFINITY;
const float kNaN = NAN;

const HostileCase kHostile[] = {
    {"590314 absurd length", at(590314, "A4", 203, 1e30f), 8, 4, "cannot place the page on", 0},
    {"613207 infinite length", at(613207, "A4", 203, kInf), 8, 4, "not finite", 0},
    {"590314 NaN length", at(590314, "A4", 203, kNaN), 8, 4, "not finite", 0},
    {"613207 negative length", at(613207, "A4", 203, -100), 8, 4, "cannot place the page on", 0},
    {"613207 zero length", at(613207, "A4", 203), 8, 4, nullptr, 0},
    {"613207 past the ceiling", at(613207, "A4", 72, 2e6f), 1000, 4,
     "cannot allocate 2000000000 bytes for the placed page", 0},
    {"831 huge resolution", at(831, "A4", UINT_MAX), 8, 4, "cannot place the page on", 0},
    {"302 huge resolution", at(302, "Letter", UINT_MAX), 8, 4, "cannot place the page on", 0},
    {"831 Tattoo NaN margin", at(831, "Tattoo-A4", 10, 100, kNaN), 8, 4, "not finite", 0},
    {"831 Tattoo margin below the sheet", at(831, "Tattoo-A4", 10, 100, -1e30f), 8, 4, nullptr,
     116},
    {"590314 VN2W margin above the sheet", at(590314, "A4", 10, 100, 1e30f, "VN2W"), 8, 4, nullptr,
     13}};

TEST(Geometry, HostileParametersFailWithAReasonOrDropThePicture) {
  for (const HostileCase &c : kHostile) {
    SCOPED_TRACE(c.what);
    Page page = whitePage(c.W, c.H);
    std::memset(page.dots.get(), 0, static_cast<size_t>(c.W) * c.H);
    std::string error;
    bool ok = runGeometry(page, c.p, error);
    if (c.reason) {
      EXPECT_FALSE(ok);
      EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    } else {
      ASSERT_TRUE(ok) << error;
      EXPECT_EQ(page.width, c.W);
      EXPECT_EQ(page.height, c.wantH);
      EXPECT_EQ(blackDot(page), std::make_pair(-1, -1));
    }
  }
  resetThermalCommands();
}

TEST(Geometry, RefusesAPageWithoutDots) {
  DotBuffer none;
  int width = 8, height = 4;
  std::string error;
  CapturedIO io;
  EXPECT_FALSE(applyGeometry(none, width, height, GeometryParams{}, error));
  EXPECT_FALSE(error.empty());
  width = -8;
  DotBuffer some(static_cast<unsigned char *>(std::malloc(1)));
  EXPECT_FALSE(applyGeometry(some, width, height, GeometryParams{}, error));
}

}  // namespace
