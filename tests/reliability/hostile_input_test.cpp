// Hostile input from whoever submits a job: inconsistent or absurd raster headers, rasters cut
// short, a page beyond the address space, and option values at and beyond
// the int range. Every run must end with a defined result: no crash, no sanitizer report, the
// trailer written, and a printer stream that parses to its end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "reliability_support.h"
#include "scheduler_lines.h"
#include "support/test_ppd.h"

using rastertest::RasterPage;
using namespace reliability;
using runtest::FilterRun;
using runtest::FilterRunOptions;

namespace {

const char kTrailer[] = "INFO: Printed data has been sent\n";
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kHuge = std::numeric_limits<float>::max();

struct HeaderCase {
  const char *name;
  void (*mutate)(cups_page_header2_t &);
};

// Writes the pages as an uncompressed raster with their headers byte for byte (libcups's writer
// would recompute some fields), each with rowsToWrite rows of its pixels (-1: every whole row).
std::string rawRaster(const std::string &name, const std::vector<RasterPage> &pages) {
  std::string path = runtest::testFilePath(name + ".ras");
  FILE *f = std::fopen(path.c_str(), "wb");
  const unsigned sync = CUPS_RASTER_SYNC;  // native byte order
  bool ok = f && std::fwrite(&sync, sizeof sync, 1, f) == 1;
  for (const RasterPage &page : pages) {
    size_t bytes = page.pixels.size();
    if (page.rowsToWrite >= 0)
      bytes = std::min(bytes, size_t{page.header.cupsBytesPerLine} * size_t(page.rowsToWrite));
    ok = ok && std::fwrite(&page.header, sizeof page.header, 1, f) == 1 &&
         (bytes == 0 || std::fwrite(page.pixels.data(), 1, bytes, f) == bytes);
  }
  EXPECT_TRUE(f && std::fclose(f) == 0 && ok) << path;
  return path;
}

// What every run must show, whatever the input.
void expectDefinedEnd(const FilterRun &run, const std::string &what) {
  SCOPED_TRACE(what);
  EXPECT_TRUE(run.error.empty()) << run.error;
  EXPECT_EQ(sanitizerReport(run.filterStderr), "");
  EXPECT_TRUE(run.exitStatus == 0 || run.exitStatus == 1)
      << "status " << run.exitStatus << " (3: stream cut, >128: signal)\n"
      << run.emulatorStderr;
  EXPECT_NE(run.filterStderr.find(kTrailer), std::string::npos);
  EXPECT_NE(run.filterStderr.find("INFO:\n"), std::string::npos);
}

FilterRunOptions job(const std::string &ppd, const std::string &raster, const std::string &name) {
  FilterRunOptions o;
  o.ppd = ppd;
  o.raster = raster;
  o.name = "reliability-" + name;
  o.timeoutSeconds = 60;
  return o;
}

// Every header case on every model, four jobs at a time, each run with the defined end; the
// jobs are named "case-model". The hostile page is black; after a good black page only a few
// rows of its data follow its header.
std::vector<FilterRun> runOnModels(const std::vector<HeaderCase> &cases,
                                   const std::vector<int> &models, bool afterAGoodPage,
                                   std::vector<std::string> &names) {
  std::vector<FilterRunOptions> jobs;
  for (int model : models) {
    std::string ppd = modelPpd(model);
    for (const HeaderCase &c : cases) {
      RasterPage bad = blackPage(64, 24);
      c.mutate(bad.header);
      std::vector<RasterPage> pages{bad};
      if (afterAGoodPage) bad.rowsToWrite = 4, pages = {blackPage(64, 24), bad};
      names.push_back(std::string(c.name) + "-" + std::to_string(model));
      jobs.push_back(job(ppd, rawRaster(names.back(), pages), names.back()));
    }
  }
  std::vector<FilterRun> runs = runInParallel(jobs);
  for (size_t i = 0; i < runs.size(); i++) expectDefinedEnd(runs[i], names[i]);
  return runs;
}

// Headers the capture cannot read, or whose sizes and resolutions no arithmetic can use: the
// page is refused with one "ERROR:" line naming it, the job ends after page 1 with status 1,
// and nothing of page 2 reaches the printer.
TEST(HostileHeaders, InconsistentPagesAreRefusedWithAnErrorLine) {
  const std::vector<HeaderCase> cases = {
      {"width-zero", [](auto &h) { h.cupsWidth = 0; }},
      {"absurd-size",
       [](auto &h) {
         h.cupsWidth = 100000000u;
         h.cupsHeight = 100000000u;
         h.cupsBytesPerLine = 300000000u;
       }},
      {"row-too-short-for-width", [](auto &h) { h.cupsBytesPerLine = 30; }},
      {"cmyk",
       [](auto &h) {
         h.cupsColorSpace = CUPS_CSPACE_CMYK;
         h.cupsBitsPerPixel = 32;
         h.cupsNumColors = 4;
         h.cupsBytesPerLine = h.cupsWidth * 4;
       }},
      {"colour-space-no-enum-holds",
       [](auto &h) {
         unsigned junk = 0xFFFFFFF0u;
         std::memcpy(&h.cupsColorSpace, &junk, sizeof junk);
         std::memcpy(&h.cupsColorOrder, &junk, sizeof junk);
       }},
      {"custom-string-unterminated",
       [](auto &h) { std::memset(h.cupsString[15], 'y', sizeof h.cupsString[15]); }},
      {"size-name-unterminated",
       [](auto &h) { std::memset(h.cupsPageSizeName, 'A', sizeof h.cupsPageSizeName); }},
      {"nan-sizes",
       [](auto &h) {
         h.cupsPageSize[0] = h.cupsPageSize[1] = kNaN;
         for (float &f : h.cupsImagingBBox) f = kNaN;
       }},
      {"huge-sizes",
       [](auto &h) {
         h.cupsPageSize[0] = h.cupsPageSize[1] = kHuge;
         h.cupsImagingBBox[1] = -kHuge;
         h.cupsImagingBBox[3] = kHuge;
         h.PageSize[0] = h.PageSize[1] = 4000000000u;
       }},
      {"zero-resolution", [](auto &h) { h.HWResolution[0] = h.HWResolution[1] = 0; }},
  };
  std::vector<std::string> names;
  std::vector<FilterRun> runs = runOnModels(cases, {400, 18}, true, names);
  for (size_t i = 0; i < runs.size(); i++) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(runs[i].exitStatus, 1);
    EXPECT_NE(runs[i].filterStderr.find("ERROR: Page 2: "), std::string::npos)
        << runs[i].filterStderr;
    EXPECT_EQ(runs[i].filterStderr.find("ERROR: Page 1"), std::string::npos);
    EXPECT_EQ(runs[i].pages.size(), 1u) << runs[i].emulatorStdout;
  }
  std::printf(
      "hostile: %zu inconsistent, non-finite or absurd headers (%zu kinds x models 400, 18): "
      "page refused with "
      "\"ERROR: Page 2: ...\", earlier page printed, exit 1\n",
      runs.size(), cases.size());
}

