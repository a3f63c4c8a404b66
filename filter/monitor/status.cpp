// The printer status record and the parser of the printer's status reports (paper, cover,
// temperature, idle, cancel, hardware version, serial number).
#include "monitor/status.h"

#include <initializer_list>

namespace {

constexpr unsigned char kReportStart = 0x1A;

// Report codes (second byte of a report) and the values that mean something.
constexpr unsigned char kTemperature = 0x03;
constexpr unsigned char kOverheated = 0xA9;
constexpr unsigned char kTemperatureNormal = 0xA8;
constexpr unsigned char kCover = 0x05;
constexpr unsigned char kCoverOpen = 0x99;
constexpr unsigned char kCoverClosed = 0x98;
constexpr unsigned char kPaper = 0x06;
constexpr unsigned char kPaperPresent = 0x89;
constexpr unsigned char kPaperOut = 0x88;
constexpr unsigned char kHardwareVersion = 0x07;
constexpr unsigned char kSerialNumber = 0x08;
constexpr unsigned char kJob = 0x0B;
constexpr unsigned char kJobCanceled = 0xB8;
constexpr unsigned char kState = 0x0F;
constexpr unsigned char kIdle = 0x0C;

constexpr ssize_t kVersionReportLength = 5;
constexpr ssize_t kSerialReportLength = 17;
constexpr ssize_t kSerialLength = kSerialReportLength - 2;

// Messagestatus values: what the user was told last.
constexpr unsigned char kToldNormal = 1;
constexpr unsigned char kToldPaperOut = 2;
constexpr unsigned char kToldHeatOrCover = 3;

ssize_t reportLength(unsigned char code) {
  if (code == kHardwareVersion) return kVersionReportLength;
  if (code == kSerialNumber) return kSerialReportLength;
  return 3;
}

void announce(MonitorJob &job, const char *english, const char *chinese) {
  job.log.info("%s", job.mymon.language == 1 ? chinese : english);
}

// Puts the page progress back into the printer-state message after an error message.
void announceProgress(MonitorJob &job) {
  const int page = job.Page;
  const int total = job.TotalPage;
  job.log.info("%d/%d", page, total);
}

// Announces a condition's start or end to the scheduler, once per change.
void setReason(MonitorJob &job, PrinterReason reason, bool on) {
  const unsigned char before = job.mymon.reasons.load();
  if (((before & reason) != 0) == on) return;
  job.mymon.reasons = static_cast<unsigned char>(on ? before | reason : before & ~reason);
  job.log.printerReason(reason, on);
}

// Applies one 3-byte report (code and value).
void applyShortReport(MonitorJob &job, unsigned char code, unsigned char value) {
  if (code == kTemperature && value == kOverheated) {
    job.mymon.Tstatus = 1;
    job.mymon.messagestatus = kToldHeatOrCover;
    announce(job, "The printer has overheated, please wait a moment.", "打印机过热，请稍等");
    setReason(job, kReasonOverheat, true);
  } else if (code == kTemperature && value == kTemperatureNormal) {
    job.mymon.Tstatus = 0;
    job.mymon.messagestatus = kToldNormal;
    announceProgress(job);
    setReason(job, kReasonOverheat, false);
  } else if (code == kCover && value == kCoverOpen) {
    job.mymon.Coverstatus = 1;
    job.mymon.messagestatus = kToldHeatOrCover;
    setReason(job, kReasonCoverOpen, true);
  } else if (code == kCover && value == kCoverClosed) {
    job.mymon.Coverstatus = 0;
    setReason(job, kReasonCoverOpen, false);
  } else if (code == kPaper && value == kPaperPresent) {
    job.mymon.paperstatus = 1;
    job.mymon.messagestatus = kToldNormal;
    announceProgress(job);
    setReason(job, kReasonMediaEmpty, false);
  } else if (code == kPaper && value == kPaperOut) {
    job.mymon.paperstatus = 0;
    // Out of paper on an idle printer: the sheet has left it.
    if (job.mymon.freeStatus) job.mymon.nonePaper = 1;
    if (job.mymon.messagestatus != kToldPaperOut)
      announce(job, "The printer is out of paper.", "打印机缺纸");
    job.mymon.messagestatus = kToldPaperOut;
    setReason(job, kReasonMediaEmpty, true);
  } else if (code == kJob && value == kJobCanceled) {
    job.cancel();
    job.log.info("job is canceled");
  } else if (code == kState && value == kIdle) {
    job.mymon.freeStatus = 1;
  }
}

}  // namespace

void pocessRead(MonitorJob &job, const unsigned char *data, ssize_t length) {
  if (data == nullptr) return;
  ssize_t i = 0;
  while (i + 2 < length && data[i] != 0x00) {
    if (data[i] != kReportStart) {
      i++;  // stray byte between reports
      continue;
    }
    const unsigned char code = data[i + 1];
    const ssize_t reportEnd = i + reportLength(code);  // one past the report's last byte
    if (code == kHardwareVersion) {
      if (reportEnd <= length)
        for (int k = 0; k < 3; k++) job.mymon.hardVer[k] = data[i + 2 + k];
    } else if (code == kSerialNumber) {
      if (reportEnd <= length) {
        for (ssize_t k = 0; k < kSerialLength; k++) job.mymon.sn[k] = data[i + 2 + k];
        job.mymon.sn[kSerialLength] = 0;
      }
    } else {
      applyShortReport(job, code, data[i + 2]);
    }
    i = reportEnd;
  }
}

void clearPrinterReasons(MonitorJob &job) {
  for (PrinterReason reason : {kReasonMediaEmpty, kReasonCoverOpen, kReasonOverheat})
    setReason(job, reason, false);
}
