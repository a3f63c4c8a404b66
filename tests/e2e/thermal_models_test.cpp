// Thermal models under the emulated printer, where the recorded reference jobs do not reach: a
// test PPD, pages of different sizes in one job, the drains, and the time the pauses between
// pages and the ready waits take. (Each model's set-up commands and waits alone: tests/thermal.)
// The options chosen in the PPD and the page sizes give exactly the expected commands, ready-wait
// queries, drains, filler, compression switch and bitmap command, and the printer decodes the
// expected pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "support/e2e_support.h"

using namespace e2e;

namespace {

// One page of a case: the raster's page size, the finished page and what the printer receives.
struct PagePlan {
  std::string size;  // cupsPageSizeName of the raster page
  int width;         // finished page, in dots
  int height;
  int left;  // where the picture's top left dot lands on it
  int top;
  std::vector<std::string> wire;
};

// A page of the 64 x 40 test card on its own custom size, printed as it is.
PagePlan cardPage(std::vector<std::string> wire) {
  return {"w64h40", 64, 40, 0, 0, std::move(wire)};
}

struct ThermalCase {
  std::string name;
  std::string ppd;         // a PPD of the project (unless testPpd)
  std::string jobOptions;  // marks the PPD's options
  std::vector<std::string> emulatorArgs;
  std::vector<PagePlan> pages;
  // Per page, the least time in seconds from the item before the page's first item (the page's
  // first item on page 1) to its bitmap command: the pauses and ready waits. Empty: not checked.
  std::vector<double> minSeconds = {};
  std::vector<std::string> jobEnd = {};       // after the last page
  std::vector<std::string> stderrLines = {};  // lines the filter must log
  // The emulator answers drain requests late while it stores the image of a large page, so the
  // filter's 0.1 s drain time-out lets later bytes overtake a drain in its log: for such cases
  // the order of the drains is not compared.
  bool drainsUnordered = false;
  std::optional<ppdtest::TestPpd> testPpd = {};  // instead of the project PPD
};

std::vector<std::string> withoutDrains(std::vector<std::string> items) {
  items.erase(std::remove(items.begin(), items.end(), kDrain), items.end());
  return items;
}

// Test names say enough; gtest would print the bytes of the case.
void PrintTo(const ThermalCase &c, std::ostream *os) {
  *os << c.name;
}

std::string printMode(int mode) {
  return hex({0x1B, 0x4E, 0x62, 0x0A, 0x20, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x01, 0x00, mode, 0x00,
              0x06, 0x00, 0xC8, 0x00, 0x2D});
}
std::string paperSize(int code) {
  return hex({0x1B, 0x4E, 0x17, code});
}
std::string density(int level) {
  return hex({0x1F, 0x11, 0x02, level});
}
std::string antiWrinkle(int level) {
  return hex({0x1F, 0x11, 0x88, level});
}

// Model 302 ends every page with a filler block.
std::vector<std::string> after302(std::vector<std::string> items) {
  items.insert(items.end(), {kFiller, kDrain});
  return items;
}

// Sizes at 203 dpi used below: 210 mm 1678 dots, 216 mm 1726, 297 mm 2373, 279.4 mm 2233.
std::vector<ThermalCase> thermalCases() {
  const std::string P = kPaperQuery, C = kCoverQuery, I = kIdleQuery;
  std::vector<ThermalCase> cases;

  cases.push_back(ThermalCase(
      "Model22DensityOnEveryPageAndA4Widening", "rx5k-22.ppd", "Darkness=1", {},
      {{"A4", 1678, 40, 807, 0, joined({{density(2)}, transmission(true, true, 1678, 40)})},
       cardPage(joined({{density(2)}, transmission(true, true, 64, 40)}))},
      {0, 3.0}, {},
      {"density dis 1\n", "Margins = [ 3 5 ]\n", "ImagingBoundingBox = [ 1 2 23 14 ]\n"}));

  // An unknown media-tracking choice leaves the mode byte as the last page patched it.
  ppdtest::TestPpd ppd23;
  ppd23.modelNumber = 23;
  ppd23.options = {
      {"Darkness", {"Default", "0", "1", "2", "3"}, "0"},
      {"zeMediaTracking", {"Default", "Gap", "Continuous", "BLine", "Fanfold"}, "Fanfold"},
      {"PrintMode", {"1", "2", "3"}, "3"}};
  auto setup23 = [](int paper) {
    return std::vector<std::string>{density(1), hex({0x1F, 0x11, 0x0B}), printMode(3),
                                    paperSize(paper)};
  };
  cases.push_back(ThermalCase(
      "Model23UnknownTrackingKeepsTheForcedByte", "", "", {},
      {{"A5", 1182, 40, 559, 0, joined({setup23(3), transmission(true, true, 1182, 40)})},
       {"A4", 1678, 40, 807, 0, joined({setup23(0), transmission(true, true, 1678, 40)})}},
      {0, 3.0}, {}, {"PrintMode is 3\n"}));
  cases.back().testPpd = ppd23;

  // The second page's size has no paper code: the first page's code stays.
  cases.push_back(ThermalCase(
      "Model302PaperCodePersists", "rx5k-302.ppd", "zeMediaTracking=BLine PrintMode=1 Darkness=2",
      {},
      {{"Letter", 1726, 2233, 831, 0,
        after302(joined({{density(4), hex({0x1F, 0x11, 0x26}), printMode(1), paperSize(4)},
                         transmission(true, true, 1726, 2233)}))},
       cardPage(after302(joined({{density(4), hex({0x1F, 0x11, 0x0B}), printMode(1), paperSize(4)},
                                 transmission(true, true, 64, 40)})))}));
  cases.back().drainsUnordered = true;

  // Page 2 first waits for the printed sheet to leave (one "no paper" answer, the emulator's
  // sheet gap), then for paper and a closed cover; the job ends with an idle query.
  std::vector<std::string> setup831{antiWrinkle(1), density(4), kDrain};
  cases.push_back(ThermalCase(
      "Model831SecondPageWaitsForTheSheetToLeave", "rx5k-831.ppd", "Antiwrinkling=1 Darkness=2", {},
      {{"A4", 64, 2373, 0, 0,
        joined({asked({I, P, C}), setup831, transmission(true, false, 64, 2373)})},
       {"A4", 64, 2373, 0, 0,
        joined({asked({I, P, P, C}), setup831, transmission(true, false, 64, 2373)})}},
      {2.0, 3.0}, asked({I})));

  // "Default" media tracking on a custom size still sends continuous tracking. Before the printer
  // has reported its hardware version the idle wait is an idle query; 1.0.4, reported with the
  // first answer, is too old for it: later idle waits are cover queries.
  auto page64519 = [&](const std::string &idleWait) {
    return cardPage(joined({asked({idleWait, C, P, C, P}),
                            {hex({0x1F, 0x11, 0x0B})},
                            transmission(false, false, 64, 40),
                            {hex({0x1B, 0x64, 0x01})}}));
  };
  cases.push_back(ThermalCase("Model64519DefaultTrackingOnCustomSizeOldHardware", "rx5k-64519.ppd",
                              "", {"--hardver", "1.0.4"}, {page64519(I), page64519(C)}, {1.0, 1.0},
                              joined({{hex({0x1B, 0x64, 0x02})}, asked({C})})));
  return cases;
}

class ThermalModel : public ::testing::TestWithParam<ThermalCase> {};

TEST_P(ThermalModel, SendsTheExpectedStreamAndPages) {
  const ThermalCase &c = GetParam();
  std::vector<rastertest::RasterPage> pages;
  std::vector<std::string> wire;
  for (const PagePlan &p : c.pages) {
    pages.push_back(testCard(64, 40, p.size.c_str()));
    // Fields the filter only logs, each value its own, so that the log shows which it printed.
    cups_page_header2_t &h = pages.back().header;
    h.Margins[0] = 3, h.Margins[1] = 5, h.ImagingBoundingBox[0] = 1, h.ImagingBoundingBox[1] = 2;
    wire.insert(wire.end(), p.wire.begin(), p.wire.end());
  }
  wire.insert(wire.end(), c.jobEnd.begin(), c.jobEnd.end());

  runtest::FilterRunOptions o;
  o.ppd = projectPpd(c.ppd);
  if (c.testPpd) {
    o.ppd = runtest::testFilePath("printer.ppd");
    ASSERT_TRUE(ppdtest::writeTestPpd(o.ppd, *c.testPpd));
  }
  o.raster = rasterFile(pages);
  o.jobOptions = c.jobOptions;
  o.emulatorArgs = c.emulatorArgs;
  runtest::FilterRun run = runtest::runFilter(o);
  ASSERT_TRUE(run.error.empty()) << run.error;
  EXPECT_EQ(run.exitStatus, 0) << run.emulatorStderr;
  if (c.drainsUnordered) {
    EXPECT_EQ(withoutDrains(wireTexts(run)), withoutDrains(wire)) << run.printerLog;
  } else {
    EXPECT_EQ(wireTexts(run), wire) << run.printerLog;
  }
  for (const std::string &line : c.stderrLines)
    EXPECT_NE(run.filterStderr.find(line), std::string::npos) << line;

  // The waits, from the emulator's clock.
  std::vector<WireItem> items = wireItems(run);
  if (!c.minSeconds.empty() && items.size() == wire.size()) {
    size_t first = 0;
    for (size_t i = 0; i < c.pages.size() && i < c.minSeconds.size(); i++) {
      size_t bitmap = first;
      while (bitmap < items.size() && items[bitmap].text.rfind("1D 76 30", 0) != 0) bitmap++;
      ASSERT_LT(bitmap, items.size());
      double from = items[first > 0 ? first - 1 : 0].time;
      EXPECT_GE(items[bitmap].time - from, c.minSeconds[i] - 0.05) << "page " << i + 1;
      first += c.pages[i].wire.size();
    }
  }

  // The card in black and white (its dots are gray, so their luminance is the dot) where it was
  // placed, white elsewhere, the rows padded to whole bytes.
  ASSERT_EQ(run.pages.size(), c.pages.size());
  for (size_t i = 0; i < c.pages.size(); i++) {
    const PagePlan &p = c.pages[i];
    const runtest::DecodedPage &page = run.pages[i];
    EXPECT_EQ(page.width, (p.width + 7) / 8 * 8);
    EXPECT_EQ(page.height, p.height);
    long wrong = 0;
    for (int y = 0; y < page.height; y++) {
      for (int x = 0; x < page.width; x++) {
        const int cx = x - p.left, cy = y - p.top;
        const bool black = cx >= 0 && cy >= 0 && cx < 64 && cy < 40 && testCardDot(cx, cy) <= 128;
        wrong += page.at(x, y) != (black ? 0 : 255);
      }
    }
    EXPECT_EQ(wrong, 0) << "dots differ on page " << i + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(Models, ThermalModel, ::testing::ValuesIn(thermalCases()),
                         [](const ::testing::TestParamInfo<ThermalCase> &info) {
                           return info.param.name;
                         });

}  // namespace
