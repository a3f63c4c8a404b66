// rx5k-emulator: runs the filter as the CUPS scheduler would and plays the printer.
#include <cstdio>
#include <string>
#include <vector>

#include "emulator_job.h"
#include "emulator_options.h"
#include "filter_harness.h"

int main(int argc, char *argv[]) {
  std::vector<std::string> args(argv + 1, argv + argc);
  emu::EmulatorOptions options;
  std::string error;
  if (!emu::parseEmulatorArgs(args, options, error)) {
    std::fprintf(stderr, "rx5k-emulator: %s\n%s", error.c_str(), emu::emulatorUsage());
    return emu::kExitUsage;
  }
  if (options.help) {
    std::fputs(emu::emulatorUsage(), stdout);
    return 0;
  }
  return emu::runEmulatorJob(options, argv[0]);
}
