// The seven label languages end to end: a two-page job with the project's label PPD decodes, at
// the emulated printer, to the two expected labels, and the stream carries nothing of the
// thermal printers' transmission.
#include <gtest/gtest.h>

#include "label_decoders.h"
#include "reference_page.h"
#include "support/e2e_support.h"

using namespace e2e;
using refpage::DotImage;

namespace {

constexpr unsigned kWidth = 60;  // padded to 64 dots, 8 bytes per row
constexpr unsigned kHeight = 40;

// Blank rows at the top and in the middle (skipped or counted by some languages), a run of
// equal rows (repeated by reference in ZPL), dots at 128 (printed) on a ground of 129 (not
// printed), and dots in the last row and the last column.
unsigned char firstLabelDot(unsigned x, unsigned y) {
  if (y < 3 || (y >= 11 && y < 21)) return 255;
  if (y < 11) return (x + y) % 9 < 3 ? 128 : 129;
  if (y < 26) return x >= 10 && x < 50 ? 0 : 255;
  if (x == kWidth - 1 || y == kHeight - 1) return 0;
  return (x / 4 + y / 2) % 2 == 0 ? 40 : 220;
}

rastertest::RasterPage labelPage(int number) {
  cups_page_header2_t h =
      rastertest::rasterHeader(kWidth, kHeight, 203, rastertest::RasterColor::Rgb, "w60h40");
  if (number == 1) return rastertest::pageFromGenerator(h, firstLabelDot);
  return rastertest::pageFromGenerator(h, testCardDot);
}

class LabelModel : public ::testing::TestWithParam<int> {};

TEST_P(LabelModel, TwoPagesDecodeToTheExpectedLabels) {
  const int model = GetParam();
  std::vector<rastertest::RasterPage> pages{labelPage(1), labelPage(2)};
  runtest::FilterRunOptions o;
  o.ppd = projectPpd("rx5k-label-" + std::to_string(model) + ".ppd");
  o.raster = rasterFile(pages);
  runtest::FilterRun run = runtest::runFilter(o);
  ASSERT_TRUE(run.error.empty()) << run.error;

  // Model 20's rows carry no length; the emulator takes it from the raster it was given.
  EXPECT_EQ(run.exitStatus, 0) << run.emulatorStderr;
  const std::vector<runtest::DecodedPage> &labels = run.pages;
  ASSERT_EQ(labels.size(), 2u) << run.printerLog;
  for (size_t i = 0; i < 2; i++) {
    DotImage expected = refpage::threshold(refpage::capture(pages[i]), 128);
    EXPECT_TRUE(refpage::sameLabel(labels[i], expected)) << "label " << i + 1;
  }

  const std::string &stream = run.printerStream;
  for (const std::string &thermal :
       {bytes({0x1D, 0x76, 0x30}), bytes({0x1F, 0x11, 0x35}), std::string(2048, '\0')})
    EXPECT_EQ(stream.find(thermal), std::string::npos);
  EXPECT_NE(run.filterStderr.find("ATTR: job-media-progress=0\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Languages, LabelModel, ::testing::Values(0, 16, 17, 18, 19, 20, 32),
                         [](const ::testing::TestParamInfo<int> &info) {
                           return "Model" + std::to_string(info.param);
                         });

}  // namespace
