// The monitor thread, which reads the printer's status reports while a page is processed, and
// the blocking status queries (paper, cover, idle) of the page set-up and the job end.
#include "monitor/queries.h"

#include "driver/job.h"
#include "io/channel.h"
#include "io/printer_stream.h"
#include "monitor/status.h"
#include "thermal/commands.h"

namespace {

constexpr size_t kReportReadMax = 63;       // bytes per back-channel read
constexpr double kReportReadSeconds = 1.0;  // time-out of a back-channel read
constexpr double kQueryDrainSeconds = 10.0;
constexpr double kSendNowDrainSeconds = 0.1;
constexpr unsigned kHandOverMs = 500;              // poll step while the monitor thread reads
constexpr unsigned kPausedSleepMs = 1000;          // poll step of the paused monitor thread
constexpr int kLastVersionWithoutIdle = 0x010004;  // 01 00 04: not asked for the idle state
constexpr int kModelCoverOnlyWhenOld = 64519;

// Waits, in steps of 500 ms, until the monitor thread is out of its read. Returns false once
// the job is cancelled, so every query loop ends there.
bool waitForBackChannel() {
  for (;;) {
    if (Canceled) return false;
    if (!mymon.wait) return true;
    mysleep(kHandOverMs);
  }
}

// Sends a 3-byte query so that the printer gets it at once, and reads the answer into buf.
// Returns the bytes read (0 or less: nothing within the time-out).
ssize_t askPrinter(const unsigned char (&query)[3], unsigned char *buf) {
  prnWrite(query, sizeof query);
  prnFlush();
  channel().drain(kQueryDrainSeconds);
  return channel().backRead(buf, kReportReadMax, kReportReadSeconds);
}

}  // namespace

void mymonInit() {
  mymon.Coverstatus = 0;
  mymon.Tstatus = 0;
  mymon.paperstatus = 0;
  mymon.messagestatus = 0;
  mymon.freeStatus = 0;
  mymon.end = 0;
  mymon.wait = 0;
  mymon.sn[0] = 0;
  mymon.status = 1;
  mymon.hardVer[0] = 0xFF;
}

void *mon(void *) {
  unsigned char buf[512];
  for (;;) {
    const unsigned char state = mymon.status;
    if (Canceled || state == 0) break;
    if (state == 1) {
      channel().sleepMs(kPausedSleepMs);
      continue;
    }
    mymon.wait = 1;
    const ssize_t got = channel().backRead(buf, kReportReadMax, kReportReadSeconds);
    if (got > 0) {
      pocessRead(buf, got);
      if (mymon.Coverstatus != 0) mymon.Exception = 1;
    }
    mymon.wait = 0;
  }
  mymon.end = 1;
  mymon.wait = 0;
  return nullptr;
}

int GetPaperStatus() {
  unsigned char buf[kReportReadMax];
  mymon.paperstatus = -1;
  while (waitForBackChannel()) {
    const ssize_t got = askPrinter(findpaper, buf);
    if (got <= 0) continue;
    pocessRead(buf, got);
    const int paper = mymon.paperstatus;
    if (paper != -1) return paper != 0 ? 1 : 0;  // else the answer held no paper report: ask again
  }
  return 0;
}

int GetCoverStatus() {
  unsigned char buf[kReportReadMax];
  mymon.Coverstatus = 0xFF;
  while (waitForBackChannel()) {
    const ssize_t got = askPrinter(askCover, buf);
    if (got <= 0) continue;
    pocessRead(buf, got);
    // Any answer ends the query; one without a cover report leaves 0xFF, which counts as open.
    return mymon.Coverstatus != 0 ? 1 : 0;
  }
  return 0;
}

void waitFree() {
  mymon.freeStatus = 0;
  if (ModelNumber == kModelCoverOnlyWhenOld && getHardVer() <= kLastVersionWithoutIdle) {
    GetCoverStatus();
    return;
  }
  unsigned char buf[kReportReadMax];
  while (waitForBackChannel()) {
    const ssize_t got = askPrinter(freeQuery, buf);
    if (got <= 0) continue;
    pocessRead(buf, got);
    if (mymon.freeStatus) return;
  }
}

int getHardVer() {
  return mymon.hardVer[0] * 65536 + mymon.hardVer[1] * 256 + mymon.hardVer[2];
}

void SendNow() {
  prnFlush();
  channel().drain(kSendNowDrainSeconds);
}

void mysleep(unsigned int millisecond) {
  channel().sleepMs(millisecond);
}

void sleepSeconds(unsigned int seconds) {
  // One second at a time: no overflow of the millisecond count.
  for (unsigned int s = 0; s < seconds; s++) channel().sleepMs(1000);
}
