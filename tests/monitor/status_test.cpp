// The printer's status reports and the queries that ask for them. The parser: every report, how
// far each one reaches, stray and 0x00 bytes, truncated reports, the messages in both languages
// and the printer-state reasons. The blocking queries against a scripted printer: what they
// send, when they ask again, how they read the answers, and that cancellation and the monitor
// thread's read end or hold them.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/test_job.h"

namespace {

using namespace report;

// Every field the parser may touch, so a case can state "this changed and nothing else".
enum Field { Paper, Temp, Cover, Msg, Free, NonePaper, Exc, Cancel, Ver0, Ver1, Ver2, kFields };
using State = std::array<int, kFields>;

State state(const Job &job) {
  const MON &m = job.mymon;
  return {m.paperstatus, m.Tstatus,    m.Coverstatus, m.messagestatus, m.freeStatus, m.nonePaper,
          m.Exception,   job.Canceled, m.hardVer[0],  m.hardVer[1],    m.hardVer[2]};
}

std::string serial(const Job &job) {
  std::string s;
  for (size_t i = 0; i < sizeof job.mymon.sn && job.mymon.sn[i]; i++) s.push_back(job.mymon.sn[i]);
  return s;
}

const std::string kOverheatEn = "INFO: The printer has overheated, please wait a moment.\n";
const std::string kPaperOutEn = "INFO: The printer is out of paper.\n";
const std::string kProgress = "INFO: 2/5\n";  // Page 2 of TotalPage 5
const std::string kHot = "STATE: +fuser-over-temp-warning\n",
                  kCool = "STATE: -fuser-over-temp-warning\n";
const std::string kEmpty = "STATE: +media-empty-error\n", kLoaded = "STATE: -media-empty-error\n";
const std::string kOpen = "STATE: +cover-open-error\n", kClosed = "STATE: -cover-open-error\n";

struct ParserCase {
  const char *name;
  std::string data;
  std::vector<std::pair<Field, int>> changes;  // every other field must stay
  std::string log;
  std::function<void(Job &)> before = nullptr;  // state before the pass (after mymonInit)
  ssize_t length = -2;                          // -2: the whole buffer
  std::string serial{};
};

TEST(Reports, TheParserAppliesEachReportAndNothingElse) {
  const std::string sn = "ABCDEFGHIJKLMNO", version = bytes({0x1A, 0x07, 0x01, 0x00, 0x05});
  // A serial number whose bytes look like reports: they must be taken as the serial.
  const std::string trickySn = paperOut + cancel + idle + overheat + coverOpen;
  const auto zh = [](Job &j) { j.mymon.language = 1; };
  // clang-format off
  const ParserCase cases[] = {
      {"Overheat", overheat, {{Temp, 1}, {Msg, 3}}, kOverheatEn + kHot},
      {"OverheatChinese", overheat, {{Temp, 1}, {Msg, 3}}, "INFO: 打印机过热，请稍等\n" + kHot, zh},
      {"OverheatAnnouncedEveryTimeReasonOnce", overheat + overheat, {{Temp, 1}, {Msg, 3}},
       kOverheatEn + kHot + kOverheatEn},
      {"TemperatureNormal", overheat + tempNormal, {{Temp, 0}, {Msg, 1}},
       kOverheatEn + kHot + kProgress + kCool},
      {"TemperatureNormalWithoutOverheat", tempNormal, {{Temp, 0}, {Msg, 1}}, kProgress,
       [](Job &j) { j.mymon.Tstatus = 1; }},
      {"CoverOpenThenClosed", coverOpen + coverClosed, {{Cover, 0}, {Msg, 3}}, kOpen + kClosed},
      {"CoverClosed", coverClosed, {{Cover, 0}}, "",
       [](Job &j) { j.mymon.Coverstatus = 1, j.mymon.messagestatus = 3; }},
      {"PaperPresent", paperIn, {{Paper, 1}, {Msg, 1}}, kProgress},
      {"PaperOutThenIn", paperOut + paperIn, {{Paper, 1}, {Msg, 1}},
       kPaperOutEn + kEmpty + kProgress + kLoaded},
      {"PaperOut", paperOut, {{Paper, 0}, {Msg, 2}}, kPaperOutEn + kEmpty,
       [](Job &j) { j.mymon.paperstatus = 1; }},
      {"PaperOutAlreadyAnnounced", paperOut, {}, kEmpty, [](Job &j) { j.mymon.messagestatus = 2; }},
      {"PaperOutAgainAfterCoverOpen", paperOut + coverOpen + paperOut, {{Cover, 1}, {Msg, 2}},
       kPaperOutEn + kEmpty + kOpen + kPaperOutEn},
      {"IdleThenPaperOutInOneRead", idle + paperOut, {{Free, 1}, {NonePaper, 1}, {Msg, 2}},
       kPaperOutEn + kEmpty},
      {"PaperOutBeforeIdleKeepsNonePaper", paperOut + idle, {{Free, 1}, {Msg, 2}},
       kPaperOutEn + kEmpty},
      {"Idle", idle, {{Free, 1}}, ""},
      {"Cancel", cancel, {{Cancel, 1}}, "INFO: job is canceled\n", zh},
      {"HardwareVersion", version, {{Ver0, 1}, {Ver1, 0}, {Ver2, 5}}, ""},
      {"HardwareVersionTruncated", version.substr(0, 4), {}, ""},
      {"HardwareVersionZeroBytesAreData", bytes({0x1A, 0x07, 0x00, 0x00, 0x02}) + idle,
       {{Ver0, 0}, {Ver1, 0}, {Ver2, 2}, {Free, 1}}, ""},
      {"SerialNumberTakesReportLikeBytes", bytes({0x1A, 0x08}) + trickySn + idle, {{Free, 1}}, "",
       nullptr, -2, trickySn},
      {"SerialNumberTruncated", bytes({0x1A, 0x08}) + sn.substr(0, 14), {}, ""},
      {"SerialNumberLast", bytes({0x1A, 0x08}) + sn, {}, "", nullptr, -2, sn},
      {"ZeroBetweenReportsEndsThePass", idle + bytes({0x00}) + paperOut, {{Free, 1}}, ""},
      {"StrayBytesSkipped", bytes({0x55, 0x06, 0x88}) + idle, {{Free, 1}}, ""},
      {"TwoBytesOnly", bytes({0x1A, 0x06}), {}, ""},
      {"UnknownCodeTakesThreeBytes", bytes({0x1A, 0x42}) + paperOut, {}, ""},
      {"UnknownValueIgnored", bytes({0x1A, 0x06, 0x0C, 0x1A, 0x05, 0x42, 0x1A, 0x0F, 0x42}) + paperIn,
       {{Paper, 1}, {Msg, 1}}, kProgress},
      {"OnlyTheGivenLengthIsRead", paperOut + idle, {{Msg, 2}}, kPaperOutEn + kEmpty, nullptr, 5},
      {"NegativeLength", paperOut, {}, "", nullptr, -1},
  };
  // clang-format on
  for (const ParserCase &c : cases) {
    SCOPED_TRACE(c.name);
    TestJob t(22);
    t.job.Page = 2;
    t.job.TotalPage = 5;
    if (c.before) c.before(t.job);
    State expected = state(t.job);
    for (auto [field, value] : c.changes) expected[field] = value;
    const ssize_t length = c.length == -2 ? static_cast<ssize_t>(c.data.size()) : c.length;
    // A buffer of exactly the reports: a read past them is the sanitizers' to see.
    const std::vector<unsigned char> data(c.data.begin(), c.data.end());
    pocessRead(t.job, data.data(), length);
    EXPECT_EQ(state(t.job), expected);
    EXPECT_EQ(serial(t.job), c.serial);
    EXPECT_EQ(t.log(), c.log);
    EXPECT_TRUE(t.stream().empty());
  }
}

TEST(Reports, InitResetsTheRecordButKeepsPageFlagsAndTheJobEndWithdrawsReasons) {
  TestJob t(22);
  MON &m = t.job.mymon;
  m.nonePaper = m.Exception = m.language = 1;
  const std::string dirty =
      overheat + coverOpen + paperOut + idle + bytes({0x1A, 0x07, 0x01, 0x02, 0x03});
  pocessRead(t.job, reinterpret_cast<const unsigned char *>(dirty.data()),
             static_cast<ssize_t>(dirty.size()));
  const size_t logged = t.log().size();
  clearPrinterReasons(t.job);
  EXPECT_EQ(t.log().substr(logged),
            "STATE: -media-empty-error\nSTATE: -cover-open-error\nSTATE: "
            "-fuser-over-temp-warning\n");
  m.sn[0] = 'X';
  m.status = m.wait = m.end = m.handOver = m.reasons = 2;
  mymonInit(t.job);
  // Statuses cleared, version marked unreported (its other bytes kept), page flags kept.
  EXPECT_EQ(state(t.job), (State{0, 0, 0, 0, 0, 1, 1, 0, 0xFF, 2, 3}));
  EXPECT_EQ(serial(t.job), "");
  EXPECT_EQ((std::array<int, 6>{m.status, m.wait, m.end, m.handOver, m.language, m.reasons}),
            (std::array<int, 6>{1, 0, 0, 0, 1, 0}));
}

constexpr unsigned char kPaper = 0x11, kCover = 0x12, kIdle = 0x43;
using Queries = std::vector<unsigned char>;

// An answer without a paper report is applied and the paper asked again; a cancel report ends
// the query; the cover query takes any answer, one without a cover report counting as open; only
// silence makes it go out again.
TEST(Queries, AskUntilTheAwaitedReportComes) {
  struct Case {
    unsigned char code;
    std::vector<std::string> replies;
    int result, asked, status;  // status: paperstatus or Coverstatus afterwards
  } cases[] = {
      {kPaper, {paperIn}, 1, 1, 1},
      {kPaper, {tempNormal, paperOut}, 0, 2, 0},
      {kPaper, {tempNormal, cancel}, 0, 2, -1},
      {kCover, {coverClosed}, 0, 1, 0},
      {kCover, {coverOpen}, 1, 1, 1},
      {kCover, {paperIn}, 1, 1, 0xFF},
      {kCover, {"", paperOut + coverClosed}, 0, 2, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(&c - cases);
    TestJob t(22);
    t.script(c.code, c.replies);
    const bool paper = c.code == kPaper;
    EXPECT_EQ(paper ? GetPaperStatus(t.job) : GetCoverStatus(t.job), c.result);
    EXPECT_EQ(paper ? t.job.mymon.paperstatus.load() : t.job.mymon.Coverstatus.load(), c.status);
    EXPECT_EQ(t.queries, Queries(static_cast<size_t>(c.asked), c.code));
    // Each ask is the query, then its drain; nothing else reaches the printer.
    EXPECT_EQ(t.stream().size(), 3u * c.asked);
    EXPECT_EQ(t.drains, c.asked);
    EXPECT_EQ(t.job.mymon.handOver, 0) << "the back channel is given back";
  }
}

// The idle wait ignores a stale idle report; model 64519 asks for idle only from hardware
// version 1.0.5 on (the three bytes compared as one number), older ones get one cover query.
TEST(Queries, WaitFreeAsksUntilIdleOrOnceForTheCoverOnOldHardware) {
  const Queries idles = {kIdle, kIdle, kIdle};
  const std::pair<std::string, Queries> cases[] = {
      {"", idles},  // no version reported
      {bytes({0x1A, 0x07, 0x01, 0x00, 0x04}), {kCover}},
      {bytes({0x1A, 0x07, 0x01, 0x00, 0x05}), idles},
      {bytes({0x1A, 0x07, 0x00, 0xFF, 0xFF}), {kCover}},
      {bytes({0x1A, 0x07, 0x01, 0x80, 0x00}), idles},
  };
  for (const auto &[version, queries] : cases) {
    TestJob t(64519);
    pocessRead(t.job, reinterpret_cast<const unsigned char *>(version.data()),
               static_cast<ssize_t>(version.size()));
    t.job.mymon.freeStatus = 1;
    t.script(kIdle, {"", tempNormal, idle});
    t.script(kCover, {coverOpen});  // its answer is ignored
    waitFree(t.job);
    EXPECT_EQ(t.queries, queries) << getHardVer(t.job);
  }
}

// Cancelled beforehand, a query sends nothing; a silent printer is asked once a second (a read's
// time-out) until the job is cancelled. While the monitor thread reads, a query waits for it
// and writes nothing; it goes out once the thread is out of its read, and a cancel ends the wait.
TEST(Queries, CancellationAndTheMonitorThreadsReadEndOrHoldEveryQuery) {
  const std::pair<unsigned char, std::function<int(Job &)>> kQueries[] = {
      {kPaper, [](Job &j) { return GetPaperStatus(j); }},
      {kCover, [](Job &j) { return GetCoverStatus(j); }},
      {kIdle, [](Job &j) { return waitFree(j), 0; }},
  };
  for (const auto &[code, run] : kQueries) {
    SCOPED_TRACE(code);
    TestJob before(831);
    before.job.Canceled = 1;
    EXPECT_EQ(run(before.job), 0);
    EXPECT_EQ(before.stream(), "");

    TestJob silent(831);
    silent.answerer = [&silent](unsigned char, int count, std::string &) {
      if (count == 5) silent.job.Canceled = 1;
      return true;
    };
    EXPECT_EQ(run(silent.job), 0);
    EXPECT_EQ(silent.queries, Queries(5, code));
    EXPECT_DOUBLE_EQ(silent.now, 5.0);

    for (bool cancel : {false, true}) {
      TestJob t(831);
      t.job.mymon.wait = 1;
      int waits = 0;
      t.onWait = [&] {
        EXPECT_EQ(t.stream(), "") << "written while the thread reads";
        if (++waits < 3) return;
        if (cancel)
          t.job.Canceled = 1;
        else
          t.job.mymon.wait = 0;
      };
      run(t.job);
      EXPECT_EQ(waits, 3);
      EXPECT_EQ(t.queries, cancel ? Queries{} : Queries{code});
    }
  }
}

}  // namespace
