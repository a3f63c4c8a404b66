// Fuzzes the parser of the printer's status reports with arbitrary back-channel reads, starting
// from an arbitrary status record, and checks what a report may and may not change.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "monitor/status.h"

namespace {

// The messages of one read.
class Messages : public LogSink {
 public:
  void write(std::string_view text) override { logged.append(text); }
  std::string logged;
};

// A snapshot of the record, comparable field by field.
struct Record {
  unsigned char status, Tstatus, Coverstatus, messagestatus, freeStatus, nonePaper, Exception,
      language, wait, end, reasons;
  int paperstatus;
  unsigned char sn[32], hardVer[3];
};

Record snapshot(const MON &mymon) {
  Record r;
  r.status = mymon.status;
  r.paperstatus = mymon.paperstatus;
  r.Tstatus = mymon.Tstatus;
  r.Coverstatus = mymon.Coverstatus;
  r.messagestatus = mymon.messagestatus;
  r.freeStatus = mymon.freeStatus;
  r.nonePaper = mymon.nonePaper;
  r.Exception = mymon.Exception;
  r.language = mymon.language;
  r.wait = mymon.wait;
  r.end = mymon.end;
  r.reasons = mymon.reasons;
  for (int i = 0; i < 32; i++) r.sn[i] = mymon.sn[i];
  for (int i = 0; i < 3; i++) r.hardVer[i] = mymon.hardVer[i];
  return r;
}

bool operator==(const Record &a, const Record &b) {
  return a.status == b.status && a.Tstatus == b.Tstatus && a.Coverstatus == b.Coverstatus &&
         a.messagestatus == b.messagestatus && a.freeStatus == b.freeStatus &&
         a.nonePaper == b.nonePaper && a.Exception == b.Exception && a.language == b.language &&
         a.wait == b.wait && a.end == b.end && a.reasons == b.reasons &&
         a.paperstatus == b.paperstatus && std::memcmp(a.sn, b.sn, sizeof a.sn) == 0 &&
         std::memcmp(a.hardVer, b.hardVer, sizeof a.hardVer) == 0;
}

void setRecord(MON &mymon, FuzzInput &in) {
  mymon.status = in.byte() % 3;
  mymon.paperstatus = static_cast<int>(in.byte() % 3) - 1;
  mymon.Tstatus = in.byte() & 1;
  mymon.Coverstatus = in.pick<unsigned char>({0, 1, 0xFF});
  mymon.messagestatus = in.byte() % 4;
  mymon.freeStatus = in.byte() & 1;
  mymon.nonePaper = in.byte() & 1;
  mymon.Exception = in.byte() & 1;
  mymon.language = in.byte() & 1;
  mymon.wait = 0;
  mymon.end = 0;
  for (auto &c : mymon.sn) c = 0;
  mymon.hardVer[0] = 0xFF;
  mymon.hardVer[1] = 0;
  mymon.hardVer[2] = 0;
}

// Report starts (1A code) whose report, of the given length, lies inside the buffer.
std::vector<size_t> reportsAt(const std::string &b, unsigned char code, size_t length) {
  std::vector<size_t> at;
  for (size_t i = 0; i + length <= b.size(); i++)
    if (static_cast<unsigned char>(b[i]) == 0x1A && static_cast<unsigned char>(b[i + 1]) == code)
      at.push_back(i);
  return at;
}

size_t occurrences(const std::string &b, const char *report) {
  size_t n = 0;
  for (size_t i = b.find(report, 0, 3); i != std::string::npos; i = b.find(report, i + 1, 3)) n++;
  return n;
}

size_t countLines(const std::string &log, const std::string &line) {
  size_t n = 0;
  for (size_t i = log.find(line); i != std::string::npos; i = log.find(line, i + 1)) n++;
  return n;
}

void checkRead(const MonitorJob &job, const std::string &logged, const std::string &b,
               const Record &before, const Record &after, bool canceledBefore) {
  const std::string detail = "read of " + std::to_string(b.size()) + " bytes";
  // Fields that belong to the threads and the driver, never to the parser.
  FUZZ_CHECK(after.status == before.status && after.Exception == before.Exception &&
                 after.language == before.language && after.wait == before.wait &&
                 after.end == before.end,
             detail);
  if (!b.empty() && b[0] == 0) {
    FUZZ_CHECK(after == before && logged.empty(), detail);
    FUZZ_CHECK(job.canceled() == canceledBefore, detail);
  }

  // The hardware version changes only through a complete version report.
  if (std::memcmp(after.hardVer, before.hardVer, 3) != 0) {
    bool found = false;
    for (size_t i : reportsAt(b, 0x07, 5)) found |= std::memcmp(after.hardVer, &b[i + 2], 3) == 0;
    FUZZ_CHECK(found, detail);
  }
  // Likewise the serial number, always terminated.
  if (std::memcmp(after.sn, before.sn, 32) != 0) {
    bool found = false;
    for (size_t i : reportsAt(b, 0x08, 17)) found |= std::memcmp(after.sn, &b[i + 2], 15) == 0;
    FUZZ_CHECK(found && after.sn[15] == 0, detail);
  }

  const char paperIn[] = "\x1A\x06\x89", paperOut[] = "\x1A\x06\x88";
  const char hot[] = "\x1A\x03\xA9", cool[] = "\x1A\x03\xA8";
  const char open[] = "\x1A\x05\x99", closed[] = "\x1A\x05\x98";
  const char idle[] = "\x1A\x0F\x0C", cancel[] = "\x1A\x0B\xB8";
  if (after.paperstatus != before.paperstatus) {
    FUZZ_CHECK(after.paperstatus == 0 || after.paperstatus == 1, detail);
    FUZZ_CHECK(occurrences(b, after.paperstatus ? paperIn : paperOut) > 0, detail);
  }
  if (after.Tstatus != before.Tstatus)
    FUZZ_CHECK(occurrences(b, after.Tstatus ? hot : cool) > 0, detail);
  if (after.Coverstatus != before.Coverstatus)
    FUZZ_CHECK(occurrences(b, after.Coverstatus == 1 ? open : closed) > 0, detail);
  // The idle latch is only ever set here, never cleared.
  if (after.freeStatus != before.freeStatus)
    FUZZ_CHECK(after.freeStatus == 1 && occurrences(b, idle) > 0, detail);
  if (after.nonePaper != before.nonePaper)
    FUZZ_CHECK(after.nonePaper == 1 && after.freeStatus == 1 && occurrences(b, paperOut) > 0,
               detail);
  FUZZ_CHECK(after.messagestatus <= 3, detail);
  if (!canceledBefore && job.canceled()) FUZZ_CHECK(occurrences(b, cancel) > 0, detail);

  // Every message stems from its report, in the record's language.
  const bool zh = after.language == 1;
  const std::string progress =
      "INFO: " + std::to_string(job.Page) + "/" + std::to_string(job.TotalPage) + "\n";
  const std::string hotText = zh ? "INFO: 打印机过热，请稍等\n"
                                 : "INFO: The printer has overheated, please wait a moment.\n";
  const std::string paperText = zh ? "INFO: 打印机缺纸\n" : "INFO: The printer is out of paper.\n";
  const std::string cancelText = "INFO: job is canceled\n";
  const size_t hotLines = countLines(logged, hotText), paperLines = countLines(logged, paperText),
               progressLines = countLines(logged, progress),
               cancelLines = countLines(logged, cancelText);
  FUZZ_CHECK(hotLines <= occurrences(b, hot), detail);
  FUZZ_CHECK(paperLines <= occurrences(b, paperOut), detail);
  FUZZ_CHECK(progressLines <= occurrences(b, cool) + occurrences(b, paperIn), detail);
  FUZZ_CHECK(cancelLines <= occurrences(b, cancel), detail);
  // A printer-state line for each change of the announced reasons, from its report: the lines
  // of one reason alternate, so their balance is the change of its bit.
  struct Reason {
    PrinterReason bit;
    const char *keyword, *on, *off;
  };
  size_t stateBytes = 0;
  for (const Reason &r : {Reason{kReasonMediaEmpty, "media-empty-error", paperOut, paperIn},
                          Reason{kReasonCoverOpen, "cover-open-error", open, closed},
                          Reason{kReasonOverheat, "fuser-over-temp-warning", hot, cool}}) {
    const std::string plus = std::string("STATE: +") + r.keyword + "\n",
                      minus = std::string("STATE: -") + r.keyword + "\n";
    const size_t ups = countLines(logged, plus), downs = countLines(logged, minus);
    FUZZ_CHECK(ups <= occurrences(b, r.on) && downs <= occurrences(b, r.off), detail);
    FUZZ_CHECK(static_cast<int>(ups) - static_cast<int>(downs) ==
                   ((after.reasons & r.bit) != 0) - ((before.reasons & r.bit) != 0),
               detail);
    stateBytes += ups * plus.size() + downs * minus.size();
  }
  FUZZ_CHECK(hotLines * hotText.size() + paperLines * paperText.size() +
                     progressLines * progress.size() + cancelLines * cancelText.size() +
                     stateBytes ==
                 logged.size(),
             "unexpected message: " + logged);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  StringSink printer;
  Messages messages;
  SilentChannel channel;
  RealClock clock;
  MonitorJob job(JobSeams{printer, messages, channel, clock});

  FuzzInput in(data, size);
  setRecord(job.mymon, in);
  job.Page = in.byte();
  job.TotalPage = in.byte();
  // Reads as the monitor thread makes them: at most 63 bytes each, sometimes empty.
  while (in.remaining() > 0) {
    const std::string b = in.bytes(in.byte() % 64);
    // An exact-size copy, so that a read past the given length is caught.
    std::unique_ptr<unsigned char[]> exact(new unsigned char[b.size() ? b.size() : 1]);
    std::memcpy(exact.get(), b.data(), b.size());
    const Record before = snapshot(job.mymon);
    const bool canceledBefore = job.canceled();
    messages.logged.clear();
    pocessRead(job, exact.get(), static_cast<ssize_t>(b.size()));
    checkRead(job, messages.logged, b, before, snapshot(job.mymon), canceledBefore);
  }
  return 0;
}
