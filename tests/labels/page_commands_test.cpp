// The page prologues and page ends of the label languages, one table row per option or header
// field that changes them, fields at their largest included; the PCL first page against later
// pages; the copy count and darkness limits; the cancelled ZPL page; the pages whose numbers do
// not fit their commands.
#include <gtest/gtest.h>

#include <climits>
#include <sstream>

#include "label_job.h"

namespace {

using namespace std::string_literals;

// A blank page of 800 x 600 dots, 3 inches long (609 dots at 203 dpi, 900 in 1/300 inch, 18
// lines of 12 points), as a case changes it; the options are marked on top of "Default" for
// each label option, as a PPD marks them.
struct PageEdit {
  const char *options = "";  // "keyword=choice ..."
  unsigned width = 800, length = 216, dpi = 203, darkness = 0, copies = 1;
  const char *media = "";
  unsigned advance = 1000, rowStep = 200, rowFeed = 0, rowCount = 0;
  cups_cut_t cut = CUPS_CUT_NONE;
  int page = 1;
};

LabelRun runCase(int model, const PageEdit &e, StringLogSink *log = nullptr) {
  std::map<std::string, std::string> marked;
  for (const char *keyword :
       {"zePrintRate", "inPrintMode", "zeMediaTracking", "zePrintMode", "zeErrorReprint"})
    marked[keyword] = "Default";
  std::istringstream words(e.options);
  for (std::string w; words >> w;) marked[w.substr(0, w.find('='))] = w.substr(w.find('=') + 1);
  LabelJob lj(model, marked);
  lj.job.Page = e.page;
  cups_page_header2_t h = rastertest::rasterHeader(e.width, 600);
  h.PageSize[1] = e.length;
  h.HWResolution[1] = e.dpi;
  h.cupsCompression = e.darkness;
  h.NumCopies = e.copies;
  std::strcpy(h.MediaType, e.media);
  h.AdvanceDistance = e.advance;
  h.cupsRowStep = e.rowStep;
  h.cupsRowFeed = e.rowFeed;
  h.cupsRowCount = e.rowCount;
  h.CutMedia = e.cut;
  LabelRun run = runLabel(lj, h, std::vector<unsigned char>(size_t{e.width} * 600, 255));
  if (log) log->write(lj.log.text());
  return run;
}

const std::string kPclStart = "\033&l6D\033&k12H\033&l0O";
const std::string kPclRaster = "\033*t203R\033*r800S\033*r600T\033&a0H\033&a0V\033*r1A\033*b3M";
const std::string kPclFormat = kPclStart + "\033!f900Z\033&l18P\033&l0E\033&l1X\033&l0L";

// The ZPL label format around the chosen settings.
std::string zpl(const std::string &settings) {
  return "^XA\n" + settings + "^FO0,0^XGR:CUPS.GRF,1,1^FS\n^IDR:CUPS.GRF^FS\n^XZ\n";
}

struct CommandCase {
  int model;
  PageEdit edit;
  std::string expected;
};

TEST(LabelPrologue, WritesTheLanguagesPageSetUp) {
  const CommandCase cases[] = {
      // clang-format off
      // 288 pt at 300 dpi, 256 bytes a row (the row length field has one byte); darkness from
      // ESC c (lightest) to ESC g (darkest), nothing beyond the printer's letters.
      {0, {.width = 2048, .length = 288, .dpi = 300}, "\033L\x04\xB0\033D\0\033c"s},
      {0, {.darkness = 4}, "\033L\x02\x61\033Dd\033g"},
      {0, {.darkness = 5}, "\033L\x02\x61\033Dd\033g"},
      {16, {.options = "zePrintRate=3", .darkness = 50}, "\033S4\033D3\033M01\033B"},
      {16, {}, "\033M01\033B"},
      {17, {.width = 801, .media = "Direct"}, "\nN\nOD\nq808\n"},
      {17, {.darkness = 100, .media = "Thermal"}, "\nN\nD15\nq800\n"},
      // Rates below 3 are on the line-mode scale, from 3 on they are whole rates; a rate beyond
      // the float range is held at the largest float.
      {17, {.options = "zePrintRate=2.5"}, "\nN\nS3\nq800\n"},
      {17, {.options = "zePrintRate=3"}, "\nN\nS3\nq800\n"},
      {17, {.options = "zePrintRate=1e300"},
       "\nN\nS340282346638528859811704183484516925440\nq800\n"},
      {18, {.darkness = 50}, "~SD15\n~DGR:CUPS.GRF,60000,100,\n"},
      {18, {.darkness = 1}, "~SD00\n~DGR:CUPS.GRF,60000,100,\n"},
      {18, {.darkness = 101}, "~DGR:CUPS.GRF,60000,100,\n"},
      {19, {.copies = 999}, "! 0 203 203 600 999\r\nPAGE-WIDTH 800\r\nPAGE-HEIGHT 600\r\n"},
      {19, {.copies = UINT_MAX}, "! 0 203 203 600 999\r\nPAGE-WIDTH 800\r\nPAGE-HEIGHT 600\r\n"},
      {32, {.options = "inPrintMode=Standard"}, kPclFormat + "\033&d-15A\033!p0M" + kPclRaster},
      {32, {.options = "inPrintMode=Peel", .darkness = 100, .rowStep = 7, .rowFeed = 3},
       kPclFormat + "\033!p3S\033&d15A\033!p2M\033!n7C" + kPclRaster},
      // All bits set: no darkness given. The printer settings go with the first page only.
      {32, {.options = "inPrintMode=Tear", .darkness = ~0u, .rowFeed = 3, .rowCount = 5},
       kPclFormat + "\033!p3S\033!p1M\033!n5T" + kPclRaster},
      {32, {.options = "inPrintMode=Tear", .rowFeed = 3, .page = 2}, kPclFormat + kPclRaster},
      // Fields at their largest wrap as unsigned 32-bit numbers, printed signed where the
      // command has "%d".
      {32, {.length = UINT_MAX, .rowFeed = UINT_MAX},
       kPclStart + "\033!f59652319Z\033&l357913941P\033&l0E\033&l1X\033&l0L\033!p-1S\033&d-15A" +
           kPclRaster},
      {32, {.length = 800, .copies = 1000},
       kPclStart + "\033!f3333Z\033&l66P\033&l0E\033&l999X\033&l0L\033&d-15A" + kPclRaster},
      // clang-format on
  };
  for (const CommandCase &c : cases)
    EXPECT_EQ(runCase(c.model, c.edit).prologue, c.expected) << c.model << " " << c.edit.options;
  const std::pair<unsigned, const char *> pclSizes[] = {
      {540, "\033&l80A"}, {624, "\033&l90A"}, {649, "\033&l91A"}, {684, "\033&l81A"},
      {756, "\033&l1A"},  {792, "\033&l2A"},  {842, "\033&l26A"}, {1008, "\033&l3A"}};
  for (const auto &[length, command] : pclSizes)
    EXPECT_EQ(runCase(32, {.length = length}).prologue.substr(kPclStart.size(), strlen(command)),
              command);
}

TEST(LabelPageEnd, WritesTheLanguagesPageEnd) {
  const CommandCase cases[] = {
      // clang-format off
      {0, {}, "\033E"},
      {16, {}, "\033E\f"},
      {17, {}, "P1\n"},
      {20, {}, "\nPRINT 1,1\n"},
      {32, {}, "\033*rB\f"},
      // zePrintMode "Default" is a mode other than "Saved": the cutter's.
      {18, {}, zpl("^LH0,0\n^MMC,Y\n")},
      {18, {.options = "zePrintRate=4 zeMediaTracking=Continuous zePrintMode=Tear "
                       "zeErrorReprint=Always",
            .copies = 3, .media = "Thermal", .advance = 30, .rowStep = 180},
       zpl("^PR4,4,4\n^LH0,0\n^LL600\n^MNN\n^LT180\n^MTT\n^MMT,Y\n~TA030\n^JZY\n^PQ3, 0, 0, N\n")},
      {18, {.options = "zeMediaTracking=Web zePrintMode=Peel zeErrorReprint=Never",
            .media = "Direct", .advance = static_cast<unsigned>(-12)},
       zpl("^LH0,0\n^MNY\n^MTD\n^MMP,Y\n~TA-012\n^JZN\n")},
      {18, {.options = "zeMediaTracking=Mark zePrintMode=Rewind"}, zpl("^LH0,0\n^MNM\n^MMR,Y\n")},
      {18, {.options = "zePrintMode=Applicator", .copies = 1000},
       zpl("^LH0,0\n^MMA,Y\n^PQ999, 0, 0, N\n")},
      {18, {.options = "zePrintMode=Saved"}, zpl("^LH0,0\n")},
      {18, {.copies = UINT_MAX, .advance = UINT_MAX, .rowStep = UINT_MAX},
       zpl("^LH0,0\n^LT4294967295\n^MMC,Y\n~TA-001\n^PQ999, 0, 0, N\n")},
      {19, {}, "FORM\r\nPRINT\r\n"},
      {19, {.options = "zeErrorReprint=Always zePrintRate=4 zeMediaTracking=Continuous",
            .darkness = 10, .advance = 30, .cut = CUPS_CUT_PAGE},
       "PRESENT-AT 30 1\r\nON-OUT-OF-PAPER WAIT\r\nCUT\r\nTONE 20\r\nSPEED 4\r\nPRINT\r\n"},
      {19, {.darkness = UINT_MAX, .advance = UINT_MAX},
       "PRESENT-AT -1 1\r\nTONE 4294967294\r\nFORM\r\nPRINT\r\n"},
      {19, {.options = "zeErrorReprint=Never zeMediaTracking=Web"},
       "ON-OUT-OF-PAPER PURGE\r\nFORM\r\nPRINT\r\n"},
      // clang-format on
  };
  for (const CommandCase &c : cases)
    EXPECT_EQ(runCase(c.model, c.edit).end, c.expected) << c.model << " " << c.edit.options;
}

// A copy count beyond 999 is said on the log; the languages without a copy field ignore it.
TEST(LabelCopies, CutTo999WithAWarning) {
  for (int model : {0, 16, 17, 18, 19, 20, 32})
    for (unsigned copies : {999u, 1000u}) {
      StringLogSink log;
      runCase(model, {.copies = copies}, &log);
      const bool warns = copies > 999 && (model == 18 || model == 19 || model == 32);
      EXPECT_EQ(
          log.text(),
          warns ? "WARNING: Page 1: 1000 copies asked for; the printer is sent at most 999\n" : "")
          << model << " " << copies;
    }
}

TEST(LabelPageEnd, CancelledZplPageDeletesTheDownloadInstead) {
  LabelJob lj(18, {{"zePrintRate", "4"}});
  Page page;
  page.header = rastertest::rasterHeader(16, 2);
  labelStartPage(lj.job, page);
  ASSERT_NE(page.CompBuffer, nullptr);
  lj.job.cancel();
  labelEndPage(lj.job, page);
  EXPECT_EQ(lj.stream(), "~DGR:CUPS.GRF,4,2,\n~DN\n");
  EXPECT_EQ(page.CompBuffer, nullptr);
  EXPECT_EQ(page.LastBuffer, nullptr);
  EXPECT_EQ(page.packedRow, nullptr);
}

// The Dymo row and label lengths, and the size of the ZPL graphic, at and beyond their fields.
TEST(LabelPageFits, RefusesNumbersBeyondTheCommandFields) {
  const struct {
    int model;
    unsigned width, height, length, dpi;  // length in points
    const char *reason;                   // how the reason starts; nullptr: fits
  } cases[] = {
      {0, 2040, 10, 72, 72, nullptr},
      {0, 2041, 10, 72, 72, "rows of 256 bytes do not fit the printer's row length (at most 255"},
      {0, 8, 10, 65535, 72, nullptr},
      {0, 8, 10, 65536, 72, "a label length of 65536 dots does not fit the printer's length"},
      {0, 8, 10, UINT_MAX, UINT_MAX, "a label length of 256204778682216903 dots does not fit"},
      {18, 8, INT_MAX, 72, 72, nullptr},
      {18, 8, 1u << 31, 72, 72, "a graphic of 2147483648 bytes does not fit the printer's"},
      {18, 16, 1u << 30, 72, 72, "a graphic of 2147483648 bytes"},
      {16, UINT_MAX, UINT_MAX, UINT_MAX, UINT_MAX, nullptr},
      {22, UINT_MAX, UINT_MAX, UINT_MAX, UINT_MAX, nullptr},
  };
  for (const auto &c : cases) {
    cups_page_header2_t header = rastertest::rasterHeader(c.width, c.height);
    header.PageSize[1] = c.length;
    header.HWResolution[1] = c.dpi;
    std::string reason;
    EXPECT_EQ(labelPageFits(c.model, header, reason), !c.reason) << c.model << " " << c.width;
    EXPECT_EQ(reason.rfind(c.reason ? c.reason : "", 0), 0u) << reason;
  }
}

}  // namespace
