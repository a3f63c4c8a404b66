// Test helpers of the label languages.
#include "label_harness.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "labels/labels.h"
#include "thermal/page_setup.h"

// The PPD calls are deprecated in libcups but they are the interface of CUPS raster filters.

namespace {

const char *const kPpdHead =
    "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
    "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"LABELS.PPD\"\n"
    "*Manufacturer: \"Test\"\n*Product: \"(Label)\"\n*ModelName: \"Label\"\n"
    "*ShortNickName: \"Label\"\n*NickName: \"Label\"\n*PSVersion: \"(3010.000) 0\"\n"
    "*cupsModelNumber: 18\n";

struct PpdOption {
  const char *keyword;
  std::vector<const char *> choices;
};

const PpdOption kPpdOptions[] = {
    {"zePrintRate", {"Default", "2", "2.5", "3", "4"}},
    {"inPrintMode", {"Default", "Standard", "Tear", "Peel"}},
    {"zeMediaTracking", {"Default", "Continuous", "Web", "Mark"}},
    {"zePrintMode", {"Default", "Saved", "Tear", "Peel", "Rewind", "Applicator", "Cutter"}},
    {"zeErrorReprint", {"Default", "Always", "Never"}},
};

}  // namespace

TestPpd::TestPpd(const std::string &jobOptions) {
  std::string text = kPpdHead;
  for (const PpdOption &option : kPpdOptions) {
    text += std::string("*OpenUI *") + option.keyword + ": PickOne\n";
    text += std::string("*Default") + option.keyword + ": Default\n";
    for (const char *choice : option.choices)
      text += std::string("*") + option.keyword + " " + choice + ": \"\"\n";
    text += std::string("*CloseUI: *") + option.keyword + "\n";
  }
  std::string dir = testing::TempDir() + "labels-ppd-XXXXXX";
  std::vector<char> pattern(dir.begin(), dir.end());
  pattern.push_back('\0');
  EXPECT_NE(mkdtemp(pattern.data()), nullptr);
  std::string path = std::string(pattern.data()) + "/label.ppd";
  std::ofstream(path) << text;
  ppd_ = ppdOpenFile(path.c_str());
  EXPECT_NE(ppd_, nullptr) << ppdErrorString(ppdLastError(nullptr));
  unlink(path.c_str());
  rmdir(pattern.data());
  if (!ppd_) return;
  ppdMarkDefaults(ppd_);
  cups_option_t *options = nullptr;
  int count = cupsParseOptions(jobOptions.c_str(), 0, &options);
  cupsMarkOptions(ppd_, count, options);
  cupsFreeOptions(count, options);
}

TestPpd::~TestPpd() {
  if (ppd_) ppdClose(ppd_);
}

cups_page_header2_t labelHeader(unsigned width, unsigned height) {
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  h.HWResolution[0] = h.HWResolution[1] = 203;
  h.PageSize[0] = width * 72 / 203;
  h.PageSize[1] = height * 72 / 203;
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = 24;
  h.cupsBytesPerLine = 3 * width;
  h.NumCopies = 1;
  h.cupsCompression = 0;
  h.cupsRowStep = 200;
  h.AdvanceDistance = 1000;
  return h;
}

void runLabelPage(ppd_file_t *ppd, cups_page_header2_t header, const DotPage &page) {
  labelStartPage(ppd, &header);
  ASSERT_TRUE(allocateRowBuffer(header.cupsBytesPerLine));
  // The pipeline's finished page: rows widened to a multiple of 8 dots with white.
  header.cupsWidth = (page.width + 7) & ~7u;
  header.cupsHeight = page.height;
  std::vector<unsigned char> finished(static_cast<size_t>(header.cupsWidth) * page.height, 255);
  for (unsigned y = 0; y < page.height; y++)
    std::memcpy(&finished[static_cast<size_t>(y) * header.cupsWidth], &page.dots[y * page.width],
                page.width);
  for (unsigned y = 0; y < page.height; y++) {
    Buffer = finished.data() + static_cast<size_t>(y) * header.cupsWidth;
    labelOutputLine(ppd, &header, static_cast<int>(y));
  }
  Buffer = nullptr;
  releaseRowBuffer();
  labelEndPage(ppd, &header);
}

std::string jobLevelBytes(int model) {
  if (model == 0) return std::string(100, '\x1B') + "\x1B@";
  if (model == 32)
    return "\x1B"
           "E";
  return "";
}
