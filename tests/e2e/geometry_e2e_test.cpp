// Page geometry end to end: a page turned by 180 degrees, shifted by the user's offsets and
// placed on the paper by model and page size decodes, at the printer, to the expected page.
// The offsets are millimetres in the PPD: at 203 dpi 1 mm is 7 dots, 2 mm 15, 3 mm 23, 5 mm 39,
// -1 mm -7, -2 mm -15, -3 mm -23.
#include <gtest/gtest.h>

#include "e2e_support.h"
#include "reference_page.h"

using namespace e2e;
using refpage::DotImage;

namespace {

struct GeometryCase {
  std::string name;
  std::string ppd;  // a project PPD
  std::string jobOptions;
  rastertest::RasterPage page;
  // The finished page from the toned page (the capture padded to whole bytes).
  std::function<DotImage(const DotImage &toned)> finish;
};

void PrintTo(const GeometryCase &c, std::ostream *os) {
  *os << c.name;
}

using refpage::halfTurn;
using refpage::placed;
using refpage::shifted;

std::vector<GeometryCase> geometryCases() {
  std::vector<GeometryCase> cases;

  // 61 dots wide: after the turn the three pad columns are on the left; widened to 210 mm
  // (1678 dots) with the picture from column 3 + (1678 - 64) / 2.
  cases.push_back({"Model22WidensA4", "rx5k-22.ppd",
                   "Rotate=1 AdjustHoriaontal=2 AdjustVertical=-1", testCard(61, 40, "A4"),
                   [](const DotImage &t) {
                     return placed(shifted(halfTurn(t), 15, -7), 1678, 40, 3 + 807, 0);
                   }});

  // Letter: 216 mm by 279.4 mm (1726 x 2233 dots), the picture centred at the top.
  cases.push_back({"Model302PlacesLetter", "rx5k-302.ppd",
                   "Rotate=1 AdjustHoriaontal=-3 AdjustVertical=2", testCard(64, 40, "Letter"),
                   [](const DotImage &t) {
                     return placed(shifted(halfTurn(t), -23, 15), 1726, 2233, 831, 0);
                   }});

  // "RX5_A4": 300 mm long (2397 rows), the picture from row 160 - 12 mm = 64.
  cases.push_back(
      {"Model831LengthensRX5A4", "rx5k-831.ppd", "Rotate=1 AdjustHoriaontal=1 AdjustVertical=3",
       testCard(64, 40, "RX5_A4"),
       [](const DotImage &t) { return placed(shifted(halfTurn(t), 7, 23), 64, 2397, 0, 64); }});

  // As long as the page: 100 points are 281 rows, the picture at the top.
  cases.push_back(
      {"Model613207TakesThePageLength", "rx5k-613207.ppd",
       "Rotate=1 AdjustHoriaontal=5 AdjustVertical=-2", testCard(64, 40, "w64h40", 100),
       [](const DotImage &t) { return placed(shifted(halfTurn(t), 39, -15), 64, 281, 0, 0); }});

  // Turned first, then cut to 1280 dots: what was the right edge of the turned page is lost.
  cases.push_back({"Model400CutsTo1280Dots", "rx5k-400.ppd", "Rotate=1 AdjustHoriaontal=1",
                   testCard(1296, 16, "w1296h16"), [](const DotImage &t) {
                     return shifted(placed(halfTurn(t), 1280, 16, 0, 0), 7, 0);
                   }});

  // "VN2W" on a size that is not a tattoo size: lowered by the page's top margin, (200 - 190)
  // points = 28 rows, on a page of 200 points = 563 rows.
  rastertest::RasterPage margin = testCard(64, 40, "w64h40", 200);
  margin.header.cupsImagingBBox[3] = 190;
  cases.push_back({"Model590314VN2WLowersByTheTopMargin", "rx5k-590314-vn2w.ppd",
                   "Rotate=1 AdjustVertical=1", margin, [](const DotImage &t) {
                     return placed(shifted(halfTurn(t), 0, 7), 64, 563, 0, 28);
                   }});

  // Continuous media on Letter: 11 inches (2233 rows), the picture at the top.
  cases.push_back({"Model64519LengthensLetterOnContinuousMedia", "rx5k-64519.ppd",
                   "zeMediaTracking=Continuous Rotate=1 AdjustHoriaontal=-2 AdjustVertical=1",
                   testCard(64, 40, "Letter"), [](const DotImage &t) {
                     return placed(shifted(halfTurn(t), -15, 7), 64, 2233, 0, 0);
                   }});
  // A tattoo size: 297 mm (2373 rows); the picture lowered by the top margin, (842 - 800)
  // points = 118 rows, less 12 mm (95.9 rows): from row 22.
  rastertest::RasterPage tattoo = testCard(64, 40, "Tattoo-A4", 842);
  tattoo.header.cupsImagingBBox[3] = 800;
  cases.push_back({"Model21TattooLowersByTheMargin", "rx5k-21.ppd", "AdjustHoriaontal=-1", tattoo,
                   [](const DotImage &t) { return placed(shifted(t, -7, 0), 64, 2373, 0, 22); }});

  // Placements that do not fit drop what falls outside the page. 1665 dots are padded to
  // 1672 (7 pad columns); widened to 1678 the picture would start at column 7 + 3 and pass the
  // row's end.
  cases.push_back({"Model22WideningClipsTheRowEnd", "rx5k-22.ppd", "", testCard(1665, 8, "A4"),
                   [](const DotImage &t) { return placed(t, 1678, 8, 10, 0); }});
  // A5 is 1182 dots across, narrower than the 1800-dot page but longer (1678 rows): the picture
  // starts at column (1182 - 1800) / 2 = -309 and loses both sides.
  cases.push_back({"Model302A5CropsAWiderPage", "rx5k-302.ppd", "", testCard(1800, 8, "A5"),
                   [](const DotImage &t) { return placed(t, 1182, 1678, -309, 0); }});
  return cases;
}

class GeometryEndToEnd : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(GeometryEndToEnd, DecodesToThePlacedPage) {
  const GeometryCase &c = GetParam();
  runtest::FilterRunOptions o;
  o.ppd = projectPpd(c.ppd);
  o.raster = rasterFile({c.page});
  o.jobOptions = c.jobOptions;
  runtest::FilterRun run = runtest::runFilter(o);
  ASSERT_TRUE(run.error.empty()) << run.error;
  EXPECT_EQ(run.exitStatus, 0) << run.emulatorStderr;
  EXPECT_NE(run.filterStderr.find("\nprocess rotate end\n"), std::string::npos);
  ASSERT_EQ(run.pages.size(), 1u);
  DotImage toned = refpage::threshold(refpage::capture(c.page), 128);
  EXPECT_TRUE(refpage::samePage(run.pages[0], c.finish(toned)));
}

INSTANTIATE_TEST_SUITE_P(Placements, GeometryEndToEnd, ::testing::ValuesIn(geometryCases()),
                         [](const ::testing::TestParamInfo<GeometryCase> &info) {
                           return info.param.name;
                         });

}  // namespace
