// The report parser: every report, how far each one reaches, stray and 0x00 bytes, truncated
// reports, and the messages in both languages.
#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "monitor_fixture.h"
#include "support/scripted_channel.h"

namespace {

// Every field the parser may touch, so a case can state "this changed and nothing else".
enum Field { Paper, Temp, Cover, Msg, Free, NonePaper, Exc, Cancel, Ver0, Ver1, Ver2, kFields };
using State = std::array<int, kFields>;

State state() {
  return {mymon.paperstatus, mymon.Tstatus,    mymon.Coverstatus, mymon.messagestatus,
          mymon.freeStatus,  mymon.nonePaper,  mymon.Exception,   Canceled,
          mymon.hardVer[0],  mymon.hardVer[1], mymon.hardVer[2]};
}

std::string serial() {
  std::string s;
  for (size_t i = 0; i < sizeof mymon.sn && mymon.sn[i]; i++) s.push_back(mymon.sn[i]);
  return s;
}

const std::string kOverheatEn = "INFO: The printer has overheated, please wait a moment.\n";
const std::string kPaperOutEn = "INFO: The printer is out of paper.\n";
const std::string kCanceled = "INFO: job is canceled\n";
const std::string kProgress = "INFO: 2/5\n";  // Page 2 of TotalPage 5

struct ParserCase {
  const char *name;
  std::string data;
  std::vector<std::pair<Field, int>> changes;  // every other field must stay
  std::string log;
  std::function<void()> before = nullptr;  // state before the pass (after the fixture's reset)
  ssize_t length = -2;                     // -2: the whole buffer
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
  const std::string twoOverheats = kOverheatEn + kOverheatEn,
                    twoPaperOuts = kPaperOutEn + kPaperOutEn;
  const auto zh = [] { mymon.language = 1; };
  // clang-format off
  return {
      {"Overheat", overheat, {{Temp, 1}, {Msg, 3}}, kOverheatEn},
      {"OverheatChinese", overheat, {{Temp, 1}, {Msg, 3}}, "INFO: 打印机过热，请稍等\n", zh},
      {"OverheatAnnouncedEveryTime", overheat + overheat, {{Temp, 1}, {Msg, 3}}, twoOverheats},
      {"TemperatureNormal", tempNormal, {{Temp, 0}, {Msg, 1}}, kProgress,
       [] { mymon.Tstatus = 1; }},
      {"CoverOpen", coverOpen, {{Cover, 1}, {Msg, 3}}, ""},
      {"CoverClosed", coverClosed, {{Cover, 0}}, "",
       [] { mymon.Coverstatus = 1, mymon.messagestatus = 3; }},
      {"PaperPresent", paperIn, {{Paper, 1}, {Msg, 1}}, kProgress},
      {"PaperOut", paperOut, {{Paper, 0}, {Msg, 2}}, kPaperOutEn, [] { mymon.paperstatus = 1; }},
      {"PaperOutChinese", paperOut, {{Msg, 2}}, "INFO: 打印机缺纸\n", zh},
      {"PaperOutTwiceAnnouncedOnce", paperOut + paperOut, {{Msg, 2}}, kPaperOutEn},
      {"PaperOutAlreadyAnnounced", paperOut, {}, "", [] { mymon.messagestatus = 2; }},
      {"PaperOutAgainAfterCoverOpen", paperOut + coverOpen + paperOut, {{Cover, 1}, {Msg, 2}},
       twoPaperOuts},
      {"IdleThenPaperOutInOneRead", idle + paperOut, {{Free, 1}, {NonePaper, 1}, {Msg, 2}},
       kPaperOutEn},
      {"PaperOutBeforeIdleKeepsNonePaper", paperOut + idle, {{Free, 1}, {Msg, 2}}, kPaperOutEn},
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
      {"OnlyTheGivenLengthIsRead", paperOut + idle, {{Msg, 2}}, kPaperOutEn, nullptr, 5},
      {"NegativeLength", paperOut, {}, "", nullptr, -1},
  };
  // clang-format on
}

class ParserTest : public MonitorTest, public ::testing::WithParamInterface<ParserCase> {};

TEST_P(ParserTest, AppliesReports) {
  const ParserCase &c = GetParam();
  Page = 2;
  TotalPage = 5;
  if (c.before) c.before();
  State expected = state();
  for (auto [field, value] : c.changes) expected[field] = value;
  const ssize_t length = c.length == -2 ? static_cast<ssize_t>(c.data.size()) : c.length;
  pocessRead(reinterpret_cast<const unsigned char *>(c.data.data()), length);
  EXPECT_EQ(state(), expected);
  EXPECT_EQ(serial(), c.serial);
  EXPECT_EQ(io.log(), c.log);
  EXPECT_TRUE(io.printer().empty());
}

INSTANTIATE_TEST_SUITE_P(Reports, ParserTest, ::testing::ValuesIn(parserCases()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(MonitorTest, InitResetsTheRecordButKeepsPageFlags) {
  mymon.nonePaper = 1;
  mymon.Exception = 1;
  mymon.language = 1;
  const std::string dirty = report::overheat + report::coverOpen + report::paperOut + report::idle +
                            bytes({0x1A, 0x07, 0x01, 0x02, 0x03});
  pocessRead(reinterpret_cast<const unsigned char *>(dirty.data()),
             static_cast<ssize_t>(dirty.size()));
  mymon.sn[0] = 'X';
  mymon.status = 2;
  mymon.wait = 1;
  mymon.end = 1;
  mymonInit();
  // Statuses cleared, version marked unreported (its other bytes kept), page flags kept.
  EXPECT_EQ(state(), (State{0, 0, 0, 0, 0, 1, 1, 0, 0xFF, 2, 3}));
  EXPECT_EQ(serial(), "");
  EXPECT_EQ(mymon.status, 1);
  EXPECT_EQ(mymon.wait, 0);
  EXPECT_EQ(mymon.end, 0);
  EXPECT_EQ(mymon.language, 1);
}

}  // namespace
