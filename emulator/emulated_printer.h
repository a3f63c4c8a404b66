// The emulated printer: takes the printer stream as it arrives, parses it, answers status
// queries from its script, and writes the command log, the raw stream and one PNG per page into
// its output folder. The process around it (filter harness or backend) only moves bytes.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "printer_script.h"
#include "thermal_parser.h"

namespace emu {

struct PrinterSetup {
  int model = -1;         // cupsModelNumber of the PPD (-1: unknown, parsed as thermal)
  std::string modelName;  // for the log
  std::string outDir;     // log, raw stream and pages go here
  PrinterSettings script;
  int labelRowBytes = 0;  // model 20: bytes per row (its stream does not say)
};

// Files in the output folder.
inline constexpr const char *kCommandLogFile = "printer.log";
inline constexpr const char *kRawStreamFile = "printer.bin";
inline constexpr const char *kPageListFile = "pages.tsv";  // number width height encoding frames
                                                           // file, tab-separated

class EmulatedPrinter {
 public:
  // summary receives one line per page (standard output of the emulator).
  EmulatedPrinter(const PrinterSetup &setup, std::FILE *summary);
  ~EmulatedPrinter();
  EmulatedPrinter(const EmulatedPrinter &) = delete;
  EmulatedPrinter &operator=(const EmulatedPrinter &) = delete;

  // Reports for the back channel.
  std::function<void(const std::string &bytes)> sendReport;
  // A page's bitmap command has arrived (pages counted from 1).
  std::function<void(int page)> pageStarted;

  // Creates the output folder and files.
  bool open(std::string &error);
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
  // End of the stream: checks that it ended between commands and decodes label streams.
  // Returns false when the stream could not be parsed.
  bool finish(double t);

  bool streamOk() const { return streamError_.empty(); }
  const std::string &streamError() const { return streamError_; }
  int pages() const { return pages_; }
  bool isLabelStream() const { return label_; }

 private:
  void handle(const ThermalEvent &event, double t);
  void report(const std::string &bytes, double t, const char *why);
  void logLine(double t, size_t offset, const std::string &name, const std::string &bytes,
               const std::string &text);
  void writePage(const std::string &encoding, int frames, int width, int height,
                 std::vector<unsigned char> dots, const char *prefix);
  void decodeLabels(double t);
  void failStream(const std::string &error);

  PrinterSetup setup_;
  std::FILE *summary_;
  std::FILE *log_ = nullptr;
  std::FILE *raw_ = nullptr;
  std::FILE *pageList_ = nullptr;
  PrinterScript script_;
  ThermalParser parser_;
  bool label_;
  std::string labelBytes_;
  std::vector<ThermalEvent> events_;
  std::string streamError_;
  int pages_ = 0;
  bool finished_ = false;
};

}  // namespace emu
