// The report parser: every report, how far each one reaches, stray and 0x00 bytes, truncated
// reports, the messages in both languages and the printer-state reasons.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/test_job.h"

namespace {

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
const std::string kCanceled = "INFO: job is canceled\n";
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

void PrintTo(const ParserCase &c, std::ostream *os) {
  *os << c.name;
}

std::vector<ParserCase> parserCases() {
  using namespace report;
  const std::string sn = "ABCDEFGHIJKLMNO", version = bytes({0x1A, 0x07, 0x01, 0x00, 0x05});
  // A serial number whose bytes look like reports: they must be taken as the serial.
  const std::string trickySn = paperOut + cancel + idle + overheat + coverOpen;
  const auto zh = [](Job &j) { j.mymon.language = 1; };
  // clang-format off
  return {
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
      {"PaperOutChinese", paperOut, {{Msg, 2}}, "INFO: 打印机缺纸\n" + kEmpty, zh},
      {"PaperOutTwiceAnnouncedOnce", paperOut + paperOut, {{Msg, 2}}, kPaperOutEn + kEmpty},
      {"PaperOutAlreadyAnnounced", paperOut, {}, kEmpty, [](Job &j) { j.mymon.messagestatus = 2; }},
      {"PaperOutAgainAfterCoverOpen", paperOut + coverOpen + paperOut, {{Cover, 1}, {Msg, 2}},
       kPaperOutEn + kEmpty + kOpen + kPaperOutEn},
      {"IdleThenPaperOutInOneRead", idle + paperOut, {{Free, 1}, {NonePaper, 1}, {Msg, 2}},
       kPaperOutEn + kEmpty},
      {"PaperOutBeforeIdleKeepsNonePaper", paperOut + idle, {{Free, 1}, {Msg, 2}},
       kPaperOutEn + kEmpty},
      {"Idle", idle, {{Free, 1}}, ""},
      {"CancelEnglish", cancel, {{Cancel, 1}}, kCanceled},
      {"CancelSameTextInChinese", cancel, {{Cancel, 1}}, kCanceled, zh},
      {"HardwareVersion", version, {{Ver0, 1}, {Ver1, 0}, {Ver2, 5}}, ""},
      {"HardwareVersionTruncated", version.substr(0, 4), {}, ""},
      {"HardwareVersionZeroBytesAreData", bytes({0x1A, 0x07, 0x00, 0x00, 0x02}) + idle,
       {{Ver0, 0}, {Ver1, 0}, {Ver2, 2}, {Free, 1}}, ""},
      {"SerialNumberTakesReportLikeBytes", bytes({0x1A, 0x08}) + trickySn + idle, {{Free, 1}}, "",
       nullptr, -2, trickySn},
      {"SerialNumberTruncated", bytes({0x1A, 0x08}) + sn.substr(0, 14), {}, ""},
      {"ZeroBetweenReportsEndsThePass", idle + bytes({0x00}) + paperOut, {{Free, 1}}, ""},
      {"StrayBytesSkipped", bytes({0x55, 0x06, 0x88}) + idle, {{Free, 1}}, ""},
      {"TwoBytesOnly", bytes({0x1A, 0x06}), {}, ""},
      {"UnknownCodeTakesThreeBytes", bytes({0x1A, 0x42}) + paperOut, {}, ""},
      {"UnknownValueIgnored", bytes({0x1A, 0x06, 0x00, 0x1A, 0x05, 0x42}) + idle, {{Free, 1}}, ""},
      {"OnlyTheGivenLengthIsRead", paperOut + idle, {{Msg, 2}}, kPaperOutEn + kEmpty, nullptr, 5},
      {"NegativeLength", paperOut, {}, "", nullptr, -1},
  };
  // clang-format on
}

class Parser : public ::testing::TestWithParam<ParserCase> {};

TEST_P(Parser, AppliesReports) {
  const ParserCase &c = GetParam();
  TestJob t(22);
  t.job.Page = 2;
  t.job.TotalPage = 5;
  if (c.before) c.before(t.job);
  State expected = state(t.job);
  for (auto [field, value] : c.changes) expected[field] = value;
  const ssize_t length = c.length == -2 ? static_cast<ssize_t>(c.data.size()) : c.length;
  pocessRead(t.job, reinterpret_cast<const unsigned char *>(c.data.data()), length);
  EXPECT_EQ(state(t.job), expected);
  EXPECT_EQ(serial(t.job), c.serial);
  EXPECT_EQ(t.log(), c.log);
  EXPECT_TRUE(t.stream().empty());
}

INSTANTIATE_TEST_SUITE_P(Reports, Parser, ::testing::ValuesIn(parserCases()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Monitor, InitResetsTheRecordButKeepsPageFlagsAndTheJobEndWithdrawsReasons) {
  TestJob t(22);
  MON &m = t.job.mymon;
  m.nonePaper = 1;
  m.Exception = 1;
  m.language = 1;
  const std::string dirty = report::overheat + report::coverOpen + report::paperOut + report::idle +
                            bytes({0x1A, 0x07, 0x01, 0x02, 0x03});
  pocessRead(t.job, reinterpret_cast<const unsigned char *>(dirty.data()),
             static_cast<ssize_t>(dirty.size()));
  const size_t logged = t.log().size();
  clearPrinterReasons(t.job);
  EXPECT_EQ(t.log().substr(logged),
            "STATE: -media-empty-error\nSTATE: -cover-open-error\nSTATE: "
            "-fuser-over-temp-warning\n");
  m.sn[0] = 'X';
  m.status = 2;
  m.wait = 1;
  m.end = 1;
  mymonInit(t.job);
  // Statuses cleared, version marked unreported (its other bytes kept), page flags kept.
  EXPECT_EQ(state(t.job), (State{0, 0, 0, 0, 0, 1, 1, 0, 0xFF, 2, 3}));
  EXPECT_EQ(serial(t.job), "");
  EXPECT_EQ(m.status, 1);
  EXPECT_EQ(m.wait, 0);
  EXPECT_EQ(m.end, 0);
  EXPECT_EQ(m.language, 1);
  EXPECT_EQ(m.reasons, 0);
}

}  // namespace
