// The page pipeline: the header's size, resolutions, page length, margin and pad handed to the
// geometry with the model, its name and the media tracking; the image settings reaching the
// toned page; the finished size known before the page is made; the reasons of pages that cannot
// be made. (The log lines of whole pages are the reference jobs'.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <tuple>

#include "page_builder.h"

namespace {

bool runPipeline(const cups_page_header2_t &h, const std::vector<Dots> &rows, const PageSettings &s,
                 FinishedPage &page, std::string &error) {
  StringLogSink sink;
  Log log(sink);
  std::vector<unsigned char> row(h.cupsBytesPerLine);
  return runPagePipeline(rowsReader(rows), h, s, row.data(), log, page, error);
}

// One dark dot through the pipeline: where it lands shows the settings, size and placement used.
TEST(Pipeline, SettingsAndPlacementReachTheFinishedPage) {
  const struct {
    int model;
    const char *modelName;
    unsigned char gap;
    unsigned resX;
    float marginPt;  // below the imaging box
    int width, height, x, y, dot, mirror, level, offset;
    int pageWidth, pageHeight, landsX, landsY, paperCode;
  } cases[] = {
      // No placement: the page padded to whole bytes.
      {400, "", 0x26, 203, 0, 3, 2, 1, 1, 0, 0, 4, 0, 8, 2, 1, 1, -1},
      // Widened to 210 mm across, the picture centred after the pad columns.
      {22, "", 0x26, 300, 0, 3, 4, 0, 2, 0, 0, 4, 0, 2480, 4, 5 + (2480 - 8) / 2, 2, 0},
      // 200 - 10 is black at level 1 (threshold 192); the mirror takes it to the right edge.
      {400, "", 0x26, 203, 0, 8, 1, 0, 0, 200, 1, 1, -10, 8, 1, 7, 0, -1},
      // As wide and as long as the paper, the picture at the top, centred.
      {302, "", 0x26, 203, 0, 3, 4, 0, 2, 0, 0, 4, 0, 1678, 2357, 5 + (1678 - 8) / 2, 2, 0},
      // As long as the sheet, the picture at the top (below a 12 mm margin, the printer's own).
      {831, "", 0x26, 203, 0, 8, 3, 2, 1, 0, 0, 4, 0, 8, 2373, 2, 1, -1},
      {64519, "", 0x0B, 203, 0, 8, 3, 2, 1, 0, 0, 4, 0, 8, 2373, 2, 1, -1},
      // The page length in full, the picture lowered by the margin (36 pt: 101 dots).
      {590314, "VN2W", 0x26, 203, 36, 8, 3, 2, 1, 0, 0, 4, 0, 8, 2373, 2, 102, -1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.model);
    std::vector<Dots> rows = uniformRows(c.width, c.height, 255);
    std::fill_n(rows[c.y].begin() + 3 * c.x, 3, c.dot);
    cups_page_header2_t h = rgbHeader(c.width, c.height);
    h.HWResolution[0] = c.resX;
    h.cupsImagingBBox[3] -= c.marginPt;
    PageSettings s;
    s.image.mirrorPrint = c.mirror;
    s.image.blacklevel = c.level;
    s.image.lightOffset = c.offset;
    s.geometry = geometryParams(h, c.model, c.modelName, c.gap);
    FinishedPage page;
    std::string error;
    ASSERT_TRUE(runPipeline(h, rows, s, page, error)) << error;
    ASSERT_EQ(std::tie(page.width, page.height, page.paperCode),
              std::tie(c.pageWidth, c.pageHeight, c.paperCode));
    EXPECT_EQ(page.dots[c.landsY * page.width + c.landsX], 0);
    EXPECT_EQ(std::count(page.dots.get(), page.dots.get() + page.width * page.height, 0), 1);
    int64_t width = 0, height = 0;
    ASSERT_TRUE(finishedPageSizeOf(h, s.geometry, width, height, error)) << error;
    EXPECT_EQ(width, page.width);
    EXPECT_EQ(height, page.height);
  }
}

TEST(Pipeline, PagesThatCannotBeMadeFailWithTheReason) {
  cups_page_header2_t h = rgbHeader(9, 2);
  PageSettings s;
  s.geometry = geometryParams(h, 613207, "", 0x26);
  FinishedPage page;
  std::string error;
  setenv("RX5K_PAGE_MEMORY_LIMIT", "31", 1);
  EXPECT_FALSE(runPipeline(h, uniformRows(9, 2, 0), s, page, error));
  unsetenv("RX5K_PAGE_MEMORY_LIMIT");
  EXPECT_EQ(error, "cannot allocate the page of 16 x 2 dots");
  h.cupsPageSize[1] = -10;
  s.geometry = geometryParams(h, 613207, "", 0x26);
  EXPECT_FALSE(runPipeline(h, uniformRows(9, 2, 0), s, page, error));
  EXPECT_EQ(error, "cannot place the page on 16 x -28 dots");
}

}  // namespace