// Enum and count fields with values no raster producer writes: the job still ends in a defined
// way on every model whose page set-up or commands read them.
TEST(HostileHeaders, OutOfRangeEnumsAndCountsNeverCrash) {
  const std::vector<HeaderCase> cases = {
      {"enums-out-of-range",
       [](auto &h) {
         unsigned junk = 0xFFFFFFF0u;
         for (void *field : {static_cast<void *>(&h.AdvanceMedia), static_cast<void *>(&h.Collate),
                             static_cast<void *>(&h.CutMedia), static_cast<void *>(&h.Duplex),
                             static_cast<void *>(&h.Jog), static_cast<void *>(&h.LeadingEdge),
                             static_cast<void *>(&h.Orientation)})
           std::memcpy(field, &junk, sizeof junk);
       }},
      {"counts-at-maximum",
       [](auto &h) {
         h.NumCopies = 0xFFFFFFFFu;
         h.cupsCompression = 0xFFFFFFFFu;  // the label darkness
         h.cupsRowCount = h.cupsRowFeed = h.cupsRowStep = 0xFFFFFFFFu;
       }},
  };
  // Thermal models, whose page set-up logs every field, and the label languages that turn counts
  // and media fields into commands.
  std::vector<std::string> names;
  std::vector<FilterRun> runs =
      runOnModels(cases, {613207, 590314, 302, 22, 0, 17, 19, 32}, false, names);
  std::printf(
      "hostile: %zu headers with out-of-range enums and counts (%zu kinds x 8 models): defined "
      "end, no sanitizer report\n",
      runs.size(), cases.size());
}

