// The emulator's process harness, run end to end with a stand-in filter: this test program
// itself, re-executed with RX5K_FAKE_FILTER naming a scenario. The stand-in uses libcups' own
// back- and side-channel calls, as the real filter does.
#include <cups/cups.h>
#include <cups/sidechannel.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "stream_bytes.h"
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

const std::string kCompressionOn{"\x1F\x11\x35\x01", 4};
const std::string kCompressionOff{"\x1F\x11\x35\x00", 4};
// 4 bytes (32 dots) by 3 rows.
const std::string kBitmapHeader{"\x1D\x76\x30\x00\x04\x00\x03\x00", 8};
const std::string kBitmap{"\xFF\x00\x00\x01\x80\x00\x00\x00\xAA\xAA\xAA\xAA", 12};

int fakeFilter(const std::string &scenario, int argc, char **argv) {
  setvbuf(stderr, nullptr, _IONBF, 0);
  if (scenario == "environment") {
    std::string args;
    for (int i = 1; i < argc; ++i) args += std::string("[") + argv[i] + "]";
    size_t stdinBytes = 0;
    char buf[4096];
    for (ssize_t n; (n = read(0, buf, sizeof buf)) > 0;) stdinBytes += static_cast<size_t>(n);
    int type = 0;
    socklen_t len = sizeof type;
    getsockopt(4, SOL_SOCKET, SO_TYPE, &type, &len);
    std::fprintf(stderr,
                 "argv0=%s args=%s PPD=%s stdin=%zu fd3nonblock=%d fd4nonblock=%d "
                 "fd4stream=%d fd5open=%d\n",
                 argv[0], args.c_str(), std::getenv("PPD"), stdinBytes,
                 (fcntl(3, F_GETFL) & O_NONBLOCK) != 0, (fcntl(4, F_GETFL) & O_NONBLOCK) != 0,
                 type == SOCK_STREAM, fcntl(5, F_GETFD) >= 0);
    return 0;
  }
  if (scenario == "queries") {
    // Each answer must be readable at once when the drain that follows the query returns.
    for (unsigned char code : {0x11, 0x11, 0x12, 0x12, 0x43}) {
      writeOut(std::string{'\x1F', '\x11', static_cast<char>(code)});
      int status = drainStatus();
      std::fprintf(stderr, "query %02X drain %d answer %s\n", code, status, backRead().c_str());
    }
    return 0;
  }
  if (scenario == "pages") {
    writeOut(std::string(2048, '\0'));
    drainStatus();
    writeOut(kCompressionOn + kBitmapHeader + lzoFrames({kBitmap.begin(), kBitmap.end()}));
    drainStatus();
    writeOut(kCompressionOff + kBitmapHeader + kBitmap);
    drainStatus();
    usleep(100000);
    std::fprintf(stderr, "reports %s\n", backRead().c_str());
    return 0;
  }
  if (scenario == "garbage") writeOut(kCompressionOn + std::string(1, '\xFF'));
  if (scenario == "killed") kill(getpid(), SIGKILL);
  if (scenario == "hang") sleep(30);
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

class HarnessTest : public testing::Test {
 protected:
  void SetUp() override {
    ppd_ = runtest::testFilePath("harness-22.ppd");
    ppdtest::TestPpd ppd;
    ppd.modelNumber = 22;
    ASSERT_TRUE(ppdtest::writeTestPpd(ppd_, ppd));
  }
  // This program itself as the filter, playing `scenario`.
  runtest::FilterRunOptions options(const std::string &scenario,
                                    std::vector<std::string> args = {}) {
    runtest::FilterRunOptions o;
    o.ppd = ppd_;
    o.filter = std::filesystem::read_symlink("/proc/self/exe");
    o.process = true;
    o.env = {"RX5K_FAKE_FILTER=" + scenario};
    o.emulatorArgs = std::move(args);
    o.timeoutSeconds = 20;
    return o;
  }
  std::string ppd_;
};

TEST_F(HarnessTest, QueriesAreAnsweredBeforeTheirDrainCompletes) {
  runtest::FilterRun r =
      runtest::runFilter(options("queries", {"--paper-missing", "1", "--cover-open", "1",
                                             "--idle-after", "2.5", "--hardver", "1.0.5"}));
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.exitStatus, 0) << r.emulatorStderr;
  for (const char *line :
       {"query 11 drain 1 answer 1A 07 01 00 05 1A 06 88\n", "query 11 drain 1 answer 1A 06 89\n",
        "query 12 drain 1 answer 1A 05 99\n", "query 12 drain 1 answer 1A 05 98\n",
        "query 43 drain 1 answer -\n"}) {
    EXPECT_NE(r.filterStderr.find(line), std::string::npos) << line << r.filterStderr;
  }
  EXPECT_EQ(r.logLines("paper query").size(), 2u);
  EXPECT_EQ(r.logLines("cover query").size(), 2u);
  EXPECT_EQ(r.logLines("idle query").size(), 1u);
  EXPECT_EQ(r.printerStream.size(), 3 * r.logLines("drain").size());
}

