// The monitor thread and the status queries. The back channel has one reader at a time: the
// monitor thread reads only while no query wants it, and a query that wants it cuts the
// thread's read short and waits until the thread is out of it.
#include "monitor/queries.h"

const unsigned char findpaper[3] = {0x1F, 0x11, 0x11};
const unsigned char askCover[3] = {0x1F, 0x11, 0x12};
const unsigned char freeQuery[3] = {0x1F, 0x11, 0x43};

namespace {

constexpr size_t kReportReadMax = 63;       // bytes per back-channel read
constexpr double kReportReadSeconds = 1.0;  // time-out of a back-channel read
constexpr double kQueryDrainSeconds = 10.0;
constexpr double kSendNowDrainSeconds = 0.1;
// A wait for the job's other thread, which announces every change it makes (the monitor ends
// each read within a second, and the driver changes the run state on its own cancel checks);
// the bound only guards against a lost wake-up.
constexpr double kHandOverWaitSeconds = 60.0;

constexpr size_t kMonitorStackBytes = 256 * 1024;

enum MonitorStatus : unsigned char { kStop = 0, kPaused = 1, kWatching = 2 };

// Takes the back channel for a query: asks the monitor thread to let go of it and waits until
// it is out of its read. False once the job is cancelled, so every query loop ends there.
bool takeBackChannel(MonitorJob &job) {
  job.mymon.handOver = 1;
  job.channel.interruptRead();
  for (;;) {
    if (job.canceled()) return false;
    if (!job.mymon.wait) return true;
    job.clock.waitFor(kHandOverWaitSeconds, [&job] { return job.canceled() || !job.mymon.wait; });
  }
}

void releaseBackChannel(MonitorJob &job) {
  job.mymon.handOver = 0;
  job.clock.notifyAll();
}

// Sends a 3-byte query so that the printer gets it at once, and reads the answer into buf.
// Returns the bytes read (0 or less: nothing within the time-out).
ssize_t askPrinter(MonitorJob &job, const unsigned char (&query)[3], unsigned char *buf) {
  job.prn.write(query, sizeof query);
  job.prn.flush();
  job.channel.drain(kQueryDrainSeconds, [&job] { return job.canceled(); });
  return job.channel.backRead(buf, kReportReadMax, kReportReadSeconds);
}

// Asks with query until answered() says the reply (already parsed) is the one awaited; returns
// false when the job was cancelled first.
template <typename Answered>
bool queryUntil(MonitorJob &job, const unsigned char (&query)[3], Answered answered) {
  unsigned char buf[kReportReadMax];
  bool done = false;
  while (!done && takeBackChannel(job)) {
    const ssize_t got = askPrinter(job, query, buf);
    if (got > 0) {
      pocessRead(job, buf, got);
      done = answered();
    }
    releaseBackChannel(job);
  }
  releaseBackChannel(job);
  return done;
}

// The monitor thread may read while it is watching and no query wants the channel.
bool mayRead(const MonitorJob &job) {
  return job.mymon.status == kWatching && !job.mymon.handOver;
}

}  // namespace

void mymonInit(MonitorJob &job) {
  MON &m = job.mymon;
  m.Coverstatus = 0;
  m.Tstatus = 0;
  m.paperstatus = 0;
  m.messagestatus = 0;
  m.freeStatus = 0;
  m.end = 0;
  m.wait = 0;
  m.handOver = 0;
  m.sn[0] = 0;
  m.status = kPaused;
  m.hardVer[0] = 0xFF;
  m.reasons = 0;
}

void *mon(void *param) {
  MonitorJob &job = *static_cast<MonitorJob *>(param);
  job.clock.threadStarted();
  unsigned char buf[512];
  for (;;) {
    if (job.canceled() || job.mymon.status == kStop) break;
    if (!mayRead(job)) {
      // Paused, or a query has the channel: wait for the driver or the query to change that.
      job.clock.waitFor(kHandOverWaitSeconds, [&job] {
        return job.canceled() || job.mymon.status == kStop || mayRead(job);
      });
      continue;
    }
    job.mymon.wait = 1;
    // A query that asked in the meantime goes first (it saw wait 0, or will see it 1 and wait).
    if (!job.mymon.handOver) {
      const ssize_t got = job.channel.backRead(buf, kReportReadMax, kReportReadSeconds, true);
      if (got > 0) {
        pocessRead(job, buf, got);
        if (job.mymon.Coverstatus != 0) job.mymon.Exception = 1;
      }
    }
    job.mymon.wait = 0;
    job.clock.notifyAll();
  }
  job.mymon.end = 1;
  job.mymon.wait = 0;
  job.clock.notifyAll();
  job.clock.threadEnding();
  return nullptr;
}

bool startMonitor(MonitorJob &job, int &error) {
  job.clock.threadStarting();
  // The thread needs a few kilobytes: a small stack keeps a job cheap to start, also where a
  // process runs many jobs.
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, kMonitorStackBytes);
  error = pthread_create(&job.pid, &attr, mon, &job);
  pthread_attr_destroy(&attr);
  if (error != 0) {
    job.clock.threadStartFailed();
    return false;
  }
  job.monitorRunning = true;
  return true;
}

void setMonitorStatus(MonitorJob &job, unsigned char status) {
  job.mymon.status = status;
  job.clock.notifyAll();
  job.channel.interruptRead();
}

void stopMonitor(MonitorJob &job) {
  if (!job.monitorRunning) return;
  setMonitorStatus(job, kStop);
  // Through the clock, so that a virtual clock lets the thread run to its end.
  while (!job.mymon.end)
    job.clock.waitFor(kHandOverWaitSeconds, [&job] { return job.mymon.end != 0; });
  pthread_join(job.pid, nullptr);
  job.monitorRunning = false;
}

int GetPaperStatus(MonitorJob &job) {
  job.mymon.paperstatus = -1;
  // A reply without a paper report does not answer the query: it is sent again.
  if (!queryUntil(job, findpaper, [&job] { return job.mymon.paperstatus != -1; })) return 0;
  return job.mymon.paperstatus != 0 ? 1 : 0;
}

int GetCoverStatus(MonitorJob &job) {
  job.mymon.Coverstatus = 0xFF;
  // Any reply answers; one without a cover report leaves 0xFF, which counts as open.
  if (!queryUntil(job, askCover, [] { return true; })) return 0;
  return job.mymon.Coverstatus != 0 ? 1 : 0;
}

void waitFree(MonitorJob &job) {
  job.mymon.freeStatus = 0;
  if (getHardVer(job) < job.model->firstVersionAskedIdle) {
    GetCoverStatus(job);
    return;
  }
  queryUntil(job, freeQuery, [&job] { return job.mymon.freeStatus != 0; });
}

int getHardVer(const MonitorJob &job) {
  return job.mymon.hardVer[0] * 65536 + job.mymon.hardVer[1] * 256 + job.mymon.hardVer[2];
}

void SendNow(JobBase &job) {
  job.prn.flush();
  job.channel.drain(kSendNowDrainSeconds, [&job] { return job.canceled(); });
}

void mysleep(JobBase &job, unsigned int millisecond) {
  job.clock.sleepMs(millisecond);
}

void sleepSeconds(JobBase &job, unsigned int seconds) {
  // One second at a time: no overflow of the millisecond count.
  for (unsigned int s = 0; s < seconds; s++) job.clock.sleepMs(1000);
}
