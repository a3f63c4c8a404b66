// The orchestrator: settings taken from the job and page globals, the toned page handed to the
// geometry with the header's size, page size, resolution and the PPD model name.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/job.h"
#include "page_builder.h"
#include "support/capture.h"
#include "thermal/commands.h"
#include "thermal/page_setup.h"

namespace {

class Orchestrator : public ::testing::Test {
 protected:
  void TearDown() override {
    ModelNumber = 0;
    gray = Rotate = hOffset = vOffset = 0;
    mirrorPrint = sketchPrint = lightOffset = 0;
    blacklevel = 4;
    graylevel = 7;
    resetThermalCommands();
  }

  // Runs the pipeline on rows with a row buffer as the page set-up leaves it.
  FinishedPage run(cups_page_header2_t &h, const std::vector<Dots> &rows,
                   const char *modelName = "RX5") {
    EXPECT_TRUE(allocateRowBuffer(h.cupsBytesPerLine));
    FinishedPage page;
    std::string error;
    EXPECT_TRUE(runPagePipeline(rowsReader(rows), &h, modelName, page, error)) << error;
    return page;
  }

  CapturedIO io;
};

// Rows of width white dots with one black dot at (x, y).
std::vector<Dots> oneBlackDot(int width, int height, int x, int y) {
  std::vector<Dots> rows = uniformRows(width, height, 255, 255, 255);
  rows[y][3 * x] = rows[y][3 * x + 1] = rows[y][3 * x + 2] = 0;
  return rows;
}

int blackDots(const FinishedPage &page) {
  int n = 0;
  for (int i = 0; i < page.width * page.height; i++) n += page.dots[i] == 0;
  return n;
}

}  // namespace

TEST_F(Orchestrator, PageWithoutPlacementKeepsItsPaddedSize) {
  ModelNumber = 400;
  cups_page_header2_t h = rgbHeader(3, 2);
  FinishedPage page = run(h, oneBlackDot(3, 2, 1, 1));
  EXPECT_EQ(h.cupsWidth, 8u);
  EXPECT_EQ(h.cupsHeight, 2u);
  ASSERT_EQ(page.width, 8);
  ASSERT_EQ(page.height, 2);
  EXPECT_EQ(page.dots[8 + 1], 0);
  EXPECT_EQ(blackDots(page), 1);
  EXPECT_EQ(io.log(),
            "nw is 8 1 and cupsBytesPerLine is 9\nbalck"
            "process gray end and width is 8 and height is 2 and rotate is 0\n"
            "\nprocess rotate end\nwidth: 8, height: 2\n");
}

TEST_F(Orchestrator, WideningCentresThePictureAfterItsPad) {
  ModelNumber = 22;
  cups_page_header2_t h = rgbHeader(3, 4);  // nw 8, five pad columns
  FinishedPage page = run(h, oneBlackDot(3, 4, 0, 2));
  ASSERT_EQ(page.width, 1678);  // 210 mm at 203 dpi
  EXPECT_EQ(h.cupsWidth, 1678u);
  EXPECT_EQ(page.height, 4);
  EXPECT_EQ(page.dots[2 * 1678 + 5 + (1678 - 8) / 2], 0);
  EXPECT_EQ(blackDots(page), 1);
  EXPECT_EQ(bCmdPaper[3], 0);
}

TEST_F(Orchestrator, TurnAndOffsetsComeFromThePageGlobals) {
  ModelNumber = 400;
  Rotate = 1;
  hOffset = 1;
  vOffset = -1;
  cups_page_header2_t h = rgbHeader(8, 3);
  FinishedPage page = run(h, oneBlackDot(8, 3, 0, 0));
  // The half turn puts the dot at (7, 2); the offsets move it to (8, 1), off the page.
  EXPECT_EQ(blackDots(page), 0);
  Rotate = 1;
  hOffset = -1;
  page = run(h = rgbHeader(8, 3), oneBlackDot(8, 3, 0, 0));
  EXPECT_EQ(page.dots[1 * 8 + 6], 0);
  EXPECT_EQ(blackDots(page), 1);
}

TEST_F(Orchestrator, ModelNameReachesThePlacement) {
  ModelNumber = 590314;
  for (const char *name : {"HQ31", "RX5"}) {
    cups_page_header2_t h = rgbHeader(8, 2);
    FinishedPage page = run(h, oneBlackDot(8, 2, 0, 0), name);
    EXPECT_EQ(page.height, 2373);                        // 842 points at 203 dpi
    int top = std::strcmp(name, "HQ31") == 0 ? 63 : 71;  // 8 mm or 9 mm
    EXPECT_EQ(page.dots[top * 8], 0) << name;
    EXPECT_EQ(blackDots(page), 1) << name;
  }
}

TEST_F(Orchestrator, ImageSettingsComeFromTheJobGlobals) {
  ModelNumber = 400;
  mirrorPrint = 1;
  blacklevel = 1;  // threshold 192
  lightOffset = -10;
  cups_page_header2_t h = rgbHeader(8, 1);
  std::vector<Dots> rows = uniformRows(8, 1, 255, 255, 255);
  rows[0][0] = rows[0][1] = rows[0][2] = 200;  // 190 after the offset: black at level 1
  FinishedPage page = run(h, rows);
  EXPECT_EQ(page.dots[7], 0);  // mirrored to the right edge
  EXPECT_EQ(blackDots(page), 1);
  gray = 1;
  page = run(h = rgbHeader(8, 1), rows);
  EXPECT_NE(io.log().find("gray and graylevel is 7(0)\n"), std::string::npos);
}
