// The page prologues and page ends of the label languages, one table row per option or header
// field that changes them; the PCL first page against later pages; the cancelled ZPL page.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "driver/job.h"
#include "label_harness.h"
#include "labels/labels.h"
#include "monitor/status.h"
#include "support/capture.h"
#include "thermal/page_setup.h"

namespace {

using HeaderEdit = std::function<void(cups_page_header2_t &)>;

struct CommandCase {
  const char *what;
  int model;
  const char *jobOptions;
  HeaderEdit edit;
  std::string expected;
};

void PrintTo(const CommandCase &c, std::ostream *os) {
  *os << c.what;
}

cups_page_header2_t editedHeader(const CommandCase &c) {
  cups_page_header2_t header = labelHeader(800, 600);
  header.PageSize[1] = 216;  // 3 inches: 609 dots at 203 dpi, 900 in 1/300 inch, 18 lines
  if (c.edit) c.edit(header);
  return header;
}

std::string prologue(const CommandCase &c, int page) {
  TestPpd ppd(c.jobOptions);
  CapturedIO io;
  ModelNumber = c.model;
  Page = page;
  cups_page_header2_t header = editedHeader(c);
  labelStartPage(ppd.get(), &header);
  labelReleasePageBuffers();
  return io.printer();
}

class LabelPrologue : public testing::TestWithParam<CommandCase> {};

TEST_P(LabelPrologue, WritesTheLanguagesPageSetUp) {
  EXPECT_EQ(prologue(GetParam(), 1), GetParam().expected);
}

const std::string kPclStart = "\x1B&l6D\x1B&k12H\x1B&l0O";
const std::string kPclRaster = "\x1B*t203R\x1B*r800S\x1B*r600T\x1B&a0H\x1B&a0V\x1B*r1A\x1B*b3M";
const std::string kPclFormat = kPclStart + "\x1B!f900Z\x1B&l18P\x1B&l0E\x1B&l1X\x1B&l0L";

INSTANTIATE_TEST_SUITE_P(
    Table, LabelPrologue,
    testing::Values(
        CommandCase{"Dymo 288 pt at 300 dpi, 256 bytes a row", 0, "",
                    [](cups_page_header2_t &h) {
                      h.PageSize[1] = 288;
                      h.HWResolution[1] = 300;
                      h.cupsWidth = 2048;
                    },
                    std::string("\x1BL\x04\xB0\x1B"
                                "D\0\x1B"
                                "c",
                                9)},
        CommandCase{"Dymo darkness 2", 0, "", [](cups_page_header2_t &h) { h.cupsCompression = 2; },
                    std::string("\x1BL\x02\x61\x1B"
                                "Dd\x1B"
                                "e")},
        CommandCase{"EPL line, rate 3, darkness 50", 16, "zePrintRate=3",
                    [](cups_page_header2_t &h) { h.cupsCompression = 50; },
                    "\x1BS4\x1B"
                    "D3\x1BM01\x1B"
                    "B"},
        CommandCase{"EPL line, nothing given", 16, "", nullptr,
                    "\x1BM01\x1B"
                    "B"},
        CommandCase{"EPL page, Direct, 801 dots", 17, "",
                    [](cups_page_header2_t &h) {
                      strcpy(h.MediaType, "Direct");
                      h.cupsWidth = 801;
                    },
                    "\nN\nOD\nq808\n"},
        CommandCase{"EPL page, Thermal, darkness 100", 17, "",
                    [](cups_page_header2_t &h) {
                      strcpy(h.MediaType, "Thermal");
                      h.cupsCompression = 100;
                    },
                    "\nN\nD15\nq800\n"},
        CommandCase{"EPL page, rate 2", 17, "zePrintRate=2", nullptr, "\nN\nS2\nq800\n"},
        CommandCase{"EPL page, rate 2.5", 17, "zePrintRate=2.5", nullptr, "\nN\nS3\nq800\n"},
        CommandCase{"EPL page, rate 3", 17, "zePrintRate=3", nullptr, "\nN\nS3\nq800\n"},
        CommandCase{"EPL page, rate 4", 17, "zePrintRate=4", nullptr, "\nN\nS4\nq800\n"},
        CommandCase{"ZPL darkness 50", 18, "",
                    [](cups_page_header2_t &h) { h.cupsCompression = 50; },
                    "~SD15\n~DGR:CUPS.GRF,60000,100,\n"},
        CommandCase{"ZPL darkness 101", 18, "",
                    [](cups_page_header2_t &h) { h.cupsCompression = 101; },
                    "~DGR:CUPS.GRF,60000,100,\n"},
        CommandCase{"CPCL 2 copies", 19, "", [](cups_page_header2_t &h) { h.NumCopies = 2; },
                    "! 0 203 203 600 2\r\nPAGE-WIDTH 800\r\nPAGE-HEIGHT 600\r\n"},
        CommandCase{"model 20", 20, "", nullptr, ""},
        CommandCase{"PCL, darkness 0, Standard", 32, "inPrintMode=Standard", nullptr,
                    kPclFormat + "\x1B&d-15A\x1B!p0M" + kPclRaster},
        CommandCase{"PCL, no darkness, Tear with a row count", 32, "inPrintMode=Tear",
                    [](cups_page_header2_t &h) {
                      h.cupsCompression = ~0u;
                      h.cupsRowCount = 5;
                    },
                    kPclFormat + "\x1B!p1M\x1B!n5T" + kPclRaster},
        CommandCase{"PCL, row feed, darkness 100, another mode with a row step", 32,
                    "inPrintMode=Peel",
                    [](cups_page_header2_t &h) {
                      h.cupsRowFeed = 3;
                      h.cupsCompression = 100;
                      h.cupsRowStep = 7;
                    },
                    kPclFormat + "\x1B!p3S\x1B&d15A\x1B!p2M\x1B!n7C" + kPclRaster},
        CommandCase{"PCL, 792 pt, Default mode", 32, "",
                    [](cups_page_header2_t &h) { h.PageSize[1] = 792; },
                    kPclStart + "\x1B&l2A\x1B&l66P\x1B&l0E\x1B&l1X\x1B&l0L\x1B&d-15A" + kPclRaster},
        CommandCase{
            "PCL, 800 pt", 32, "", [](cups_page_header2_t &h) { h.PageSize[1] = 800; },
            kPclStart + "\x1B!f3333Z\x1B&l66P\x1B&l0E\x1B&l1X\x1B&l0L\x1B&d-15A" + kPclRaster}));

TEST(PclPrologue, PrinterSettingsOnlyOnTheFirstPage) {
  const CommandCase c{"", 32, "inPrintMode=Tear",
                      [](cups_page_header2_t &h) {
                        h.cupsRowFeed = 3;
                        h.cupsRowCount = 5;
                      },
                      ""};
  EXPECT_EQ(prologue(c, 1), kPclFormat + "\x1B!p3S\x1B&d-15A\x1B!p1M\x1B!n5T" + kPclRaster);
  EXPECT_EQ(prologue(c, 2), kPclFormat + kPclRaster);
}

std::string pageEnd(const CommandCase &c) {
  TestPpd ppd(c.jobOptions);
  CapturedIO io;
  ModelNumber = c.model;
  cups_page_header2_t header = editedHeader(c);
  labelEndPage(ppd.get(), &header);
  return io.printer();
}

class LabelPageEnd : public testing::TestWithParam<CommandCase> {};

TEST_P(LabelPageEnd, WritesTheLanguagesPageEnd) {
  Canceled = 0;
  EXPECT_EQ(pageEnd(GetParam()), GetParam().expected);
}

// The ZPL format with nothing chosen; zePrintMode "Default" is a mode other than "Saved".
std::string zplFormat(const std::string &settings, const std::string &mode = "^MMC,Y\n") {
  return "^XA\n" + settings.substr(0, settings.find('|')) + "^LH0,0\n" +
         (settings.find('|') == std::string::npos ? "" : settings.substr(settings.find('|') + 1)) +
         mode + "^FO0,0^XGR:CUPS.GRF,1,1^FS\n^IDR:CUPS.GRF^FS\n^XZ\n";
}

INSTANTIATE_TEST_SUITE_P(
    Table, LabelPageEnd,
    testing::Values(
        CommandCase{"Dymo", 0, "", nullptr,
                    "\x1B"
                    "E"},
        CommandCase{"EPL line", 16, "", nullptr,
                    "\x1B"
                    "E\f"},
        CommandCase{"EPL page", 17, "", nullptr, "P1\n"},
        CommandCase{"model 20", 20, "", nullptr, "\nPRINT 1,1\n"},
        CommandCase{"PCL", 32, "", nullptr, "\x1B*rB\f"},
        CommandCase{"ZPL, nothing chosen", 18, "", nullptr, zplFormat("")},
        CommandCase{"ZPL rate 4", 18, "zePrintRate=4", nullptr, zplFormat("^PR4,4,4\n")},
        CommandCase{"ZPL Continuous", 18, "zeMediaTracking=Continuous", nullptr,
                    zplFormat("|^LL600\n^MNN\n")},
        CommandCase{"ZPL Web", 18, "zeMediaTracking=Web", nullptr, zplFormat("|^MNY\n")},
        CommandCase{"ZPL Mark", 18, "zeMediaTracking=Mark", nullptr, zplFormat("|^MNM\n")},
        CommandCase{"ZPL row step 180", 18, "", [](cups_page_header2_t &h) { h.cupsRowStep = 180; },
                    zplFormat("|^LT180\n")},
        CommandCase{"ZPL Thermal", 18, "",
                    [](cups_page_header2_t &h) { strcpy(h.MediaType, "Thermal"); },
                    zplFormat("|^MTT\n")},
        CommandCase{"ZPL Direct", 18, "",
                    [](cups_page_header2_t &h) { strcpy(h.MediaType, "Direct"); },
                    zplFormat("|^MTD\n")},
        CommandCase{"ZPL Saved", 18, "zePrintMode=Saved", nullptr, zplFormat("", "")},
        CommandCase{"ZPL Tear", 18, "zePrintMode=Tear", nullptr, zplFormat("", "^MMT,Y\n")},
        CommandCase{"ZPL Peel", 18, "zePrintMode=Peel", nullptr, zplFormat("", "^MMP,Y\n")},
        CommandCase{"ZPL Rewind", 18, "zePrintMode=Rewind", nullptr, zplFormat("", "^MMR,Y\n")},
        CommandCase{"ZPL Applicator", 18, "zePrintMode=Applicator", nullptr,
                    zplFormat("", "^MMA,Y\n")},
        CommandCase{"ZPL Cutter", 18, "zePrintMode=Cutter", nullptr, zplFormat("", "^MMC,Y\n")},
        CommandCase{"ZPL advance 30", 18, "zePrintMode=Saved",
                    [](cups_page_header2_t &h) { h.AdvanceDistance = 30; },
                    zplFormat("", "~TA030\n")},
        CommandCase{"ZPL advance -12", 18, "zePrintMode=Saved",
                    [](cups_page_header2_t &h) { h.AdvanceDistance = static_cast<unsigned>(-12); },
                    zplFormat("", "~TA-012\n")},
        CommandCase{"ZPL reprint Always", 18, "zePrintMode=Saved zeErrorReprint=Always", nullptr,
                    zplFormat("", "^JZY\n")},
        CommandCase{"ZPL reprint Never", 18, "zePrintMode=Saved zeErrorReprint=Never", nullptr,
                    zplFormat("", "^JZN\n")},
        CommandCase{"ZPL 3 copies", 18, "zePrintMode=Saved",
                    [](cups_page_header2_t &h) { h.NumCopies = 3; },
                    zplFormat("", "^PQ3, 0, 0, N\n")},
        CommandCase{"CPCL, nothing chosen", 19, "", nullptr, "FORM\r\nPRINT\r\n"},
        CommandCase{"CPCL everything", 19,
                    "zeErrorReprint=Always zePrintRate=4 zeMediaTracking=Continuous",
                    [](cups_page_header2_t &h) {
                      h.AdvanceDistance = 30;
                      h.CutMedia = CUPS_CUT_PAGE;
                      h.cupsCompression = 10;
                    },
                    "PRESENT-AT 30 1\r\nON-OUT-OF-PAPER WAIT\r\nCUT\r\nTONE 20\r\nSPEED 4\r\n"
                    "PRINT\r\n"},
        CommandCase{"CPCL reprint Never, Web", 19, "zeErrorReprint=Never zeMediaTracking=Web",
                    nullptr, "ON-OUT-OF-PAPER PURGE\r\nFORM\r\nPRINT\r\n"}));

TEST(ZplPageEnd, CancelledPageDeletesTheDownloadInstead) {
  TestPpd ppd("zePrintRate=4");
  CapturedIO io;
  ModelNumber = 18;
  cups_page_header2_t header = labelHeader(16, 2);
  labelStartPage(ppd.get(), &header);
  ASSERT_NE(CompBuffer, nullptr);
  Canceled = 1;
  labelEndPage(ppd.get(), &header);
  Canceled = 0;
  EXPECT_EQ(io.printer(), "~DGR:CUPS.GRF,4,2,\n~DN\n");
  EXPECT_EQ(CompBuffer, nullptr);
  EXPECT_EQ(LastBuffer, nullptr);
}

// Every unsigned header field at its largest: the formats wrap as unsigned 32-bit arithmetic
// and print the result as signed where they use "%d"; rows that cannot be buffered are dropped.
TEST(HostileHeader, FormatsWrapWithoutOverflowAndRowsAreDropped) {
  cups_page_header2_t header;
  std::memset(&header, 0xFF, sizeof header);
  unsigned char dots[64] = {};
  for (int model : {0, 16, 17, 18, 19, 20, 32}) {
    CapturedIO io;
    ModelNumber = model;
    Page = 1;
    labelStartPage(nullptr, &header);
    const size_t prologue = io.printer().size();
    Buffer = dots;
    labelOutputLine(nullptr, &header, 0);
    Buffer = nullptr;
    EXPECT_EQ(io.printer().size(), prologue) << model;
    labelEndPage(nullptr, &header);
    const std::string &out = io.printer();
    if (model == 0) {
      EXPECT_EQ(out.substr(0, 4), "\x1BL\x71\xC7");  // low 16 bits of (2^32 - 1)^2 / 72
    } else if (model == 18) {
      EXPECT_EQ(out.substr(0, 36), "~DGR:CUPS.GRF,-536870912,536870912,\n");
    } else if (model == 32) {
      EXPECT_NE(out.find("\x1B!f59652319Z\x1B&l357913941P\x1B&l0E\x1B&l-1X"), std::string::npos);
    }
  }
}

TEST(ThermalPageEnd, PaperStateResetOnlyWhereThePrinterReportsItPerSheet) {
  for (int model : {21, 831, 613207, 590314, 22, 23, 302, 400, 64519}) {
    CapturedIO io;
    ModelNumber = model;
    mymon.paperstatus = 1;
    cups_page_header2_t header = labelHeader(8, 1);
    labelEndPage(nullptr, &header);
    const bool reset = model == 21 || model == 831 || model == 613207 || model == 590314;
    EXPECT_EQ(mymon.paperstatus, reset ? 0 : 1) << model;
    EXPECT_EQ(io.printer(), "") << model;
  }
}

}  // namespace
