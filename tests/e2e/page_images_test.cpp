// Page images end to end, compared with a plain reference of the expected page: the black and
// white threshold, the gray conversion (error diffusion), the luminance of RGB dots with the
// brightness offset, the mirror and sketch effects, and the geometry (a turn by 180 degrees,
// the user's offsets and the placement on the paper by model and page size). Offsets are
// millimetres in the PPD: at 203 dpi 1 mm is 7 dots, 2 mm 15, 3 mm 23, -1 mm -7, -3 mm -23; they
// move the picture within its own page (a placement on a page of the same size).
#include <gtest/gtest.h>

#include <functional>

#include "support/e2e_support.h"
#include "reference_page.h"

using namespace e2e;
using namespace refpage;
using rastertest::RasterPage;

namespace {

struct ImageCase {
  std::string name;
  std::string ppd;  // a project PPD
  std::string jobOptions;
  RasterPage page;
  std::function<DotImage(const RasterPage &)> expected;
  std::string stderrLine;  // the conversion's or the geometry's own message
};

void PrintTo(const ImageCase &c, std::ostream *os) {
  *os << c.name;
}

// The page in black and white at the default level, rows padded to whole bytes.
DotImage toned(const RasterPage &p) {
  return threshold(capture(p), 128);
}

const char kBlackWhite[] = "balck";
const char kTurned[] = "\nprocess rotate end\n";

// Red, green and blue vary independently, so the luminance weights matter.
RasterPage rgbCard() {
  RasterPage page = rastertest::whitePage(
      rastertest::rasterHeader(64, 40, 203, rastertest::RasterColor::Rgb, "RX5_A4"));
  for (unsigned y = 0; y < 40; y++) {
    for (unsigned x = 0; x < 64; x++) {
      unsigned char *dot = page.pixels.data() + y * page.header.cupsBytesPerLine + 3 * x;
      dot[0] = static_cast<unsigned char>((x * 11 + y * 5) % 256);
      dot[1] = static_cast<unsigned char>((x * 3 + y * 17 + 40) % 256);
      dot[2] = static_cast<unsigned char>((x * 29 + y * 7 + 90) % 256);
    }
  }
  return page;
}

// Light background, a black block, a mid-gray disc and a dark line: the sketch keeps edges.
RasterPage shapes() {
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

// Model 22 on a page size without placement keeps the page as it is. 61 dots wide: the capture
// pads every row with three white dots up to 64. The threshold of each level and the darkest
// dots each gray level forces black are pinned by the tone unit tests; here one level of each
// table shows that the PPD's choice reaches them.
std::vector<ImageCase> toneCases() {
  RasterPage card61 = testCard(61, 40, "w61h40");
  return {
      {"BlackLevel7", "rx5k-22.ppd", "DegreeOfBlackRecognition=7", card61,
       [](const RasterPage &p) { return threshold(capture(p), 64); }, kBlackWhite},
      {"GrayLevel1", "rx5k-22.ppd", "ColorOption=GrayScale DegreeOfGrayRecognition=1", card61,
       [](const RasterPage &p) { return stucki(capture(p), 140); },
       "gray and graylevel is 1(140)\n"},
      // Gray on "RX5_A4" adds 10 to the brightness offset; black-and-white does not. The level
      // is the PPD's default.
      {"RgbGrayWithBrightnessOnRX5A4", "rx5k-22.ppd", "ColorOption=GrayScale AdjustLight=20",
       rgbCard(), [](const RasterPage &p) { return stucki(capture(p, 30), 0); },
       "gray and graylevel is 7(0)\n"},
      {"RgbBlackWhiteDarkened", "rx5k-22.ppd", "AdjustLight=-40", rgbCard(),
       [](const RasterPage &p) { return threshold(capture(p, -40), 128); }, kBlackWhite},
      // The mirror turns the pad columns to the left edge.
      {"Mirror", "rx5k-22.ppd", "OemMirror=1", card61,
       [](const RasterPage &p) { return threshold(mirror(capture(p)), 128); }, kBlackWhite},
      {"Sketch", "rx5k-22.ppd", "Sketch=1", shapes(),
       [](const RasterPage &p) { return threshold(sketch(capture(p)), 128); }, kBlackWhite},
  };
}

// The turn, the offsets and the placement composed in the filter's order, with the model name,
// the page size and the imaging box taken from the PPD and the raster header.
std::vector<ImageCase> geometryCases() {
  std::vector<ImageCase> cases;
  // 61 dots wide: after the turn the three pad columns are on the left; widened to 210 mm
  // (1678 dots) with the picture from column 3 + (1678 - 64) / 2.
  cases.push_back({"Model22WidensA4", "rx5k-22.ppd",
                   "Rotate=1 AdjustHoriaontal=2 AdjustVertical=-1", testCard(61, 40, "A4"),
                   [](const RasterPage &p) {
                     return placed(placed(halfTurn(toned(p)), 64, 40, 15, -7), 1678, 40, 3 + 807,
                                   0);
                   },
                   kTurned});
  // "RX5_A4": 300 mm long (2397 rows), the picture from row 160 - 12 mm = 64.
  cases.push_back({"Model831LengthensRX5A4", "rx5k-831.ppd",
                   "Rotate=1 AdjustHoriaontal=1 AdjustVertical=3", testCard(64, 40, "RX5_A4"),
                   [](const RasterPage &p) {
                     return placed(placed(halfTurn(toned(p)), 64, 40, 7, 23), 64, 2397, 0, 64);
                   },
                   kTurned});
  // "VN2W" on a size that is not a tattoo size: lowered by the page's top margin, (200 - 190)
  // points = 28 rows, on a page of 200 points = 563 rows.
  RasterPage margin = testCard(64, 40, "w64h40", 200);
  margin.header.cupsImagingBBox[3] = 190;
  cases.push_back({"Model590314VN2WLowersByTheTopMargin", "rx5k-590314-vn2w.ppd",
                   "Rotate=1 AdjustVertical=1", margin,
                   [](const RasterPage &p) {
                     return placed(placed(halfTurn(toned(p)), 64, 40, 0, 7), 64, 563, 0, 28);
                   },
                   kTurned});
  // Continuous media on Letter: 11 inches (2233 rows), the picture at the top.
  cases.push_back({"Model64519LengthensLetterOnContinuousMedia", "rx5k-64519.ppd",
                   "zeMediaTracking=Continuous Rotate=1 AdjustHoriaontal=-2 AdjustVertical=1",
                   testCard(64, 40, "Letter"),
                   [](const RasterPage &p) {
                     return placed(placed(halfTurn(toned(p)), 64, 40, -15, 7), 64, 2233, 0, 0);
                   },
                   kTurned});
  // A tattoo size: 297 mm (2373 rows); the picture lowered by the top margin, (842 - 800)
  // points = 118 rows, less 12 mm (95.9 rows): from row 22.
  RasterPage tattoo = testCard(64, 40, "Tattoo-A4", 842);
  tattoo.header.cupsImagingBBox[3] = 800;
  cases.push_back(
      {"Model21TattooLowersByTheMargin", "rx5k-21.ppd", "AdjustHoriaontal=-1", tattoo,
       [](const RasterPage &p) { return placed(placed(toned(p), 64, 40, -7, 0), 64, 2373, 0, 22); },
       kTurned});
  // Placements that do not fit drop what falls outside the page. 1665 dots are padded to
  // 1672 (7 pad columns); widened to 1678 the picture would start at column 7 + 3 and pass the
  // row's end.
  cases.push_back({"Model22WideningClipsTheRowEnd", "rx5k-22.ppd", "", testCard(1665, 8, "A4"),
                   [](const RasterPage &p) { return placed(toned(p), 1678, 8, 10, 0); }, kTurned});
  // A5 is 1182 dots across, narrower than the 1800-dot page but longer (1678 rows): the picture
  // starts at column (1182 - 1800) / 2 = -309 and loses both sides.
  cases.push_back({"Model302A5CropsAWiderPage", "rx5k-302.ppd", "", testCard(1800, 8, "A5"),
                   [](const RasterPage &p) { return placed(toned(p), 1182, 1678, -309, 0); },
                   kTurned});
  return cases;
}

class PageImage : public ::testing::TestWithParam<ImageCase> {};

TEST_P(PageImage, PrintsTheReferencePage) {
  const ImageCase &c = GetParam();
  runtest::FilterRunOptions o;
  o.ppd = projectPpd(c.ppd);
  o.raster = rasterFile({c.page});
  o.jobOptions = c.jobOptions;
  runtest::FilterRun run = runtest::runFilter(o);
  ASSERT_TRUE(run.error.empty()) << run.error;
  EXPECT_EQ(run.exitStatus, 0) << run.emulatorStderr;
  EXPECT_NE(run.filterStderr.find(c.stderrLine), std::string::npos) << c.stderrLine;
  ASSERT_EQ(run.pages.size(), 1u);
  DotImage expected = c.expected(c.page);
  EXPECT_TRUE(samePage(run.pages[0], expected));
  // A reference that printed nothing, or everything, would prove little.
  long black = std::count(expected.dots.begin(), expected.dots.end(), 0);
  EXPECT_GT(black, 0);
  EXPECT_LT(black, static_cast<long>(expected.dots.size()));
}

auto caseName = [](const ::testing::TestParamInfo<ImageCase> &info) { return info.param.name; };
INSTANTIATE_TEST_SUITE_P(Tone, PageImage, ::testing::ValuesIn(toneCases()), caseName);
INSTANTIATE_TEST_SUITE_P(Geometry, PageImage, ::testing::ValuesIn(geometryCases()), caseName);

}  // namespace
