// The label languages: the page prologues and page ends, one table row per option or header
// field that changes them, fields at their largest included (the PCL first page against later
// pages, the copy count and its warning, the darkness limits, the cancelled ZPL page, the pages
// whose numbers do not fit their commands); the exact bytes of the rows where a slip would still
// decode plausibly or go unnoticed (run-count boundaries, trailing zeros, repeated rows,
// delta-row offsets, seed rows, skip counts, row length digits, complemented and inverted rows,
// the packing threshold); and every language encoded by the filter and decoded by the emulator
// giving back the page, for random and structured rows of 1 to 1000 bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "label_decoders.h"
#include "labels/labels.h"
#include "support/raster_file.h"
#include "support/test_job.h"

namespace {

using namespace std::string_literals;
using Bytes = std::string;

// A job of model on its first page, its options marked as given ({"zePrintRate", "4"}, ...),
// its stream begun with the job set-up's bytes.
struct LabelJob : TestJob {
  explicit LabelJob(int model, const std::vector<std::pair<std::string, std::string>> &marked = {})
      : TestJob(model, marked, "") {
    Setup(job, nullptr);
  }
};

// What one page sent: its prologue, its rows and its end; and the job's scheduler lines.
struct LabelRun {
  std::string prologue, rows, end, log;
};

// One page as the driver runs it: the prologue with the raster's header, every row of the
// finished page (dots: header.cupsWidth x header.cupsHeight, 0 black, 255 white), the page end.
// The rows keep the raster's width rather than the pipeline's pad to whole bytes, so that the
// packing of a last, partial byte is part of what the rows show.
LabelRun runLabel(LabelJob &lj, const cups_page_header2_t &header,
                  const std::vector<unsigned char> &dots) {
  const size_t before = lj.stream().size();
  Page page;
  page.header = header;
  lj.job.printer->startPage(page);
  page.dots = allocateDots(dots.size() + 1);
  std::copy(dots.begin(), dots.end(), page.dots.get());
  const size_t prologueEnd = lj.stream().size();
  for (unsigned y = 0; y < header.cupsHeight; y++) lj.job.printer->row(page, static_cast<int>(y));
  const size_t rowsEnd = lj.stream().size();
  lj.job.printer->endPage(page);
  const std::string all = lj.stream();
  return {all.substr(before, prologueEnd - before), all.substr(prologueEnd, rowsEnd - prologueEnd),
          all.substr(rowsEnd), lj.log()};
}

// A blank page of 800 x 600 dots, 3 inches long (609 dots at 203 dpi, 900 in 1/300 inch, 18
// lines of 12 points), as a case changes it; the options are marked on top of "Default" for
// each label option, as a PPD marks them.
struct PageEdit {
  const char *options = "";  // "keyword=choice ..."
  unsigned width = 800, height = 600, length = 216, dpi = 203, darkness = 0, copies = 1;
  const char *media = "";
  unsigned advance = 1000, rowStep = 200, rowFeed = 0, rowCount = 0;
  cups_cut_t cut = CUPS_CUT_NONE;
  int page = 1;
};

LabelRun runCase(int model, const PageEdit &e) {
  std::map<std::string, std::string> marked;
  for (const char *keyword :
       {"zePrintRate", "inPrintMode", "zeMediaTracking", "zePrintMode", "zeErrorReprint"})
    marked[keyword] = "Default";
  std::istringstream words(e.options);
  for (std::string w; words >> w;) marked[w.substr(0, w.find('='))] = w.substr(w.find('=') + 1);
  LabelJob lj(model, {marked.begin(), marked.end()});
  lj.job.Page = e.page;
  cups_page_header2_t h = rastertest::rasterHeader(e.width, e.height);
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
  return runLabel(lj, h, std::vector<unsigned char>(size_t{e.width} * e.height, 255));
}

const std::string kPclStart = "\033&l6D\033&k12H\033&l0O";
const std::string kPclRaster = "\033*t203R\033*r800S\033*r600T\033&a0H\033&a0V\033*r1A\033*b3M";
const std::string kPclFormat = kPclStart + "\033!f900Z\033&l18P\033&l0E\033&l1X\033&l0L";

// The ZPL label format around the chosen settings.
const auto zpl = [](const std::string &settings) {
  return "^XA\n" + settings + "^FO0,0^XGR:CUPS.GRF,1,1^FS\n^IDR:CUPS.GRF^FS\n^XZ\n";
};

struct CommandCase {
  int model;
  PageEdit edit;
  std::string expected;
  std::string held = "";  // a value held to its command's range: "<value> ... at <limit>"
};

// The one warning line of a held value.
std::string heldWarning(const std::string &held) {
  return held.empty() ? "" : "WARNING: Page 1: " + held + "\n";
}

TEST(LabelPage, WritesTheLanguagesPageSetUpAndEnd) {
  const CommandCase prologues[] = {
      // clang-format off
      // 288 pt at 300 dpi, 256 bytes a row (the row length field has one byte); darkness from
      // ESC c (lightest) to ESC g (darkest), nothing beyond the printer's letters.
      {0, {.width = 2048, .length = 288, .dpi = 300}, "\033L\x04\xB0\033D\0\033c"s},
      {0, {.darkness = 4}, "\033L\x02\x61\033Dd\033g"},
      {0, {.darkness = 5}, "\033L\x02\x61\033Dd\033g",
       "a darkness of 5 asked for; the printer is sent at most 4"},
      {16, {.options = "zePrintRate=3", .darkness = 50}, "\033S4\033D3\033M01\033B"},
      {16, {.copies = 1000}, "\033M01\033B"},
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
      {19, {.copies = UINT_MAX}, "! 0 203 203 600 999\r\nPAGE-WIDTH 800\r\nPAGE-HEIGHT 600\r\n",
       "4294967295 copies asked for; the printer is sent at most 999"},
      {32, {.options = "inPrintMode=Standard"}, kPclFormat + "\033&d-15A\033!p0M" + kPclRaster},
      {32, {.options = "inPrintMode=Peel", .darkness = 100, .rowStep = 7, .rowFeed = 3},
       kPclFormat + "\033!p3S\033&d15A\033!p2M\033!n7C" + kPclRaster},
      // All bits set: no darkness given. The printer settings go with the first page only.
      {32, {.options = "inPrintMode=Tear", .darkness = ~0u, .rowFeed = 3, .rowCount = 5},
       kPclFormat + "\033!p3S\033!p1M\033!n5T" + kPclRaster},
      {32, {.options = "inPrintMode=Tear", .rowFeed = 3, .page = 2}, kPclFormat + kPclRaster},
      // Value fields take up to 32767 (the page length in 1/300 inch, so 7864 points), the
      // darkness settings -15 to 15; beyond, the limit is sent.
      {32, {.options = "inPrintMode=Tear", .length = 7864, .darkness = 103, .rowFeed = 32767,
            .rowCount = 32767},
       kPclStart + "\033!f32766Z\033&l655P\033&l0E\033&l1X\033&l0L\033!p32767S\033&d15A\033!p1M"
                   "\033!n32767T" + kPclRaster},
      {32, {.length = 7865}, kPclStart + "\033!f32766Z\033&l655P\033&l0E\033&l1X\033&l0L\033&d-15A" +
                                 kPclRaster,
       "a page length of 7865 points asked for; the printer is sent at most 7864"},
      {32, {.darkness = 104}, kPclFormat + "\033&d15A" + kPclRaster,
       "a darkness setting of 16 asked for; the printer is sent at most 15"},
      {32, {.darkness = ~1u}, kPclFormat + "\033&d15A" + kPclRaster,
       "a darkness setting of 1288490173 asked for; the printer is sent at most 15"},
      {32, {.rowFeed = UINT_MAX}, kPclFormat + "\033!p32767S\033&d-15A" + kPclRaster,
       "a row feed of 4294967295 asked for; the printer is sent at most 32767"},
      {32, {.options = "inPrintMode=Tear", .rowCount = 32768},
       kPclFormat + "\033&d-15A\033!p1M\033!n32767T" + kPclRaster,
       "a row count of 32768 asked for; the printer is sent at most 32767"},
      {32, {.options = "inPrintMode=Cut", .rowStep = 32767},
       kPclFormat + "\033&d-15A\033!p2M\033!n32767C" + kPclRaster},
      {32, {.options = "inPrintMode=Cut", .rowStep = 32768},
       kPclFormat + "\033&d-15A\033!p2M\033!n32767C" + kPclRaster,
       "a row step of 32768 asked for; the printer is sent at most 32767"},
      {32, {.length = 800, .copies = 1000},
       kPclStart + "\033!f3333Z\033&l66P\033&l0E\033&l999X\033&l0L\033&d-15A" + kPclRaster,
       "1000 copies asked for; the printer is sent at most 999"},
      // clang-format on
  };
  const CommandCase ends[] = {
      // clang-format off
      // zePrintMode "Default" is a mode other than "Saved": the cutter's.
      {18, {}, zpl("^LH0,0\n^MMC,Y\n")},
      {18, {.options = "zePrintRate=4 zeMediaTracking=Continuous zePrintMode=Tear "
                       "zeErrorReprint=Always",
            .copies = 3, .media = "Thermal", .advance = 30, .rowStep = 90},
       zpl("^PR4,4,4\n^LH0,0\n^LL600\n^MNN\n^LT90\n^MTT\n^MMT,Y\n~TA030\n^JZY\n^PQ3, 0, 0, N\n")},
      {18, {.options = "zeMediaTracking=Web zePrintMode=Peel zeErrorReprint=Never",
            .media = "Direct", .advance = static_cast<unsigned>(-12)},
       zpl("^LH0,0\n^MNY\n^MTD\n^MMP,Y\n~TA-012\n^JZN\n")},
      {18, {.options = "zeMediaTracking=Mark zePrintMode=Rewind"}, zpl("^LH0,0\n^MNM\n^MMR,Y\n")},
      {18, {.options = "zePrintMode=Applicator", .copies = 1000},
       zpl("^LH0,0\n^MMA,Y\n^PQ999, 0, 0, N\n"),
       "1000 copies asked for; the printer is sent at most 999"},
      {18, {.options = "zePrintMode=Saved"}, zpl("^LH0,0\n")},
      // Label top and tear-off position take -120 to 120 dots (the header's label top is
      // unsigned), the label length up to 32000 dots; beyond, the limit is sent.
      {18, {.advance = 120, .rowStep = 120}, zpl("^LH0,0\n^LT120\n^MMC,Y\n~TA120\n")},
      {18, {.advance = static_cast<unsigned>(-120)}, zpl("^LH0,0\n^MMC,Y\n~TA-120\n")},
      {18, {.advance = 121}, zpl("^LH0,0\n^MMC,Y\n~TA120\n"),
       "a tear-off position of 121 dots asked for; the printer is sent at most 120"},
      {18, {.advance = static_cast<unsigned>(-121)}, zpl("^LH0,0\n^MMC,Y\n~TA-120\n"),
       "a tear-off position of -121 dots asked for; the printer is sent at least -120"},
      {18, {.rowStep = UINT_MAX}, zpl("^LH0,0\n^LT120\n^MMC,Y\n"),
       "a label top of 4294967295 dots asked for; the printer is sent at most 120"},
      {18, {.options = "zeMediaTracking=Continuous", .width = 8, .height = 32000},
       zpl("^LH0,0\n^LL32000\n^MNN\n^MMC,Y\n")},
      {18, {.options = "zeMediaTracking=Continuous", .width = 8, .height = 32001},
       zpl("^LH0,0\n^LL32000\n^MNN\n^MMC,Y\n"),
       "a label length of 32001 dots asked for; the printer is sent at most 32000"},
      {19, {.options = "zeErrorReprint=Always zePrintRate=4 zeMediaTracking=Continuous",
            .darkness = 10, .advance = 30, .cut = CUPS_CUT_PAGE},
       "PRESENT-AT 30 1\r\nON-OUT-OF-PAPER WAIT\r\nCUT\r\nTONE 20\r\nSPEED 4\r\nPRINT\r\n"},
      // TONE takes up to 200, PRESENT-AT 0 to 120 (the distances the printer offers).
      {19, {.darkness = 100, .advance = 120}, "PRESENT-AT 120 1\r\nTONE 200\r\nFORM\r\nPRINT\r\n"},
      {19, {.darkness = 101, .advance = 0}, "PRESENT-AT 0 1\r\nTONE 200\r\nFORM\r\nPRINT\r\n",
       "a tone of 202 asked for; the printer is sent at most 200"},
      {19, {.advance = 121}, "PRESENT-AT 120 1\r\nFORM\r\nPRINT\r\n",
       "a presentation distance of 121 dots asked for; the printer is sent at most 120"},
      {19, {.advance = UINT_MAX}, "PRESENT-AT 0 1\r\nFORM\r\nPRINT\r\n",
       "a presentation distance of -1 dots asked for; the printer is sent at least 0"},
      {19, {.options = "zeErrorReprint=Never zeMediaTracking=Web"},
       "ON-OUT-OF-PAPER PURGE\r\nFORM\r\nPRINT\r\n"},
      // clang-format on
  };
  for (const CommandCase &c : prologues) {
    const LabelRun run = runCase(c.model, c.edit);
    EXPECT_EQ(run.prologue, c.expected) << c.model << " " << c.edit.options;
    EXPECT_EQ(run.log, heldWarning(c.held)) << c.model << " " << c.edit.options;
  }
  const std::pair<unsigned, const char *> pclSizes[] = {
      {540, "\033&l80A"}, {624, "\033&l90A"}, {649, "\033&l91A"}, {684, "\033&l81A"},
      {756, "\033&l1A"},  {792, "\033&l2A"},  {842, "\033&l26A"}, {1008, "\033&l3A"}};
  for (const auto &[length, command] : pclSizes)
    EXPECT_EQ(runCase(32, {.length = length}).prologue.substr(kPclStart.size(), strlen(command)),
              command);
  for (const CommandCase &c : ends) {
    const LabelRun run = runCase(c.model, c.edit);
    EXPECT_EQ(run.end, c.expected) << c.model << " " << c.edit.options;
    EXPECT_EQ(run.log, heldWarning(c.held)) << c.model << " " << c.edit.options;
  }
}

// A value held on every page of a job is warned about on its first page only; each setting has
// its own line.
TEST(LabelPage, HeldValuesAreWarnedAboutOncePerJob) {
  LabelJob lj(18);
  cups_page_header2_t h = rastertest::rasterHeader(8, 2);
  h.NumCopies = 1000;
  h.cupsRowStep = 121;
  h.AdvanceDistance = 1000;
  for (int page = 1; page <= 2; page++) {
    lj.job.Page = page;
    EXPECT_EQ(runLabel(lj, h, std::vector<unsigned char>(16, 255)).end,
              zpl("^LH0,0\n^LT120\n^PQ999, 0, 0, N\n"));
  }
  EXPECT_EQ(
      lj.log(),
      "WARNING: Page 1: 1000 copies asked for; the printer is sent at most 999\n"
      "WARNING: Page 1: a label top of 121 dots asked for; the printer is sent at most 120\n");
}

TEST(LabelPageEnd, CancelledZplPageDeletesTheDownloadInstead) {
  LabelJob lj(18, {{"zePrintRate", "4"}});
  Page page;
  page.header = rastertest::rasterHeader(16, 2);
  lj.job.printer->startPage(page);
  lj.job.cancel();
  lj.job.printer->endPage(page);
  EXPECT_EQ(lj.stream(), "~DGR:CUPS.GRF,4,2,\n~DN\n");
}

// The Dymo label length, the EPL line-mode row length, the size of the ZPL graphic and the PCL
// raster area at and beyond their fields. (The Dymo row length at its limit is a reference
// job's.)
TEST(LabelPageFits, RefusesNumbersBeyondTheCommandFields) {
  const struct {
    int model;
    unsigned width, height, length, dpi;  // length in points
    const char *reason;                   // how the reason starts; nullptr: fits
  } cases[] = {
      {0, 8, 10, 65535, 72, nullptr},
      {0, 8, 10, 65536, 72, "a label length of 65536 dots does not fit the printer's length"},
      {0, 8, 10, UINT_MAX, UINT_MAX, "a label length of 256204778682216903 dots does not fit"},
      {18, 8, INT_MAX, 72, 72, nullptr},
      {18, 8, 1u << 31, 72, 72, "a graphic of 2147483648 bytes does not fit the printer's"},
      {18, 16, 1u << 30, 72, 72, "a graphic of 2147483648 bytes"},
      {16, 7992, 10, 72, 72, nullptr},
      {16, 7993, 10, 72, 72, "rows of 1000 bytes do not fit the printer's row length (at most 999"},
      {32, 32767, 32767, 72, 72, nullptr},
      {32, 32768, 1, 72, 72, "a raster of 32768 x 1 dots does not fit the printer's raster"},
      {32, 1, 32768, 72, 72, "a raster of 1 x 32768 dots"},
      {17, UINT_MAX, UINT_MAX, UINT_MAX, UINT_MAX, nullptr},
  };
  for (const auto &c : cases) {
    Page page;
    page.header = rastertest::rasterHeader(c.width, c.height);
    page.header.PageSize[1] = c.length;
    page.header.HWResolution[1] = c.dpi;
    std::string reason;
    LabelJob lj(c.model);
    EXPECT_EQ(lj.job.printer->pageFits(page, reason), !c.reason) << c.model << " " << c.width;
    EXPECT_EQ(reason.rfind(c.reason ? c.reason : "", 0), 0u) << reason;
  }
}

// A page whose rows are given as packed bytes (bit 7 the leftmost dot, 1 black), 8n dots wide.
LabelRun runPackedRows(LabelJob &lj, const std::vector<Bytes> &rows) {
  const size_t n = rows[0].size();
  std::vector<unsigned char> dots(8 * n * rows.size(), 255);
  for (size_t y = 0; y < rows.size(); y++)
    for (size_t x = 0; x < 8 * n; x++)
      if (static_cast<unsigned char>(rows[y][x / 8]) & (0x80 >> (x % 8))) dots[y * 8 * n + x] = 0;
  return runLabel(lj, rastertest::rasterHeader(unsigned(8 * n), unsigned(rows.size())), dots);
}

// count blank rows of row's length, then row, then a blank row (never sent where blank rows are
// counted: the page ends before they are needed).
std::vector<Bytes> afterBlanks(size_t count, const Bytes &row) {
  std::vector<Bytes> rows(count, Bytes(row.size(), '\0'));
  rows.push_back(row);
  rows.push_back(Bytes(row.size(), '\0'));
  return rows;
}

TEST(LabelRows, PagesOfPackedRows) {
  const Bytes ab = "\xAB\0"s, blank2(2, '\0'), row50(50, '\x3C'), ones(999, '\x01');
  const Bytes ten = "\1\2\3\4\5\6\7\x08\x09\x0A"s, z(10, '\0');
  const Bytes pclTen = "\033*b12W\xE0\1\2\3\4\5\6\7\x08\x20\x09\x0A"s;
  const Bytes dymo = "\x81\0\x7E"s, skip = "\033f\1"s, full = "\033f\1\xFF"s;
  const struct {
    int model;
    std::vector<Bytes> rows;
    Bytes sent;
  } cases[] = {
      // ZPL: runs of 2 and of 45 digits; a row equal to the one before is ':'. (Zero tails and
      // leading zeros are the reference jobs'.)
      {18, {"\xFF\xFF\x12"s}, "JF12"},
      {18, {Bytes(22, '\0') + "\x01" + Bytes(22, '\0')}, "hK01,"},
      {18, {blank2, ab, ab, ab, blank2, blank2, ab}, ",AB,::,:AB,"},
      // PCL: without a seed row, pieces of 8 at offset 0; equal to the seed, no data; a skip
      // clears the seed row; blank rows at the page's end are never sent.
      {32, {ten, ten, z, z, z, z, z, ten, z, z}, pclTen + "\033*b0W\033*b5Y" + pclTen},
      // Dymo: blank rows become skips of at most 255 rows.
      {0, afterBlanks(0, dymo), "\x16" + dymo},
      {0, afterBlanks(0, "\x81"s), "\x16\x81"},  // a row of one byte
      {0, afterBlanks(1, dymo), skip + "\1" + "\x16" + dymo},
      {0, afterBlanks(254, dymo), skip + "\xFE" + "\x16" + dymo},
      {0, afterBlanks(255, dymo), full + "\x16" + dymo},
      {0, afterBlanks(256, dymo), full + skip + "\1" + "\x16" + dymo},
      {0, afterBlanks(510, dymo), full + full + "\x16" + dymo},
      // A blank row at y 0, then a row at y 1: the line mode sends both, with three
      // length digits; page-mode graphics print the 0 bits, so their bytes go out complemented;
      // model 20 sends the bits inverted (a printed dot is a 0 bit).
      {16, {"\0"s, "\x5A"}, "\033g001\0\033g001\x5A"s},
      {16, {Bytes(999, '\0'), ones}, "\033g999" + Bytes(999, '\0') + "\033g999" + ones},
      {17,
       {Bytes(50, '\0'), "\xFF" + row50.substr(1)},
       "GW0,1,50,1\n\0"s + Bytes(49, '\xC3') + "\n"},
      {19, {Bytes(50, '\0'), row50}, "CG 50 1 0 1 " + row50 + "\r\n"},
      {20, {blank2, "\x80\x01"}, "\xFF\xFF\x7F\xFE"},
  };
  for (const auto &c : cases) {
    LabelJob lj(c.model);
    EXPECT_EQ(runPackedRows(lj, c.rows).rows, c.sent) << c.model << " " << &c - cases;
  }
}

TEST(ZplRuns, CountsAtTheirBoundaries) {
  // Pairs of a count and its code; past 3599 the stream form sends whole 'z's first.
  std::istringstream cases(
      "1 5  2 H5  3 I5  19 Y5  20 g5  21 gG5  45 hK5  380 y5  399 yY5  400 z5  401 zG5  800 zz5  "
      "3599 zzzzzzzzyY5  3999 zzzzzzzzzyY5  4000 zzzzzzzzzz5");
  int count;
  Bytes code;
  while (cases >> count >> code) {
    LabelJob lj(18);
    ZPLCompress(lj.job, '5', count);
    EXPECT_EQ(lj.stream(), code) << count;
    if (count > 3599) continue;
    unsigned char out[16];
    EXPECT_EQ(Bytes(reinterpret_cast<char *>(out), zplCodeRun(out, '5', count) - out), code);
  }
  EXPECT_EQ(count, 4000);
}

TEST(PclRows, OffsetAndCountEncoding) {
  const struct {
    size_t changedFrom, changedCount;  // bytes changed to '\n' from a seed of 600 bytes
    Bytes code;
  } cases[] = {
      // clang-format off
      {30, 1, "\x1E\n"}, {31, 1, "\x1F\0\n"s}, {285, 1, "\x1F\xFE\n"}, {286, 1, "\x1F\xFF\0\n"s},
      {541, 1, "\x1F\xFF\xFF\0\n"s}, {3, 8, "\xE3\n\n\n\n\n\n\n\n"},
      {592, 8, "\xFF\xFF\xFF\x33\n\n\n\n\n\n\n\n"},
      // Nine bytes from byte 0: a full piece of 8, then the ninth right after.
      {0, 9, "\xE0\n\n\n\n\n\n\n\n\0\n"s},
      // clang-format on
  };
  const Bytes seed(600, '\x55');
  for (const auto &c : cases) {
    Bytes line = seed;
    line.replace(c.changedFrom, c.changedCount, c.changedCount, '\n');
    unsigned char out[1200];
    const size_t length =
        pclCodeDeltaRow(reinterpret_cast<const unsigned char *>(line.data()),
                        reinterpret_cast<const unsigned char *>(seed.data()), line.size(), out);
    EXPECT_EQ(Bytes(reinterpret_cast<char *>(out), length), c.code) << c.changedFrom;
  }
  // The stream coder codes at most the page's row length.
}

// A page of width x height dots whose rows, packed, take one of several shapes; black dots are
// one of 0..128 and white ones one of 129..255, so that the packing threshold round-trips too.
std::vector<unsigned char> randomPage(std::mt19937 &rng, unsigned width, unsigned height) {
  const size_t n = (width + 7) / 8;
  std::vector<unsigned char> packed(n * height, 0), dots(size_t{width} * height);
  auto pick = [&](size_t limit) { return static_cast<size_t>(rng() % limit); };
  for (unsigned y = 0; y < height; y++) {
    unsigned char *row = &packed[y * n];
    const size_t shape = pick(7);  // 6: blank
    // The previous row again (2), or with a few bytes changed, far apart or in a cluster (3).
    if (y > 0 && (shape == 2 || shape == 3)) std::copy(row - n, row, row);
    for (size_t k = shape == 3 ? pick(12) : 0; k-- > 0;) row[pick(n)] ^= 1 + pick(255);
    if (shape == 3 && pick(2))
      for (size_t i = pick(n), end = std::min(n, i + 9 + pick(10)); i < end; i++) row[i] = ~row[i];
    // Noise (0), or a black start and a long zero tail (4).
    if (shape == 0 || shape == 4)
      for (size_t i = 0, end = shape ? pick(n + 1) / 4 : n; i < end; i++) row[i] = rng();
    // Runs of equal bytes, of equal hex digits and of single digits.
    for (size_t i = 0; shape == 1 && i < n;) {
      const unsigned char b = "\x00\xFF\x0F\xF0\x11\x80\x01"[pick(7)];
      for (size_t length = 1 + pick(pick(2) ? 8 : 300); length-- && i < n; i++) row[i] = b;
    }
    // A stretch of blank rows, long enough for several skips.
    if (shape == 5) y += pick(4) ? pick(20) : 250 + pick(400);
  }
  for (size_t i = 0; i < dots.size(); i++) {
    const size_t y = i / width, x = i % width;
    const bool black = packed[y * n + x / 8] & (0x80 >> (x % 8));
    dots[i] = black ? "\0\0\0\x4D\x80"[pick(5)] : "\xFF\xFF\xFF\x81\xC8"[pick(5)];
  }
  return dots;
}

unsigned randomWidth(std::mt19937 &rng) {
  // Row lengths that matter: 256 bytes and more (one-byte row length fields wrap), 1000 bytes
  // (four length digits, which the filter refuses in line mode), and small ones.
  static const unsigned kWidths[] = {1, 7, 8, 9, 2040, 2048, 2049, 2056, 7993, 8000};
  const unsigned pick = rng() % 3;
  return pick == 0 ? kWidths[rng() % 10] : 1 + rng() % (pick == 1 ? 800 : 8000);
}

// The decoded label shows the page's black dots and nothing else.
testing::AssertionResult samePicture(const emu::LabelPage &got, const cups_page_header2_t &h,
                                     const std::vector<unsigned char> &dots) {
  const int width = std::max<int>(got.width, h.cupsWidth);
  const int height = std::max<int>(got.height, h.cupsHeight);
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      const bool want =
          x < int(h.cupsWidth) && y < int(h.cupsHeight) && dots[size_t(y) * h.cupsWidth + x] <= 128;
      const bool black =
          x < got.width && y < got.height && got.dots[size_t(y) * got.width + x] == 0;
      if (want != black)
        return testing::AssertionFailure() << "dot (" << x << ", " << y << ") differs";
    }
  return testing::AssertionSuccess();
}

