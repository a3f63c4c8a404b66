// Small PPD files for the thermal tests: a model number, a ModelName and options, each option
// with the one choice the test wants marked (or left unmarked).
#pragma once

#include <cups/ppd.h>

#include <string>
#include <vector>

struct PpdOption {
  std::string keyword;
  std::string choice;
  bool marked = true;  // false: *Default names no choice, so nothing is marked
};

// Opens a PPD built from the arguments and marks its defaults; closed by the destructor.
class TestPpd {
 public:
  TestPpd(int modelNumber, const std::string &modelName, const std::vector<PpdOption> &options);
  ~TestPpd();
  TestPpd(const TestPpd &) = delete;
  TestPpd &operator=(const TestPpd &) = delete;
  ppd_file_t *get() const { return ppd_; }

 private:
  ppd_file_t *ppd_ = nullptr;
};
