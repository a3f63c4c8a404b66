// The printer status record shared by the main thread and the monitor thread, and the parser
// that applies the printer's status reports to it.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>

#include "base/job.h"

// Every field is written whole by one store and polled; atomics make that race-free.
struct MON {
  std::atomic<unsigned char> status;       // monitor run state: 0 stop, 1 paused, 2 watching
  std::atomic<int> paperstatus;            // -1 query pending, 0 no paper, 1 paper present
  std::atomic<unsigned char> Tstatus;      // 1 overheated
  std::atomic<unsigned char> Coverstatus;  // 1 open, 0 closed, 0xFF query pending
  std::atomic<unsigned char>
      messagestatus;                      // last condition told: 0, 1 normal, 2 paper, 3 heat/cover
  std::atomic<unsigned char> freeStatus;  // 1 once the printer reported idle
  std::atomic<unsigned char> nonePaper;   // out of paper reported while idle
  std::atomic<unsigned char> Exception;   // cover seen open during a page
  std::atomic<unsigned char> language;    // 1 Chinese messages
  std::atomic<unsigned char> wait;        // 1 while the monitor thread reads the back channel
  std::atomic<unsigned char> handOver;    // 1 while a query wants or holds the back channel
  std::atomic<unsigned char> end;         // 1 once the monitor thread has finished
  std::atomic<unsigned char> sn[32];      // serial number, NUL-terminated
  std::atomic<unsigned char> hardVer[3];  // hardware version, hardVer[0] 0xFF: not reported
  std::atomic<unsigned char> reasons;     // printer-state reasons announced (PrinterReason bits)
};

// A job with a printer that reports its status: the status record and the monitor thread.
struct MonitorJob : JobBase {
  using JobBase::JobBase;
  MON mymon{};
  pthread_t pid{};  // the monitor thread
  bool monitorRunning = false;
};

// Applies the reports in the first length bytes of data to the job's mymon (and Canceled).
void pocessRead(MonitorJob &job, const unsigned char *data, ssize_t length);

// Withdraws every printer-state reason the job announced (at the job's end: the condition is
// the printer's, and the next job's reports will tell it again).
void clearPrinterReasons(MonitorJob &job);
