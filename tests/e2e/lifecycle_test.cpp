// The job lifecycle where the recorded reference jobs do not reach: start failures of the real
// filter program. (Empty jobs: the reference jobs and HostileHeaders; cancellation: the
// reference jobs and the reliability tests; progress lines and Chinese messages: the reference
// jobs.)
#include <gtest/gtest.h>

#include "support/e2e_support.h"
#include "support/test_ppd.h"

using ppdtest::modelPpd;
using runtest::FilterRunOptions;
using runtest::runFilter;

namespace {

const char kTrailer[] = "INFO: Printed data has been sent\n";

// The program's arguments and environment: a process only.
TEST(Lifecycle, StartFailuresGiveTheirMessageAndExitStatus) {
  FilterRunOptions o;
  o.ppd = modelPpd(22);
  o.process = true;

  o.emulatorArgs = {"--argv", "1", "--argv", "user"};
  auto wrongCount = runFilter(o);
  EXPECT_EQ(wrongCount.exitStatus, 1);
  EXPECT_EQ(wrongCount.filterStderr, "DEBUG:mytest：entry main\n");

  o.emulatorArgs = {"--argv", "1", "--argv", "u", "--argv", "t",
                    "--argv", "1", "--argv", "",  "--argv", "/nonexistent/job.ras"};
  auto noRaster = runFilter(o);
  EXPECT_EQ(noRaster.exitStatus, 1);
  EXPECT_NE(noRaster.filterStderr.find("ERROR"), std::string::npos);
  EXPECT_NE(noRaster.filterStderr.find("Unable to open raster file"), std::string::npos);
  EXPECT_TRUE(noRaster.printerStream.empty());

  o.emulatorArgs = {};
  o.env = {"PPD=/nonexistent/printer.ppd"};
  o.raster = e2e::rasterFile({rastertest::whitePage(rastertest::rasterHeader(64, 40))});
  auto noPpd = runFilter(o);
  EXPECT_EQ(noPpd.exitStatus, 1);
  EXPECT_NE(noPpd.filterStderr.find("DEBUG: "), std::string::npos);
  EXPECT_NE(noPpd.filterStderr.find(" on line "), std::string::npos);
  EXPECT_EQ(noPpd.filterStderr.find(kTrailer), std::string::npos);
}

}  // namespace
