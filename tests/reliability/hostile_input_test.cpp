// Hostile input from whoever submits a job: inconsistent or absurd raster headers, rasters cut
// short or empty, a page beyond the address space, and option values at and beyond the int
// range. Every run must end with a defined result: no crash, no sanitizer report, the trailer
// written, and a printer stream that parses to its end. (Values a job controls that a field
// cannot carry, forged text, page sizes just past the commands' fields and copy counts: the
// hostile reference jobs in tests/reference.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>

#include "reliability_support.h"

using rastertest::RasterPage;
using namespace reliability;
using runtest::FilterRun;
using runtest::FilterRunOptions;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kHuge = std::numeric_limits<float>::max();
const unsigned kJunk = 0xFFFFFFF0u;  // no enum holds it
using Mutation = void (*)(cups_page_header2_t &);

// A job of the pages, their headers written byte for byte.
FilterRunOptions job(const std::string &ppd, const std::vector<RasterPage> &pages,
                     const std::string &name) {
  FilterRunOptions o;
  o.ppd = ppd;
  o.raster = rasterFile(pages, name + ".ras", true);
  o.name = "reliability-" + name;
  o.timeoutSeconds = 60;
  return o;
}

// What every run must show, whatever the input.
void expectDefinedEnd(const FilterRun &run) {
  EXPECT_EQ(run.error, "");
  EXPECT_EQ(endProblem(run.filterStderr), "");
  EXPECT_TRUE(run.exitStatus == 0 || run.exitStatus == 1)
      << "status " << run.exitStatus << " (3: stream cut)\n"
      << run.emulatorStderr;
}

// Headers the capture cannot read, or whose sizes and resolutions no arithmetic can use, as page
// 1 and after a good page 1: the page is refused with one "ERROR: Page N:" line naming why, and
// the job ends before any byte of it with status 1. Headers the raster library itself refuses,
// and a raster without a page (or without even its sync word), end the job with one line that
// says so.
TEST(HostileHeaders, PagesThatCannotBeReadAreRefusedWithOneErrorLine) {
  const struct {
    const char *name;
    Mutation mutate;
    const char *reason;  // after "ERROR: Page N: "; none: the raster library refuses it, as page 1
  } refused[] = {
      {"width-zero", [](auto &h) { h.cupsWidth = 0; }, "empty page: width 0, height 24"},
      {"absurd-size",
       [](auto &h) {
         h.cupsWidth = h.cupsHeight = 100000000u;
         h.cupsBytesPerLine = 300000000u;
       },
       "page of 100000000 x 100000000 dots needs 20000003200000000 bytes, above the limit"},
      {"row-too-short-for-width", [](auto &h) { h.cupsBytesPerLine = 30; },
       "bytes per line 30 too small for width 64"},
      {"cmyk",
       [](auto &h) {
         h.cupsColorSpace = CUPS_CSPACE_CMYK;
         h.cupsBitsPerPixel = 32;
         h.cupsNumColors = 4;
         h.cupsBytesPerLine = h.cupsWidth * 4;
       },
       "unsupported raster format: 32 bits per pixel, colour space 6, order 0"},
      {"colour-space-no-enum-holds",
       [](auto &h) {
         std::memcpy(&h.cupsColorSpace, &kJunk, sizeof kJunk);
         std::memcpy(&h.cupsColorOrder, &kJunk, sizeof kJunk);
       },
       "unsupported raster format: 24 bits per pixel, colour space 4294967280, order 4294967280"},
      {"custom-string-unterminated",
       [](auto &h) { std::memset(h.cupsString[15], 'y', sizeof h.cupsString[15]); },
       "header string without its end (NUL)"},
      {"size-name-unterminated",
       [](auto &h) { std::memset(h.cupsPageSizeName, 'A', sizeof h.cupsPageSizeName); },
       "header string without its end (NUL)"},
      {"nan-sizes",
       [](auto &h) {
         h.cupsPageSize[0] = h.cupsPageSize[1] = kNaN;
         for (float &f : h.cupsImagingBBox) f = kNaN;
       },
       "page size nan x nan points or imageable area nan nan nan nan out of range"},
      {"huge-sizes",
       [](auto &h) {
         h.cupsPageSize[0] = h.cupsPageSize[1] = kHuge;
         h.cupsImagingBBox[1] = -kHuge;
         h.cupsImagingBBox[3] = kHuge;
         h.PageSize[0] = h.PageSize[1] = 4000000000u;
       },
       "page size 3.40282e+38 x 3.40282e+38 points or imageable area 0 -3.40282e+38"},
      {"zero-resolution", [](auto &h) { h.HWResolution[0] = h.HWResolution[1] = 0; },
       "resolution 0x0 dpi out of range"},
      {"height-zero", [](auto &h) { h.cupsHeight = 0; }, nullptr},
      {"row-of-partial-pixels", [](auto &h) { h.cupsBytesPerLine = 191; }, nullptr},
      {"4e9-by-4e9",
       [](auto &h) {
         h.cupsWidth = h.cupsHeight = 4000000000u;
         h.cupsBytesPerLine = 3 * h.cupsWidth;  // as a writer would compute it, wrapped
       },
       nullptr},
  };
  std::vector<FilterRunOptions> jobs;
  std::vector<std::pair<std::string, size_t>> expected;  // the error line, the pages printed
  // The bad page has a few rows of data; one the library refuses has none, so that nothing but
  // its header tells the job that the stream was not empty.
  auto add = [&](const std::string &name, int model, Mutation mutate, bool second,
                 const std::string &error) {
    RasterPage bad = blackPage(64, 24);
    if (mutate) mutate(bad.header), bad.rowsToWrite = error.rfind("ERROR: Page", 0) == 0 ? 4 : 0;
    std::vector<RasterPage> pages{bad};
    if (second) pages.insert(pages.begin(), blackPage(64, 24));
    if (!mutate) pages.clear();
    jobs.push_back(
        job(modelPpd(model), pages, name + (second ? "-2-" : "-1-") + std::to_string(model)));
    expected.push_back({error, second ? 1 : 0});
  };
  for (int model : {400, 18}) {
    for (const auto &c : refused) {
      for (bool second : {false, true}) {
        if (!c.reason && second) continue;
        add(c.name, model, c.mutate, second,
            c.reason ? "ERROR: Page " + std::to_string(1 + second) + ": " + c.reason
                     : "ERROR: The raster stream's first page header was refused by the raster "
                       "library");
      }
    }
    add("no-page", model, nullptr, false, "ERROR: The document has no pages to print");
    add("no-sync-word", model, nullptr, false, "ERROR: The document has no pages to print");
    std::ofstream(jobs.back().raster, std::ios::trunc);  // an empty file
    // One byte: too short for the sync word, yet not an empty document; nor is a sync word
    // with one byte of a header.
    for (const char *start : {"R", "RaS2x"}) {
      add(start, model, nullptr, false, "ERROR: The raster stream's first page header was");
      std::ofstream(jobs.back().raster, std::ios::trunc) << start;
    }
  }
  std::vector<FilterRun> runs = runInParallel(jobs);
  for (size_t i = 0; i < runs.size(); i++) {
    SCOPED_TRACE(jobs[i].name);
    const std::string &err = runs[i].filterStderr;
    expectDefinedEnd(runs[i]);
    EXPECT_EQ(runs[i].exitStatus, 1);
    EXPECT_NE(err.find(expected[i].first), std::string::npos) << err;
    EXPECT_EQ(err.find("ERROR:"), err.rfind("ERROR:")) << err;
    EXPECT_EQ(runs[i].pages.size(), expected[i].second) << runs[i].emulatorStdout;
    if (expected[i].second == 0) {
      EXPECT_EQ(runs[i].printerStream.find("\x1D\x76\x30"), std::string::npos);
    }
  }
  std::printf(
      "hostile: %zu inconsistent, non-finite or absurd headers (%zu kinds x models 400, 18, as "
      "page 1 and 2): page refused with one \"ERROR: Page N: ...\" line, earlier page printed, "
      "exit 1\n",
      std::size(refused) * 4 - 12, std::size(refused) - 3);
}

