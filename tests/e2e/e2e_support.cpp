// Scratch files and PPDs for the end-to-end tests.
#include "e2e_support.h"

#include <sys/stat.h>

#include <filesystem>

namespace e2e {

std::string scratchDir() {
  const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string dir =
      std::string(RX5K_BUILD_DIR) + "/test-scratch/" + info->test_suite_name() + "." + info->name();
  std::filesystem::create_directories(dir);
  return dir;
}

std::string rasterFile(const std::vector<rastertest::RasterPage> &pages, const std::string &name) {
  std::string path = scratchDir() + "/" + name;
  EXPECT_TRUE(rastertest::writeRasterFile(path, pages)) << path;
  return path;
}

std::string ppdFile(const ppdtest::TestPpd &ppd, const std::string &name) {
  std::string path = scratchDir() + "/" + name;
  EXPECT_TRUE(ppdtest::writeTestPpd(path, ppd)) << path;
  return path;
}

std::string projectPpd(const std::string &name) {
  return std::string(RX5K_BUILD_DIR) + "/ppd/" + name;
}

size_t countOf(const std::string &haystack, const std::string &needle) {
  size_t n = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + needle.size()))
    n++;
  return n;
}

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

}  // namespace e2e
