// The page's tones end to end: the black-and-white threshold at every recognition level, the
// gray conversion (error diffusion) at several levels, the luminance of RGB dots with the
// brightness offset, and the mirror and sketch effects, each compared with a plain reference
// of the expected page. Model 22 on a page size without placement keeps the page as it is.
#include <gtest/gtest.h>

#include "e2e_support.h"
#include "reference_page.h"

using namespace e2e;
using refpage::DotImage;

namespace {

struct ToneCase {
  std::string name;
  std::string jobOptions;
  std::function<rastertest::RasterPage()> page;
  std::function<DotImage(const rastertest::RasterPage &)> expected;
  std::string stderrLine;  // the conversion's own message
};

void PrintTo(const ToneCase &c, std::ostream *os) {
  *os << c.name;
}

// 61 dots wide: the capture pads every row with three white dots up to 64.
rastertest::RasterPage card61() {
  return testCard(61, 40, "w61h40");
}

// Red, green and blue vary independently, so the luminance weights matter.
rastertest::RasterPage rgbCard() {
  cups_page_header2_t h =
      rastertest::rasterHeader(64, 40, 203, rastertest::RasterColor::Rgb, "RX5_A4");
  return rgbPage(h, [](unsigned x, unsigned y) {
    return std::array<unsigned char, 3>{static_cast<unsigned char>((x * 11 + y * 5) % 256),
                                        static_cast<unsigned char>((x * 3 + y * 17 + 40) % 256),
                                        static_cast<unsigned char>((x * 29 + y * 7 + 90) % 256)};
  });
}

// Light background, a black block, a mid-gray disc and a dark line: the sketch keeps edges.
rastertest::RasterPage shapes() {
  cups_page_header2_t h =
      rastertest::rasterHeader(64, 40, 203, rastertest::RasterColor::Rgb, "w64h40");
  return rastertest::pageFromGenerator(h, [](unsigned x, unsigned y) -> unsigned char {
    if (x >= 8 && x < 30 && y >= 6 && y < 26) return 0;
    int dx = static_cast<int>(x) - 46, dy = static_cast<int>(y) - 20;
    if (dx * dx + dy * dy <= 100) return 100;
    if (y == 33) return 60;
    return 230;
  });
}

const int kBlackLevels[7] = {192, 160, 144, 128, 112, 96, 64};
const int kGrayLevels[7] = {140, 128, 96, 64, 32, 16, 0};

std::vector<ToneCase> blackLevelCases() {
  std::vector<ToneCase> cases;
  for (int level = 1; level <= 7; level++) {
    int t = kBlackLevels[level - 1];
    cases.push_back({"BlackLevel" + std::to_string(level),
                     "DegreeOfBlackRecognition=" + std::to_string(level), card61,
                     [t](const rastertest::RasterPage &p) {
                       return refpage::threshold(refpage::capture(p), t);
                     },
                     "balck"});
  }
  return cases;
}

std::vector<ToneCase> grayAndEffectCases() {
  std::vector<ToneCase> cases;
  for (int level : {1, 4, 7}) {
    int forced = kGrayLevels[level - 1];
    cases.push_back(
        {"GrayLevel" + std::to_string(level),
         "ColorOption=GrayScale DegreeOfGrayRecognition=" + std::to_string(level), card61,
         [forced](const rastertest::RasterPage &p) {
           return refpage::stucki(refpage::capture(p), forced);
         },
         "gray and graylevel is " + std::to_string(level) + "(" + std::to_string(forced) + ")\n"});
  }
  // Gray on "RX5_A4" adds 10 to the brightness offset; black-and-white does not.
  cases.push_back(
      {"RgbGrayWithBrightnessOnRX5A4", "ColorOption=GrayScale AdjustLight=20", rgbCard,
       [](const rastertest::RasterPage &p) { return refpage::stucki(refpage::capture(p, 30), 0); },
       "gray and graylevel is 7(0)\n"});
  cases.push_back({"RgbBlackWhiteDarkened", "AdjustLight=-40", rgbCard,
                   [](const rastertest::RasterPage &p) {
                     return refpage::threshold(refpage::capture(p, -40), 128);
                   },
                   "balck"});
  // The mirror turns the pad columns to the left edge.
  cases.push_back({"Mirror", "OemMirror=1", card61,
                   [](const rastertest::RasterPage &p) {
                     return refpage::threshold(refpage::mirror(refpage::capture(p)), 128);
                   },
                   "balck"});
  cases.push_back({"Sketch", "Sketch=1", shapes,
                   [](const rastertest::RasterPage &p) {
                     return refpage::threshold(refpage::sketch(refpage::capture(p)), 128);
                   },
                   "balck"});
  return cases;
}

class Tone : public ::testing::TestWithParam<ToneCase> {};

TEST_P(Tone, PrintsTheReferencePage) {
  const ToneCase &c = GetParam();
  rastertest::RasterPage page = c.page();
  runtest::FilterRunOptions o;
  o.ppd = projectPpd("rx5k-22.ppd");
  o.raster = rasterFile({page});
  o.jobOptions = c.jobOptions;
  runtest::FilterRun run = runtest::runFilter(o);
  ASSERT_TRUE(run.error.empty()) << run.error;
  EXPECT_EQ(run.exitStatus, 0) << run.emulatorStderr;
  EXPECT_NE(run.filterStderr.find(c.stderrLine), std::string::npos) << c.stderrLine;
  ASSERT_EQ(run.pages.size(), 1u);
  DotImage expected = c.expected(page);
  EXPECT_TRUE(refpage::samePage(run.pages[0], expected));
  // A reference that printed nothing, or everything, would prove little.
  long black = std::count(expected.dots.begin(), expected.dots.end(), 0);
  EXPECT_GT(black, 0);
  EXPECT_LT(black, static_cast<long>(expected.dots.size()));
}

auto caseName = [](const ::testing::TestParamInfo<ToneCase> &info) { return info.param.name; };
INSTANTIATE_TEST_SUITE_P(Threshold, Tone, ::testing::ValuesIn(blackLevelCases()), caseName);
INSTANTIATE_TEST_SUITE_P(GrayAndEffects, Tone, ::testing::ValuesIn(grayAndEffectCases()), caseName);

}  // namespace