// Enum and count fields with values no raster producer writes: the job still ends in a defined
// way on the thermal models, whose page set-up logs every field, and the label languages that
// turn counts and media fields into commands.
TEST(HostileHeaders, OutOfRangeEnumsAndCountsNeverCrash) {
  const Mutation cases[] = {
      [](auto &h) {
        for (void *field : {static_cast<void *>(&h.AdvanceMedia), static_cast<void *>(&h.Collate),
                            static_cast<void *>(&h.CutMedia), static_cast<void *>(&h.Duplex),
                            static_cast<void *>(&h.Jog), static_cast<void *>(&h.LeadingEdge),
                            static_cast<void *>(&h.Orientation)})
          std::memcpy(field, &kJunk, sizeof kJunk);
      },
      [](auto &h) {
        h.NumCopies = 0xFFFFFFFFu;
        h.cupsCompression = 0xFFFFFFFFu;  // the label darkness
        h.cupsRowCount = h.cupsRowFeed = h.cupsRowStep = 0xFFFFFFFFu;
      },
  };
  std::vector<FilterRunOptions> jobs;
  for (int model : {613207, 590314, 302, 22, 0, 17, 19, 32}) {
    for (Mutation mutate : cases) {
      RasterPage page = blackPage(64, 24);
      mutate(page.header);
      jobs.push_back(job(modelPpd(model), {page}, std::to_string(jobs.size())));
    }
  }
  std::vector<FilterRun> runs = runInParallel(jobs);
  for (size_t i = 0; i < runs.size(); i++) {
    SCOPED_TRACE(jobs[i].ppd + " " + jobs[i].name);
    expectDefinedEnd(runs[i]);
  }
  std::printf(
      "hostile: %zu headers with out-of-range enums and counts (2 kinds x 8 models): defined "
      "end, no sanitizer report\n",
      runs.size());
}

