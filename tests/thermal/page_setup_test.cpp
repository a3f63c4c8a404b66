// Thermal page set-up: the commands each option sends per model, the page globals, the
// persistence of patched bytes, the offsets in dots and the header dump.
#include "thermal/page_setup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "thermal_fixture.h"

namespace {

const std::string kMode3 = bytes({0x1B, 0x4E, 0x62, 0x0A, 0x20, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x01,
                                  0x00, 0x03, 0x00, 0x06, 0x00, 0xC8, 0x00, 0x2D});
std::string density(unsigned char v) {
  return bytes({0x1F, 0x11, 0x02, v});
}
std::string gap(unsigned char v) {
  return bytes({0x1F, 0x11, v});
}

using PageSetupTest = ThermalTest;

struct OptionCase {
  const char *what;
  int model;
  std::vector<MarkedOption> options;
  std::string wire;
  const char *logged = nullptr;  // a line the set-up writes
  const char *pageSize = "A4";
};

TEST_F(PageSetupTest, SendsTheCommandsOfEachOptionPerModel) {
  const std::vector<OptionCase> cases = {
      {"no options", 22, {}, ""},
      {"darkness unknown", 22, {{"Darkness", "7"}}, "", "density dis 7\n"},
      {"darkness word", 400, {{"Darkness", "Dark"}}, density(0x01), "density is 0\n"},
      {"antiwrinkling unknown", 590314, {{"Antiwrinkling", "5"}}, ""},
      {"antiwrinkling ignored on 22", 22, {{"Antiwrinkling", "1"}}, ""},
      {"gap A4", 23, {{"zeMediaTracking", "Gap"}}, gap(0x0A)},
      {"a4 is no known size", 302, {{"zeMediaTracking", "Gap"}}, gap(0x0B), nullptr, "a4"},
      {"tracking ignored on 22", 22, {{"zeMediaTracking", "Gap"}}, ""},
      {"64519 Default A4", 64519, {{"zeMediaTracking", "Default"}}, ""},
      {"64519 gap letter", 64519, {{"zeMediaTracking", "Gap"}}, gap(0x0A), nullptr, "Letter"},
      {"print mode low byte", 23, {{"PrintMode", "259"}}, kMode3, "PrintMode is 3\n"},
      {"print mode ignored on 400", 400, {{"PrintMode", "3"}}, ""},
  };
  for (const OptionCase &c : cases) {
    SCOPED_TRACE(c.what);
    resetThermalCommands();
    const size_t logBefore = io.log().size();
    EXPECT_EQ(startPage(c.model, c.options, c.pageSize), c.wire);
    std::string log = io.log().substr(logBefore);
    if (c.logged) {
      EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    } else {
      EXPECT_EQ(log.find("density"), std::string::npos) << log;
      EXPECT_EQ(log.find("PrintMode"), std::string::npos) << log;
    }
  }
}

// Only the sheet models drain after a darkness choice, and not after "Default".
TEST_F(PageSetupTest, SheetModelsDrainAfterEveryDarknessChoiceButDefault) {
  // Drains that follow no query.
  auto sendNowCount = [&] { return printer.drains() - static_cast<int>(printer.queries().size()); };
  for (int model : {21, 22, 23, 302, 400, 831, 64519, 590314, 613207}) {
    const bool sheet = model == 21 || model == 831 || model == 613207 || model == 590314;
    for (const char *choice : {"0", "3", "9", "Default"}) {
      SCOPED_TRACE(std::to_string(model) + " " + choice);
      const int before = sendNowCount();
      const size_t logBefore = io.log().size();
      const std::string wire = startPage(model, {{"Darkness", choice}});
      const bool isDefault = std::string(choice) == "Default";
      EXPECT_EQ(sendNowCount(), before + (sheet && !isDefault));
      if (isDefault) {
        EXPECT_EQ(wire, "");
        EXPECT_EQ(io.log().find("density", logBefore), std::string::npos);
      }
    }
  }
}

TEST_F(PageSetupTest, APatchedModeByteCarriesOverToLaterPages) {
  EXPECT_EQ(startPage(23, {{"zeMediaTracking", "Gap"}}), gap(0x0A));
  Page = 2;
  EXPECT_EQ(startPage(23, {{"zeMediaTracking", "Mark"}}), gap(0x0A));
  // A custom size forces continuous media, which the next A4 page then keeps.
  Page = 3;
  EXPECT_EQ(startPage(23, {{"zeMediaTracking", "Gap"}}, "w288h432"), gap(0x0B));
  Page = 4;
  EXPECT_EQ(startPage(302, {{"zeMediaTracking", "Mark"}}), gap(0x0B));
  resetThermalCommands();
  EXPECT_EQ(startPage(302, {{"zeMediaTracking", "Mark"}}), gap(0x26));
}

TEST_F(PageSetupTest, ColourAndRotationSetTheirGlobals) {
  const struct {
    int model;
    const char *colour, *rotate;
    int gray, Rotate;
  } cases[] = {{22, "GrayScale", "90", 1, 90},
               {400, "Grayscale", "Default", 0, 0},
               {64519, "GrayScale", "180", 1, 180}};
  for (const auto &c : cases) {
    startPage(c.model, {{"ColorOption", c.colour}, {"Rotate", c.rotate}});
    EXPECT_EQ(gray, c.gray) << c.model;
    EXPECT_EQ(Rotate, c.Rotate) << c.model;
  }
}

TEST_F(PageSetupTest, EveryThermalModelResetsThePageGlobals) {
  for (int model : {21, 22, 23, 302, 400, 831, 64519, 590314, 613207}) {
    SCOPED_TRACE(model);
    hOffset = vOffset = Rotate = gray = 9;
    EXPECT_EQ(startPage(model, {{"Darkness", "Dark", false}, {"Rotate", "90", false}}), "");
    EXPECT_EQ(hOffset, 0);
    EXPECT_EQ(vOffset, 0);
    EXPECT_EQ(Rotate, 0);
    EXPECT_EQ(gray, 0);
  }
}

TEST_F(PageSetupTest, OtherModelNumbersGetNoThermalSetUp) {
  hOffset = 9;
  for (int model : {0, 18, 32, 99}) EXPECT_EQ(startPage(model, {{"Darkness", "1"}}), "") << model;
  EXPECT_EQ(hOffset, 9);
  EXPECT_TRUE(printer.queries().empty());
}

struct OffsetCase {
  const char *mm;
  int dots203;
  int dots300;
};

TEST_F(PageSetupTest, OffsetsTurnMillimetresIntoDotsInBothForms) {
  const std::vector<OffsetCase> cases = {
      {"1", 7, 11},
      {"-2", -15, -23},
      {"Default", 0, 0},
      {"2147483647", 1000000, 1000000},
      {"-99999999999", -1000000, -1000000},
  };
  for (int model : {22, 64519}) {
    for (const OffsetCase &c : cases) {
      for (unsigned dpi : {203u, 300u}) {
        SCOPED_TRACE(std::to_string(model) + " " + c.mm + " " + std::to_string(dpi));
        startPage(model, {{"AdjustHoriaontal", c.mm}, {"AdjustVertical", c.mm}}, "A4", "RX5K", dpi);
        EXPECT_EQ(hOffset, dpi == 203 ? c.dots203 : c.dots300);
        EXPECT_EQ(vOffset, dpi == 203 ? c.dots203 : c.dots300);
      }
    }
  }
}

TEST_F(PageSetupTest, OffsetsAreLoggedInMillimetresExceptOn64519) {
  startPage(22, {{"AdjustHoriaontal", "-2"}, {"AdjustVertical", "3"}});
  EXPECT_NE(io.log().find("DEBUG: AdjustHoriaontal = -2\n"), std::string::npos);
  EXPECT_NE(io.log().find("vOffset is 3\n"), std::string::npos);
  std::string before = io.log();
  startPage(64519, {{"AdjustHoriaontal", "-2"}, {"AdjustVertical", "3"}});
  EXPECT_EQ(io.log().substr(before.size()).find("Adjust"), std::string::npos);
  EXPECT_EQ(io.log().substr(before.size()).find("vOffset"), std::string::npos);
}

TEST(MillimetresToDots, ClampsInsteadOfOverflowing) {
  EXPECT_EQ(millimetresToDots(INT_MAX, UINT_MAX), 1000000);
  EXPECT_EQ(millimetresToDots(INT_MIN, UINT_MAX), -1000000);
  EXPECT_EQ(millimetresToDots(5, 0), 0);
}

// One "DEBUG: " line per field; strings quoted, arrays bracketed, unsigned fields shown as int.
TEST_F(PageSetupTest, HeaderDumpWritesOneLinePerField) {
  cups_page_header2_t h = rasterHeader(1678, 2374);
  std::strcpy(h.MediaType, "Plain");
  h.HWResolution[1] = 300;
  h.Margins[1] = 4294967295u;
  ModelNumber = 22;
  logPageHeader(&h);
  const std::string log = io.log();
  EXPECT_EQ(log.rfind("DEBUG: StartPage...\nDEBUG: MediaClass = \"PwgRaster\"\n", 0), 0u);
  for (const char *line :
       {"\nDEBUG: MediaType = \"Plain\"\n", "\nDEBUG: HWResolution = [ 203 300 ]\n",
        "\nDEBUG: Margins = [ 0 -1 ]\n", "\nDEBUG: cupsWidth = 1678\nDEBUG: cupsHeight = 2374\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 42);
  const std::string last = "\nDEBUG: ModelNumber = 22\nDEBUG: cupsPageSizeName = A4\n";
  EXPECT_EQ(log.substr(log.size() - last.size()), last);
}

TEST_F(PageSetupTest, HeaderStringsWithoutTerminatorStopAtTheFieldEnd) {
  cups_page_header2_t h = rasterHeader(8, 1);
  std::memset(h.MediaClass, 'C', sizeof h.MediaClass);
  std::memset(h.cupsPageSizeName, 'P', sizeof h.cupsPageSizeName);
  std::memset(h.MediaColor, 'N', sizeof h.MediaColor);
  logPageHeader(&h);
  std::string log = io.log();
  EXPECT_NE(log.find("DEBUG: MediaClass = \"" + std::string(64, 'C') + "\"\n"), std::string::npos);
  EXPECT_NE(log.find("DEBUG: cupsPageSizeName = " + std::string(64, 'P') + "\n"),
            std::string::npos);
  EXPECT_NE(log.find("DEBUG: MediaColor = \"" + std::string(64, 'N') + "\"\n"), std::string::npos);
  // Such a name is no known page size: continuous media is forced.
  ModelNumber = 23;
  Ppd ppd = markedPpd(23, "RX5K", {{"zeMediaTracking", "Gap"}});
  thermalStartPage(ppd.get(), &h);
  EXPECT_EQ(io.printer(), gap(0x0B));
}

}  // namespace
