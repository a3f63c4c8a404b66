// The job lifecycle of the real filter program under the printer emulator: start failures,
// empty jobs, cancellation, progress lines (of a job read from standard input) and the language
// of the messages.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "support/e2e_support.h"
#include "support/test_ppd.h"

using ppdtest::modelPpd;
using runtest::FilterRunOptions;
using runtest::runFilter;

namespace {

std::vector<rastertest::RasterPage> whitePages(int count) {
  return std::vector(count, rastertest::whitePage(rastertest::rasterHeader(64, 40)));
}

// Not even the raster's sync word.
std::string emptyFile() {
  std::string path = runtest::testFilePath("empty.ras");
  std::ofstream{path};
  return path;
}

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
  o.raster = e2e::rasterFile(whitePages(1));
  auto noPpd = runFilter(o);
  EXPECT_EQ(noPpd.exitStatus, 1);
  EXPECT_NE(noPpd.filterStderr.find("DEBUG: "), std::string::npos);
  EXPECT_NE(noPpd.filterStderr.find(" on line "), std::string::npos);
  EXPECT_EQ(noPpd.filterStderr.find(kTrailer), std::string::npos);
}

struct EmptyJobCase {
  int model;
  std::string printerBytes;  // exactly what the printer receives
  bool idleQueries;          // the job end waits for an idle printer
};

TEST(Lifecycle, EmptyRasterEndsWithTheTrailerAndStatusOne) {
  std::string model0Start = std::string(100, '\x1B') + "\x1B@";
  const EmptyJobCase cases[] = {
      {22, "", false},         {400, bytes({0x1B, 0x64, 0x02}), false},
      {0, model0Start, false}, {32, bytes({0x1B, 'E'}), false},
      {831, "", true},         {64519, "", true},
  };
  for (const EmptyJobCase &c : cases) {
    SCOPED_TRACE(c.model);
    FilterRunOptions o;
    o.ppd = modelPpd(c.model);
    o.viaStdin = c.model != 22;  // model 22 reads it from the file
    o.raster = emptyFile();
    o.name = "empty-" + std::to_string(c.model);
    auto run = runFilter(o);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.filterStderr.find(std::string(kTrailer) + "INFO:\n"), std::string::npos);
    if (c.idleQueries) {
      EXPECT_NE(run.printerStream.find(bytes({0x1F, 0x11, 0x43})), std::string::npos);
    } else {
      EXPECT_EQ(run.printerStream, c.printerBytes);
    }
  }
  // In a Chinese locale the job's lines, the trailer among them, are Chinese.
  FilterRunOptions o;
  o.ppd = modelPpd(22);
  o.raster = emptyFile();
  o.env = {"LANG=zh_CN.UTF-8"};
  o.name = "empty-chinese";
  std::string err = runFilter(o).filterStderr;
  EXPECT_NE(err.find("mytest：language is zh_CN\n"), std::string::npos) << err;
  EXPECT_NE(err.find("INFO: 数据已发送\n"), std::string::npos);
  EXPECT_EQ(err.find(kTrailer), std::string::npos);
}

TEST(Lifecycle, ProgressLinesCountPagesAgainstTheAnnouncedTotal) {
  FilterRunOptions o;
  o.ppd = modelPpd(400);  // no ready wait, no pause between pages
  o.raster = e2e::rasterFile(whitePages(2));
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

// SIGTERM by time while model 21 waits for paper that never comes, and at the start of page 2
// during model 22's 3 s pause: the job ends within 2 s with its trailer and status 0.
TEST(Lifecycle, SigtermEndsTheJobWithinTwoSecondsWithTheTrailer) {
  struct Moment {
    const char *name;
    int model;
    std::vector<std::string> args;
  };
  const Moment moments[] = {
      {"waiting-for-paper", 21, {"--paper-missing", "1000000", "--sigterm-after-ms", "1500"}},
      {"between-pages", 22, {"--sigterm-at-page", "1"}},
  };
  for (const Moment &m : moments) {
    SCOPED_TRACE(m.name);
    FilterRunOptions o;
    o.ppd = modelPpd(m.model);
    o.raster = e2e::rasterFile(whitePages(3), std::string(m.name) + ".ras");
    o.emulatorArgs = m.args;
    o.name = m.name;
    auto start = std::chrono::steady_clock::now();
    auto run = runFilter(o);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(run.error.empty()) << run.error;
    EXPECT_EQ(run.exitStatus, 0) << run.filterStderr;
    EXPECT_NE(run.filterStderr.find(kTrailer), std::string::npos) << run.filterStderr;
    EXPECT_EQ(run.filterStderr.find("PAGE: 3 1\n"), std::string::npos);
    EXPECT_LT(seconds, 4.5);  // the SIGTERM delay plus at most 2 s, plus process start-up
  }
}

}  // namespace
