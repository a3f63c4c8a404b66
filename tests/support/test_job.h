// A filter job whose seams are a scripted printer on a single-threaded virtual clock, for tests
// that run one step of the core (a page set-up, a query, the parser) and look at what it sent,
// logged and changed. Whole jobs, with the monitor thread, run on the runner instead.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "driver/job.h"
#include "monitor/queries.h"
#include "support/reports.h"

class TestJob : public PrinterSink, public Channel, public Clock {
 public:
  // A job of the model, with these choices marked and this ModelName.
  explicit TestJob(int model, const std::vector<std::pair<std::string, std::string>> &choices = {},
                   const std::string &modelName = "RX5K");

  // The printer's answers to a query code (0x11 paper, 0x12 cover, 0x43 idle), in order; the
  // last repeats; an empty answer is silence. The default printer is ready at once.
  void script(unsigned char code, std::vector<std::string> replies);
  // Consulted before the scripts: return true when it answered (count: queries so far).
  std::function<bool(unsigned char code, int count, std::string &reply)> answerer;
  // Called at every wait the job makes (a sleep, or a wait for a change), before it passes.
  std::function<void()> onWait;
  // A page header of width x height dots with the page size name.
  Page page(unsigned width = 8, unsigned height = 1, const char *pageSize = "A4",
            unsigned dpi = 203) const;

  // What the printer received (flushed first), its queries, and the scheduler lines.
  std::string stream();
  std::vector<unsigned char> queries;
  int drains = 0;
  std::vector<size_t> drainedAt;  // the stream's length at each drain
  std::string log() const { return logSink.text(); }
  double now = 0;

  bool write(const void *data, size_t n) override;
  ssize_t backRead(unsigned char *buf, size_t n, double timeout, bool interruptible) override;
  void drain(double timeout, const std::function<bool()> &canceled) override;
  void interruptRead() override {}
  void sleepMs(unsigned ms) override;
  bool waitFor(double seconds, const std::function<bool()> &ready) override;
  void notifyAll() override {}

  StringLogSink logSink;
  ChoiceMap choices;
  Job job;

 private:
  std::string received_;
  std::string readable_;
  std::map<unsigned char, std::vector<std::string>> replies_;
  std::map<unsigned char, size_t> used_;
};
