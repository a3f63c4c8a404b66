// Shared pieces of the reliability tests: how every job must end, and what the emulator runner
// cannot do: a direct run of the filter program with hand-made channels (none, silent, at end of
// file, a backend that goes away) and an address space limit, measuring the run's CPU
// time and peak memory.
#pragma once

#include <string>
#include <vector>

#include "support/e2e_support.h"
#include "thermal_parser.h"

namespace reliability {

using e2e::blackPage;
using e2e::rasterFile;
using e2e::runInParallel;
using ppdtest::modelPpd;

// The back channel the filter finds on descriptor 3.
enum class BackChannel {
  None,    // descriptor 3 closed
  Silent,  // open, nothing arrives
  AtEnd,   // open, at end of file (the printer side closed)
};

struct DirectRunOptions {
  std::string ppd;
  std::string raster;  // the raster file (7 arguments)
  std::string jobOptions;
  std::vector<std::string> env;  // NAME=VALUE
  BackChannel back = BackChannel::None;
  bool sideChannel = false;  // descriptor 4: a socket that never answers
  // Standard output: collected, or closed by the backend after this many bytes (-1: never).
  long closeOutputAfter = -1;
  int sigtermAfterMs = -1;              // -1: never
  unsigned long addressSpaceLimit = 0;  // RLIMIT_AS of the filter in bytes (0: unlimited)
  double timeoutSeconds = 60;           // SIGKILL after this long
};

struct DirectRunResult {
  int exitStatus = -1;    // when the filter exited
  int signal = 0;         // when a signal ended it (SIGKILL at the time-out)
  double seconds = 0;     // from the start to the exit
  double cpuSeconds = 0;  // user + system time of the filter
  long maxRssKb = 0;      // its peak resident memory, sampled while it runs
  std::string err;        // its standard error
  std::string out;        // what it wrote to the printer (until the output was closed)
};

DirectRunResult runDirect(const DirectRunOptions &options);

// Sanitizer reports or crashes in a filter's standard error ("" when there are none).
std::string sanitizerReport(const std::string &err);
// What the filter's standard error lacks of an orderly end: a sanitizer report, or the missing
// trailer and closing "INFO:" line ("" when the end is orderly).
std::string endProblem(const std::string &err);

}  // namespace reliability