// Values a job controls that a field cannot carry: text never starts a scheduler line, and a
// page whose numbers do not fit its commands is refused before any byte of it; copy counts are
// limited; the Dymo darkness stays a density letter. Every job's stream still parses to exactly
// the pages the filter sent.
TEST(HostileValues, NeverBecomeSchedulerLinesOrPrinterCommands) {
  auto sized = [](unsigned w, unsigned h, const char *name, unsigned lengthPoints = 0) {
    RasterPage p = blackPage(w, h);
    std::strncpy(p.header.cupsPageSizeName, name, sizeof p.header.cupsPageSizeName - 1);
    if (lengthPoints) p.header.PageSize[1] = lengthPoints;
    return p;
  };
  RasterPage text = blackPage(64, 24);
  const char *forged = "A4\nPPD: DefaultPageSize=Letter\nSTATE: +media-empty\rATTR: x=1";
  for (char *field : {text.header.MediaClass, text.header.MediaColor, text.header.MediaType,
                      text.header.OutputType, text.header.cupsPageSizeName})
    std::strncpy(field, forged, 63);
  RasterPage copies = blackPage(64, 24);
  copies.header.NumCopies = 2147483647u;
  copies.header.cupsCompression = 200;
  // A wide page at 20 dpi stays within the memory ceiling.
  auto lowResolution = [](RasterPage p) {
    p.header.HWResolution[0] = p.header.HWResolution[1] = 20;
    return p;
  };
  // Page lengths whose rows (length x 203 / 72, truncated) are 65535 and 65536.
  auto lengthOf = [](RasterPage p, float rows) {
    p.header.cupsPageSize[1] = p.header.cupsImagingBBox[3] = (rows + 0.5f) * 72.0f / 203;
    return p;
  };
  struct Case {
    const char *name;
    int model;
    std::vector<RasterPage> pages;
    bool refused;          // "ERROR: Page 1: ..." and nothing of the page on the wire
    std::string inStream;  // bytes the stream must hold
  } cases[] = {
      {"strings-22", 22, {text}, false, ""},
      {"strings-18", 18, {text}, false, ""},
      {"rows-65535", 613207, {lengthOf(sized(16, 8, "Custom"), 65535)}, false, ""},
      {"rows-65536", 613207, {lengthOf(sized(16, 8, "Custom"), 65536)}, true, ""},
      {"row-bytes-65535", 21, {lowResolution(sized(524280, 1, "Custom"))}, false, ""},
      {"row-bytes-65536", 21, {lowResolution(sized(524281, 1, "Custom"))}, true, ""},
      {"dymo-255-bytes", 0, {sized(2040, 4, "w1")}, false, ""},
      {"dymo-256-bytes", 0, {sized(2041, 4, "w1")}, true, ""},
      {"dymo-length", 0, {sized(8, 4, "w1", 23245)}, true, ""},
      {"dymo-darkness",
       0,
       {copies},
       false,
       "\x1B"
       "g"},
      {"copies-18", 18, {copies}, false, "^PQ999, 0, 0, N\n"},
      {"copies-19", 19, {copies}, false, " 999\r\n"},
      {"copies-32", 32, {copies}, false, "\x1B&l999X"},
  };
  for (Case &c : cases) {
    SCOPED_TRACE(c.name);
    FilterRunOptions o = job(modelPpd(c.model), rawRaster(c.name, c.pages), c.name);
    o.jobOptions = "'evil\nPPD: x=y'='v\rSTATE: +x'";
    FilterRun run = runtest::runFilter(o);
    EXPECT_EQ(runner::lineTheFilterDidNotChoose(run.filterStderr), "");
    EXPECT_EQ(run.filterStderr.find("ERROR: Page 1: ") != std::string::npos, c.refused);
    EXPECT_EQ(run.exitStatus, c.refused ? 1 : 0) << run.emulatorStderr;
    EXPECT_EQ(run.pages.size(), c.refused ? 0u : 1u);
    if (c.refused) {
      EXPECT_EQ(run.printerStream.find("\x1D\x76\x30"), std::string::npos);
      EXPECT_EQ(run.printerStream.find("\x1F\x11"), std::string::npos);
    }
    EXPECT_NE(run.printerStream.find(c.inStream), std::string::npos);
  }
}

