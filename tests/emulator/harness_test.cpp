// The emulator's process harness, run end to end with a stand-in filter: this test program
// itself, re-executed with RX5K_FAKE_FILTER naming a scenario. The stand-in uses libcups' own
// back- and side-channel calls, as the real filter does. (The real filter runs under the harness
// in the recorded reference jobs, which hold its stream and its lines to the recording.)
#include <cups/cups.h>
#include <cups/sidechannel.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/raster_file.h"
#include "support/run_filter.h"
#include "support/test_ppd.h"
#include "thermal_parser.h"

namespace {

// ---- The stand-in filter ----

void writeOut(const std::string &bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

int drainStatus() {
  char data[3];
  int datalen = 0;
  return cupsSideChannelDoRequest(CUPS_SC_CMD_DRAIN_OUTPUT, data, &datalen, 5.0);
}

// What the back channel already holds, as the filter reads it.
std::string backRead() {
  char buf[64];
  ssize_t n = cupsBackChannelRead(buf, 63, 0.0);
  return n > 0 ? emu::hexBytes(reinterpret_cast<unsigned char *>(buf), static_cast<size_t>(n))
               : "-";
}

int fakeFilter(const std::string &scenario, int argc, char **argv) {
  setvbuf(stderr, nullptr, _IONBF, 0);
  if (scenario == "garbage") writeOut(std::string("\x1F\x11\x35\x01\xFF", 5));
  if (scenario == "killed") kill(getpid(), SIGKILL);
  if (scenario == "hang") sleep(30);
  if (scenario != "job") return 0;
  // What the scheduler hands a filter: arguments, PPD, standard input and the two channels.
  std::string args;
  for (int i = 1; i < argc; ++i) args += std::string("[") + argv[i] + "]";
  size_t stdinBytes = 0;
  char buf[4096];
  for (ssize_t n; (n = read(0, buf, sizeof buf)) > 0;) stdinBytes += static_cast<size_t>(n);
  std::fprintf(
      stderr, "argv0=%s args=%s PPD=%s stdin=%zu fd3nonblock=%d fd4nonblock=%d fd5open=%d\n",
      argv[0], args.c_str(), std::getenv("PPD"), stdinBytes, (fcntl(3, F_GETFL) & O_NONBLOCK) != 0,
      (fcntl(4, F_GETFL) & O_NONBLOCK) != 0, fcntl(5, F_GETFD) >= 0);
  // Each answer must be readable at once when the drain that follows the query returns.
  for (unsigned char code : {0x11, 0x11, 0x12, 0x12, 0x43}) {
    writeOut(std::string{'\x1F', '\x11', static_cast<char>(code)});
    int status = drainStatus();
    std::fprintf(stderr, "query %02X drain %d answer %s\n", code, status, backRead().c_str());
  }
  return 0;
}

// Before gtest starts: become the stand-in filter when asked to.
// glibc passes argc, argv and envp to constructors in the init array.
void becomeFakeFilter(int argc, char **argv, char **) {
  if (const char *scenario = std::getenv("RX5K_FAKE_FILTER")) {
    int status = fakeFilter(scenario, argc, argv);
    std::fflush(nullptr);
    _exit(status);
  }
}
using InitFunction = void (*)(int, char **, char **);
__attribute__((section(".init_array"), used)) InitFunction becomeFakeFilterAtStart =
    becomeFakeFilter;

// ---- The tests ----

// This program itself as the filter of a model 22 printer, playing `scenario`.
runtest::FilterRunOptions options(const std::string &scenario, std::vector<std::string> args = {}) {
  runtest::FilterRunOptions o;
  o.ppd = ppdtest::modelPpd(22);
  o.filter = std::filesystem::read_symlink("/proc/self/exe");
  o.process = true;
  o.env = {"RX5K_FAKE_FILTER=" + scenario};
  o.emulatorArgs = std::move(args);
  o.timeoutSeconds = 20;
  return o;
}

// What a filter gets from the harness: the scheduler's arguments, the PPD, the raster on standard
// input, descriptors 3 and 4 non-blocking and none beyond them, and each answer ready when the
// drain after its query returns.
TEST(Harness, FilterGetsSchedulerArgumentsChannelsAndAnswers) {
  const std::string raster = runtest::testFilePath("harness.ras");
  ASSERT_TRUE(rastertest::writeRasterFile(
      raster, {rastertest::whitePage(rastertest::rasterHeader(16, 4))}));
  runtest::FilterRunOptions o = options("job", {"--paper-missing", "1", "--cover-open", "1",
                                                "--idle-after", "2.5", "--hardver", "1.0.5"});
  o.jobOptions = "Darkness=1 foo=bar";
  o.raster = raster;
  o.viaStdin = true;
  runtest::FilterRun r = runtest::runFilter(o);
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.exitStatus, 0) << r.emulatorStderr;
  EXPECT_EQ(r.filterStderr,
            "argv0=rx5k-emu args=[1][emulator][rx5k-emulator][1][Darkness=1 foo=bar] PPD=" + o.ppd +
                " stdin=" + std::to_string(std::filesystem::file_size(raster)) +
                " fd3nonblock=1 fd4nonblock=1 fd5open=0\n"
                "query 11 drain 1 answer 1A 07 01 00 05 1A 06 88\n"
                "query 11 drain 1 answer 1A 06 89\nquery 12 drain 1 answer 1A 05 99\n"
                "query 12 drain 1 answer 1A 05 98\nquery 43 drain 1 answer -\n");
}

TEST(Harness, ExitStatusTellsStreamErrorsSignalsAndTimeouts) {
  runtest::FilterRun garbage = runtest::runFilter(options("garbage"));
  EXPECT_EQ(garbage.exitStatus, 3);
  EXPECT_NE(garbage.emulatorStderr.find("offset 4: unexpected byte FF"), std::string::npos)
      << garbage.emulatorStderr;
  EXPECT_NE(garbage.printerLog.find("ERROR: offset 4: unexpected byte FF"), std::string::npos);
  EXPECT_EQ(runtest::runFilter(options("killed")).exitStatus, 128 + SIGKILL);
  EXPECT_EQ(runtest::runFilter(options("hang", {"--timeout", "0.3"})).exitStatus, 124);
}

}  // namespace
