// `cmake --install` into a staging tree: the filter, the emulator backend and every PPD land
// where CUPS looks for them, with the modes the scheduler accepts, and every installed PPD
// passes cupstestppd; the emulator program lands on PATH and the virtual printer's folder is
// made for the backend's user.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/models.h"

namespace fs = std::filesystem;

namespace {

// The first line of a shell command's standard output.
std::string commandOutput(const std::string &cmd) {
  std::string out;
  char buf[256];
  if (FILE *p = popen(cmd.c_str(), "r")) {
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out.substr(0, out.find('\n'));
}

unsigned modeOf(const fs::path &p) {
  return static_cast<unsigned>(fs::status(p).permissions()) & 07777;
}

// One install, so one test: every test runs as its own process, maybe beside the others.
TEST(StagedInstall, ProgramsAndPpdsLandWhereTheSchedulerLooks) {
  const fs::path stage =
      fs::path(RX5K_BUILD_DIR) / "test-stage" / ("install-" + std::to_string(getpid()));
  fs::remove_all(stage);
  fs::create_directories(stage.parent_path());
  const std::string cmd = "DESTDIR='" + stage.string() + "' cmake --install '" +
                          std::string(RX5K_BUILD_DIR) + "' > '" + stage.string() + ".log' 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << "see " << stage.string() << ".log";
  // Relative to the root: cups-config gives absolute folders.
  const fs::path serverbin =
      stage / fs::path(commandOutput("cups-config --serverbin")).relative_path();
  const fs::path model =
      stage / fs::path(commandOutput("cups-config --datadir")).relative_path() / "model" / "rx5k";

  const fs::path filter = serverbin / "filter" / "rastertoRX5K";
  EXPECT_EQ(modeOf(filter), 0555u) << filter;
  const fs::path backend = serverbin / "backend" / "rx5k-emu";
  EXPECT_EQ(modeOf(backend), 0755u) << backend;
  EXPECT_EQ(fs::file_size(backend), fs::file_size(fs::path(RX5K_BIN_DIR) / "rx5k-emulator"));
  // The emulator on PATH too, runnable as it is installed.
  const fs::path program = stage / fs::path(RX5K_INSTALL_BINDIR).relative_path() / "rx5k-emulator";
  EXPECT_EQ(modeOf(program), 0755u);
  EXPECT_EQ(commandOutput("'" + program.string() + "' --version"), "rx5k-emulator " RX5K_VERSION);
  // The virtual printer's folder, for the user the scheduler runs the backend as and the print
  // administrators (given away only when installing as root); others may not list it.
  struct stat folder {};
  ASSERT_EQ(stat((stage / fs::path(RX5K_BACKEND_ROOT).relative_path()).c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode, S_IFDIR | 02751);
  const passwd *lp = geteuid() == 0 ? getpwnam("lp") : nullptr;
  EXPECT_EQ(folder.st_uid, lp ? lp->pw_uid : geteuid());
  const group *admins = lp ? getgrnam("lpadmin") : nullptr;
  EXPECT_EQ(folder.st_gid, admins ? admins->gr_gid : lp ? lp->pw_gid : getegid());

  // Every built PPD, unchanged and readable by all; with the staging tree as root, cupstestppd
  // also finds the filter each one names.
  const fs::path built = fs::path(RX5K_BUILD_DIR) / "ppd";
  ASSERT_TRUE(fs::is_directory(built));
  int count = 0;
  for (const auto &e : fs::directory_iterator(built)) {
    const fs::path installed = model / e.path().filename();
    ASSERT_TRUE(fs::exists(installed)) << installed;
    EXPECT_EQ(fs::file_size(installed), fs::file_size(e.path())) << installed;
    EXPECT_EQ(modeOf(installed), 0644u) << installed;
    const std::string test =
        "cupstestppd -q -R '" + stage.string() + "' '" + installed.string() + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(test.c_str()), 0) << "cupstestppd -R " << stage << " " << installed;
    count++;
  }
  EXPECT_GE(count, static_cast<int>(modelTable().size())) << "a PPD per model at least";
}

}  // namespace
