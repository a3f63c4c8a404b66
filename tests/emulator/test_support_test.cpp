// The end-to-end test helpers themselves: raster files read back through libcups as the filter
// reads them, PPDs parsed by libcups, and PNG pages that survive the round trip.
#include <cups/ppd.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "page_png.h"
#include "support/raster_file.h"
#include "support/run_filter.h"
#include "support/test_ppd.h"

namespace {

struct ReadBack {
  std::vector<cups_page_header2_t> headers;
  std::vector<std::vector<unsigned char>> pixels;
  bool shortRead = false;
};

ReadBack readRaster(const std::string &path) {
  ReadBack r;
  int fd = open(path.c_str(), O_RDONLY);
  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t h;
  while (ras && cupsRasterReadHeader2(ras, &h)) {
    r.headers.push_back(h);
    std::vector<unsigned char> page(static_cast<size_t>(h.cupsBytesPerLine) * h.cupsHeight);
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
      if (cupsRasterReadPixels(ras, page.data() + static_cast<size_t>(y) * h.cupsBytesPerLine,
                               h.cupsBytesPerLine) != h.cupsBytesPerLine) {
        r.shortRead = true;
        break;
      }
    }
    r.pixels.push_back(std::move(page));
    if (r.shortRead) break;
  }
  if (ras) cupsRasterClose(ras);
  close(fd);
  return r;
}

}  // namespace

TEST(RasterFile, PagesReadBackAsWritten) {
  std::string path = runtest::testFilePath("support-pages.ras");
  auto rgb = rastertest::rasterHeader(10, 4, 300, rastertest::RasterColor::Rgb, "Letter");
  auto gray = rastertest::rasterHeader(7, 3, 203, rastertest::RasterColor::Gray);
  rastertest::RasterPage first =
      rastertest::pageFromGenerator(rgb, [](unsigned x, unsigned y) { return x == y ? 0 : 200; });
  rastertest::RasterPage second = rastertest::pageFromDots(gray, {0, 1, 2, 3, 4, 5, 6, 7, 8});
  ASSERT_TRUE(rastertest::writeRasterFile(path, {first, second}));

  ReadBack r = readRaster(path);
  ASSERT_EQ(r.headers.size(), 2u);
  EXPECT_FALSE(r.shortRead);
  EXPECT_EQ(r.headers[0].cupsWidth, 10u);
  EXPECT_EQ(r.headers[0].cupsBytesPerLine, 30u);
  EXPECT_EQ(r.headers[0].HWResolution[1], 300u);
  EXPECT_STREQ(r.headers[0].cupsPageSizeName, "Letter");
  EXPECT_EQ(r.pixels[0], first.pixels);
  EXPECT_EQ(r.pixels[0][3 * 11], 0);  // (1, 1) black in all three colours
  EXPECT_EQ(r.pixels[0][3 * 11 + 2], 0);
  EXPECT_EQ(r.pixels[0][3], 200);
  EXPECT_EQ(r.headers[1].cupsBitsPerPixel, 8u);
  EXPECT_EQ(r.headers[1].cupsColorSpace, CUPS_CSPACE_SW);
  EXPECT_EQ(r.pixels[1][8], 8);
  EXPECT_EQ(r.pixels[1][9], 255);  // beyond the dots given: white
}

TEST(RasterFile, TruncatedRastersPromiseMoreThanTheyHold) {
  std::string path = runtest::testFilePath("support-short.ras");
  rastertest::RasterPage page = rastertest::whitePage(rastertest::rasterHeader(8, 10));
  page.rowsToWrite = 4;
  ASSERT_TRUE(rastertest::writeRasterFile(path, {page}));
  ReadBack r = readRaster(path);
  ASSERT_EQ(r.headers.size(), 1u);
  EXPECT_EQ(r.headers[0].cupsHeight, 10u);
  EXPECT_TRUE(r.shortRead);

  page.rowsToWrite = -1;
  ASSERT_TRUE(rastertest::writeRasterFile(path, {page}));
  ASSERT_TRUE(rastertest::truncateFile(path, 100));  // inside the 1796-byte page header
  EXPECT_EQ(readRaster(path).headers.size(), 0u);
}

TEST(TestPpd, LibcupsReadsModelOptionsAndSizes) {
  std::string path = runtest::testFilePath("support.ppd");
  ppdtest::TestPpd spec;
  spec.modelNumber = 64519;
  spec.modelName = "HQ31";
  spec.options = {{"Darkness", {"0", "1", "2", "3"}, "2"},
                  {"zeMediaTracking", {"Gap", "Continuous", "BLine"}, "Default"}};
  ASSERT_TRUE(ppdtest::writeTestPpd(path, spec));
  ppd_file_t *ppd = ppdOpenFile(path.c_str());
  ASSERT_NE(ppd, nullptr) << ppdErrorString(ppdLastError(nullptr));
  EXPECT_EQ(ppd->model_number, 64519);
  EXPECT_STREQ(ppd->modelname, "HQ31");
  ppdMarkDefaults(ppd);
  ppd_choice_t *darkness = ppdFindMarkedChoice(ppd, "Darkness");
  ASSERT_NE(darkness, nullptr);
  EXPECT_STREQ(darkness->choice, "2");
  // A default that names no choice leaves the option unmarked.
  EXPECT_EQ(ppdFindMarkedChoice(ppd, "zeMediaTracking"), nullptr);
  ASSERT_NE(ppdFindOption(ppd, "zeMediaTracking"), nullptr);
  EXPECT_NE(ppdPageSize(ppd, "RX5_A4"), nullptr);
  ppd_size_t *letter = ppdPageSize(ppd, "Letter");
  ASSERT_NE(letter, nullptr);
  EXPECT_FLOAT_EQ(letter->length, 792.0f);
  EXPECT_STREQ(ppdFindMarkedChoice(ppd, "ColorModel")->choice, "RGB");
  ppdClose(ppd);
}

// (The round trip itself is pinned by the emulated printer's page test.)
TEST(PagePng, RefusesEmptyImagesAndMissingFiles) {
  std::string error;
  emu::GrayImage image;
  EXPECT_FALSE(emu::writeGrayPng(runtest::testFilePath("empty.png"), image, error));
  EXPECT_FALSE(emu::readGrayPng(runtest::testFilePath("missing.png"), image, error));
  EXPECT_FALSE(error.empty());
}
