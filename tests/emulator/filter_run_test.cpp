// The real filter under the emulator, as the scheduler runs it: job start, exit status and the
// job-level output that does not depend on pages.
#include <gtest/gtest.h>

#include <string>

#include "support/raster_file.h"
#include "support/run_filter.h"
#include "support/test_ppd.h"

namespace {

const char kEntryLine[] = "DEBUG:mytest：entry main\n";

std::string writePpd(int model) {
  std::string path = runtest::testFilePath("filter-run-" + std::to_string(model) + ".ppd");
  ppdtest::TestPpd ppd;
  ppd.modelNumber = model;
  EXPECT_TRUE(ppdtest::writeTestPpd(path, ppd));
  return path;
}

// A raster stream without a single page.
std::string emptyRaster() {
  std::string path = runtest::testFilePath("filter-run-empty.ras");
  EXPECT_TRUE(rastertest::writeRasterFile(path, {}));
  return path;
}

bool endsWith(const std::string &s, const std::string &tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(FilterRun, EmptyRasterEndsTheJobWithStatus1FromFileOrStandardInput) {
  for (bool viaStdin : {false, true}) {
    runtest::FilterRunOptions o;
    o.ppd = writePpd(22);
    o.raster = emptyRaster();
    o.viaStdin = viaStdin;
    runtest::FilterRun r = runtest::runFilter(o);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.exitStatus, 1) << r.emulatorStderr << r.filterStderr;
    EXPECT_EQ(r.filterStderr.rfind(kEntryLine, 0), 0u) << r.filterStderr;
    EXPECT_NE(r.filterStderr.find("INFO: Printed data has been sent\n"), std::string::npos);
    EXPECT_TRUE(endsWith(r.filterStderr, "INFO:\n")) << r.filterStderr;
    EXPECT_EQ(r.filterStderr.find("PAGE:"), std::string::npos);
    EXPECT_EQ(r.printerStream, "");
    EXPECT_TRUE(r.pages.empty());
  }
}

TEST(FilterRun, JobLevelBytesOfModels0_32And400) {
  const struct {
    int model;
    std::string bytes;
  } cases[] = {
      {0, std::string(100, '\x1B') + "\x1B@"},
      {32,
       "\x1B"
       "E"},
      {400, "\x1B\x64\x02"},
      {21, ""},
  };
  for (const auto &c : cases) {
    runtest::FilterRunOptions o;
    o.ppd = writePpd(c.model);
    o.raster = emptyRaster();
    runtest::FilterRun r = runtest::runFilter(o);
    EXPECT_EQ(r.exitStatus, 1) << c.model << r.emulatorStderr;
    EXPECT_EQ(r.printerStream, c.bytes) << c.model;
  }
}

TEST(FilterRun, StartFailuresExitWith1) {
  runtest::FilterRunOptions o;
  o.ppd = writePpd(22);
  o.raster = emptyRaster();

  runtest::FilterRunOptions wrongCount = o;
  wrongCount.emulatorArgs = {"--argv", "1", "--argv", "user", "--argv", "title"};
  runtest::FilterRun r = runtest::runFilter(wrongCount);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.filterStderr, kEntryLine);

  runtest::FilterRunOptions missingRaster = o;
  missingRaster.raster = runtest::testFilePath("no-such.ras");
  r = runtest::runFilter(missingRaster);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.filterStderr.find("Unable to open raster file"), std::string::npos) << r.filterStderr;

  runtest::FilterRunOptions missingPpd = o;
  missingPpd.ppd = runtest::testFilePath("no-such.ppd");
  r = runtest::runFilter(missingPpd);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.filterStderr.find("DEBUG: "), std::string::npos);
  EXPECT_NE(r.filterStderr.find(" on line 0.\n"), std::string::npos) << r.filterStderr;
  EXPECT_EQ(r.filterStderr.find("INFO: Printed data has been sent"), std::string::npos);
}

TEST(FilterRun, ChineseTrailerUnderAChineseLocale) {
  runtest::FilterRunOptions o;
  o.ppd = writePpd(22);
  o.raster = emptyRaster();
  o.env = {"LANG=zh_CN.UTF-8", "LC_ALL=zh_CN.UTF-8", "LC_MESSAGES=zh_CN.UTF-8"};
  runtest::FilterRun r = runtest::runFilter(o);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.filterStderr.find("mytest：language is zh_CN\n"), std::string::npos)
      << r.filterStderr;
  EXPECT_NE(r.filterStderr.find("INFO: 数据已发送\n"), std::string::npos);
}
