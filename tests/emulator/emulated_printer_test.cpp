// The emulated printer without a process around it: bytes in, reports and pages out (split
// commands are the parser's tests, answered queries the harness's, timed reports the script's).
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "emulated_printer.h"
#include "page_png.h"
#include "support/run_filter.h"

namespace {

class PrinterTest : public testing::Test {
 protected:
  void start(int model, emu::PrinterSettings settings = {}) {
    emu::PrinterSetup setup;
    setup.model = model;
    setup.outDir = runtest::testFilePath("printer");
    setup.script = settings;
    summary_ = std::tmpfile();
    printer_ = std::make_unique<emu::EmulatedPrinter>(setup, summary_);
    std::string error;
    ASSERT_TRUE(printer_->open(error)) << error;
    printer_->sendReport = [this](const std::string &bytes) { reports_.push_back(bytes); };
    printer_->pageStarted = [this](int page) { started_.push_back(page); };
  }
  void TearDown() override {
    printer_.reset();
    if (summary_) std::fclose(summary_);
    summary_ = nullptr;
  }
  void send(const std::string &bytes, double t = 0) {
    printer_->receive(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), t);
  }
  std::string summary() {
    std::fflush(summary_);
    std::rewind(summary_);
    std::string s;
    char buf[512];
    while (std::fgets(buf, sizeof buf, summary_)) s += buf;
    return s;
  }
  std::FILE *summary_ = nullptr;
  std::unique_ptr<emu::EmulatedPrinter> printer_;
  std::vector<std::string> reports_;
  std::vector<int> started_;
};

const std::string kRawPage{"\x1F\x11\x35\x00\x1D\x76\x30\x00\x01\x00\x02\x00\x81\xFF", 14};

}  // namespace

TEST_F(PrinterTest, PageReportsImageAndSummary) {
  emu::PrinterSettings s;
  s.overheatAtPage = 1;
  start(21, s);
  send(kRawPage.substr(0, 12));
  EXPECT_EQ(started_, std::vector<int>{1});
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0], std::string("\x1A\x03\xA9", 3));
  EXPECT_EQ(printer_->pages(), 0);
  send(kRawPage.substr(12));
  EXPECT_EQ(printer_->pages(), 1);
  ASSERT_EQ(reports_.size(), 2u);
  EXPECT_EQ(reports_[1], std::string("\x1A\x03\xA8", 3));
  EXPECT_TRUE(printer_->finish(2));
  std::string png = runtest::testFilePath("printer") + "/page-1.png";
  EXPECT_EQ(summary(), "page 1: 8x2 dots, 62.5% black, raw -> " + png + "\n");
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
