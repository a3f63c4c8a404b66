// Command line of rx5k-emulator: the printer script, the filter run and the output folder.
#pragma once

#include <string>
#include <vector>

#include "printer_output.h"
#include "printer_script.h"

namespace emu {

// CPU time of one backend job: ample for a thousand A4 pages, short of a stuck queue.
inline constexpr int kDefaultCpuSeconds = 300;

struct EmulatorOptions {
  std::string ppd;                  // --ppd: the printer's PPD (required)
  std::string outDir = "rx5k-out";  // --out
  std::string filter;               // --filter (empty: rastertoRX5K beside the emulator)
  PrinterSettings printer;
  PrinterLimits limits;   // --max-job-bytes, --max-page-dots, ...
  int labelRowBytes = 0;  // --label-row-bytes (model 20)
  bool viaStdin = false;  // --stdin: the raster goes through standard input
  int sigtermAfterMs = -1;
  int sigtermAtPage = 0;
  int sigtermAtByte = 0;
  double timeoutSeconds = 0;
  int cpuSeconds = kDefaultCpuSeconds;  // --max-cpu-seconds (the backend's)
  bool showStderr = false;
  bool backend = false;                 // --backend: run as a CUPS backend
  bool explicitArgv = false;            // --argv given: filterArgs replace the standard ones
  std::vector<std::string> filterArgs;  // --argv values (argv[1] on)
  std::vector<std::string> env;         // --env NAME=VALUE
  std::string jobOptions;               // first argument after --
  std::string rasterFile;               // second argument after -- (empty: standard input)
  bool help = false;
  bool version = false;
};

// Parses the arguments (without the program name). False with a message on a bad command line.
bool parseEmulatorArgs(const std::vector<std::string> &args, EmulatorOptions &options,
                       std::string &error);

// The arguments the filter gets after argv[0]: job-id user title copies options [file].
std::vector<std::string> standardFilterArgs(const EmulatorOptions &options);

// The project's version, for --version.
inline constexpr const char *kVersion = RX5K_VERSION;

const char *emulatorUsage();
// The backend's --help: its arguments and the device URI's keys.
const char *backendUsage();

// A size: digits with an optional K, M or G (binary multiples); false unless 1 to 2^62.
bool parseSize(const std::string &text, uint64_t &out);

}  // namespace emu
