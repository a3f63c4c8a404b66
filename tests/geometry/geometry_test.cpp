// Page geometry on worked examples: the half turn, the offsets, model 400's width limit, the
// placement of each model on its paper sizes, the log lines and hostile parameters.
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
  CapturedIO io;
  return applyGeometry(page.dots, page.width, page.height, p, error);
}

void runOrFail(Page &page, const GeometryParams &p) {
  std::string error;
  ASSERT_TRUE(runGeometry(page, p, error)) << error;
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

TEST(Geometry, HalfTurnPutsTheRasterAfterThePadColumnsUpsideDown) {
  // A raster 3 dots wide: nw 8, tofill 5, picture in columns 0..2.
  const unsigned char rows[2][8] = {{0, 255, 0, 255, 255, 255, 255, 255},
                                    {255, 0, 0, 255, 255, 255, 255, 255}};
  for (int rotate : {1, 0, 2, 90}) {
    Page page = whitePage(8, 2);
    std::memcpy(page.dots.get(), rows, sizeof rows);
    GeometryParams p;
    p.rotate = rotate;
    p.tofill = 5;
    runOrFail(page, p);
    ASSERT_EQ(page.width, 8);
    ASSERT_EQ(page.height, 2);
    for (int y = 0; y < 2; y++)
      for (int x = 0; x < 8; x++) {
        unsigned char want = rotate == 1 ? rows[1 - y][7 - x] : rows[y][x];
        EXPECT_EQ(page.at(x, y), want) << "rotate " << rotate << " at " << x << "," << y;
      }
  }
}

TEST(Geometry, OffsetsMoveThePictureAndLoseWhatLeavesThePage) {
  const int W = 24, H = 12;
  Page page = whitePage(W, H);
  for (int i = 0; i < W * H; i++) page.dots[i] = static_cast<unsigned char>(i % 251);
  GeometryParams p;
  p.hOffset = 10;
  p.vOffset = -5;
  runOrFail(page, p);
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      int fromX = x - 10, fromY = y + 5;
      unsigned char want = fromX >= 0 && fromY < H ? (fromY * W + fromX) % 251 : 255;
      ASSERT_EQ(page.at(x, y), want) << x << "," << y;
    }
}

TEST(Geometry, Model400KeepsTheLeftmost1280Dots) {
  for (int W : {1288, 1280}) {
    Page page = whitePage(W, 3);
    for (int y = 0; y < 3; y++)
      for (int x = 0; x < W; x++) page.dots[y * W + x] = static_cast<unsigned char>((x + y) % 7);
    GeometryParams p;
    p.model = 400;
    runOrFail(page, p);
    ASSERT_EQ(page.width, 1280);
    ASSERT_EQ(page.height, 3);
    for (int y = 0; y < 3; y++)
      for (int x = 0; x < 1280; x++) ASSERT_EQ(page.at(x, y), (x + y) % 7) << x << "," << y;
  }
}

constexpr int kUnchanged = -1;

struct PlacementCase {
  const char *what;
  int model;
  const char *size;
  const char *modelName;
  unsigned res;
  int W, H, tofill;
  float L, T;  // page length and imaging top, points
  unsigned char gap;
  int dotX, dotY;    // the one black dot of the input
  int wantW, wantH;  // the finished size
  int wantX, wantY;  // where the dot lands, -1 when it is dropped
  int wantCode;      // bCmdPaper byte 3, or kUnchanged
};

