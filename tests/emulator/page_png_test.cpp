// The emulator's page images: what cannot be written or read is refused with a reason (the
// images themselves are read back by the harness's page test).
#include <gtest/gtest.h>

#include <string>

#include "page_png.h"
#include "support/run_filter.h"

TEST(PagePng, RefusesEmptyImagesAndMissingFiles) {
  std::string error;
  emu::GrayImage image;
  EXPECT_FALSE(emu::writeGrayPng(runtest::testFilePath("empty.png"), image, error));
  EXPECT_FALSE(emu::readGrayPng(runtest::testFilePath("missing.png"), image, error));
  EXPECT_FALSE(error.empty());
}