// A raster cut off inside a page prints the rows that arrived; the missing rows are white. One
// cut inside the next header ends the job after the pages that were whole.
TEST(HostileHeaders, TruncatedRasterPrintsWhatArrived) {
  RasterPage first = blackPage(64, 40);
  first.rowsToWrite = 10;
  std::string cutInRows = rawRaster("cut-in-rows", {first});
  std::string cutInHeader = rawRaster("cut-in-header", {blackPage(64, 40), blackPage(64, 40)});
  ASSERT_TRUE(rastertest::truncateFile(cutInHeader,
                                       4 + 2 * sizeof(cups_page_header2_t) + 64 * 3 * 40 - 900));
  std::string ppd = modelPpd(400);
  std::vector<FilterRun> runs =
      runInParallel({job(ppd, cutInRows, "cut-in-rows"), job(ppd, cutInHeader, "cut-in-header")});

  expectDefinedEnd(runs[0], "cut in rows");
  EXPECT_EQ(runs[0].exitStatus, 0);
  ASSERT_EQ(runs[0].pages.size(), 1u);
  const runtest::DecodedPage &page = runs[0].pages[0];
  ASSERT_EQ(page.height, 40);
  for (int y : {0, 9, 10, 39}) {
    SCOPED_TRACE(y);
    EXPECT_EQ(page.at(5, y), y < 10 ? 0 : 255);
  }

  expectDefinedEnd(runs[1], "cut in header");
  EXPECT_EQ(runs[1].exitStatus, 0);
  EXPECT_EQ(runs[1].pages.size(), 1u);
  std::printf(
      "hostile: 2 truncated rasters (inside rows, inside a header): rows that arrived "
      "printed, the rest white, exit 0\n");
}

// A page that passes a raised memory ceiling but not the filter's address space: the allocation
// itself fails, and the page is refused like an inconsistent one. (The ceiling alone is the
// header checks' business, pinned by their unit tests.)
TEST(HostileHeaders, PagesBeyondTheMemoryAvailableAreRefused) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' own address space reservation is larger than the limit";
#endif
  RasterPage huge = blackPage(64, 24);
  huge.header = rastertest::rasterHeader(30000, 30000);
  huge.pixels.assign(huge.header.cupsBytesPerLine * 2u, 0);
  DirectRunOptions direct;
  direct.ppd = modelPpd(400);
  direct.raster = rawRaster("address-space", {blackPage(64, 24), huge});
  direct.env = {"RX5K_PAGE_MEMORY_LIMIT=16G"};
  direct.addressSpaceLimit = 768ul << 20;
  DirectRunResult limited = runDirect(direct);
  EXPECT_EQ(limited.signal, 0) << limited.err;
  EXPECT_EQ(limited.exitStatus, 1) << limited.err;
  EXPECT_NE(limited.err.find("ERROR: Page 2: "), std::string::npos) << limited.err;
  EXPECT_NE(limited.err.find(kTrailer), std::string::npos);
  EXPECT_EQ(streamProblem(400, limited.out), "");
  std::printf(
      "hostile: a page beyond the address space: page refused with \"ERROR: Page 2: ...\", "
      "exit 1\n");
}

