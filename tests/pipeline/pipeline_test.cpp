// The orchestrator: settings taken from the job globals, the toned page handed to the geometry
// with the header's size and resolution (model name and page length are shown end to end); the
// tone's log lines.
#include <gtest/gtest.h>

#include <algorithm>

#include "driver/job.h"
#include "page_builder.h"
#include "support/capture.h"
#include "thermal/commands.h"
#include "thermal/page_setup.h"

namespace {

class Orchestrator : public ::testing::Test {
 protected:
  void TearDown() override {
    ModelNumber = mirrorPrint = lightOffset = 0;
    blacklevel = 4;
    resetThermalCommands();
  }

  CapturedIO io;
};

}  // namespace

// One dark dot through the pipeline: where it lands shows the settings, size and placement used.
TEST_F(Orchestrator, SettingsAndPlacementReachTheFinishedPage) {
  struct Case {
    const char *what;
    int model;
    int width, height, x, y;
    unsigned char dot;
    int mirror, level, offset;
    int pageWidth, pageHeight, landsX, landsY;
  } cases[] = {
      {"no placement: padded size", 400, 3, 2, 1, 1, 0, 0, 4, 0, 8, 2, 1, 1},
      {"widening centres after the pad", 22, 3, 4, 0, 2, 0, 0, 4, 0, 1678, 4, 5 + (1678 - 8) / 2,
       2},  // 210 mm at 203 dpi
      // 200 - 10 is black at level 1 (threshold 192); the mirror takes it to the right edge.
      {"job globals", 400, 8, 1, 0, 0, 200, 1, 1, -10, 8, 1, 7, 0},
  };
  for (const Case &c : cases) {
    ModelNumber = c.model;
    mirrorPrint = c.mirror;
    blacklevel = c.level;
    lightOffset = c.offset;
    std::vector<Dots> rows = uniformRows(c.width, c.height, 255, 255, 255);
    std::fill_n(rows[c.y].begin() + 3 * c.x, 3, c.dot);
    cups_page_header2_t h = rgbHeader(c.width, c.height);
    ASSERT_TRUE(allocateRowBuffer(h.cupsBytesPerLine));
    FinishedPage page;
    std::string error;
    ASSERT_TRUE(runPagePipeline(rowsReader(rows), &h, "RX5", page, error)) << error;
    ASSERT_EQ(page.width, c.pageWidth) << c.what;
    ASSERT_EQ(page.height, c.pageHeight) << c.what;
    EXPECT_EQ(h.cupsWidth, static_cast<unsigned>(page.width)) << c.what;
    EXPECT_EQ(h.cupsHeight, static_cast<unsigned>(page.height)) << c.what;
    EXPECT_EQ(page.dots[c.landsY * page.width + c.landsX], 0) << c.what;
    EXPECT_EQ(std::count(page.dots.get(), page.dots.get() + page.width * page.height, 0), 1)
        << c.what;
  }
}

// (The initial level and the black-and-white line, after the sketch too, are shown end to end.)
TEST(ToneLog, NamesTheRowLayoutAndTheGrayLevelInUse) {
  ImageSettings s;
  s.gray = 1;
  s.graylevel = 3;
  std::string log;
  tonedPage(rgbHeader(2, 2), uniformRows(2, 2, 9, 9, 9), s, &log);
  EXPECT_EQ(log, "nw is 8 1 and cupsBytesPerLine is 6\ngray and graylevel is 3(96)\n");
}
