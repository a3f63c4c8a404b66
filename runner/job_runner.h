// Whole filter jobs in-process: the filter's job core against the emulated printer, on a virtual
// clock, with in-memory channels. A job of any model runs in a few milliseconds plus its pages'
// work, whatever waits its printer asks for, and several run at once in one process.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/job.h"
#include "emulated_printer.h"
#include "printer_script.h"
#include "virtual_clock.h"

namespace runner {

struct JobSpec {
  std::string ppd;            // the PPD file
  int model = -1;             // its model number when the caller knows it (saves reading the PPD)
  std::string jobOptions;     // the filter's options argument
  std::string raster;         // the CUPS raster stream
  bool rasterAsFile = false;  // name it as a file argument (7 arguments) instead of standard input
  emu::PrinterSettings printer;  // the printer script
  int labelRowBytes = 0;         // model 20: the printer's row length (0: from the raster)
  const char *language = "C";    // the CUPS default language ("zh_CN": Chinese messages)
  int cancelAtPage = 0;          // cancels when this page's bitmap command arrives (0: never)
  double cancelAfter = -1;       // cancels after this many virtual seconds (-1: never)
  double timeLimit = 3600;       // cancels after this many virtual seconds, as a time-out
  bool keepImages = true;        // keep the decoded page images
  bool keepStream = true;        // keep the printer stream's bytes
  bool keepWire = true;          // keep the printer's command log
};

struct JobResult {
  int exitStatus = -1;
  int pagesSent = 0;              // pages the filter sent whole
  std::string stream;             // the printer stream
  std::string log;                // the scheduler lines
  std::vector<std::string> wire;  // the printer's command log, a line per command
  std::vector<emu::PrintedPage> pages;
  bool streamOk = false;  // the printer parsed the stream to its end
  std::string streamError;
  bool timedOut = false;  // the time limit cancelled the job
  double seconds = 0;     // virtual time the job took
  long switches = 0;      // hand-overs between the job's threads
};

JobResult runJob(const JobSpec &spec);

// The seams of a job against the emulated printer on a virtual clock: what the job writes goes
// to the printer, what the printer reports comes back on the back channel, drains are answered
// at once. runJob uses it for whole jobs; tests use it to run single steps of the core (the
// calling thread must enter() the clock first).
class EmulatedSeams : public PrinterSink,
                      public Channel,
                      public emu::PageSink,
                      public emu::CommandLog {
 public:
  EmulatedSeams(const emu::PrinterSetup &setup, bool keepImages = true, bool keepStream = true,
                bool keepWire = true);
  JobSeams seams() { return {*this, log, *this, clock}; }
  emu::EmulatedPrinter &printer() { return printer_; }

  VirtualClock clock;
  StringLogSink log;
  std::string bytes;              // the printer stream (when kept)
  std::vector<std::string> wire;  // the printer's command log
  std::vector<emu::PrintedPage> pages;

  bool write(const void *data, size_t n) override;
  ssize_t backRead(unsigned char *buf, size_t n, double timeout, bool interruptible) override;
  void drain(double timeout, const std::function<bool()> &canceled) override;
  void interruptRead() override;
  emu::SinkStatus page(emu::PrintedPage &page, std::string &error) override;
  emu::SinkStatus stream(const unsigned char *data, size_t n, std::string &error) override;
  emu::SinkStatus line(std::string_view text, std::string &error) override;

 private:
  bool keepImages_, keepStream_;
  std::mutex lock_;  // the reports and the interrupt: written by both threads of the job
  std::string reports_;
  bool interrupted_ = false;
  emu::EmulatedPrinter printer_;
};

}  // namespace runner
