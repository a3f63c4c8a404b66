// Thermal page set-up: the commands each option sends per model, the page globals, the
// persistence of patched bytes, the offsets in dots and the header dump.
#include "thermal/page_setup.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "marked_ppd.h"
#include "thermal_fixture.h"

namespace {

const std::string kMode3 = bytes({0x1B, 0x4E, 0x62, 0x0A, 0x20, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x01,
                                  0x00, 0x03, 0x00, 0x06, 0x00, 0xC8, 0x00, 0x2D});
const std::string kSpecial = bytes({0x1F, 0x11, 0x37, 0x96});
std::string density(unsigned char v) {
  return bytes({0x1F, 0x11, 0x02, v});
}
std::string gap(unsigned char v) {
  return bytes({0x1F, 0x11, v});
}
std::string anti(unsigned char v) {
  return bytes({0x1F, 0x11, 0x88, v});
}

class PageSetupTest : public ThermalTest {
 protected:
  void SetUp() override {
    ThermalTest::SetUp();
    // A printer that is ready at once, for the models that wait.
    printer.script(0x11, {report::paperIn});
    printer.script(0x12, {report::coverClosed});
    printer.script(0x43, {report::idle});
  }
  // One page of the model with the options; returns the set-up commands (queries left out).
  std::string setUp(int model, const std::vector<MarkedOption> &options,
                    const char *pageSize = "A4", const char *modelName = "RX5K",
                    unsigned dpi = 203) {
    ModelNumber = model;
    MarkedPpd ppd(model, modelName, options);
    cups_page_header2_t header = pageHeader(pageSize, dpi);
    size_t before = io.printer().size();
    thermalStartPage(ppd.get(), &header);
    return withoutQueries(io.printer().substr(before));
  }
  int sendNowCount() const { return printer.drains() - static_cast<int>(printer.queries().size()); }
};

struct OptionCase {
  const char *what;
  int model;
  std::vector<MarkedOption> options;
  const char *pageSize;
  std::string wire;
  const char *logged;  // a line the set-up writes, or nullptr
};

TEST_F(PageSetupTest, SendsTheCommandsOfEachOptionPerModel) {
  const std::vector<OptionCase> cases = {
      {"no options", 22, {}, "A4", "", nullptr},
      {"darkness 0", 22, {{"Darkness", "0"}}, "A4", density(0x01), "density dis 0\n"},
      {"darkness 1", 23, {{"Darkness", "1"}}, "A4", density(0x02), "density dis 1\n"},
      {"darkness 2", 302, {{"Darkness", "2"}}, "A4", density(0x04), "density dis 2\n"},
      {"darkness 3 without special", 23, {{"Darkness", "3"}}, "A4", "", "density dis 3\n"},
      {"darkness 3 on 400", 400, {{"Darkness", "3"}}, "A4", kSpecial, "density is 3\n"},
      {"darkness 3 on 21", 21, {{"Darkness", "3"}}, "A4", kSpecial, "density dis 3\n"},
      {"darkness unknown", 22, {{"Darkness", "7"}}, "A4", "", "density dis 7\n"},
      {"darkness word", 400, {{"Darkness", "Dark"}}, "A4", density(0x01), "density is 0\n"},
      {"antiwrinkling Default is 0", 21, {{"Antiwrinkling", "Default"}}, "A4", anti(0x02), nullptr},
      {"antiwrinkling 1", 831, {{"Antiwrinkling", "1"}}, "A4", anti(0x01), nullptr},
      {"antiwrinkling 2", 613207, {{"Antiwrinkling", "2"}}, "A4", anti(0x03), nullptr},
      {"antiwrinkling unknown", 590314, {{"Antiwrinkling", "5"}}, "A4", "", nullptr},
      {"antiwrinkling ignored on 22", 22, {{"Antiwrinkling", "1"}}, "A4", "", nullptr},
      {"anti before density",
       21,
       {{"Darkness", "1"}, {"Antiwrinkling", "2"}},
       "A4",
       anti(0x03) + density(0x02),
       "density dis 1\n"},
      {"gap A4", 23, {{"zeMediaTracking", "Gap"}}, "A4", gap(0x0A), nullptr},
      {"gap custom size", 23, {{"zeMediaTracking", "Gap"}}, "w288h432", gap(0x0B), nullptr},
      {"gap is case sensitive on size",
       302,
       {{"zeMediaTracking", "Gap"}},
       "a4",
       gap(0x0B),
       nullptr},
      {"continuous", 302, {{"zeMediaTracking", "Continuous"}}, "A4", gap(0x0B), nullptr},
      {"bline letter", 23, {{"zeMediaTracking", "BLine"}}, "Letter", gap(0x26), nullptr},
      {"tracking Default", 23, {{"zeMediaTracking", "Default"}}, "A4", "", nullptr},
      {"tracking unknown keeps byte", 23, {{"zeMediaTracking", "Mark"}}, "A4", gap(0x26), nullptr},
      {"tracking ignored on 22", 22, {{"zeMediaTracking", "Gap"}}, "A4", "", nullptr},
      {"64519 Default custom",
       64519,
       {{"zeMediaTracking", "Default"}},
       "w288h432",
       gap(0x0B),
       nullptr},
      {"64519 Default A4", 64519, {{"zeMediaTracking", "Default"}}, "A4", "", nullptr},
      {"64519 gap letter", 64519, {{"zeMediaTracking", "Gap"}}, "Letter", gap(0x0A), nullptr},
      {"64519 gap before density",
       64519,
       {{"Darkness", "3"}, {"zeMediaTracking", "BLine"}},
       "A4",
       gap(0x26) + kSpecial,
       "density is 3\n"},
      {"print mode 3", 302, {{"PrintMode", "3"}}, "A4", kMode3, "PrintMode is 3\n"},
      {"print mode low byte", 23, {{"PrintMode", "259"}}, "A4", kMode3, "PrintMode is 3\n"},
      {"print mode ignored on 400", 400, {{"PrintMode", "3"}}, "A4", "", nullptr},
      {"23 order",
       23,
       {{"PrintMode", "3"}, {"zeMediaTracking", "Gap"}, {"Darkness", "0"}},
       "A4",
       density(0x01) + gap(0x0A) + kMode3,
       "density dis 0\nPrintMode is 3\n"},
  };
  for (const OptionCase &c : cases) {
    SCOPED_TRACE(c.what);
    resetThermalCommands();
    std::string logBefore = io.log();
    EXPECT_EQ(setUp(c.model, c.options, c.pageSize), c.wire);
    std::string log = io.log().substr(logBefore.size());
    if (c.logged) {
      EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    } else {
      EXPECT_EQ(log.find("density"), std::string::npos) << log;
      EXPECT_EQ(log.find("PrintMode"), std::string::npos) << log;
    }
  }
}

TEST_F(PageSetupTest, DarknessDefaultSendsAndLogsNothing) {
  for (int model : {21, 22, 23, 302, 400, 831, 64519, 590314, 613207}) {
    SCOPED_TRACE(model);
    int drainsBefore = sendNowCount();
    EXPECT_EQ(setUp(model, {{"Darkness", "Default"}}), "");
    EXPECT_EQ(sendNowCount(), drainsBefore);
  }
  EXPECT_EQ(io.log().find("density"), std::string::npos);
}

TEST_F(PageSetupTest, SheetModelsDrainAfterEveryDarknessChoice) {
  for (int model : {21, 831, 613207, 590314}) {
    for (const char *choice : {"0", "3", "9"}) {
      SCOPED_TRACE(std::to_string(model) + " " + choice);
      int before = sendNowCount();
      setUp(model, {{"Darkness", choice}});
      EXPECT_EQ(sendNowCount(), before + 1);
    }
  }
  for (int model : {22, 400}) {
    int before = sendNowCount();
    setUp(model, {{"Darkness", "0"}});
    EXPECT_EQ(sendNowCount(), before) << model;
  }
}

TEST_F(PageSetupTest, APatchedModeByteCarriesOverToLaterPages) {
  EXPECT_EQ(setUp(23, {{"zeMediaTracking", "Gap"}}), gap(0x0A));
  Page = 2;
  EXPECT_EQ(setUp(23, {{"zeMediaTracking", "Mark"}}), gap(0x0A));
  // A custom size forces continuous media, which the next A4 page then keeps.
  Page = 3;
  EXPECT_EQ(setUp(23, {{"zeMediaTracking", "Gap"}}, "w288h432"), gap(0x0B));
  Page = 4;
  EXPECT_EQ(setUp(302, {{"zeMediaTracking", "Mark"}}), gap(0x0B));
  resetThermalCommands();
  EXPECT_EQ(setUp(302, {{"zeMediaTracking", "Mark"}}), gap(0x26));
}

TEST_F(PageSetupTest, ColourAndRotationSetTheirGlobals) {
  setUp(22, {{"ColorOption", "GrayScale"}, {"Rotate", "90"}});
  EXPECT_EQ(gray, 1);
  EXPECT_EQ(Rotate, 90);
  setUp(400, {{"ColorOption", "Grayscale"}, {"Rotate", "Default"}});
  EXPECT_EQ(gray, 0);
  EXPECT_EQ(Rotate, 0);
  setUp(64519, {{"ColorOption", "GrayScale"}, {"Rotate", "180"}});
  EXPECT_EQ(gray, 1);
  EXPECT_EQ(Rotate, 180);
}

TEST_F(PageSetupTest, EveryThermalModelResetsThePageGlobals) {
  for (int model : {21, 22, 23, 302, 400, 831, 64519, 590314, 613207}) {
    SCOPED_TRACE(model);
    hOffset = vOffset = Rotate = gray = 9;
    EXPECT_EQ(setUp(model, {{"Darkness", "Dark", false}, {"Rotate", "90", false}}), "");
    EXPECT_EQ(hOffset, 0);
    EXPECT_EQ(vOffset, 0);
    EXPECT_EQ(Rotate, 0);
    EXPECT_EQ(gray, 0);
  }
}

TEST_F(PageSetupTest, OtherModelNumbersGetNoThermalSetUp) {
  hOffset = 9;
  for (int model : {0, 18, 32, 99}) EXPECT_EQ(setUp(model, {{"Darkness", "1"}}), "") << model;
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
      {"2", 15, 23},
      {"3", 23, 35},
      {"5", 39, 59},
      {"-2", -15, -23},
      {"Default", 0, 0},
      {"0", 0, 0},
      {"2147483647", 1000000, 1000000},
      {"-99999999999", -1000000, -1000000},
  };
  for (int model : {22, 64519}) {
    for (const OffsetCase &c : cases) {
      SCOPED_TRACE(std::to_string(model) + " " + c.mm);
      setUp(model, {{"AdjustHoriaontal", c.mm}, {"AdjustVertical", c.mm}}, "A4", "RX5K", 203);
      EXPECT_EQ(hOffset, c.dots203);
      EXPECT_EQ(vOffset, c.dots203);
      setUp(model, {{"AdjustHoriaontal", c.mm}, {"AdjustVertical", c.mm}}, "A4", "RX5K", 300);
      EXPECT_EQ(hOffset, c.dots300);
      EXPECT_EQ(vOffset, c.dots300);
    }
  }
}

