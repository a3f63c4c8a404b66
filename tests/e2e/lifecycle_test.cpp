// The job lifecycle of the real filter program under the printer emulator: the end of an empty
// job on the models that wait for an idle printer, and the progress lines of a job read from
// standard input. (Start failures, the job-level bytes of an empty job and the Chinese trailer
// are shown by the emulator's filter-run tests; SIGTERM at every moment by the reliability
// trials.)
#include <gtest/gtest.h>

#include <fstream>

#include "e2e_support.h"

using runtest::FilterRunOptions;
using runtest::runFilter;

namespace {

const char kTrailer[] = "INFO: Printed data has been sent\n";

std::string modelPpd(int model) {
  ppdtest::TestPpd ppd;
  ppd.modelNumber = model;
  std::string path = e2e::scratchDir() + "/model" + std::to_string(model) + ".ppd";
  EXPECT_TRUE(ppdtest::writeTestPpd(path, ppd)) << path;
  return path;
}

TEST(Lifecycle, EmptyRasterOnIdleWaitingModelsEndsWithIdleQueriesAndStatusOne) {
  std::string empty = e2e::scratchDir() + "/empty.ras";  // not even the raster's sync word
  std::ofstream{empty};
  for (int model : {831, 64519}) {
    SCOPED_TRACE(model);
    FilterRunOptions o;
    o.ppd = modelPpd(model);
    o.viaStdin = true;
    o.raster = empty;
    o.name = "empty-" + std::to_string(model);
    auto run = runFilter(o);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.filterStderr.find(std::string(kTrailer) + "INFO:\n"), std::string::npos);
    EXPECT_NE(run.printerStream.find(e2e::bytes({0x1F, 0x11, 0x43})), std::string::npos);
  }
}

TEST(Lifecycle, ProgressLinesCountPagesAgainstTheAnnouncedTotal) {
  FilterRunOptions o;
  o.ppd = modelPpd(400);  // no ready wait, no pause between pages
  o.raster =
      e2e::rasterFile(std::vector(2, rastertest::whitePage(rastertest::rasterHeader(64, 40))));
  o.viaStdin = true;
  // (No "media" option here: libcups 2.4.2 leaks a few bytes in cupsMarkOptions for it with
  // this test PPD, which the leak checker of the sanitizer run would report.)
  o.jobOptions = "com.apple.print.PrintSettings.PMTotalSidesImaged..n.=2 x-note=A4";
  auto run = runFilter(o);
  EXPECT_EQ(run.exitStatus, 0) << run.filterStderr;
  const std::string &err = run.filterStderr;
  for (const char *line :
       {"mytest: x-note is A4\n", "mytest:TotalPage: 2\n", "PAGE: 1 1\n", "PAGE: 2 1\n",
        "INFO: 1/2\n", "INFO: 2/2\n", "ATTR: job-media-progress=0\n"})
    EXPECT_NE(err.find(line), std::string::npos) << line;
  EXPECT_LT(err.find("PAGE: 2 1\n"), err.find(kTrailer));
  EXPECT_EQ(err.substr(err.size() - 6), "INFO:\n");

  // Without the option every progress line says 1; a non-numeric value says 0.
  const char *totals[][3] = {
      {"no-total", "", "INFO: 2/1\n"},
      {"bad-total", "com.apple.print.PrintSettings.PMTotalSidesImaged..n.=many", "INFO: 2/0\n"}};
  for (const auto &[name, options, line] : totals) {
    o.name = name;
    o.jobOptions = options;
    EXPECT_NE(runFilter(o).filterStderr.find(line), std::string::npos) << line;
  }
}

}  // namespace
