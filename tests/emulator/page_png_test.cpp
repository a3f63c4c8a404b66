// The emulated printer without a process around it: bytes in, reports and pages out (split
// commands are the parser's tests, answered queries the harness's, timed reports the script's).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "emulated_printer.h"
#include "page_png.h"
#include "support/run_filter.h"

TEST(EmulatedPrinter, PageReportsImageAndSummary) {
  emu::PrinterSetup setup;
  setup.model = 21;
  setup.outDir = runtest::testFilePath("printer");
  setup.script.overheatAtPage = 1;
  char *summary = nullptr;
  size_t summarySize = 0;
  std::FILE *summaryFile = open_memstream(&summary, &summarySize);
  std::vector<std::string> reports;
  std::vector<int> started;
  {
    emu::EmulatedPrinter printer(setup, summaryFile);
    std::string error;
    ASSERT_TRUE(printer.open(error)) << error;
    printer.sendReport = [&](const std::string &bytes) { reports.push_back(bytes); };
    printer.pageStarted = [&](int page) { started.push_back(page); };
    const std::string page{"\x1F\x11\x35\x00\x1D\x76\x30\x00\x01\x00\x02\x00\x81\xFF", 14};
    const auto *bytes = reinterpret_cast<const unsigned char *>(page.data());
    printer.receive(bytes, 12, 0);
    EXPECT_EQ(started, std::vector<int>{1});
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], std::string("\x1A\x03\xA9", 3));
    EXPECT_EQ(printer.pages(), 0);
    printer.receive(bytes + 12, 2, 0);
    EXPECT_EQ(printer.pages(), 1);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1], std::string("\x1A\x03\xA8", 3));
    EXPECT_TRUE(printer.finish(2));
  }
  std::fclose(summaryFile);
  std::string png = runtest::testFilePath("printer") + "/page-1.png";
  EXPECT_EQ(std::string(summary, summarySize),
            "page 1: 8x2 dots, 62.5% black, raw -> " + png + "\n");
  std::free(summary);
  emu::GrayImage image;
  std::string error;
  ASSERT_TRUE(emu::readGrayPng(png, image, error)) << error;
  EXPECT_EQ(image.dots, (std::vector<unsigned char>{0, 255, 255, 255, 255, 255, 255, 0,  //
                                                    0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(PagePng, RefusesEmptyImagesAndMissingFiles) {
  std::string error;
  emu::GrayImage image;
  EXPECT_FALSE(emu::writeGrayPng(runtest::testFilePath("empty.png"), image, error));
  EXPECT_FALSE(emu::readGrayPng(runtest::testFilePath("missing.png"), image, error));
  EXPECT_FALSE(error.empty());
}