TEST_F(PageSetupTest, OffsetsAreLoggedInMillimetresExceptOn64519) {
  setUp(22, {{"AdjustHoriaontal", "-2"}, {"AdjustVertical", "3"}});
  EXPECT_EQ(hOffset, -15);
  EXPECT_EQ(vOffset, 23);
  EXPECT_NE(io.log().find("DEBUG: AdjustHoriaontal = -2\n"), std::string::npos);
  EXPECT_NE(io.log().find("vOffset is 3\n"), std::string::npos);
  std::string before = io.log();
  setUp(64519, {{"AdjustHoriaontal", "-2"}, {"AdjustVertical", "3"}});
  EXPECT_EQ(hOffset, -15);
  EXPECT_EQ(io.log().substr(before.size()).find("Adjust"), std::string::npos);
  EXPECT_EQ(io.log().substr(before.size()).find("vOffset"), std::string::npos);
}

TEST(MillimetresToDots, ClampsInsteadOfOverflowing) {
  EXPECT_EQ(millimetresToDots(INT_MAX, UINT_MAX), 1000000);
  EXPECT_EQ(millimetresToDots(INT_MIN, UINT_MAX), -1000000);
  EXPECT_EQ(millimetresToDots(-2, 203), -15);
  EXPECT_EQ(millimetresToDots(5, 0), 0);
}

