// The job lifecycle where the recorded reference jobs do not reach: start failures of the real
// filter program, and empty jobs on models whose job start and end send bytes of their own.
// (Cancellation: the reference jobs and the reliability tests; progress lines and Chinese
// messages: the reference jobs.)
#include <gtest/gtest.h>

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
std::string shortFile(const std::string &bytes = "") {
  std::string path = runtest::testFilePath("short.ras");
  std::ofstream{path} << bytes;
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

// A raster file without even the sync word: the printer receives only the job's own start and end
// (or, where the job end waits for an idle printer, its idle queries). Empty, it has no pages.
TEST(Lifecycle, EmptyRasterEndsWithTheTrailerAndStatusOne) {
  const std::string idleQuery = bytes({0x1F, 0x11, 0x43});
  const std::pair<int, std::string> cases[] = {
      {22, ""},
      {400, bytes({0x1B, 0x64, 0x02})},
      {0, std::string(100, '\x1B') + "\x1B@"},
      {32, bytes({0x1B, 'E'})},
      {831, idleQuery},
      {64519, idleQuery},
  };
  for (const auto &[model, printerBytes] : cases) {
    SCOPED_TRACE(model);
    FilterRunOptions o;
    o.ppd = modelPpd(model);
    o.viaStdin = model != 22;  // model 22 reads it from the file
    o.raster = shortFile();
    o.name = "empty-" + std::to_string(model);
    auto run = runFilter(o);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.filterStderr.find(std::string(kTrailer) + "INFO:\n"), std::string::npos);
    EXPECT_NE(run.filterStderr.find("ERROR: The document has no pages to print"),
              std::string::npos);
    if (printerBytes == idleQuery) {
      EXPECT_NE(run.printerStream.find(idleQuery), std::string::npos);
    } else {
      EXPECT_EQ(run.printerStream, printerBytes);
    }
  }
  // One byte: too short for the sync word, yet not an empty document.
  FilterRunOptions o;
  o.ppd = modelPpd(22);
  o.raster = shortFile("R");
  EXPECT_NE(runFilter(o).filterStderr.find("ERROR: The raster stream's first page header was "
                                           "refused"),
            std::string::npos);
}

}  // namespace
