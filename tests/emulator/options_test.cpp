// The emulator's command line: the mistakes it refuses. (What it accepts reaches the printer in
// the in-process jobs, which take their printer script from it, and in the backend's tests.)
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>

#include "emulator_options.h"

TEST(EmulatorOptions, RefusesBadCommandLines) {
  // Bad command lines, one per '|'.
  std::istringstream bad(
      "|--out o|--ppd|--ppd p --paper-missing -1|--ppd p --paper-missing two|"
      "--ppd p --cancel-at-page 0|--ppd p --sigterm-at-byte 0|--ppd p --idle-report-ms -2|"
      "--ppd p --idle-after soon|"
      "--ppd p --hardver 1.0|--ppd p --hardver 1.0.4.5|--ppd p --hardver 1..4|"
      "--ppd p --hardver 256.0.0|--ppd p --hardver -1.0.0|--ppd p --hardver 1.0.4x|"
      "--ppd p --serial 0123456789ABCDEF|--ppd p --env NOVALUE|--ppd p --bogus|"
      "--ppd p --stdin|--ppd p -- opts file extra|--ppd p --max-job-bytes 0|"
      "--ppd p --max-page-dots 2X|--ppd p --max-job-files -1|--ppd p --max-total-bytes 1KB|"
      "--ppd p --max-job-dots 8589934592G");
  for (std::string line; std::getline(bad, line, '|');) {
    std::istringstream words(line);
    std::string why;
    emu::EmulatorOptions o;
    EXPECT_FALSE(emu::parseEmulatorArgs({std::istream_iterator<std::string>(words), {}}, o, why))
        << line;
    EXPECT_FALSE(why.empty()) << line;
  }
}