TEST_F(PageSetupTest, HeaderDumpListsEveryFieldInOrder) {
  cups_page_header2_t h = pageHeader("A4", 203, 1678, 2374);
  std::strcpy(h.MediaClass, "Class");
  std::strcpy(h.MediaType, "Plain");
  h.HWResolution[1] = 300;
  h.ImagingBoundingBox[2] = 595;
  h.ImagingBoundingBox[3] = 842;
  h.PageSize[0] = 595;
  h.PageSize[1] = 842;
  h.NumCopies = 1;
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = 24;
  h.cupsBytesPerLine = 5034;
  h.cupsColorSpace = CUPS_CSPACE_RGB;
  h.AdvanceMedia = CUPS_ADVANCE_PAGE;
  h.Margins[1] = 4294967295u;  // shown as int, like every other field
  ModelNumber = 22;
  logPageHeader(&h);
  EXPECT_EQ(io.log(),
            "DEBUG: StartPage...\n"
            "DEBUG: MediaClass = \"Class\"\n"
            "DEBUG: MediaColor = \"\"\n"
            "DEBUG: MediaType = \"Plain\"\n"
            "DEBUG: OutputType = \"\"\n"
            "DEBUG: AdvanceDistance = 0\n"
            "DEBUG: AdvanceMedia = 4\n"
            "DEBUG: Collate = 0\n"
            "DEBUG: CutMedia = 0\n"
            "DEBUG: Duplex = 0\n"
            "DEBUG: HWResolution = [ 203 300 ]\n"
            "DEBUG: ImagingBoundingBox = [ 0 0 595 842 ]\n"
            "DEBUG: InsertSheet = 0\n"
            "DEBUG: Jog = 0\n"
            "DEBUG: LeadingEdge = 0\n"
            "DEBUG: Margins = [ 0 -1 ]\n"
            "DEBUG: ManualFeed = 0\n"
            "DEBUG: MediaPosition = 0\n"
            "DEBUG: MediaWeight = 0\n"
            "DEBUG: MirrorPrint = 0\n"
            "DEBUG: NegativePrint = 0\n"
            "DEBUG: NumCopies = 1\n"
            "DEBUG: Orientation = 0\n"
            "DEBUG: OutputFaceUp = 0\n"
            "DEBUG: PageSize = [ 595 842 ]\n"
            "DEBUG: Separations = 0\n"
            "DEBUG: TraySwitch = 0\n"
            "DEBUG: Tumble = 0\n"
            "DEBUG: cupsWidth = 1678\n"
            "DEBUG: cupsHeight = 2374\n"
            "DEBUG: cupsMediaType = 0\n"
            "DEBUG: cupsBitsPerColor = 8\n"
            "DEBUG: cupsBitsPerPixel = 24\n"
            "DEBUG: cupsBytesPerLine = 5034\n"
            "DEBUG: cupsColorOrder = 0\n"
            "DEBUG: cupsColorSpace = 1\n"
            "DEBUG: cupsCompression = 0\n"
            "DEBUG: cupsRowCount = 0\n"
            "DEBUG: cupsRowFeed = 0\n"
            "DEBUG: cupsRowStep = 0\n"
            "DEBUG: ModelNumber = 22\n"
            "DEBUG: cupsPageSizeName = A4\n");
}

TEST_F(PageSetupTest, HeaderStringsWithoutTerminatorStopAtTheFieldEnd) {
  cups_page_header2_t h = pageHeader();
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
  MarkedPpd ppd(23, "RX5K", {{"zeMediaTracking", "Gap"}});
  thermalStartPage(ppd.get(), &h);
  EXPECT_EQ(io.printer(), gap(0x0B));
}

TEST_F(PageSetupTest, RowBufferIsFreshForEveryPage) {
  ASSERT_TRUE(allocateRowBuffer(5034));
  ASSERT_NE(Buffer, nullptr);
  Buffer[5033] = 1;  // the whole row is usable
  Feed = 3;
  ASSERT_TRUE(allocateRowBuffer(0));
  EXPECT_NE(Buffer, nullptr);
  EXPECT_EQ(Feed, 0);
  releaseRowBuffer();
  EXPECT_EQ(Buffer, nullptr);
}

}  // namespace
