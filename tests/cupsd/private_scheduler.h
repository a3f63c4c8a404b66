// A private CUPS scheduler for end-to-end tests: its own configuration, spool and ServerBin
// under the build tree, listening on a free loopback port, run in the foreground.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>

// Result of a shell command: exit status (-1 if it could not run) and its standard output
// and error together.
struct CommandResult {
  int status = -1;
  std::string output;
};
CommandResult runCommand(const std::string &command);

// Single-quoted for /bin/sh.
std::string shellQuote(const std::string &s);

class PrivateScheduler {
 public:
  // Prepares an empty folder for the scheduler `name` (under the build tree, or under /tmp when
  // running as root). Its ServerBin holds copies of the project's filter and of the emulator as
  // the backend rx5k-emu, plus links to the system's PDF filters and helper folders.
  explicit PrivateScheduler(const std::string &name);
  ~PrivateScheduler();
  // Stops the scheduler and removes its folder.
  void discard();

  // Starts cupsd and waits until it accepts connections; false (with `error`) on failure.
  bool start(std::string &error);
  // Asks cupsd to stop and waits for it (bounded); kills it if it does not stop.
  void stop();

  const std::string &server() const { return server_; }  // "127.0.0.1:PORT"
  const std::filesystem::path &dir() const { return dir_; }

  // A client command (lpadmin, lp, lpstat, cancel) run against this scheduler.
  CommandResult client(const std::string &args) const;
  // Adds an enabled, accepting printer with the given PPD file and device URI.
  bool addPrinter(const std::string &name, const std::filesystem::path &ppd, const std::string &uri,
                  std::string &error) const;
  // Prints a file with lp; the job id, or 0 (with `error`) on failure.
  int print(const std::string &printer, const std::filesystem::path &file,
            const std::string &options, std::string &error) const;
  // Cancels a job with cancel.
  bool cancel(int job, std::string &error) const;
  // Polls lpstat until the printer has no unfinished job; false when `limit` passes first.
  bool waitForIdleQueue(const std::string &printer, std::chrono::seconds limit) const;
  // The job's IPP state (ipp_jstate_t values), 0 if unknown.
  int jobState(int job) const;

  // The scheduler's error_log (LogLevel debug), and the lines about one job.
  std::string errorLog() const;
  std::string jobLog(int job) const;
  // Polls the error_log until a line of `job` contains `text` (at or after the first line that
  // contains `after`, if given); false when `limit` passes.
  bool waitForJobLog(int job, const std::string &text, std::chrono::seconds limit,
                     const std::string &after = "") const;

 private:
  void writeConfiguration();
  void buildServerBin();

  std::filesystem::path dir_;
  std::string server_;
  int port_ = 0;
  pid_t pid_ = -1;
};
