// The emulated printer: takes the printer stream as it arrives, parses it, answers status
// queries from its script, and hands on each page as soon as it has ended, with a command log
// and the raw stream for whoever keeps them. The process around it (filter harness, backend or
// an in-process job runner) only moves bytes. It keeps no more than the page being decoded and
// what the printer language carries from page to page, and holds every job to the caps.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "output_folder.h"
#include "printer_output.h"
#include "printer_script.h"
#include "thermal_parser.h"

namespace emu {

class LabelDecoder;

struct PrinterSetup {
  int model = -1;         // cupsModelNumber of the PPD (-1: unknown, parsed as thermal)
  std::string modelName;  // for the log
  std::string outDir;     // the folder form only: log, raw stream and pages go here
  PrinterSettings script;
  int labelRowBytes = 0;  // model 20: bytes per row (its stream does not say)
  PrinterLimits limits;
};

class EmulatedPrinter {
  enum class Failure { Stream, OverLimit, Output };

 public:
  // Pages go to `pages` as each ends, log lines to `log` if given; no files of its own. Both
  // must outlive the printer.
  EmulatedPrinter(const PrinterSetup &setup, PageSink &pages, CommandLog *log = nullptr);
  // The folder form: open() creates setup.outDir as the emulator program does, and the printer
  // writes its command log, raw stream, page list and PNGs there; summary gets one line per page.
  EmulatedPrinter(const PrinterSetup &setup, std::FILE *summary);
  ~EmulatedPrinter();
  EmulatedPrinter(const EmulatedPrinter &) = delete;
  EmulatedPrinter &operator=(const EmulatedPrinter &) = delete;

  // Reports for the back channel.
  std::function<void(const std::string &bytes)> sendReport;
  // A page's bitmap command has arrived (pages counted from 1).
  std::function<void(int page)> pageStarted;

  // The folder form: creates the output folder and files (the sink form needs no call).
  bool open(std::string &error);
  // The folder form's folder once open, else null.
  OutputFolder *folder() const { return ownFolder_.get(); }
  // Printer data, t seconds after the job started.
  void receive(const unsigned char *data, size_t n, double t);
  // A drain request (everything sent before it has been passed to receive).
  void drain(double t);
  // Volunteers the reports that are due.
  void tick(double t);
  // When tick next has something to do (negative: nothing pending).
  double nextWakeup() const { return script_.nextDue(); }
  // A line about the process around the printer (signals, side-channel requests).
  void note(double t, const std::string &text);
  // End of the stream: checks that it ended between commands and hands on a label whose print
  // command never came. Returns false when the job failed (see streamError()).
  bool finish(double t);

  // No failure so far.
  bool streamOk() const { return streamError_.empty(); }
  // The first failure: the stream could not be parsed, a cap was reached, or the output failed.
  const std::string &streamError() const { return streamError_; }
  // The first failure was a cap (stream bytes, dots per page or job, files, folder size).
  bool overLimit() const { return !streamOk() && failure_ == Failure::OverLimit; }
  // A cap or the output ended the job: the printer takes no more bytes, and the process around
  // it may stop reading the stream.
  bool stopped() const { return stopped_; }
  int pages() const { return pages_; }
  bool isLabelStream() const { return label_; }

 private:
  class LabelPages;

  void handle(const ThermalEvent &event, double t);
  void report(const std::string &bytes, double t, const char *why);
  void logLine(double t, size_t offset, const std::string &name, const std::string &bytes,
               const std::string &text);
  void logText(const std::string &text);
  void startLog();
  // Hands a finished page on; false once the job has ended.
  bool deliver(PrintedPage &page);
  void labelFailure();
  void fail(Failure kind, const std::string &error);
  void failSink(SinkStatus status, const std::string &error);

  PrinterSetup setup_;
  std::FILE *summary_ = nullptr;
  std::unique_ptr<OutputFolder> ownFolder_;
  PageSink *pageSink_ = nullptr;
  CommandLog *log_ = nullptr;
  PrinterScript script_;
  ThermalParser parser_;
  bool label_;
  std::unique_ptr<LabelPages> labelPages_;
  std::unique_ptr<LabelDecoder> labels_;
  std::vector<ThermalEvent> events_;
  std::string streamError_;
  Failure failure_ = Failure::Stream;
  bool stopped_ = false;
  uint64_t received_ = 0;
  uint64_t jobDots_ = 0;  // of the thermal pages announced so far
  double now_ = 0;        // time of the bytes being decoded
  int pages_ = 0;
  bool finished_ = false;
};

}  // namespace emu
