// End-to-end test helper: runs a filter job against the emulated printer and collects the exit
// status, the scheduler lines, the printer's command log, the raw printer stream and the decoded
// pages. In-process on the virtual clock by default; as processes (build/bin/rastertoRX5K under
// build/bin/rx5k-emulator) where the process itself is under test.
#pragma once

#include <string>
#include <vector>

namespace runtest {

struct FilterRunOptions {
  std::string ppd;         // PPD file (required)
  std::string raster;      // raster file; empty: the filter reads an empty standard input
  std::string jobOptions;  // the filter's options argument
  bool viaStdin = false;   // feed the raster on standard input (6 arguments) instead of a file
  // Emulator options for the printer script and the run, e.g. {"--paper-missing", "2"}.
  std::vector<std::string> emulatorArgs;
  std::vector<std::string> env;  // NAME=VALUE for the filter, e.g. "LANG=zh_CN.UTF-8"
  double timeoutSeconds = 120;   // the filter is killed after this (exit status 124)
  // Output folder name under the build folder's test-runs/; empty: the current test's name.
  std::string name;
  std::string filter;  // another filter program (default: the built rastertoRX5K)
  // Run the programs as the scheduler does (real time, signals, descriptors) instead of the job
  // in-process; needed for env, filter and --silent/--sigterm-after-ms timing in real time.
  bool process = false;
};

struct DecodedPage {
  int number = 0;
  int width = 0;
  int height = 0;
  std::vector<unsigned char> dots;  // width x height, 0 black, 255 white
  // The dot at (x, y), 255 outside the page.
  unsigned char at(int x, int y) const;
};

struct FilterRun {
  int exitStatus = -1;  // the filter's (a process run: the emulator's, 2, 3, 124, 128 + signal)
  std::string filterStderr;    // the filter's standard error
  std::string printerLog;      // the emulator's log, one line per command received
  std::string printerStream;   // raw bytes the filter sent to the printer
  std::string emulatorStdout;  // one summary line per page and a closing line
  std::string emulatorStderr;  // the emulator's own complaints (stream errors, set-up)
  std::vector<DecodedPage> pages;
  std::string outDir;
  std::string error;   // set when the run itself failed (emulator missing, hung, unreadable page)
  double seconds = 0;  // the job's duration (virtual for an in-process run)
};

FilterRun runFilter(const FilterRunOptions &options);

// A path for a test's own input file (PPD, raster), unique to the running test, so tests that
// run in parallel never share one.
std::string testFilePath(const std::string &name);

// A file's bytes ("" when it cannot be read).
std::string readFile(const std::string &path);
// The peak resident memory of a running process in KiB (VmHWM: the program since its exec, not
// the pages it shared with its parent before), 0 when unknown.
long peakResidentKiB(int pid);

// The built programs.
std::string filterPath();
std::string emulatorPath();

}  // namespace runtest
