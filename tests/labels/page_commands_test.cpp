// The page prologues and page ends of the label languages, one table row per option or header
// field that changes them; the PCL first page against later pages; the cancelled ZPL page;
// hostile headers.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "label_harness.h"
#include "monitor/status.h"
#include "support/capture.h"

namespace {

using H = cups_page_header2_t;

struct CommandCase {
  const char *what;
  int model;
  const char *jobOptions;
  std::function<void(H &)> edit;
  std::string expected;
};

// The prologue (page >= 1) or, with page 0, the page end of one case.
std::string pageCommands(const CommandCase &c, int page) {
  Ppd ppd = labelPpd(c.jobOptions);
  CapturedIO io;
  ModelNumber = c.model;
  Page = page;
  Canceled = 0;
  H header = labelHeader(800, 600);
  header.PageSize[1] = 216;  // 3 inches: 609 dots at 203 dpi, 900 in 1/300 inch, 18 lines
  if (c.edit) c.edit(header);
  if (page == 0) {
    labelEndPage(ppd.get(), &header);
  } else {
    labelStartPage(ppd.get(), &header);
    labelReleasePageBuffers();
  }
  return io.printer();
}

const std::string kPclStart = "\033&l6D\033&k12H\033&l0O";
const std::string kPclRaster = "\033*t203R\033*r800S\033*r600T\033&a0H\033&a0V\033*r1A\033*b3M";
const std::string kPclFormat = kPclStart + "\033!f900Z\033&l18P\033&l0E\033&l1X\033&l0L";

TEST(LabelPrologue, WritesTheLanguagesPageSetUp) {
  const CommandCase cases[] = {
      {"Dymo 288 pt at 300 dpi, 256 bytes a row", 0, "",
       [](H &h) {
         h.PageSize[1] = 288;
         h.HWResolution[1] = 300;
         h.cupsWidth = 2048;
       },
       std::string("\033L\x04\xB0\033D\0\033c", 9)},
      {"Dymo darkness 2", 0, "", [](H &h) { h.cupsCompression = 2; }, "\033L\x02\x61\033Dd\033e"},
      {"EPL line, rate 3, darkness 50", 16, "zePrintRate=3", [](H &h) { h.cupsCompression = 50; },
       "\033S4\033D3\033M01\033B"},
      {"EPL line, nothing given", 16, "", nullptr, "\033M01\033B"},
      {"EPL page, Direct, 801 dots", 17, "",
       [](H &h) {
         strcpy(h.MediaType, "Direct");
         h.cupsWidth = 801;
       },
       "\nN\nOD\nq808\n"},
      {"EPL page, Thermal, darkness 100", 17, "",
       [](H &h) {
         strcpy(h.MediaType, "Thermal");
         h.cupsCompression = 100;
       },
       "\nN\nD15\nq800\n"},
      // Rates below 3 are on the line-mode scale, from 3 on they are whole rates.
      {"EPL page, rate 2.5", 17, "zePrintRate=2.5", nullptr, "\nN\nS3\nq800\n"},
      {"EPL page, rate 3", 17, "zePrintRate=3", nullptr, "\nN\nS3\nq800\n"},
      {"ZPL darkness 50", 18, "", [](H &h) { h.cupsCompression = 50; },
       "~SD15\n~DGR:CUPS.GRF,60000,100,\n"},
      {"ZPL darkness 101", 18, "", [](H &h) { h.cupsCompression = 101; },
       "~DGR:CUPS.GRF,60000,100,\n"},
      {"CPCL 2 copies", 19, "", [](H &h) { h.NumCopies = 2; },
       "! 0 203 203 600 2\r\nPAGE-WIDTH 800\r\nPAGE-HEIGHT 600\r\n"},
      {"model 20", 20, "", nullptr, ""},
      {"PCL, darkness 0, Standard", 32, "inPrintMode=Standard", nullptr,
       kPclFormat + "\033&d-15A\033!p0M" + kPclRaster},
      {"PCL, row feed, darkness 100, another mode with a row step", 32, "inPrintMode=Peel",
       [](H &h) {
         h.cupsRowFeed = 3;
         h.cupsCompression = 100;
         h.cupsRowStep = 7;
       },
       kPclFormat + "\033!p3S\033&d15A\033!p2M\033!n7C" + kPclRaster},
      {"PCL, 792 pt, Default mode", 32, "", [](H &h) { h.PageSize[1] = 792; },
       kPclStart + "\033&l2A\033&l66P\033&l0E\033&l1X\033&l0L\033&d-15A" + kPclRaster},
      {"PCL, 800 pt", 32, "", [](H &h) { h.PageSize[1] = 800; },
       kPclStart + "\033!f3333Z\033&l66P\033&l0E\033&l1X\033&l0L\033&d-15A" + kPclRaster},
  };
  for (const CommandCase &c : cases) EXPECT_EQ(pageCommands(c, 1), c.expected) << c.what;
}

// No darkness (out of range), Tear with a row count.
TEST(LabelPrologue, PclPrinterSettingsOnlyOnTheFirstPage) {
  const CommandCase c{"", 32, "inPrintMode=Tear",
                      [](H &h) {
                        h.cupsRowFeed = 3;
                        h.cupsRowCount = 5;
                        h.cupsCompression = ~0u;
                      },
                      ""};
  EXPECT_EQ(pageCommands(c, 1), kPclFormat + "\033!p3S\033!p1M\033!n5T" + kPclRaster);
  EXPECT_EQ(pageCommands(c, 2), kPclFormat + kPclRaster);
}

// The ZPL label format around the chosen settings.
std::string zpl(const std::string &settings) {
  return "^XA\n" + settings + "^FO0,0^XGR:CUPS.GRF,1,1^FS\n^IDR:CUPS.GRF^FS\n^XZ\n";
}

TEST(LabelPageEnd, WritesTheLanguagesPageEnd) {
  const CommandCase cases[] = {
      {"Dymo", 0, "", nullptr, "\033E"},
      {"EPL line", 16, "", nullptr, "\033E\f"},
      {"EPL page", 17, "", nullptr, "P1\n"},
      {"model 20", 20, "", nullptr, "\nPRINT 1,1\n"},
      {"PCL", 32, "", nullptr, "\033*rB\f"},
      // zePrintMode "Default" is a mode other than "Saved": the cutter's.
      {"ZPL, nothing chosen", 18, "", nullptr, zpl("^LH0,0\n^MMC,Y\n")},
      {"ZPL rate 4, Continuous, row step, Thermal, Tear, advance, Always, copies", 18,
       "zePrintRate=4 zeMediaTracking=Continuous zePrintMode=Tear zeErrorReprint=Always",
       [](H &h) {
         h.cupsRowStep = 180;
         strcpy(h.MediaType, "Thermal");
         h.AdvanceDistance = 30;
         h.NumCopies = 3;
       },
       zpl("^PR4,4,4\n^LH0,0\n^LL600\n^MNN\n^LT180\n^MTT\n^MMT,Y\n~TA030\n^JZY\n^PQ3, 0, 0, N\n")},
      {"ZPL Web, Direct, Peel, negative advance, Never", 18,
       "zeMediaTracking=Web zePrintMode=Peel zeErrorReprint=Never",
       [](H &h) {
         strcpy(h.MediaType, "Direct");
         h.AdvanceDistance = static_cast<unsigned>(-12);
       },
       zpl("^LH0,0\n^MNY\n^MTD\n^MMP,Y\n~TA-012\n^JZN\n")},
      {"ZPL Mark, Rewind", 18, "zeMediaTracking=Mark zePrintMode=Rewind", nullptr,
       zpl("^LH0,0\n^MNM\n^MMR,Y\n")},
      {"ZPL Applicator", 18, "zePrintMode=Applicator", nullptr, zpl("^LH0,0\n^MMA,Y\n")},
      {"ZPL Saved", 18, "zePrintMode=Saved", nullptr, zpl("^LH0,0\n")},
      {"CPCL, nothing chosen", 19, "", nullptr, "FORM\r\nPRINT\r\n"},
      {"CPCL everything", 19, "zeErrorReprint=Always zePrintRate=4 zeMediaTracking=Continuous",
       [](H &h) {
         h.AdvanceDistance = 30;
         h.CutMedia = CUPS_CUT_PAGE;
         h.cupsCompression = 10;
       },
       "PRESENT-AT 30 1\r\nON-OUT-OF-PAPER WAIT\r\nCUT\r\nTONE 20\r\nSPEED 4\r\nPRINT\r\n"},
      {"CPCL reprint Never, Web", 19, "zeErrorReprint=Never zeMediaTracking=Web", nullptr,
       "ON-OUT-OF-PAPER PURGE\r\nFORM\r\nPRINT\r\n"},
  };
  for (const CommandCase &c : cases) EXPECT_EQ(pageCommands(c, 0), c.expected) << c.what;
}

TEST(LabelPageEnd, CancelledZplPageDeletesTheDownloadInstead) {
  Ppd ppd = labelPpd("zePrintRate=4");
  CapturedIO io;
  ModelNumber = 18;
  H header = labelHeader(16, 2);
  labelStartPage(ppd.get(), &header);
  ASSERT_NE(CompBuffer, nullptr);
  Canceled = 1;
  labelEndPage(ppd.get(), &header);
  Canceled = 0;
  EXPECT_EQ(io.printer(), "~DGR:CUPS.GRF,4,2,\n~DN\n");
  EXPECT_EQ(CompBuffer, nullptr);
  EXPECT_EQ(LastBuffer, nullptr);
}

TEST(LabelPageEnd, PaperStateResetOnlyWhereThePrinterReportsItPerSheet) {
  for (int model : {21, 831, 613207, 590314, 22, 23, 302, 400, 64519}) {
    CapturedIO io;
    ModelNumber = model;
    mymon.paperstatus = 1;
    H header = labelHeader(8, 1);
    labelEndPage(nullptr, &header);
    const bool reset = model == 21 || model == 831 || model == 613207 || model == 590314;
    EXPECT_EQ(mymon.paperstatus, reset ? 0 : 1) << model;
    EXPECT_EQ(io.printer(), "") << model;
  }
}

// Every unsigned header field at its largest: the formats wrap as unsigned 32-bit arithmetic
// and print the result as signed where they use "%d"; rows that cannot be buffered are dropped.
TEST(HostileHeader, FormatsWrapWithoutOverflowAndRowsAreDropped) {
  H header;
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
      EXPECT_EQ(out.substr(0, 4), "\033L\x71\xC7");  // low 16 bits of (2^32 - 1)^2 / 72
    } else if (model == 18) {
      EXPECT_EQ(out.substr(0, 36), "~DGR:CUPS.GRF,-536870912,536870912,\n");
    } else if (model == 32) {
      EXPECT_NE(out.find("\033!f59652319Z\033&l357913941P\033&l0E\033&l999X"), std::string::npos);
    }
  }
}

}  // namespace