TEST_F(HarnessTest, PagesAreDecodedWrittenAndReported) {
  runtest::FilterRun r = runtest::runFilter(options("pages", {"--cancel-at-page", "2"}));
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.exitStatus, 0) << r.emulatorStderr;
  ASSERT_EQ(r.pages.size(), 2u);
  emu::ThermalBitmap sent;
  sent.bytewidth = 4;
  sent.rows = 3;
  sent.bits.assign(kBitmap.begin(), kBitmap.end());
  for (const runtest::DecodedPage &p : r.pages) {
    EXPECT_EQ(p.width, 32);
    EXPECT_EQ(p.height, 3);
    EXPECT_EQ(p.dots, emu::bitmapDots(sent));
  }
  EXPECT_EQ(r.pages[0].encoding, "LZO");
  EXPECT_EQ(r.pages[0].frames, 1);
  EXPECT_EQ(r.pages[1].encoding, "raw");
  EXPECT_NE(r.emulatorStdout.find("page 1: 32x3 dots, 27.1% black, LZO 1 frames -> "),
            std::string::npos)
      << r.emulatorStdout;
  EXPECT_NE(r.emulatorStdout.find("page 2: 32x3 dots, 27.1% black, raw -> "), std::string::npos);
  // The cancel report came with page 2's bitmap command.
  EXPECT_NE(r.filterStderr.find("reports 1A 0B B8"), std::string::npos) << r.filterStderr;
  EXPECT_EQ(r.logLines("filler").size(), 1u);
  EXPECT_EQ(r.logLines("bitmap data").size(), 2u);
}

TEST_F(HarnessTest, ExitStatusTellsStreamErrorsSignalsAndTimeouts) {
  runtest::FilterRun garbage = runtest::runFilter(options("garbage"));
  EXPECT_EQ(garbage.exitStatus, 3);
  EXPECT_NE(garbage.emulatorStderr.find("offset 4: unexpected byte FF"), std::string::npos)
      << garbage.emulatorStderr;
  EXPECT_NE(garbage.printerLog.find("ERROR: offset 4: unexpected byte FF"), std::string::npos);

  EXPECT_EQ(runtest::runFilter(options("killed")).exitStatus, 128 + SIGKILL);
  runtest::FilterRun hung = runtest::runFilter(options("hang", {"--timeout", "0.3"}));
  EXPECT_EQ(hung.exitStatus, 124);
}

TEST_F(HarnessTest, FilterGetsSchedulerArgumentsEnvironmentAndChannels) {
  std::string raster = runtest::testFilePath("harness.ras");
  ASSERT_TRUE(rastertest::writeRasterFile(
      raster, {rastertest::whitePage(rastertest::rasterHeader(16, 4))}));
  const std::string args =
      "argv0=rx5k-emu args=[1][emulator][rx5k-emulator][1][Darkness=1 foo=bar]";
  const std::string channels = " fd3nonblock=1 fd4nonblock=1 fd4stream=1 fd5open=0\n";
  runtest::FilterRunOptions o = options("environment");
  o.jobOptions = "Darkness=1 foo=bar";
  o.raster = raster;
  runtest::FilterRun asFile = runtest::runFilter(o);
  EXPECT_EQ(asFile.exitStatus, 0);
  EXPECT_EQ(asFile.filterStderr, args + "[" + raster + "] PPD=" + ppd_ + " stdin=0" + channels);
  o.viaStdin = true;
  runtest::FilterRun onStdin = runtest::runFilter(o);
  EXPECT_EQ(onStdin.filterStderr,
            args + " PPD=" + ppd_ + " stdin=" + std::to_string(std::filesystem::file_size(raster)) +
                channels);
}

}  // namespace
