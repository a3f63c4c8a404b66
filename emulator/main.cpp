// rx5k-emulator: runs the filter as the CUPS scheduler would and plays the printer; under the
// name rx5k-emu (or with --backend) it is a CUPS backend that plays the printer for a real queue.
#include <cstdio>
#include <string>
#include <vector>

#include "backend_mode.h"
#include "emulator_job.h"
#include "emulator_options.h"
#include "filter_harness.h"

int main(int argc, char *argv[]) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (emu::isBackendName(argv[0]))
    return emu::runBackend(std::vector<std::string>(argv, argv + argc));
  if (!args.empty() && args[0] == "--backend") {
    args[0] = argv[0];
    return emu::runBackend(args);
  }
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
  if (options.version) {
    std::printf("rx5k-emulator %s\n", emu::kVersion);
    return 0;
  }
  return emu::runEmulatorJob(options, argv[0]);
}
