// `cmake --install` into a staging tree: the filter, the emulator backend and every PPD land
// where CUPS looks for them, with the modes the scheduler accepts, and every installed PPD
// passes cupstestppd.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

// Standard output of a shell command, trailing line end removed.
std::string commandOutput(const std::string &cmd) {
  std::string out;
  if (FILE *p = popen(cmd.c_str(), "r")) {
    std::array<char, 256> buf;
    while (fgets(buf.data(), buf.size(), p)) out += buf.data();
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

unsigned modeOf(const fs::path &p) {
  struct stat st {};
  if (stat(p.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

class StagedInstall : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Each test runs as its own process, maybe at the same time as the others: one tree each.
    stage_ = fs::path(RX5K_BUILD_DIR) / "test-stage" / ("install-" + std::to_string(getpid()));
    fs::remove_all(stage_);
    const std::string cmd = "DESTDIR='" + stage_.string() + "' cmake --install '" +
                            std::string(RX5K_BUILD_DIR) + "' > '" + stage_.string() + ".log' 2>&1";
    fs::create_directories(stage_.parent_path());
    status_ = std::system(cmd.c_str());
    // Relative to the root: cups-config gives absolute folders.
    serverbin_ = stage_ / fs::path(commandOutput("cups-config --serverbin")).relative_path();
    datadir_ = stage_ / fs::path(commandOutput("cups-config --datadir")).relative_path();
  }
  static inline fs::path stage_, serverbin_, datadir_;
  static inline int status_ = -1;
};

TEST_F(StagedInstall, ProgramsWithTheModesTheSchedulerAccepts) {
  EXPECT_EQ(status_, 0) << "see " << stage_.string() << ".log";
  const fs::path filter = serverbin_ / "filter" / "rastertoRX5K";
  ASSERT_TRUE(fs::exists(filter)) << filter;
  EXPECT_EQ(modeOf(filter), 0555u);
  const fs::path backend = serverbin_ / "backend" / "rx5k-emu";
  ASSERT_TRUE(fs::exists(backend)) << backend;
  EXPECT_EQ(modeOf(backend), 0755u);
  EXPECT_EQ(fs::file_size(backend), fs::file_size(fs::path(RX5K_BIN_DIR) / "rx5k-emulator"));
}

// With the staging tree as root, cupstestppd also finds the filter each PPD names.
TEST_F(StagedInstall, EveryPpdInTheModelFolderPassesCupstestppd) {
  const fs::path built = fs::path(RX5K_BUILD_DIR) / "ppd";
  const fs::path model = datadir_ / "model" / "rx5k";
  ASSERT_TRUE(fs::is_directory(built));
  int count = 0;
  for (const auto &e : fs::directory_iterator(built)) {
    const fs::path installed = model / e.path().filename();
    ASSERT_TRUE(fs::exists(installed)) << installed;
    EXPECT_EQ(fs::file_size(installed), fs::file_size(e.path())) << installed;
    EXPECT_EQ(modeOf(installed), 0644u) << installed;
    const std::string cmd =
        "cupstestppd -q -R '" + stage_.string() + "' '" + installed.string() + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << "cupstestppd -R " << stage_ << " " << installed;
    count++;
  }
  EXPECT_EQ(count, 20);
}

}  // namespace
