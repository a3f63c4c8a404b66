// A raster whose first page header the raster library refuses: the filter reads no page, and the
// scheduler learns why from one "ERROR:" line; the job ends with status 1.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "reliability_support.h"

namespace {

// The sync word and one page header, byte for byte (libcups's writer would recompute fields); no
// pixels, since the header is refused before them.
std::string headerOnlyRaster(const std::string &name, const cups_page_header2_t &header) {
  const std::string path = runtest::testFilePath(name + ".ras");
  std::FILE *f = std::fopen(path.c_str(), "wb");
  const unsigned sync = CUPS_RASTER_SYNC;  // native byte order
  const bool ok = f && std::fwrite(&sync, sizeof sync, 1, f) == 1 &&
                  std::fwrite(&header, sizeof header, 1, f) == 1;
  EXPECT_TRUE(f && std::fclose(f) == 0 && ok) << path;
  return path;
}

// Each header reads no page: the job ends with status 1 and exactly one "ERROR:" line, the
// library's refusal, or for the headers libcups 2.4 accepts, the filter's own reason for page 1.
TEST(RefusedHeaders, AJobWithoutAPageSaysWhyOnce) {
  const std::string refused =
      "ERROR: The raster stream's first page header was refused by the raster library";
  const struct {
    std::string name;
    void (*mutate)(cups_page_header2_t &);
    std::string error;
  } cases[] = {
      {"height-zero", [](cups_page_header2_t &h) { h.cupsHeight = 0; }, refused},
      {"row-of-partial-pixels", [](cups_page_header2_t &h) { h.cupsBytesPerLine = 191; }, refused},
      {"4e9-by-4e9",
       [](cups_page_header2_t &h) {
         h.cupsWidth = h.cupsHeight = 4000000000u;
         h.cupsBytesPerLine = 3 * h.cupsWidth;  // as a writer would compute it, wrapped
       },
       refused},
      {"width-zero", [](cups_page_header2_t &h) { h.cupsWidth = 0; },
       "ERROR: Page 1: empty page: width 0"},
      {"row-shorter-than-width", [](cups_page_header2_t &h) { h.cupsBytesPerLine = 30; },
       "ERROR: Page 1: bytes per line 30 too small for width 64"},
  };
  std::vector<runtest::FilterRunOptions> jobs;
  std::vector<std::string> errors;
  for (int model : {400, 18}) {
    for (const auto &c : cases) {
      rastertest::RasterPage page = reliability::blackPage(64, 24);
      c.mutate(page.header);
      runtest::FilterRunOptions o;
      o.name = "refused-" + c.name + "-" + std::to_string(model);
      o.ppd = reliability::modelPpd(model);
      o.raster = headerOnlyRaster(o.name, page.header);
      o.process = true;  // the exit status and standard error of the program itself
      o.timeoutSeconds = 60;
      jobs.push_back(o);
      errors.push_back(c.error);
    }
  }
  const std::vector<runtest::FilterRun> runs = reliability::runInParallel(jobs);
  for (size_t i = 0; i < runs.size(); i++) {
    SCOPED_TRACE(jobs[i].name);
    const std::string &err = runs[i].filterStderr;
    EXPECT_EQ(runs[i].error, "");
    EXPECT_EQ(runs[i].exitStatus, 1) << runs[i].emulatorStderr;
    EXPECT_NE(err.find(errors[i]), std::string::npos) << err;
    EXPECT_EQ(err.find("ERROR:"), err.rfind("ERROR:")) << err;
    EXPECT_TRUE(runs[i].pages.empty());
  }
}

}  // namespace