class LabelRoundTrip : public testing::TestWithParam<int> {};

TEST_P(LabelRoundTrip, DecodingTheStreamGivesBackEveryPage) {
  const int model = GetParam();
  // The decoded width is cupsWidth for CPCL and PCL, else the packed row's 8n dots; EPL page
  // mode's decoded height ends at the last black row.
  const bool widthIsRaster = model == 19 || model == 32, heightExact = model != 17;
  std::mt19937 rng(1234 + model);
  for (int job = 0; job < 60; job++) {
    LabelJob lj(model);
    std::vector<cups_page_header2_t> headers;
    std::vector<std::vector<unsigned char>> pages;
    // Model 20's stream has no row length: the decoder is told it, so one width per job.
    const unsigned jobWidth = randomWidth(rng);
    for (int p = 0, count = 1 + rng() % 3; p < count; p++) {
      // Some pages tall enough for blank stretches of several hundred rows between rows.
      const bool tall = rng() % 6 == 0 && (model != 20 || jobWidth <= 600);
      const unsigned width = model == 20 ? jobWidth : tall ? 1 + rng() % 600 : randomWidth(rng);
      const unsigned height = tall ? 300 + rng() % 600 : 1 + rng() % 40;
      lj.job.Page = p + 1;
      // The Dymo label length in dots is the page height at 72 dpi along the label.
      headers.push_back(rastertest::rasterHeader(width, height, 72));
      pages.push_back(randomPage(rng, width, height));
      runLabel(lj, headers.back(), pages.back());
    }
    emu::LabelDecodeOptions options;
    options.rowBytes = static_cast<int>((jobWidth + 7) / 8);
    const emu::LabelDecodeResult out = emu::decodeLabelStream(model, lj.stream(), options);
    ASSERT_TRUE(out.ok) << "job " << job << ": " << out.error;
    ASSERT_EQ(out.pages.size(), pages.size()) << "job " << job;
    for (size_t p = 0; p < pages.size(); p++) {
      const emu::LabelPage &got = out.pages[p];
      const unsigned width = headers[p].cupsWidth, height = headers[p].cupsHeight;
      EXPECT_TRUE(got.printed);
      int wantWidth = widthIsRaster ? int(width) : int((width + 7) / 8 * 8);
      // A Dymo label without a row knows its row length only modulo 256 (ESC D has one byte).
      if (model == 0 &&
          std::all_of(pages[p].begin(), pages[p].end(), [](int d) { return d > 128; }))
        wantWidth %= 256 * 8;
      EXPECT_EQ(got.width, wantWidth);
      EXPECT_TRUE(heightExact ? got.height == int(height) : got.height <= int(height));
      ASSERT_TRUE(samePicture(got, headers[p], pages[p])) << "job " << job << ", page " << p;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllLanguages, LabelRoundTrip, testing::Values(0, 16, 17, 18, 19, 20, 32),
                         [](const testing::TestParamInfo<int> &info) {
                           return "Model" + std::to_string(info.param);
                         });

}  // namespace
