// Hostile input from whoever submits a job: inconsistent or absurd raster headers, rasters cut
// short, pages beyond the memory ceiling or the address space, and option values at and beyond
// the int range. Every run must end with a defined result: no crash, no sanitizer report, the
// trailer written, and a printer stream that parses to its end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>

#include "reliability_support.h"
#include "support/test_ppd.h"

using rastertest::RasterPage;
using namespace reliability;
using runtest::FilterRun;
using runtest::FilterRunOptions;

namespace {

const char kTrailer[] = "INFO: Printed data has been sent\n";
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();
const float kHuge = std::numeric_limits<float>::max();

using Mutation = std::function<void(cups_page_header2_t &)>;

struct HeaderCase {
  const char *name;
  Mutation mutate;
};

std::string rawRaster(const std::string &name, const std::vector<RasterPage> &pages) {
  std::string path = scratchDir() + "/" + name + ".ras";
  EXPECT_TRUE(writeRawRaster(path, pages)) << path;
  return path;
}

// A black page, then the hostile page (at most a few rows of data follow its header).
std::vector<RasterPage> goodThenHostile(const Mutation &mutate) {
  RasterPage good = plainPage(64, 24, 0);
  RasterPage bad = plainPage(64, 24, 0);
  mutate(bad.header);
  bad.rowsToWrite = 4;
  return {good, bad};
}

// The hostile page alone.
std::vector<RasterPage> hostileOnly(const Mutation &mutate) {
  RasterPage page = plainPage(64, 24, 0);
  mutate(page.header);
  return {page};
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
// jobs are named "case-model".
std::vector<FilterRun> runOnModels(const std::vector<HeaderCase> &cases,
                                   const std::vector<int> &models,
                                   std::vector<RasterPage> (*pagesFor)(const Mutation &),
                                   std::vector<std::string> &names) {
  std::vector<FilterRunOptions> jobs;
  for (int model : models) {
    std::string ppd = modelPpd(model);
    for (const HeaderCase &c : cases) {
      names.push_back(std::string(c.name) + "-" + std::to_string(model));
      jobs.push_back(job(ppd, rawRaster(names.back(), pagesFor(c.mutate)), names.back()));
    }
  }
  std::vector<FilterRun> runs = runInParallel(jobs);
  for (size_t i = 0; i < runs.size(); i++) expectDefinedEnd(runs[i], names[i]);
  return runs;
}

// Headers the capture cannot read: the page is refused with one "ERROR:" line naming it, the
// job ends after page 1 with status 1, and nothing of page 2 reaches the printer.
TEST(HostileHeaders, InconsistentPagesAreRefusedWithAnErrorLine) {
  const std::vector<HeaderCase> cases = {
      {"width-zero", [](auto &h) { h.cupsWidth = 0; }},
      {"absurd-size",
       [](auto &h) {
         h.cupsWidth = 100000000u;
         h.cupsHeight = 100000000u;
         h.cupsBytesPerLine = 300000000u;
       }},
      {"absurd-height", [](auto &h) { h.cupsHeight = 4000000000u; }},
      {"row-too-short-for-width", [](auto &h) { h.cupsBytesPerLine = 30; }},
      {"cmyk",
       [](auto &h) {
         h.cupsColorSpace = CUPS_CSPACE_CMYK;
         h.cupsBitsPerPixel = 32;
         h.cupsNumColors = 4;
         h.cupsBytesPerLine = h.cupsWidth * 4;
       }},
      {"sixteen-bit",
       [](auto &h) {
         h.cupsBitsPerColor = 16;
         h.cupsBitsPerPixel = 48;
         h.cupsBytesPerLine = h.cupsWidth * 6;
       }},
      {"one-bit",
       [](auto &h) {
         h.cupsColorSpace = CUPS_CSPACE_K;
         h.cupsBitsPerColor = 1;
         h.cupsBitsPerPixel = 1;
         h.cupsNumColors = 1;
         h.cupsBytesPerLine = (h.cupsWidth + 7) / 8;
       }},
      {"banded", [](auto &h) { h.cupsColorOrder = CUPS_ORDER_BANDED; }},
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
      {"media-type-unterminated",
       [](auto &h) { std::memset(h.MediaType, 'x', sizeof h.MediaType); }},
  };
  std::vector<std::string> names;
  std::vector<FilterRun> runs = runOnModels(cases, {400, 18}, goodThenHostile, names);
  for (size_t i = 0; i < runs.size(); i++) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(runs[i].exitStatus, 1);
    EXPECT_NE(runs[i].filterStderr.find("ERROR: Page 2: "), std::string::npos)
        << runs[i].filterStderr;
    EXPECT_EQ(runs[i].filterStderr.find("ERROR: Page 1"), std::string::npos);
    EXPECT_EQ(runs[i].pages.size(), 1u) << runs[i].emulatorStdout;
  }
  std::printf(
      "hostile: %zu inconsistent headers (%zu kinds x models 400, 18): page refused with "
      "\"ERROR: Page 2: ...\", earlier page printed, exit 1\n",
      runs.size(), cases.size());
}

// Floating-point and enum fields with values no raster producer writes: the job still ends in a
// defined way on every model whose geometry or page set-up reads them.
TEST(HostileHeaders, NonFiniteAndOutOfRangeFieldsNeverCrash) {
  const std::vector<HeaderCase> cases = {
      {"nan-sizes",
       [](auto &h) {
         h.cupsPageSize[0] = h.cupsPageSize[1] = kNaN;
         for (float &f : h.cupsImagingBBox) f = kNaN;
       }},
      {"infinite-sizes",
       [](auto &h) {
         h.cupsPageSize[0] = h.cupsPageSize[1] = kInf;
         h.cupsImagingBBox[1] = -kInf;
         h.cupsImagingBBox[3] = kInf;
       }},
      {"huge-sizes",
       [](auto &h) {
         h.cupsPageSize[0] = h.cupsPageSize[1] = kHuge;
         h.cupsImagingBBox[1] = -kHuge;
         h.cupsImagingBBox[3] = kHuge;
         h.PageSize[0] = h.PageSize[1] = 4000000000u;
       }},
      {"negative-sizes",
       [](auto &h) {
         h.cupsPageSize[1] = -1e6f;
         h.cupsImagingBBox[3] = -5e5f;
       }},
      {"zero-resolution", [](auto &h) { h.HWResolution[0] = h.HWResolution[1] = 0; }},
      {"huge-resolution", [](auto &h) { h.HWResolution[0] = h.HWResolution[1] = 4000000000u; }},
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
  // The thermal models whose geometry uses the page length or a fixed paper, and the label
  // languages that turn page lengths, resolutions and counts into commands.
  std::vector<std::string> names;
  std::vector<FilterRun> runs =
      runOnModels(cases, {613207, 590314, 302, 22, 0, 17, 19, 32}, hostileOnly, names);
  std::printf(
      "hostile: %zu headers with non-finite, huge or out-of-range fields (%zu kinds x 8 "
      "models): defined end, no sanitizer report\n",
      runs.size(), cases.size());
}

// A raster cut off inside a page prints the rows that arrived; the missing rows are white. One
// cut inside the next header ends the job after the pages that were whole.
TEST(HostileHeaders, TruncatedRasterPrintsWhatArrived) {
  RasterPage first = plainPage(64, 40, 0);
  first.rowsToWrite = 10;
  std::string cutInRows = rawRaster("cut-in-rows", {first});
  std::string cutInHeader =
      rawRaster("cut-in-header", {plainPage(64, 40, 0), plainPage(64, 40, 0)});
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

// Pages whose buffers exceed the memory ceiling, or the address space the filter may use, are
// refused like inconsistent ones.
TEST(HostileHeaders, PagesBeyondTheMemoryAvailableAreRefused) {
  std::string ppd = modelPpd(400);
  // 4000 x 4000 dots need more than an 8 MiB ceiling (a small page, placed on A4 paper, needs
  // about 5 MiB); only a few rows are in the file.
  RasterPage big = plainPage(64, 24, 0);
  big.header = rastertest::rasterHeader(4000, 4000);
  big.pixels.assign(big.header.cupsBytesPerLine * 2u, 0);
  FilterRunOptions ceiling = job(ppd, rawRaster("ceiling", {plainPage(64, 24, 0), big}), "ceiling");
  ceiling.env = {"RX5K_PAGE_MEMORY_LIMIT=8M"};
  FilterRun run = runtest::runFilter(ceiling);
  expectDefinedEnd(run, "ceiling");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.filterStderr.find("ERROR: Page 2: "), std::string::npos) << run.filterStderr;
  EXPECT_EQ(run.pages.size(), 1u);

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // 30000 x 30000 dots pass a raised ceiling but not a 768 MiB address space: the allocation
  // itself fails. (The sanitizers reserve far more address space than that, hence not there.)
  RasterPage huge = big;
  huge.header = rastertest::rasterHeader(30000, 30000);
  huge.pixels.assign(huge.header.cupsBytesPerLine * 2u, 0);
  DirectRunOptions direct;
  direct.ppd = ppd;
  direct.raster = rawRaster("address-space", {plainPage(64, 24, 0), huge});
  direct.env = {"RX5K_PAGE_MEMORY_LIMIT=16G"};
  direct.addressSpaceLimit = 768ul << 20;
  DirectRunResult limited = runDirect(direct);
  EXPECT_EQ(limited.signal, 0) << limited.err;
  EXPECT_EQ(limited.exitStatus, 1) << limited.err;
  EXPECT_NE(limited.err.find("ERROR: Page 2: "), std::string::npos) << limited.err;
  EXPECT_NE(limited.err.find(kTrailer), std::string::npos);
  EXPECT_EQ(streamProblem(400, limited.out), "");
#endif

  std::printf(
      "hostile: pages beyond the memory ceiling or the address space: page refused with "
      "\"ERROR: Page 2: ...\", exit 1\n");
}

// Option values at and beyond the int range, from the PPD's marked choices and the job options:
// no overflow anywhere; a black page shifted by an absurd offset leaves a white page.
TEST(HostileOptions, NumbersBeyondTheIntRangeAreHarmless) {
  const char *extremes[] = {"2147483647", "-2147483648", "99999999999999999999999999999999999999",
                            "-9999999999999999999999999999999999999"};
  struct OptionSet {
    int model;
    std::vector<std::string> keywords;
    std::string value = {};  // of every keyword
  };
  const OptionSet models[] = {
      {400, {"AdjustHoriaontal", "AdjustVertical", "Darkness", "AdjustLight", "Rotate"}},
      {22, {"AdjustHoriaontal", "AdjustVertical", "AdjustLight", "Rotate"}},
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
    std::string ppdPath = scratchDir() + "/" + name + ".ppd";
    ASSERT_TRUE(ppdtest::writeTestPpd(ppdPath, ppd));
    // The page size on which gray mode adds 10 to the brightness offset.
    RasterPage page = plainPage(64, 24, 0);
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
