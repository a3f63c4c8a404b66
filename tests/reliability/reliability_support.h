// Shared pieces of the reliability tests: the files of a job, parallel runs under the emulator,
// and what the emulator runner cannot do: a direct run of the filter program with hand-made
// channels (none, silent, at end of file, scripted, a backend that goes away) and an address
// space limit, measuring the run's CPU time and peak memory.
#pragma once

#include <string>
#include <vector>

#include "support/raster_file.h"
#include "support/run_filter.h"
#include "support/test_ppd.h"

namespace reliability {

using ppdtest::modelPpd;
// Writes the pages to the current test's file name; its path.
std::string rasterFile(const std::string &name, const std::vector<rastertest::RasterPage> &pages);
// An all-black page of width x height dots, 24-bit RGB at 203 dpi.
rastertest::RasterPage blackPage(unsigned width, unsigned height);

// Runs the jobs under the emulator, four at a time; results in the order of the jobs.
std::vector<runtest::FilterRun> runInParallel(const std::vector<runtest::FilterRunOptions> &jobs);

// The back channel the filter finds on descriptor 3.
enum class BackChannel {
  None,    // descriptor 3 closed
  Silent,  // open, nothing arrives but the `reports`
  AtEnd,   // open, at end of file (the printer side closed)
};

struct TimedBytes {
  int atMs;  // after the filter's start
  std::string bytes;
};

struct DirectRunOptions {
  std::string ppd;
  std::string raster;  // the raster file (7 arguments)
  std::string jobOptions;
  std::vector<std::string> env;  // NAME=VALUE
  BackChannel back = BackChannel::None;
  std::vector<TimedBytes> reports;  // for BackChannel::Silent
  bool sideChannel = false;         // descriptor 4: a socket that never answers
  // Standard output: collected, or closed by the backend after this many bytes (-1: never).
  long closeOutputAfter = -1;
  int sigtermAfterMs = -1;              // -1: never
  unsigned long addressSpaceLimit = 0;  // RLIMIT_AS of the filter in bytes (0: unlimited)
  double timeoutSeconds = 60;           // SIGKILL after this long
};

struct DirectRunResult {
  int exitStatus = -1;          // when the filter exited
  int signal = 0;               // when a signal ended it (SIGKILL at the time-out)
  double seconds = 0;           // from the start to the exit
  double secondsAfterCue = -1;  // from the SIGTERM or the closed output to the exit
  double cpuSeconds = 0;        // user + system time of the filter
  long maxRssKb = 0;            // its peak resident memory, sampled while it runs
  std::string err;              // its standard error
  std::string out;              // what it wrote to the printer (until the output was closed)
};

DirectRunResult runDirect(const DirectRunOptions &options);

// Whether the printer stream of a model parses to its end with no command cut (empty) or the
// emulator's complaint.
std::string streamProblem(int model, const std::string &stream);

// Sanitizer reports or crashes in a filter's standard error ("" when there are none).
std::string sanitizerReport(const std::string &err);

}  // namespace reliability
