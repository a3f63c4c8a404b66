// Runs the filter as the CUPS scheduler and backend would: filter arguments, PPD environment,
// raster as a file or on standard input, the back channel on descriptor 3 (non-blocking pipe)
// and the side channel on descriptor 4 (non-blocking socket pair), with the emulated printer on
// the other end of standard output and both channels.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "emulated_printer.h"

namespace emu {

struct FilterCommand {
  std::string path;                 // the filter program
  std::vector<std::string> argv;    // argv[0] included
  std::vector<std::string> env;     // NAME=VALUE entries added to (or replacing) the environment
  std::string stdinFile;            // piped into standard input when not empty
  std::FILE *stderrCopy = nullptr;  // the filter's standard error is copied here (if set)
  bool echoStderr = false;          // and to the emulator's standard error
  int sigtermAfterMs = -1;          // SIGTERM this long after the start (-1: never)
  int sigtermAtPage = 0;            // SIGTERM when this page's bitmap command arrives (0: never)
  // SIGTERM when this byte of the printer stream arrives (0: never). The filter's output pipe is
  // then one memory page, so the filter is at most that and its own buffer ahead of the printer.
  int sigtermAtByte = 0;
  double timeoutSeconds = 0;  // SIGKILL after this long (0: no limit)
};

struct FilterOutcome {
  bool started = false;
  std::string error;      // why the filter could not be run
  int exitStatus = -1;    // when it exited
  int signal = 0;         // when a signal ended it
  bool timedOut = false;  // killed because of the time limit
  bool sigtermSent = false;
  double seconds = 0;  // from the start to the end of the run
};

// Runs the filter to its end and feeds everything it sends to the printer (whose finish() the
// caller calls afterwards). Once the printer has stopped the job, the filter's output is closed.
FilterOutcome runFilterUnderPrinter(const FilterCommand &command, EmulatedPrinter &printer);

// Exit status of the emulator.
inline constexpr int kExitUsage = 2;         // bad command line, or the filter could not run
inline constexpr int kExitStreamError = 3;   // the printer stream could not be parsed
inline constexpr int kExitStopped = 4;       // a cap ended the job, or its files failed
inline constexpr int kExitTimeout = 124;     // the filter exceeded --timeout and was killed
inline constexpr int kExitSignalBase = 128;  // + signal number when a signal ended the filter
int emulatorExitStatus(const FilterOutcome &outcome, const EmulatedPrinter &printer);

}  // namespace emu
