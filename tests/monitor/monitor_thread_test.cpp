// The monitor thread in whole jobs, on the virtual clock: it reads the printer's volunteered
// reports while a page goes out, hands the back channel to the queries, and ends with the job at
// once (no polling tail).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/e2e_support.h"

namespace {

using runtest::FilterRun;
using runtest::FilterRunOptions;

FilterRun onePageJob(const char *ppd, std::vector<std::string> printer, int pages = 1) {
  FilterRunOptions o;
  o.ppd = e2e::projectPpd(ppd);
  o.raster = e2e::rasterFile(std::vector(static_cast<size_t>(pages), e2e::testCard(200, 100, "A4")),
                             "job.ras");
  o.emulatorArgs = std::move(printer);
  return runtest::runFilter(o);
}

// Model 302 waits after each page for the idle report, at most 30 one-second passes, asking for
// the paper in the last five: paper present ends the wait; a printer that never reports idle
// and has no paper costs all 30 passes. The queries get the back channel from the watching
// monitor thread.
TEST(MonitorThread, Model302WaitAfterThePageIsBounded) {
  struct Case {
    std::vector<std::string> printer;
    int paperQueries;
    double seconds;
  } cases[] = {
      {{"--idle-report-ms", "-1"}, 1, 26},
      {{"--idle-report-ms", "-1", "--paper-missing", "100"}, 5, 30},
      // An idle report 3 s after the page ends the wait at the first check after it.
      {{"--idle-report-ms", "3000"}, 0, 3},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.printer.back());
    FilterRun run = onePageJob("rx5k-302.ppd", c.printer);
    EXPECT_EQ(run.exitStatus, 0) << run.filterStderr;
    const std::vector<std::string> wire = e2e::wireTexts(run);
    EXPECT_EQ(std::count(wire.begin(), wire.end(), e2e::kPaperQuery), c.paperQueries);
    EXPECT_NEAR(run.seconds, c.seconds, 1e-6);
  }
}

// A job whose printer asks for no wait ends the moment its last byte is out.
TEST(MonitorThread, AJobEndsWithoutAPollingTail) {
  for (const char *ppd : {"rx5k-22.ppd", "rx5k-400.ppd", "rx5k-label-18.ppd"}) {
    FilterRun run = onePageJob(ppd, {});
    EXPECT_EQ(run.exitStatus, 0) << ppd;
    EXPECT_EQ(run.seconds, 0) << ppd;
  }
}

// An overheat volunteered while a page goes out is announced, and withdrawn when the
// temperature is normal again. (A cancel volunteered mid-job is a reference job's.)
TEST(MonitorThread, VolunteeredReportsAreReadWhileAPageGoesOut) {
  FilterRun hot = onePageJob("rx5k-22.ppd", {"--overheat-at-page", "1"}, 2);
  EXPECT_EQ(hot.pages.size(), 2u);
  EXPECT_NE(hot.filterStderr.find("INFO: The printer has overheated, please wait a moment.\n"
                                  "STATE: +fuser-over-temp-warning\n"
                                  "INFO: 1/1\nSTATE: -fuser-over-temp-warning\n"),
            std::string::npos)
      << hot.filterStderr;
}

}  // namespace