const PlacementCase kPlacements[] = {
    {"23 EnvISOB5 widened", 23, "EnvISOB5", "", 203, 1400, 4, 0, 0, 0, 0x26, 0, 0, 1406, 4, 3, 0,
     2},
    {"22 EnvISOB5 narrower paper", 22, "EnvISOB5", "", 203, 1400, 4, 0, 0, 0, 0x26, 0, 0, 1400, 4,
     0, 0, 2},
    {"23 EnvISOB5 300 dpi", 23, "EnvISOB5", "", 300, 1400, 2, 5, 0, 0, 0x26, 0, 1, 2078, 2, 344, 1,
     2},
    {"22 A5_Lanspace", 22, "A5_Lanspace", "", 203, 1600, 2, 0, 0, 0, 0x26, 0, 0, 1678, 2, 39, 0, 1},
    {"22 A4 pad past the row end", 22, "A4", "", 203, 1672, 2, 7, 0, 0, 0x26, 1671, 0, 1678, 2, -1,
     -1, 0},
    {"23 unlisted size keeps code", 23, "a4", "", 203, 16, 2, 0, 0, 0, 0x26, 1, 1, 16, 2, 1, 1,
     kUnchanged},
    {"302 Letter tall page", 302, "Letter", "", 203, 1600, 2400, 0, 0, 0, 0x26, 0, 2399, 1726, 2400,
     63, 2399, 4},
    {"302 Letter short page", 302, "Letter", "", 203, 1600, 100, 0, 0, 0, 0x26, 0, 0, 1726, 2233,
     63, 0, 4},
    {"302 Letter 300 dpi", 302, "Letter", "", 300, 2400, 10, 3, 0, 0, 0x26, 0, 0, 2551, 3300, 78, 0,
     4},
    {"302 A4 wider than paper", 302, "A4", "", 300, 2600, 10, 0, 0, 0, 0x26, 60, 5, 2480, 3484, 0,
     5, 0},
    {"831 A4", 831, "A4", "", 203, 16, 2300, 0, 0, 0, 0x26, 3, 2299, 16, 2373, 3, 2299, kUnchanged},
    {"831 A4 300 dpi", 831, "A4", "", 300, 16, 3000, 0, 0, 0, 0x26, 3, 0, 16, 3507, 3, 0,
     kUnchanged},
    {"831 A4 taller page", 831, "A4", "", 203, 16, 2400, 0, 0, 0, 0x26, 3, 7, 16, 2400, 3, 7,
     kUnchanged},
    {"831 Letter", 831, "Letter", "", 203, 16, 100, 0, 0, 0, 0x26, 0, 0, 16, 2233, 0, 0,
     kUnchanged},
    {"831 RX5_A4", 831, "RX5_A4", "", 203, 16, 2300, 0, 0, 0, 0x26, 0, 0, 16, 2397, 0, 64,
     kUnchanged},
    {"831 RX5_A4 300 dpi", 831, "RX5_A4", "", 300, 16, 3000, 0, 0, 0, 0x26, 0, 0, 16, 3543, 0, 18,
     kUnchanged},
    {"21 RX5_A4 last row dropped", 21, "RX5_A4", "", 203, 16, 2380, 0, 0, 0, 0x26, 0, 2379, 16,
     2397, -1, -1, kUnchanged},
    {"831 unlisted moves up", 831, "Custom", "", 203, 16, 200, 0, 0, 0, 0x26, 2, 95, 16, 200, 2, 0,
     kUnchanged},
    {"831 unlisted top lost", 831, "Custom", "", 203, 16, 200, 0, 0, 0, 0x26, 2, 94, 16, 200, -1,
     -1, kUnchanged},
    {"21 unlisted 300 dpi", 21, "Custom", "", 300, 16, 200, 0, 0, 0, 0x26, 2, 141, 16, 200, 2, 0,
     kUnchanged},
    {"831 Tattoo margin", 831, "Tattoo-A4", "", 203, 16, 2000, 0, 841.89f, 800, 0x26, 0, 0, 16,
     2373, 0, 22, kUnchanged},
    {"831 Tattoo small margin", 831, "MyTattooSheet", "", 203, 16, 2000, 0, 841.89f, 830, 0x26, 0,
     0, 16, 2373, 0, 0, kUnchanged},
    {"64519 A4 continuous", 64519, "A4", "", 203, 16, 100, 0, 0, 0, 0x0B, 0, 99, 16, 2373, 0, 99,
     kUnchanged},
    {"64519 A4 gap", 64519, "A4", "", 203, 16, 100, 0, 0, 0, 0x0A, 0, 99, 16, 100, 0, 99,
     kUnchanged},
    {"64519 Letter continuous 300 dpi", 64519, "Letter", "", 300, 16, 100, 0, 0, 0, 0x0B, 0, 0, 16,
     3300, 0, 0, kUnchanged},
    {"64519 unlisted continuous", 64519, "Custom", "", 203, 16, 100, 0, 0, 0, 0x0B, 0, 0, 16, 100,
     0, 0, kUnchanged},
    {"590314 HQ31", 590314, "A4", "HQ31", 203, 16, 100, 0, 841.89f, 830, 0x26, 0, 0, 16, 2373, 0,
     63, kUnchanged},
    {"590314 HQ32 300 dpi", 590314, "A4", "HQ32", 300, 16, 100, 0, 841.89f, 830, 0x26, 0, 0, 16,
     3507, 0, 94, kUnchanged},
    {"590314 other name", 590314, "A4", "JT64", 203, 16, 100, 0, 841.89f, 830, 0x26, 0, 0, 16, 2373,
     0, 71, kUnchanged},
    {"590314 other name 300 dpi", 590314, "A4", "hq31", 300, 16, 100, 0, 841.89f, 830, 0x26, 0, 0,
     16, 3507, 0, 106, kUnchanged},
    {"590314 VN2W top margin", 590314, "A4", "VN2W", 203, 16, 100, 0, 841.89f, 820, 0x26, 0, 0, 16,
     2373, 0, 61, kUnchanged},
    {"590314 VN2W Tattoo-A4", 590314, "Tattoo-A4", "VN2W", 203, 16, 100, 0, 841.89f, 820, 0x26, 0,
     0, 16, 2373, 0, 71, kUnchanged},
    {"590314 VN2W Tattoo-letter", 590314, "Tattoo-letter", "VN2W", 203, 16, 100, 0, 792, 700, 0x26,
     0, 0, 16, 2233, 0, 71, kUnchanged},
    {"590314 VN2W other Tattoo", 590314, "Tattoo-A5", "VN2W", 203, 16, 100, 0, 595, 560, 0x26, 0, 0,
     16, 1677, 0, 98, kUnchanged},
    {"590314 VN2W negative margin", 590314, "A4", "VN2W", 203, 16, 100, 0, 100, 110, 0x26, 0, 30,
     16, 281, 0, 2, kUnchanged},
    {"590314 shorter page", 590314, "A4", "", 203, 16, 300, 0, 100, 90, 0x26, 0, 200, 16, 281, 0,
     271, kUnchanged},
    {"590314 shorter page drops", 590314, "A4", "", 203, 16, 300, 0, 100, 90, 0x26, 0, 250, 16, 281,
     -1, -1, kUnchanged},
    {"613207 taller, single precision", 613207, "A4", "", 203, 16, 100, 0, 100.374382f, 0, 0x26, 0,
     99, 16, 283, 0, 99, kUnchanged},
    {"613207 shorter", 613207, "A4", "", 300, 16, 500, 0, 100, 0, 0x26, 0, 415, 16, 416, 0, 415,
     kUnchanged},
    {"613207 shorter drops", 613207, "A4", "", 300, 16, 500, 0, 100, 0, 0x26, 0, 416, 16, 416, -1,
     -1, kUnchanged},
    {"400 has no placement", 400, "A4", "", 203, 16, 5, 0, 1000, 0, 0x0B, 3, 4, 16, 5, 3, 4,
     kUnchanged},
};

