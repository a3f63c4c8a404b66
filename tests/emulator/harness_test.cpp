// The emulator's process harness, run end to end with a stand-in filter: this test program
// itself, re-executed with RX5K_FAKE_FILTER naming a scenario. The stand-in uses libcups' own
// back- and side-channel calls, as the real filter does.
#include <cups/cups.h>
#include <cups/sidechannel.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <lzo/lzo1x.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/raster_file.h"
#include "support/run_filter.h"
#include "support/test_ppd.h"
#include "thermal_parser.h"

namespace {

// ---- The stand-in filter ----

void writeOut(const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(1, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

int drainStatus() {
  char data[3];
  int datalen = 0;
  return cupsSideChannelDoRequest(CUPS_SC_CMD_DRAIN_OUTPUT, data, &datalen, 5.0);
}

// The back channel as the filter reads it; timeout 0 takes only what is already there.
std::string backRead(double timeout) {
  char buf[64];
  ssize_t n = cupsBackChannelRead(buf, 63, timeout);
  return n > 0 ? emu::hexBytes(reinterpret_cast<unsigned char *>(buf), static_cast<size_t>(n))
               : "-";
}

std::string lzoFrame(const std::string &block) {
  lzo_init();
  std::vector<unsigned char> work(LZO1X_1_MEM_COMPRESS);
  std::vector<unsigned char> packed(block.size() + block.size() / 16 + 64 + 3);
  lzo_uint length = 0;
  lzo1x_1_compress(reinterpret_cast<const unsigned char *>(block.data()), block.size(),
                   packed.data(), &length, work.data());
  std::string frame{static_cast<char>(length & 0xFF), static_cast<char>(length >> 8), '\0'};
  return frame + std::string(packed.begin(), packed.begin() + static_cast<long>(length));
}

volatile sig_atomic_t gotSigterm = 0;

// As the real filter does early on: SIGTERM only sets a flag.
void catchSigterm() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = [](int) { gotSigterm = 1; };
  sigaction(SIGTERM, &action, nullptr);
}

int waitForSigterm() {
  for (int i = 0; i < 500 && !gotSigterm; ++i) usleep(10000);
  return gotSigterm ? 7 : 0;
}

const std::string kCompressionOn{"\x1F\x11\x35\x01", 4};
const std::string kCompressionOff{"\x1F\x11\x35\x00", 4};
// 4 bytes (32 dots) by 3 rows.
const std::string kBitmapHeader{"\x1D\x76\x30\x00\x04\x00\x03\x00", 8};
const std::string kBitmap{"\xFF\x00\x00\x01\x80\x00\x00\x00\xAA\xAA\xAA\xAA", 12};

void writePages() {
  writeOut(std::string(2048, '\0'));
  drainStatus();
  writeOut(kCompressionOn + kBitmapHeader + lzoFrame(kBitmap));
  drainStatus();
  writeOut(kCompressionOff + kBitmapHeader + kBitmap);
  drainStatus();
}

int fakeArgc = 0;
char **fakeArgv = nullptr;

int fakeFilter(const std::string &scenario) {
  catchSigterm();
  setvbuf(stderr, nullptr, _IONBF, 0);
  if (scenario == "environment") {
    std::string args;
    for (int i = 1; i < fakeArgc; ++i) args += std::string("[") + fakeArgv[i] + "]";
    size_t stdinBytes = 0;
    char buf[4096];
    for (ssize_t n; (n = read(0, buf, sizeof buf)) > 0;) stdinBytes += static_cast<size_t>(n);
    int type = 0;
    socklen_t len = sizeof type;
    getsockopt(4, SOL_SOCKET, SO_TYPE, &type, &len);
    std::fprintf(stderr,
                 "argv0=%s args=%s PPD=%s stdin=%zu fd3nonblock=%d fd4nonblock=%d "
                 "fd4stream=%d fd5open=%d\n",
                 fakeArgv[0], args.c_str(), std::getenv("PPD"), stdinBytes,
                 (fcntl(3, F_GETFL) & O_NONBLOCK) != 0, (fcntl(4, F_GETFL) & O_NONBLOCK) != 0,
                 type == SOCK_STREAM, fcntl(5, F_GETFD) >= 0);
    return 0;
  }
  if (scenario == "queries") {
    // Each answer must be readable at once when the drain that follows the query returns.
    for (unsigned char code : {0x11, 0x11, 0x12, 0x12, 0x43}) {
      writeOut(std::string{'\x1F', '\x11', static_cast<char>(code)});
      int status = drainStatus();
      std::fprintf(stderr, "query %02X drain %d answer %s\n", code, status, backRead(0.0).c_str());
    }
    // The idle answer comes once --idle-after has passed.
    int tries = 1;
    for (; tries < 100; ++tries) {
      writeOut(std::string{"\x1F\x11\x43", 3});
      drainStatus();
      if (backRead(0.0) == "1A 0F 0C") break;
      usleep(50000);
    }
    std::fprintf(stderr, "idle after %s tries\n", tries > 1 && tries < 100 ? "several" : "wrong");
    return 0;
  }
  if (scenario == "pages") {
    writePages();
    usleep(100000);
    std::fprintf(stderr, "reports %s\n", backRead(0.0).c_str());
    return 0;
  }
  if (scenario == "page-then-wait") {
    writeOut(kCompressionOff + kBitmapHeader + kBitmap);
    drainStatus();
    return waitForSigterm();
  }
  if (scenario == "wait") return waitForSigterm();
  if (scenario == "garbage") writeOut(kCompressionOn + std::string(1, '\xFF'));
  if (scenario == "truncated") writeOut(kCompressionOff + kBitmapHeader + kBitmap.substr(0, 5));
  if (scenario == "killed") kill(getpid(), SIGKILL);
  if (scenario == "hang") sleep(30);
  return 0;
}

// Before gtest starts: become the stand-in filter when asked to.
// glibc passes argc, argv and envp to constructors in the init array.
void becomeFakeFilter(int argc, char **argv, char **) {
  if (const char *scenario = std::getenv("RX5K_FAKE_FILTER")) {
    fakeArgc = argc;
    fakeArgv = argv;
    int status = fakeFilter(scenario);
    std::fflush(nullptr);
    _exit(status);
  }
}
using InitFunction = void (*)(int, char **, char **);
__attribute__((section(".init_array"), used)) InitFunction becomeFakeFilterAtStart =
    becomeFakeFilter;

// ---- The tests ----

std::string selfPath() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : "";
}

class HarnessTest : public testing::Test {
 protected:
  void SetUp() override {
    ppd_ = runtest::testFilePath("harness-22.ppd");
    ppdtest::TestPpd ppd;
    ppd.modelNumber = 22;
    ASSERT_TRUE(ppdtest::writeTestPpd(ppd_, ppd));
  }
  runtest::FilterRun run(const std::string &scenario, std::vector<std::string> args = {}) {
    runtest::FilterRunOptions o;
    o.ppd = ppd_;
    o.filter = selfPath();
    o.env = {"RX5K_FAKE_FILTER=" + scenario};
    o.emulatorArgs = std::move(args);
    o.timeoutSeconds = 20;
    return runtest::runFilter(o);
  }
  std::string ppd_;
};

TEST_F(HarnessTest, QueriesAreAnsweredBeforeTheirDrainCompletes) {
  runtest::FilterRun r = run("queries", {"--paper-missing", "1", "--cover-open", "1",
                                         "--idle-after", "2.5", "--hardver", "1.0.5"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.exitStatus, 0) << r.emulatorStderr;
  EXPECT_NE(r.filterStderr.find("query 11 drain 1 answer 1A 07 01 00 05 1A 06 88\n"),
            std::string::npos)
      << r.filterStderr;
  EXPECT_NE(r.filterStderr.find("query 11 drain 1 answer 1A 06 89\n"), std::string::npos);
  EXPECT_NE(r.filterStderr.find("query 12 drain 1 answer 1A 05 99\n"), std::string::npos);
  EXPECT_NE(r.filterStderr.find("query 12 drain 1 answer 1A 05 98\n"), std::string::npos);
  EXPECT_NE(r.filterStderr.find("query 43 drain 1 answer -\n"), std::string::npos)
      << r.filterStderr << r.printerLog;
  EXPECT_NE(r.filterStderr.find("idle after several tries\n"), std::string::npos);
  EXPECT_EQ(r.logLines("paper query").size(), 2u);
  EXPECT_EQ(r.logLines("cover query").size(), 2u);
  EXPECT_EQ(r.logLines("idle query").size(), r.logLines("drain").size() - 4);
  EXPECT_EQ(r.printerStream.size(), 3 * r.logLines("drain").size());
}

TEST_F(HarnessTest, PagesAreDecodedWrittenAndReported) {
  runtest::FilterRun r = run("pages", {"--cancel-at-page", "2"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.exitStatus, 0) << r.emulatorStderr;
  ASSERT_EQ(r.pages.size(), 2u);
  for (const runtest::DecodedPage &p : r.pages) {
    EXPECT_EQ(p.width, 32);
    EXPECT_EQ(p.height, 3);
    ASSERT_EQ(p.dots.size(), 96u);
    EXPECT_EQ(p.at(0, 0), 0);
    EXPECT_EQ(p.at(8, 0), 255);
    EXPECT_EQ(p.at(31, 0), 0);
    EXPECT_EQ(p.at(0, 1), 0);
    EXPECT_EQ(p.at(1, 1), 255);
    EXPECT_EQ(p.at(0, 2), 0);
    EXPECT_EQ(p.at(1, 2), 255);
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

TEST_F(HarnessTest, SigtermAtAPageOrAfterADelay) {
  runtest::FilterRun atPage = run("page-then-wait", {"--sigterm-at-page", "1"});
  EXPECT_EQ(atPage.exitStatus, 7) << atPage.printerLog;
  EXPECT_EQ(atPage.pages.size(), 1u);
  runtest::FilterRun later = run("wait", {"--sigterm-after-ms", "1500"});
  EXPECT_EQ(later.exitStatus, 7) << later.printerLog;
  EXPECT_NE(later.printerLog.find("SIGTERM sent to the filter (1500 ms)"), std::string::npos);
  runtest::FilterRun never = run("pages", {"--sigterm-at-page", "3"});
  EXPECT_EQ(never.exitStatus, 0);
  EXPECT_EQ(never.printerLog.find("SIGTERM"), std::string::npos);
}

TEST_F(HarnessTest, ExitStatusTellsStreamErrorsSignalsAndTimeouts) {
  runtest::FilterRun garbage = run("garbage");
  EXPECT_EQ(garbage.exitStatus, 3);
  EXPECT_NE(garbage.emulatorStderr.find("offset 4: unexpected byte FF"), std::string::npos)
      << garbage.emulatorStderr;
  EXPECT_NE(garbage.printerLog.find("ERROR: offset 4: unexpected byte FF"), std::string::npos);

  runtest::FilterRun truncated = run("truncated");
  EXPECT_EQ(truncated.exitStatus, 3);
  EXPECT_NE(truncated.emulatorStderr.find("offset 17: stream ends inside the data of bitmap 1"),
            std::string::npos)
      << truncated.emulatorStderr;

  EXPECT_EQ(run("killed").exitStatus, 128 + SIGKILL);
  runtest::FilterRun hung = run("hang", {"--timeout", "0.3"});
  EXPECT_EQ(hung.exitStatus, 124);
}

TEST_F(HarnessTest, FilterGetsSchedulerArgumentsEnvironmentAndChannels) {
  std::string raster = runtest::testFilePath("harness.ras");
  ASSERT_TRUE(rastertest::writeRasterFile(
      raster, {rastertest::whitePage(rastertest::rasterHeader(16, 4))}));
  off_t rasterSize = 0;
  {
    FILE *f = std::fopen(raster.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 0, SEEK_END);
    rasterSize = std::ftell(f);
    std::fclose(f);
  }
  std::string channels = " fd3nonblock=1 fd4nonblock=1 fd4stream=1 fd5open=0\n";

  runtest::FilterRunOptions o;
  o.ppd = ppd_;
  o.filter = selfPath();
  o.env = {"RX5K_FAKE_FILTER=environment"};
  o.jobOptions = "Darkness=1 foo=bar";
  o.raster = raster;
  runtest::FilterRun asFile = runtest::runFilter(o);
  EXPECT_EQ(asFile.exitStatus, 0);
  EXPECT_EQ(asFile.filterStderr,
            "argv0=rx5k-emu args=[1][emulator][rx5k-emulator][1][Darkness=1 "
            "foo=bar][" +
                raster + "] PPD=" + ppd_ + " stdin=0" + channels);

  o.viaStdin = true;
  runtest::FilterRun onStdin = runtest::runFilter(o);
  EXPECT_EQ(onStdin.filterStderr,
            "argv0=rx5k-emu args=[1][emulator][rx5k-emulator][1][Darkness=1 "
            "foo=bar] PPD=" +
                ppd_ + " stdin=" + std::to_string(rasterSize) + channels);

  o.viaStdin = false;
  o.raster.clear();
  o.emulatorArgs = {"--argv", "a", "--argv", "b"};
  runtest::FilterRun explicitArgs = runtest::runFilter(o);
  EXPECT_EQ(explicitArgs.filterStderr,
            "argv0=rx5k-emu args=[a][b] PPD=" + ppd_ + " stdin=0" + channels);
}

}  // namespace