// Option values at and beyond the int range, from the PPD's marked choices and the job options:
// no overflow anywhere; a black page shifted by an absurd offset leaves a white page.
TEST(HostileOptions, NumbersBeyondTheIntRangeAreHarmless) {
  // (Values beyond the range saturate to these two in the choice parsing.)
  const char *extremes[] = {"2147483647", "-2147483648"};
  struct OptionSet {
    int model;
    std::vector<std::string> keywords;
    std::string value = {};  // of every keyword
  };
  const OptionSet models[] = {
      {400, {"AdjustHoriaontal", "AdjustVertical", "Darkness", "AdjustLight", "Rotate"}},
      {23, {"AdjustHoriaontal", "AdjustVertical", "PrintMode", "Darkness"}},
      {64519, {"AdjustHoriaontal", "AdjustVertical", "Darkness"}},
      {17, {"zePrintRate"}},
      {16, {"zePrintRate"}},
  };
  std::vector<OptionSet> sets;
  for (const OptionSet &set : models)
    for (const char *value : extremes) sets.push_back({set.model, set.keywords, value});
  // Choices that are not numbers at all, and the float range of the EPL speeds.
  for (const char *value : {"1e300", "-1e300", "nan", "inf", "GrayScale"})
    sets.push_back({17, {"zePrintRate"}, value});
  std::vector<FilterRunOptions> jobs;
  for (const OptionSet &set : sets) {
    ppdtest::TestPpd ppd;
    ppd.modelNumber = set.model;
    ppd.defaultPageSize = "RX5_A4";
    for (const std::string &k : set.keywords)
      ppd.options.push_back({k, {"0", set.value}, set.value});
    ppd.options.push_back({"ColorOption", {"Mono", "GrayScale"}, "GrayScale"});
    std::string name = "options-" + std::to_string(set.model) + "-" + std::to_string(jobs.size());
    std::string ppdPath = runtest::testFilePath(name + ".ppd");
    ASSERT_TRUE(ppdtest::writeTestPpd(ppdPath, ppd));
    // The page size on which gray mode adds 10 to the brightness offset.
    RasterPage page = blackPage(64, 24);
    std::strncpy(page.header.cupsPageSizeName, "RX5_A4", sizeof page.header.cupsPageSizeName);
    jobs.push_back(job(ppdPath, rawRaster(name, {page}), name));
    jobs.back().jobOptions = "com.apple.print.PrintSettings.PMTotalSidesImaged..n.=" + set.value;
  }
  std::vector<FilterRun> runs = runInParallel(jobs);
  for (size_t i = 0; i < runs.size(); i++) {
    std::string what = jobs[i].name + " = " + sets[i].value;
    SCOPED_TRACE(what);
    expectDefinedEnd(runs[i], what);
    EXPECT_EQ(runs[i].exitStatus, 0) << runs[i].filterStderr;
    ASSERT_EQ(runs[i].pages.size(), 1u) << runs[i].emulatorStdout;
    if (sets[i].keywords[0] == "AdjustHoriaontal") {
      const auto &dots = runs[i].pages[0].dots;
      EXPECT_EQ(std::count(dots.begin(), dots.end(), 0), 0) << "the picture lies off the page";
    }
  }
  std::printf(
      "hostile: %zu option sets at and beyond the int range, non-numeric and float-range "
      "choices: page printed, exit 0\n",
      runs.size());
}

}  // namespace
