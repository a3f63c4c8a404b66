// What every subsystem of a running job shares: its seams (printer stream, scheduler log, back
// and side channel, clock), its choices, its model and its page counters, and the cancel flag.
// The subsystems above add their own state to it (the status record, the thermal command
// bytes, the driver's raster and options); a job is one object, and nothing of it is
// process-wide but the flag a SIGTERM sets.
#pragma once

#include <atomic>
#include <set>
#include <string>

#include "base/channel.h"
#include "base/choices.h"
#include "base/clock.h"
#include "base/log.h"
#include "base/models.h"
#include "base/printer_stream.h"

// Where a job's bytes and lines go, and what it waits on; all outlive the job.
struct JobSeams {
  PrinterSink &printer;
  LogSink &log;
  Channel &channel;
  Clock &clock;
};

struct JobBase {
  explicit JobBase(const JobSeams &seams)
      : prn(seams.printer), log(seams.log), channel(seams.channel), clock(seams.clock) {}
  JobBase(const JobBase &) = delete;
  JobBase &operator=(const JobBase &) = delete;

  PrinterStream prn;  // the printer stream
  Log log;            // scheduler lines
  Channel &channel;
  Clock &clock;
  const Choices *choices = nullptr;  // the marked choice of each option
  std::string modelName;             // the PPD's ModelName

  int ModelNumber = 0;
  const ModelFacts *model = &modelFacts(0);  // the facts of ModelNumber
  // Read by the monitor thread for its progress lines, hence atomic.
  std::atomic<int> Page{0};       // current page, from 1
  std::atomic<int> TotalPage{1};  // pages announced by the job options
  // 1 once the job is cancelled by the printer, the printer connection or the caller; written
  // from both threads of the job.
  std::atomic<int> Canceled{0};
  // A flag outside the job that cancels it too (the filter's SIGTERM flag), or null.
  const std::atomic<int> *processCanceled = nullptr;

  bool canceled() const {
    return Canceled.load() != 0 || (processCanceled && processCanceled->load() != 0);
  }
  // Cancels the job and wakes its waits.
  void cancel() {
    Canceled.store(1);
    clock.notifyAll();
    channel.interruptRead();
  }
  // The marked choice of keyword, or null.
  const char *markedChoice(const char *keyword) const {
    return choices ? choices->marked(keyword) : nullptr;
  }
  bool modelNameIs(const char *name) const { return modelName == name; }
  // True the first time the job asks about this subject: warnings about a value held to its
  // command's range are given once per job, not per page.
  bool firstWarningAbout(const void *subject) { return warned_.insert(subject).second; }
  // Sets ModelNumber and its facts.
  void setModel(int number) {
    ModelNumber = number;
    model = &modelFacts(number);
  }

 private:
  std::set<const void *> warned_;  // main thread only
};
