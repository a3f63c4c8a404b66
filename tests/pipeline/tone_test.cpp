// Tone conversion: thresholds by level, forced black, the diffusion's worked example, log lines.
#include <gtest/gtest.h>

#include "page_builder.h"
#include "pipeline/tone.h"

namespace {

// The toned dot of a one-dot page of luminance v.
unsigned char tonedDot(unsigned char v, const ImageSettings &s) {
  return tonedPage(rgbHeader(1, 1), uniformRows(1, 1, v, v, v), s)[0];
}

}  // namespace

TEST(Tone, ThresholdBoundaryAtEveryLevel) {
  const int thresholds[] = {192, 160, 144, 128, 112, 96, 64};
  for (int level = 1; level <= 7; level++) {
    ImageSettings s;
    s.blacklevel = level;
    int t = thresholds[level - 1];
    EXPECT_EQ(tonedDot(static_cast<unsigned char>(t), s), 0) << level;
    EXPECT_EQ(tonedDot(static_cast<unsigned char>(t + 1), s), 255) << level;
  }
  ImageSettings initial;
  EXPECT_EQ(tonedDot(128, initial), 0);  // level 4: 128 prints, 129 does not
  EXPECT_EQ(tonedDot(129, initial), 255);
}

TEST(Tone, LevelsOutsideTheTableKeepTheInitialLevel) {
  for (int level : {-1, 0, 8, 100}) {
    EXPECT_EQ(effectiveBlackLevel(level), 4);
    EXPECT_EQ(effectiveGrayLevel(level), 7);
    ImageSettings s;
    s.blacklevel = level;
    EXPECT_EQ(tonedDot(128, s), 0);
    EXPECT_EQ(tonedDot(129, s), 255);
  }
  EXPECT_EQ(effectiveBlackLevel(1), 1);
  EXPECT_EQ(effectiveGrayLevel(7), 7);
}

TEST(Tone, GrayLevelForcesDarkDotsBlackBeforeTheDiffusion) {
  ImageSettings s;
  s.gray = 1;
  s.graylevel = 1;  // below 140 is black
  EXPECT_EQ(tonedDot(139, s), 0);
  EXPECT_EQ(tonedDot(140, s), 255);
  s.graylevel = 7;  // nothing forced: 139 > 127 stays white
  EXPECT_EQ(tonedDot(139, s), 255);
  unsigned char map[256];
  buildForcedBlackMap(96, map);
  EXPECT_EQ(map[95], 0);
  EXPECT_EQ(map[96], 96);
  EXPECT_EQ(map[200], 200);
}

TEST(Tone, DiffusionOfAnEvenGrayPage) {
  ImageSettings s;
  s.gray = 1;
  std::string log;
  Dots page = tonedPage(rgbHeader(16, 4), uniformRows(16, 4, 128, 128, 128), s, &log);
  EXPECT_EQ(log, "nw is 16 1 and cupsBytesPerLine is 48\ngray and graylevel is 7(0)\n");
  EXPECT_EQ(page[0], 255);  // 128 > 127 becomes white, error -127
  EXPECT_EQ(page[1], 0);    // 128 - 127 × 8 / 42 ≈ 103.8 becomes black
  int white = 0;
  for (unsigned char d : page) {
    EXPECT_TRUE(d == 0 || d == 255);
    white += d == 255;
  }
  EXPECT_NEAR(white, 32, 6);  // half the dots, give or take the edges
}

TEST(Tone, LogLineShowsTheLevelInUse) {
  ImageSettings s;
  s.gray = 1;
  s.graylevel = 3;
  std::string log;
  tonedPage(rgbHeader(2, 2), uniformRows(2, 2, 9, 9, 9), s, &log);
  EXPECT_EQ(log, "nw is 8 1 and cupsBytesPerLine is 6\ngray and graylevel is 3(96)\n");
  s.graylevel = 0;
  tonedPage(rgbHeader(2, 2), uniformRows(2, 2, 9, 9, 9), s, &log);
  EXPECT_EQ(log, "nw is 8 1 and cupsBytesPerLine is 6\ngray and graylevel is 7(0)\n");
}

TEST(Tone, BlackAndWhiteMessageComesAfterTheSketch) {
  ImageSettings s;
  s.sketchPrint = 1;
  std::string log;
  tonedPage(rgbHeader(2, 2), uniformRows(2, 2, 9, 9, 9), s, &log);
  EXPECT_EQ(log, "nw is 8 1 and cupsBytesPerLine is 6\nbalck");
}
