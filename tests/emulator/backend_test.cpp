// The emulator as a CUPS backend: options from the device URI, the device line, and a failed
// job (the back and side channels are played by the scheduler tests).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backend_mode.h"
#include "support/run_filter.h"

namespace {

// The emulator in backend mode, run by the shell after `prefix`: its exit status and output.
std::pair<int, std::string> runBackend(const std::string &prefix, const std::string &args) {
  std::string out;
  FILE *p = popen((prefix + " '" + runtest::emulatorPath() + "' --backend " + args).c_str(), "r");
  if (!p) return {-1, out};
  char buf[256];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
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
  EXPECT_EQ(runBackend("", ""), std::pair(0, std::string(emu::kBackendDeviceLine)));
}

TEST(BackendMode, UnparseableStreamFailsTheJob) {
  const std::string out = runtest::testFilePath("out");
  EXPECT_EQ(runBackend("printf '\\037\\021\\231' | DEVICE_URI='rx5k-emu:/?out=" + out + "'",
                       "8 user title 1 ''")
                .first,
            1);  // CUPS_BACKEND_FAILED
  std::ifstream log(out + "/printer.log");
  EXPECT_NE(std::string(std::istreambuf_iterator<char>(log), {})
                .find("ERROR: offset 0: unknown command 1F 11 99"),
            std::string::npos);
}
