// Test helper that writes a small valid PPD file: model number, ModelName, page sizes, colour
// model and any options with their choices and defaults.
#pragma once

#include <string>
#include <vector>

namespace ppdtest {

struct PpdOption {
  std::string keyword;               // "Darkness"
  std::vector<std::string> choices;  // {"0", "1", "2", "3"}
  std::string defaultChoice;         // may name no choice (the option then stays unmarked)
};

struct PageSizeDef {
  std::string name;  // "A4"
  double width;      // points
  double height;     // points
};

struct TestPpd {
  int modelNumber = 22;
  std::string modelName = "RX5K";
  int dpi = 203;
  std::vector<PageSizeDef> pageSizes;  // empty: A4, Letter, A5, RX5_A4 (A4 is the default)
  std::string defaultPageSize = "A4";
  std::string defaultColorModel = "RGB";  // "RGB" or "Gray"
  std::vector<PpdOption> options;
  std::string extraLines;  // appended verbatim (each line ending in '\n')
};

// The PPD text.
std::string ppdText(const TestPpd &ppd);
// Writes the PPD text to path; false on failure.
bool writeTestPpd(const std::string &path, const TestPpd &ppd);
// A default test PPD for the model number, written among the current test's files.
std::string modelPpd(int model);

}  // namespace ppdtest
