// The emulator as a CUPS backend: options from the device URI, the device line, and a job
// played through standard input, the side channel and the back channel as the scheduler wires
// them (this test plays the filter's end).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "backend_mode.h"
#include "stream_bytes.h"
#include "support/run_filter.h"
#include "support/test_ppd.h"

namespace {

struct Backend {
  pid_t pid = -1;
  int input = -1;   // the backend's standard input
  int output = -1;  // its standard output
  int back = -1;    // what it writes to the back channel
  int side = -1;    // our end of the side channel
};

// Starts the emulator in backend mode with descriptors 0, 1, 3 and 4 as the scheduler sets them.
Backend startBackend(const std::vector<std::string> &args, const std::vector<std::string> &env) {
  int in[2], out[2], back[2], side[2];
  EXPECT_EQ(pipe(in), 0);
  EXPECT_EQ(pipe(out), 0);
  EXPECT_EQ(pipe(back), 0);
  EXPECT_EQ(socketpair(AF_LOCAL, SOCK_STREAM, 0, side), 0);
  std::vector<std::string> argvStrings{runtest::emulatorPath(), "--backend"};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<std::string> envStrings = env;
  std::vector<char *> argv, envp;
  for (std::string &a : argvStrings) argv.push_back(a.data());
  for (std::string &e : envStrings) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  Backend b;
  b.pid = fork();
  if (b.pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(back[1], 3);
    dup2(side[1], 4);
    close_range(5, ~0U, 0);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  for (int fd : {in[0], out[1], back[1], side[1]}) close(fd);
  b.input = in[1];
  b.output = out[0];
  b.back = back[0];
  b.side = side[0];
  return b;
}

// Up to n bytes that arrive within timeout ms.
std::string readWithin(int fd, size_t n, int timeoutMs) {
  std::string got;
  while (got.size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) break;
    char buf[256];
    ssize_t r = read(fd, buf, std::min(sizeof buf, n - got.size()));
    if (r <= 0) break;
    got.append(buf, static_cast<size_t>(r));
  }
  return got;
}

int finish(Backend &b) {
  for (int fd : {b.input, b.output, b.back, b.side}) {
    if (fd >= 0) close(fd);
  }
  int status = 0;
  waitpid(b.pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(BackendMode, DeviceUriOptions) {
  std::vector<std::string> args;
  std::string error;
  ASSERT_TRUE(emu::backendArgsFromUri(
      "rx5k-emu:/?out=/tmp/a%20b&paper-missing=2&silent&&hardver=1.0.4", args, error));
  EXPECT_EQ(args, (std::vector<std::string>{"--out", "/tmp/a b", "--paper-missing", "2", "--silent",
                                            "--hardver", "1.0.4"}));
  args.clear();
  ASSERT_TRUE(emu::backendArgsFromUri("rx5k-emu://", args, error));
  EXPECT_TRUE(args.empty());
  EXPECT_FALSE(emu::backendArgsFromUri("socket://printer:9100", args, error));
  EXPECT_TRUE(emu::isBackendName("/usr/lib/cups/backend/rx5k-emu"));
  EXPECT_TRUE(emu::isBackendName("rx5k-emu:/?out=/var/tmp/x"));
  EXPECT_FALSE(emu::isBackendName("/usr/bin/rx5k-emulator"));
}

TEST(BackendMode, WithoutArgumentsPrintsTheDeviceLine) {
  Backend b = startBackend({}, {});
  std::string line = readWithin(b.output, 200, 10000);
  EXPECT_EQ(line, emu::kBackendDeviceLine);
  EXPECT_EQ(finish(b), 0);
}

TEST(BackendMode, PlaysThePrinterForAJob) {
  std::string ppd = runtest::testFilePath("backend.ppd");
  ppdtest::TestPpd printerPpd;
  printerPpd.modelNumber = 22;
  ASSERT_TRUE(ppdtest::writeTestPpd(ppd, printerPpd));
  std::string out = runtest::testFilePath("out");
  Backend b = startBackend({"7", "user", "title", "1", ""},
                           {"PPD=" + ppd, "DEVICE_URI=rx5k-emu:/?out=" + out + "&paper-missing=1"});

  // A paper query, then a drain: the answer is on the back channel when the drain completes.
  ASSERT_EQ(write(b.input, "\x1F\x11\x11", 3), 3);
  ASSERT_EQ(write(b.side, "\x02\x00\x00\x00", 4), 4);
  EXPECT_EQ(readWithin(b.side, 4, 10000), std::string("\x02\x01\x00\x00", 4));
  EXPECT_EQ(readWithin(b.back, 3, 0), std::string("\x1A\x06\x88", 3));

  // One raw page of 16 x 2 dots.
  std::string page{"\x1F\x11\x35\x00\x1D\x76\x30\x00\x02\x00\x02\x00\xF0\x0F\x00\x01", 16};
  ASSERT_EQ(write(b.input, page.data(), page.size()), static_cast<ssize_t>(page.size()));
  close(b.input);
  b.input = -1;
  EXPECT_EQ(finish(b), 0);
  std::string pages = fileText(out + "/pages.tsv");
  EXPECT_EQ(pages, "1\t16\t2\traw\t0\t" + out + "/page-1.png\n");
  EXPECT_NE(fileText(out + "/printer.log").find("answer: out of paper"), std::string::npos);
}

TEST(BackendMode, UnparseableStreamFailsTheJob) {
  std::string out = runtest::testFilePath("out");
  Backend b = startBackend({"8", "user", "title", "1", ""}, {"DEVICE_URI=rx5k-emu:/?out=" + out});
  ASSERT_EQ(write(b.input, "\x1F\x11\x99", 3), 3);
  close(b.input);
  b.input = -1;
  EXPECT_EQ(finish(b), 1);  // CUPS_BACKEND_FAILED
  EXPECT_NE(fileText(out + "/printer.log").find("ERROR: offset 0: unknown command 1F 11 99"),
            std::string::npos);
}