// A raster cut off inside a page prints the rows that arrived; the missing rows are white. One
// cut inside the next header ends the job after the pages that were whole.
TEST(HostileHeaders, TruncatedRasterPrintsWhatArrived) {
  RasterPage first = blackPage(64, 40);
  first.rowsToWrite = 10;
  std::string ppd = modelPpd(400);
  FilterRunOptions cutInRows = job(ppd, {first}, "cut-in-rows");
  FilterRunOptions cutInHeader = job(ppd, {blackPage(64, 40), blackPage(64, 40)}, "cut-in-header");
  ASSERT_EQ(
      truncate(cutInHeader.raster.c_str(), 4 + 2 * sizeof(cups_page_header2_t) + 64 * 3 * 40 - 900),
      0);
  std::vector<FilterRun> runs = runInParallel({cutInRows, cutInHeader});
  for (const FilterRun &run : runs) {
    expectDefinedEnd(run);
    EXPECT_EQ(run.exitStatus, 0);
    ASSERT_EQ(run.pages.size(), 1u);
    ASSERT_EQ(run.pages[0].height, 40);
  }
  for (int y : {0, 9, 10, 39}) EXPECT_EQ(runs[0].pages[0].at(5, y), y < 10 ? 0 : 255) << y;
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
  direct.raster = rasterFile({blackPage(64, 24), huge}, "address-space.ras", true);
  direct.env = {"RX5K_PAGE_MEMORY_LIMIT=16G"};
  direct.addressSpaceLimit = 768ul << 20;
  DirectRunResult limited = runDirect(direct);
  EXPECT_EQ(limited.signal, 0) << limited.err;
  EXPECT_EQ(limited.exitStatus, 1) << limited.err;
  EXPECT_NE(limited.err.find("ERROR: Page 2: "), std::string::npos) << limited.err;
  EXPECT_EQ(endProblem(limited.err), "");
  EXPECT_EQ(emu::parseThermalStream(limited.out).error, "");
  std::printf(
      "hostile: a page beyond the address space: page refused with \"ERROR: Page 2: ...\", "
      "exit 1\n");
}

// Option values at and beyond the int range, from the PPD's marked choices and the job options:
// no overflow anywhere; a black page shifted by an absurd offset leaves a white page.
TEST(HostileOptions, NumbersBeyondTheIntRangeAreHarmless) {
  const std::pair<int, std::vector<std::string>> models[] = {
      {400, {"AdjustHoriaontal", "AdjustVertical", "Darkness", "AdjustLight", "Rotate"}},
      {23, {"AdjustHoriaontal", "AdjustVertical", "PrintMode", "Darkness"}},
      {64519, {"AdjustHoriaontal", "AdjustVertical", "Darkness"}},
      {17, {"zePrintRate"}},
      {16, {"zePrintRate"}},
  };
  // (Values beyond the range saturate to the first two in the choice parsing.) Choices that are
  // not numbers at all, and the float range of the EPL speeds, on model 17.
  std::vector<std::tuple<int, std::vector<std::string>, std::string>> sets;
  for (const char *value : {"2147483647", "-2147483648"})
    for (const auto &[model, keywords] : models) sets.push_back({model, keywords, value});
  for (const char *value : {"1e300", "-1e300", "nan", "inf", "GrayScale"})
    sets.push_back({17, {"zePrintRate"}, value});
  std::vector<FilterRunOptions> jobs;
  for (const auto &[model, keywords, value] : sets) {
    ppdtest::TestPpd ppd;
    ppd.modelNumber = model;
    ppd.defaultPageSize = "RX5_A4";
    for (const std::string &k : keywords) ppd.options.push_back({k, {"0", value}, value});
    ppd.options.push_back({"ColorOption", {"Mono", "GrayScale"}, "GrayScale"});
    std::string name = "options-" + std::to_string(model) + "-" + std::to_string(jobs.size());
    std::string ppdPath = runtest::testFilePath(name + ".ppd");
    ASSERT_TRUE(ppdtest::writeTestPpd(ppdPath, ppd));
    // The page size on which gray mode adds 10 to the brightness offset.
    RasterPage page = blackPage(64, 24);
    std::strncpy(page.header.cupsPageSizeName, "RX5_A4", sizeof page.header.cupsPageSizeName);
    jobs.push_back(job(ppdPath, {page}, name));
    jobs.back().jobOptions = "com.apple.print.PrintSettings.PMTotalSidesImaged..n.=" + value;
  }
  std::vector<FilterRun> runs = runInParallel(jobs);
  for (size_t i = 0; i < runs.size(); i++) {
    SCOPED_TRACE(jobs[i].name + " = " + std::get<2>(sets[i]));
    expectDefinedEnd(runs[i]);
    EXPECT_EQ(runs[i].exitStatus, 0) << runs[i].filterStderr;
    ASSERT_EQ(runs[i].pages.size(), 1u) << runs[i].emulatorStdout;
    const auto &dots = runs[i].pages[0].dots;
    const bool offThePage = std::get<1>(sets[i])[0] == "AdjustHoriaontal";
    EXPECT_TRUE(!offThePage || std::count(dots.begin(), dots.end(), 0) == 0)
        << "the picture lies off the page";
  }
  std::printf(
      "hostile: %zu option sets at and beyond the int range, non-numeric and float-range "
      "choices: page printed, exit 0\n",
      runs.size());
}

}  // namespace
