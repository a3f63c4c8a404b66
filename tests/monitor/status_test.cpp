// The report parser: every report, how far each one reaches, stray and 0x00 bytes, truncated
// reports, and the messages in both languages.
#include <functional>
#include <string>

#include "monitor_fixture.h"
#include "support/scripted_channel.h"

namespace {

// Every field the parser may touch, so a case can state "this changed and nothing else".
struct Snapshot {
  int paperstatus;
  int Tstatus, Coverstatus, messagestatus, freeStatus, nonePaper, Exception;
  int canceled;
  std::string sn;
  int hardVer[3];

  static Snapshot take() {
    Snapshot s{};
    s.paperstatus = mymon.paperstatus;
    s.Tstatus = mymon.Tstatus;
    s.Coverstatus = mymon.Coverstatus;
    s.messagestatus = mymon.messagestatus;
    s.freeStatus = mymon.freeStatus;
    s.nonePaper = mymon.nonePaper;
    s.Exception = mymon.Exception;
    s.canceled = Canceled;
    for (size_t i = 0; i < sizeof mymon.sn && mymon.sn[i]; i++)
      s.sn.push_back(static_cast<char>(mymon.sn[i].load()));
    for (int i = 0; i < 3; i++) s.hardVer[i] = mymon.hardVer[i];
    return s;
  }
  bool operator==(const Snapshot &o) const {
    return paperstatus == o.paperstatus && Tstatus == o.Tstatus && Coverstatus == o.Coverstatus &&
           messagestatus == o.messagestatus && freeStatus == o.freeStatus &&
           nonePaper == o.nonePaper && Exception == o.Exception && canceled == o.canceled &&
           sn == o.sn && hardVer[0] == o.hardVer[0] && hardVer[1] == o.hardVer[1] &&
           hardVer[2] == o.hardVer[2];
  }
};

void PrintTo(const Snapshot &s, std::ostream *os) {
  *os << "{paper " << s.paperstatus << " T " << s.Tstatus << " cover " << s.Coverstatus << " msg "
      << s.messagestatus << " free " << s.freeStatus << " nonePaper " << s.nonePaper << " exc "
      << s.Exception << " canceled " << s.canceled << " sn '" << s.sn << "' ver " << s.hardVer[0]
      << "." << s.hardVer[1] << "." << s.hardVer[2] << "}";
}

const std::string kOverheatEn = "INFO: The printer has overheated, please wait a moment.\n";
const std::string kOverheatZh = "INFO: 打印机过热，请稍等\n";
const std::string kPaperOutEn = "INFO: The printer is out of paper.\n";
const std::string kPaperOutZh = "INFO: 打印机缺纸\n";
const std::string kCanceled = "INFO: job is canceled\n";
const std::string kProgress = "INFO: 2/5\n";  // Page 2 of TotalPage 5

struct ParserCase {
  const char *name;
  std::string data;
  std::function<void()> before;          // state before the pass (after the fixture's reset)
  std::function<void(Snapshot &)> then;  // expected changes; every other field must stay
  std::string log;
  ssize_t length = -2;  // -2: the whole buffer
};

void PrintTo(const ParserCase &c, std::ostream *os) {
  *os << c.name;
}

void nothing() {}
void unchanged(Snapshot &) {}

std::vector<ParserCase> parserCases() {
  using namespace report;
  const std::string serial = "ABCDEFGHIJKLMNO";
  // A serial number whose bytes look like reports: they must be taken as the serial.
  const std::string trickySerial = paperOut + cancel + idle + overheat + coverOpen;
  return {
      {"Overheat", overheat, nothing,
       [](Snapshot &s) {
         s.Tstatus = 1;
         s.messagestatus = 3;
       },
       kOverheatEn},
      {"OverheatChinese", overheat, [] { mymon.language = 1; },
       [](Snapshot &s) {
         s.Tstatus = 1;
         s.messagestatus = 3;
       },
       kOverheatZh},
      {"OverheatAnnouncedEveryTime", overheat + overheat, nothing,
       [](Snapshot &s) {
         s.Tstatus = 1;
         s.messagestatus = 3;
       },
       kOverheatEn + kOverheatEn},
      {"TemperatureNormal", tempNormal, [] { mymon.Tstatus = 1; },
       [](Snapshot &s) {
         s.Tstatus = 0;
         s.messagestatus = 1;
       },
       kProgress},
      {"CoverOpen", coverOpen, nothing,
       [](Snapshot &s) {
         s.Coverstatus = 1;
         s.messagestatus = 3;
       },
       ""},
      {"CoverClosed", coverClosed,
       [] {
         mymon.Coverstatus = 1;
         mymon.messagestatus = 3;
       },
       [](Snapshot &s) { s.Coverstatus = 0; }, ""},
      {"PaperPresent", paperIn, nothing,
       [](Snapshot &s) {
         s.paperstatus = 1;
         s.messagestatus = 1;
       },
       kProgress},
      {"PaperOut", paperOut, [] { mymon.paperstatus = 1; },
       [](Snapshot &s) {
         s.paperstatus = 0;
         s.messagestatus = 2;
       },
       kPaperOutEn},
      {"PaperOutChinese", paperOut, [] { mymon.language = 1; },
       [](Snapshot &s) { s.messagestatus = 2; }, kPaperOutZh},
      {"PaperOutTwiceAnnouncedOnce", paperOut + paperOut, nothing,
       [](Snapshot &s) { s.messagestatus = 2; }, kPaperOutEn},
      {"PaperOutAlreadyAnnounced", paperOut, [] { mymon.messagestatus = 2; }, unchanged, ""},
      {"PaperOutAgainAfterCoverOpen", paperOut + coverOpen + paperOut, nothing,
       [](Snapshot &s) {
         s.Coverstatus = 1;
         s.messagestatus = 2;
       },
       kPaperOutEn + kPaperOutEn},
      {"PaperOutAfterIdleSetsNonePaper", paperOut, [] { mymon.freeStatus = 1; },
       [](Snapshot &s) {
         s.nonePaper = 1;
         s.messagestatus = 2;
       },
       kPaperOutEn},
      {"IdleThenPaperOutInOneRead", idle + paperOut, nothing,
       [](Snapshot &s) {
         s.freeStatus = 1;
         s.nonePaper = 1;
         s.messagestatus = 2;
       },
       kPaperOutEn},
      {"PaperOutBeforeIdleKeepsNonePaper", paperOut + idle, nothing,
       [](Snapshot &s) {
         s.freeStatus = 1;
         s.messagestatus = 2;
       },
       kPaperOutEn},
      {"Idle", idle, nothing, [](Snapshot &s) { s.freeStatus = 1; }, ""},
      {"CancelEnglish", cancel, nothing, [](Snapshot &s) { s.canceled = 1; }, kCanceled},
      {"CancelSameTextInChinese", cancel, [] { mymon.language = 1; },
       [](Snapshot &s) { s.canceled = 1; }, kCanceled},
      {"HardwareVersion", bytes({0x1A, 0x07, 0x01, 0x00, 0x05}), nothing,
       [](Snapshot &s) {
         s.hardVer[0] = 1;
         s.hardVer[1] = 0;
         s.hardVer[2] = 5;
       },
       ""},
      {"HardwareVersionTruncated", bytes({0x1A, 0x07, 0x01, 0x00}), nothing, unchanged, ""},
      {"HardwareVersionZeroBytesAreData", bytes({0x1A, 0x07, 0x00, 0x00, 0x02}) + idle, nothing,
       [](Snapshot &s) {
         s.hardVer[0] = 0;
         s.hardVer[1] = 0;
         s.hardVer[2] = 2;
         s.freeStatus = 1;
       },
       ""},
      {"SerialNumber", bytes({0x1A, 0x08}) + serial + idle, nothing,
       [serial](Snapshot &s) {
         s.sn = serial;
         s.freeStatus = 1;
       },
       ""},
      {"SerialNumberTakesReportLikeBytes", bytes({0x1A, 0x08}) + trickySerial, nothing,
       [trickySerial](Snapshot &s) { s.sn = trickySerial; }, ""},
      {"SerialNumberTruncated", bytes({0x1A, 0x08}) + serial.substr(0, 14), nothing, unchanged, ""},
      {"LeadingZeroEndsThePass", bytes({0x00}) + paperOut, nothing, unchanged, ""},
      {"ZeroBetweenReportsEndsThePass", idle + bytes({0x00}) + paperOut, nothing,
       [](Snapshot &s) { s.freeStatus = 1; }, ""},
      {"StrayBytesSkipped", bytes({0x55, 0x06, 0x88}) + idle, nothing,
       [](Snapshot &s) { s.freeStatus = 1; }, ""},
      {"TwoBytesOnly", bytes({0x1A, 0x06}), nothing, unchanged, ""},
      {"UnknownCodeTakesThreeBytes", bytes({0x1A, 0x42}) + paperOut, nothing, unchanged, ""},
      {"UnknownValueIgnored", bytes({0x1A, 0x06, 0x00, 0x1A, 0x05, 0x42}) + idle, nothing,
       [](Snapshot &s) { s.freeStatus = 1; }, ""},
      {"OnlyTheGivenLengthIsRead", paperOut + idle, nothing,
       [](Snapshot &s) { s.messagestatus = 2; }, kPaperOutEn, 5},
      {"NegativeLength", paperOut, nothing, unchanged, "", -1},
  };
}

class ParserTest : public MonitorTest, public ::testing::WithParamInterface<ParserCase> {};

TEST_P(ParserTest, AppliesReports) {
  const ParserCase &c = GetParam();
  Page = 2;
  TotalPage = 5;
  c.before();
  Snapshot expected = Snapshot::take();
  c.then(expected);
  const ssize_t length = c.length == -2 ? static_cast<ssize_t>(c.data.size()) : c.length;
  pocessRead(reinterpret_cast<const unsigned char *>(c.data.data()), length);
  EXPECT_EQ(Snapshot::take(), expected);
  EXPECT_EQ(io.log(), c.log);
  EXPECT_TRUE(io.printer().empty());
}

INSTANTIATE_TEST_SUITE_P(Reports, ParserTest, ::testing::ValuesIn(parserCases()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(MonitorTest, InitResetsTheRecordButKeepsPageFlags) {
  mymon.nonePaper = 1;
  mymon.Exception = 1;
  mymon.language = 1;
  mymon.hardVer[1] = 7;
  const std::string dirty = report::overheat + report::coverOpen + report::paperOut + report::idle +
                            bytes({0x1A, 0x07, 0x01, 0x02, 0x03});
  pocessRead(reinterpret_cast<const unsigned char *>(dirty.data()),
             static_cast<ssize_t>(dirty.size()));
  mymon.sn[0] = 'X';
  mymon.status = 2;
  mymon.wait = 1;
  mymon.end = 1;
  mymonInit();
  EXPECT_EQ(mymon.status, 1);
  EXPECT_EQ(mymon.paperstatus, 0);
  EXPECT_EQ(mymon.Tstatus, 0);
  EXPECT_EQ(mymon.Coverstatus, 0);
  EXPECT_EQ(mymon.messagestatus, 0);
  EXPECT_EQ(mymon.freeStatus, 0);
  EXPECT_EQ(mymon.wait, 0);
  EXPECT_EQ(mymon.end, 0);
  EXPECT_EQ(mymon.sn[0], 0);
  EXPECT_EQ(mymon.hardVer[0], 0xFF);
  EXPECT_EQ(mymon.hardVer[1], 2);  // kept
  EXPECT_EQ(mymon.nonePaper, 1);
  EXPECT_EQ(mymon.Exception, 1);
  EXPECT_EQ(mymon.language, 1);
}

}  // namespace
