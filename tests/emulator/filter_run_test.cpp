// The real filter under the emulator with a raster stream that holds no page: the job ends with
// status 1 and its trailer whether the stream comes as a file or on standard input. (Start
// failures, model bytes and languages are pinned by the end-to-end lifecycle tests.)
#include <gtest/gtest.h>

#include <string>

#include "support/raster_file.h"
#include "support/run_filter.h"
#include "support/test_ppd.h"

TEST(FilterRun, EmptyRasterEndsTheJobWithStatus1FromFileOrStandardInput) {
  runtest::FilterRunOptions o;
  o.ppd = runtest::testFilePath("filter-run.ppd");
  ppdtest::TestPpd ppd;
  ppd.modelNumber = 22;
  ASSERT_TRUE(ppdtest::writeTestPpd(o.ppd, ppd));
  o.raster = runtest::testFilePath("filter-run-empty.ras");
  ASSERT_TRUE(rastertest::writeRasterFile(o.raster, {}));
  const std::string trailer = "INFO: Printed data has been sent\nINFO:\n";
  for (bool viaStdin : {false, true}) {
    o.viaStdin = viaStdin;
    runtest::FilterRun r = runtest::runFilter(o);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.exitStatus, 1) << r.emulatorStderr << r.filterStderr;
    EXPECT_EQ(r.filterStderr.rfind("DEBUG:mytest：entry main\n", 0), 0u) << r.filterStderr;
    ASSERT_GE(r.filterStderr.size(), trailer.size());
    EXPECT_EQ(r.filterStderr.substr(r.filterStderr.size() - trailer.size()), trailer);
    EXPECT_EQ(r.filterStderr.find("PAGE:"), std::string::npos);
    EXPECT_EQ(r.printerStream, "");
    EXPECT_TRUE(r.pages.empty());
  }
}
