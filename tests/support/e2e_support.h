// Shared pieces of the end-to-end tests: raster files, the project's PPDs, test cards and the
// thermal wire as the printer received it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/raster_file.h"
#include "support/reports.h"
#include "support/run_filter.h"
#include "support/test_ppd.h"

namespace e2e {

// Writes pages to a raster file of the current test (runtest::testFilePath) and returns its path;
// raw: the headers byte for byte (rastertest::writeRawRaster).
std::string rasterFile(const std::vector<rastertest::RasterPage> &pages,
                       const std::string &name = "job.ras", bool raw = false);
// An all-black page of width x height dots, RGB at 203 dpi.
rastertest::RasterPage blackPage(unsigned width, unsigned height);
// Runs the jobs, `workers` at a time; the results in the order of the jobs.
std::vector<runtest::FilterRun> runInParallel(const std::vector<runtest::FilterRunOptions> &jobs,
                                              size_t workers = 4);
// A project PPD compiled by the build (build/ppd/NAME).
std::string projectPpd(const std::string &name);

// A test card of width x height dots at 203 dpi: every luminance occurs, in no symmetric order,
// so a wrong threshold, turn or shift shows.
rastertest::RasterPage testCard(unsigned width, unsigned height, const char *sizeName);
// The luminance of the test card's dot (x, y).
unsigned char testCardDot(unsigned x, unsigned y);

// One thing the printer received, in stream order, from the emulator's log.
struct WireItem {
  double time = 0;   // seconds after the job started
  std::string text;  // see wireItems
};
// What the printer received: each command as its bytes in hex ("1F 11 02 04"), every run of
// filler as "00 x N", every drain request as "drain", and the data of each bitmap as "data"
// (the drains that follow its 1024-byte pieces inside the data are checked and folded in; a
// wrong count shows as "data with N inner drains for L bytes"). Answers and reports are left
// out. Thermal streams only.
std::vector<WireItem> wireItems(const runtest::FilterRun &run);
// The texts of wireItems.
std::vector<std::string> wireTexts(const runtest::FilterRun &run);
// The bytes as spaced hex, as in wireItems ("1D 76 30 00 08 00 28 00").
std::string hex(std::initializer_list<int> values);
// Items of the thermal transmission.
inline const std::string kDrain = "drain";
inline const std::string kFiller = "00 x2048";
inline const std::string kPaperQuery = "1F 11 11";
inline const std::string kCoverQuery = "1F 11 12";
inline const std::string kIdleQuery = "1F 11 43";

// A page's transmission from its first drain to the drain after its data: the filler block
// when filler, the compression switch, the bitmap command and the data.
std::vector<std::string> transmission(bool filler, bool compressed, int width, int height);
// Status queries as the wire shows them: each query followed by its drain.
std::vector<std::string> asked(std::initializer_list<std::string> queries);
// The lists one after another.
std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts);

// Where two byte streams part: "" when equal, else the offset, both lengths and up to 16 bytes
// of each from there in hex.
std::string firstDifference(const std::string &a, const std::string &b);

}  // namespace e2e