TEST(Geometry, PlacementByModelAndPageSize) {
  for (const PlacementCase &c : kPlacements) {
    SCOPED_TRACE(c.what);
    Page page = whitePage(c.W, c.H);
    page.dots[static_cast<size_t>(c.dotY) * c.W + c.dotX] = 0;
    GeometryParams p;
    p.model = c.model;
    p.pageSizeName = c.size;
    p.modelName = c.modelName;
    p.resX = p.resY = c.res;
    p.pageLength = c.L;
    p.imagingTop = c.T;
    p.tofill = c.tofill;
    p.gapMode = c.gap;
    bCmdPaper[3] = 9;
    runOrFail(page, p);
    EXPECT_EQ(page.width, c.wantW);
    EXPECT_EQ(page.height, c.wantH);
    EXPECT_EQ(blackDot(page), std::make_pair(c.wantX, c.wantY));
    EXPECT_EQ(bCmdPaper[3], c.wantCode == kUnchanged ? 9 : c.wantCode);
  }
  resetThermalCommands();
}

TEST(Geometry, PaperCodeStaysForALaterUnlistedSize) {
  GeometryParams p;
  p.model = 23;
  p.resX = p.resY = 203;
  resetThermalCommands();
  for (const char *size : {"A5", "Custom", "Letter", "Custom"}) {
    Page page = whitePage(8, 1);
    p.pageSizeName = size;
    runOrFail(page, p);
  }
  EXPECT_EQ(bCmdPaper[3], 4);
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

TEST(Geometry, ExtremeOffsetsLeaveAWhitePage) {
  const int extremes[][2] = {{INT_MIN, 0}, {INT_MAX, 0},       {0, INT_MIN},
                             {0, INT_MAX}, {INT_MIN, INT_MAX}, {INT_MAX, INT_MIN}};
  for (int model : {21, 22, 23, 302, 400, 831, 64519, 590314, 613207}) {
    for (const auto &offset : extremes) {
      Page page = whitePage(16, 20);
      std::memset(page.dots.get(), 0, 16 * 20);
      GeometryParams p;
      p.model = model;
      p.modelName = "VN2W";
      p.pageSizeName = "A4";
      p.resX = p.resY = 10;
      p.pageLength = 100;
      p.imagingTop = 90;
      p.gapMode = 0x0B;
      p.hOffset = offset[0];
      p.vOffset = offset[1];
      runOrFail(page, p);
      EXPECT_EQ(blackDot(page), std::make_pair(-1, -1)) << model;
    }
  }
  resetThermalCommands();
}

struct HostileCase {
  const char *what;
  int model;
  const char *size;
  const char *modelName;
  unsigned res;
  float L, T;
  int W, H;
  const char *reason;  // nullptr: succeeds with a white page of W × wantH
  int wantH;
};

const float kInf = INFINITY;
const float kNaN = NAN;

const HostileCase kHostile[] = {
    {"590314 absurd length", 590314, "A4", "", 203, 1e30f, 0, 8, 4, "cannot place the page on", 0},
    {"613207 absurd length", 613207, "A4", "", 203, 1e30f, 0, 8, 4, "cannot place the page on", 0},
    {"613207 infinite length", 613207, "A4", "", 203, kInf, 0, 8, 4, "not finite", 0},
    {"590314 NaN length", 590314, "A4", "", 203, kNaN, 0, 8, 4, "not finite", 0},
    {"613207 negative length", 613207, "A4", "", 203, -100, 0, 8, 4, "cannot place the page on", 0},
    {"613207 zero length", 613207, "A4", "", 203, 0, 0, 8, 4, nullptr, 0},
    {"613207 past the ceiling", 613207, "A4", "", 72, 2e6f, 0, 1000, 4,
     "cannot allocate 2000000000 bytes for the placed page", 0},
    {"831 huge resolution", 831, "A4", "", UINT_MAX, 0, 0, 8, 4, "cannot place the page on", 0},
    {"302 huge resolution", 302, "Letter", "", UINT_MAX, 0, 0, 8, 4, "cannot place the page on", 0},
    {"23 huge resolution", 23, "A5", "", UINT_MAX, 0, 0, 8, 4, "cannot place the page on", 0},
    {"831 Tattoo NaN margin", 831, "Tattoo-A4", "", 10, 100, kNaN, 8, 4, "not finite", 0},
    {"831 Tattoo margin below the sheet", 831, "Tattoo-A4", "", 10, 100, -1e30f, 8, 4, nullptr,
     116},
    {"590314 VN2W margin above the sheet", 590314, "A4", "VN2W", 10, 100, 1e30f, 8, 4, nullptr, 13},
    {"590314 VN2W margin below the sheet", 590314, "A4", "VN2W", 10, 100, -1e30f, 8, 4, nullptr,
     13},
};

TEST(Geometry, HostileParametersFailWithAReasonOrDropThePicture) {
  for (const HostileCase &c : kHostile) {
    SCOPED_TRACE(c.what);
    Page page = whitePage(c.W, c.H);
    std::memset(page.dots.get(), 0, static_cast<size_t>(c.W) * c.H);
    GeometryParams p;
    p.model = c.model;
    p.pageSizeName = c.size;
    p.modelName = c.modelName;
    p.resX = p.resY = c.res;
    p.pageLength = c.L;
    p.imagingTop = c.T;
    std::string error;
    bool ok = runGeometry(page, p, error);
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
