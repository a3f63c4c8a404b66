// PPDs opened and marked for the thermal tests: a model number, a ModelName and options, each
// with the one choice the test wants marked (or left unmarked).
#pragma once

#include <cups/ppd.h>

#include <string>
#include <vector>

struct MarkedOption {
  std::string keyword;
  std::string choice;
  bool marked = true;  // false: *Default names no choice, so nothing is marked
};

// Opens a PPD built from the arguments and marks its defaults; closed by the destructor.
class MarkedPpd {
 public:
  MarkedPpd(int modelNumber, const std::string &modelName,
            const std::vector<MarkedOption> &options);
  ~MarkedPpd();
  MarkedPpd(const MarkedPpd &) = delete;
  MarkedPpd &operator=(const MarkedPpd &) = delete;
  ppd_file_t *get() const { return ppd_; }

 private:
  ppd_file_t *ppd_ = nullptr;
};
