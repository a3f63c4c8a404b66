// The blocking status queries against a scripted printer on a virtual clock: what they send,
// when they ask again, how they read the answers, and that cancellation always ends them.
#include <functional>
#include <string>
#include <vector>

#include "monitor_fixture.h"
#include "support/scripted_channel.h"
#include "thermal/commands.h"

namespace {

using report::coverClosed;
using report::coverOpen;
using report::idle;
using report::paperIn;
using report::paperOut;
using report::tempNormal;

constexpr unsigned char kPaperQuery = 0x11;
constexpr unsigned char kCoverQuery = 0x12;
constexpr unsigned char kIdleQuery = 0x43;

// The scripted printer, also recording how the channel is used and running a hook at each
// sleep (the main thread's only chance to see the world change while it waits).
class ObservedChannel : public ScriptedChannel {
 public:
  using ScriptedChannel::ScriptedChannel;
  ssize_t backRead(unsigned char *buf, size_t n, double timeout) override {
    reads.push_back({n, timeout});
    return ScriptedChannel::backRead(buf, n, timeout);
  }
  void drain(double timeout) override {
    drainTimeouts.push_back(timeout);
    ScriptedChannel::drain(timeout);
  }
  void sleepMs(unsigned ms) override {
    sleeps.push_back(ms);
    ScriptedChannel::sleepMs(ms);
    if (onSleep) onSleep();
  }
  std::vector<std::pair<size_t, double>> reads;
  std::vector<double> drainTimeouts;
  std::vector<unsigned> sleeps;
  std::function<void()> onSleep;
};

std::string queryBytes(const unsigned char (&q)[3], int times) {
  std::string s;
  for (int i = 0; i < times; i++) s.append(reinterpret_cast<const char *>(q), 3);
  return s;
}

class QueryTest : public MonitorTest {
 protected:
  ObservedChannel printer{io};
};

TEST_F(QueryTest, PaperPresentAnsweredAtOnce) {
  printer.script(kPaperQuery, {paperIn});
  EXPECT_EQ(GetPaperStatus(), 1);
  EXPECT_EQ(io.printer(), queryBytes(findpaper, 1));
  EXPECT_EQ(printer.drainTimeouts, std::vector<double>{10.0});
  ASSERT_EQ(printer.reads.size(), 1u);
  EXPECT_EQ(printer.reads[0].first, 63u);
  EXPECT_EQ(printer.reads[0].second, 1.0);
}

TEST_F(QueryTest, PaperAskedAgainWhenTheAnswerHoldsNoPaperReport) {
  printer.script(kPaperQuery, {tempNormal, paperOut});
  EXPECT_EQ(GetPaperStatus(), 0);
  EXPECT_EQ(io.printer(), queryBytes(findpaper, 2));
  EXPECT_EQ(mymon.paperstatus, 0);
  EXPECT_EQ(mymon.Tstatus, 0);
  EXPECT_EQ(mymon.messagestatus, 2);  // the temperature report was applied on the way
}

TEST_F(QueryTest, CoverStates) {
  struct {
    std::string reply;
    int result;
    int coverstatus;
  } cases[] = {
      {coverClosed, 0, 0},
      {coverOpen, 1, 1},
      {paperIn, 1, 0xFF},  // a reply without a cover report counts as open
      {paperOut + coverClosed, 0, 0},
  };
  for (const auto &c : cases) {
    resetMonitorGlobals();
    printer.script(kCoverQuery, {c.reply});
    EXPECT_EQ(GetCoverStatus(), c.result);
    EXPECT_EQ(mymon.Coverstatus, c.coverstatus);
  }
  EXPECT_EQ(io.printer(), queryBytes(askCover, 4));  // never asked twice
}

TEST_F(QueryTest, CoverAskedAgainOnlyAfterSilence) {
  printer.script(kCoverQuery, {"", coverClosed});
  EXPECT_EQ(GetCoverStatus(), 0);
  EXPECT_EQ(printer.count(kCoverQuery), 2);
}

TEST_F(QueryTest, WaitFreeAsksUntilIdle) {
  ModelNumber = 831;
  mymon.freeStatus = 1;  // a stale idle report does not count
  printer.script(kIdleQuery, {"", tempNormal, idle});
  waitFree();
  EXPECT_EQ(io.printer(), queryBytes(freeQuery, 3));
  EXPECT_EQ(mymon.freeStatus, 1);
}

TEST_F(QueryTest, WaitFreeOnOldModel64519AsksOnlyTheCover) {
  ModelNumber = 64519;
  const std::string version = bytes({0x1A, 0x07, 0x01, 0x00, 0x04});
  pocessRead(reinterpret_cast<const unsigned char *>(version.data()), 5);
  printer.script(kCoverQuery, {coverOpen});  // the result is ignored
  printer.script(kIdleQuery, {idle});
  waitFree();
  EXPECT_EQ(printer.queries(), std::vector<unsigned char>{kCoverQuery});
}

TEST_F(QueryTest, WaitFreeOnNewerOrUnknown64519AsksForIdle) {
  for (std::string version : {bytes({0x1A, 0x07, 0x01, 0x00, 0x05}),
                              bytes({0x1A, 0x07, 0x02, 0x00, 0x00}), std::string()}) {
    resetMonitorGlobals();
    ModelNumber = 64519;
    pocessRead(reinterpret_cast<const unsigned char *>(version.data()),
               static_cast<ssize_t>(version.size()));
    const size_t before = io.printer().size();
    printer.script(kIdleQuery, {"", idle});
    waitFree();
    EXPECT_EQ(io.printer().substr(before), queryBytes(freeQuery, 2)) << getHardVer();
  }
}

TEST_F(QueryTest, HardwareVersionAsNumber) {
  EXPECT_EQ(getHardVer(), 0xFF0000);  // not reported
  const std::string version = bytes({0x1A, 0x07, 0x01, 0x80, 0xFF});
  pocessRead(reinterpret_cast<const unsigned char *>(version.data()), 5);
  EXPECT_EQ(getHardVer(), 65536 + 0x80 * 256 + 0xFF);
}

using Query = std::function<int()>;
struct NamedQuery {
  const char *name;
  unsigned char code;
  Query run;
};
const NamedQuery kQueries[] = {
    {"GetPaperStatus", kPaperQuery, [] { return GetPaperStatus(); }},
    {"GetCoverStatus", kCoverQuery, [] { return GetCoverStatus(); }},
    {"waitFree", kIdleQuery,
     [] {
       waitFree();
       return 0;
     }},
};

TEST_F(QueryTest, CancelledBeforehandSendsNothing) {
  printer.script(kPaperQuery, {paperIn});
  printer.script(kCoverQuery, {coverOpen});
  printer.script(kIdleQuery, {idle});
  Canceled = 1;
  for (const auto &q : kQueries) EXPECT_EQ(q.run(), 0) << q.name;
  EXPECT_TRUE(io.printer().empty());
  EXPECT_EQ(printer.drains(), 0);
  EXPECT_TRUE(printer.reads.empty());
}

TEST_F(QueryTest, SilentPrinterPolledOncePerSecondUntilCancelled) {
  constexpr int kAttempts = 5;
  int asked = 0;
  printer.answerer = [&](unsigned char, double, std::string &) {
    if (++asked == kAttempts) Canceled = 1;
    return true;  // silence
  };
  for (const auto &q : kQueries) {
    resetMonitorGlobals();
    asked = 0;
    const double start = printer.now();
    const int sentBefore = printer.count(q.code);
    EXPECT_EQ(q.run(), 0) << q.name;
    EXPECT_EQ(printer.count(q.code) - sentBefore, kAttempts) << q.name;
    EXPECT_DOUBLE_EQ(printer.now() - start, kAttempts * 1.0) << q.name;
  }
}

TEST_F(QueryTest, CancelReportDuringAQueryEndsIt) {
  printer.script(kPaperQuery, {tempNormal, report::cancel});
  EXPECT_EQ(GetPaperStatus(), 0);
  EXPECT_EQ(Canceled, 1);
  EXPECT_EQ(printer.count(kPaperQuery), 2);
}

TEST_F(QueryTest, QueriesWaitWhileTheMonitorThreadReads) {
  for (const auto &q : kQueries) {
    resetMonitorGlobals();
    printer.script(kPaperQuery, {paperIn});
    printer.script(kCoverQuery, {coverClosed});
    printer.script(kIdleQuery, {idle});
    const size_t before = io.printer().size();
    printer.sleeps.clear();
    mymon.wait = 1;
    bool wroteWhileWaiting = false;
    printer.onSleep = [&] {
      if (io.printer().size() != before) wroteWhileWaiting = true;
      if (printer.sleeps.size() == 3) mymon.wait = 0;
    };
    q.run();
    EXPECT_FALSE(wroteWhileWaiting) << q.name;
    EXPECT_EQ(printer.sleeps, std::vector<unsigned>({500, 500, 500})) << q.name;
    EXPECT_EQ(io.printer().size() - before, 3u) << q.name;
  }
  printer.onSleep = nullptr;
}

TEST_F(QueryTest, CancelWhileWaitingForTheMonitorThread) {
  mymon.wait = 1;
  printer.onSleep = [&] {
    if (printer.sleeps.size() == 2) Canceled = 1;
  };
  EXPECT_EQ(GetPaperStatus(), 0);
  EXPECT_EQ(printer.sleeps.size(), 2u);
  EXPECT_TRUE(io.printer().empty());
  printer.onSleep = nullptr;
}

TEST_F(QueryTest, SendNowFlushesAndDrainsBriefly) {
  prnWrite("abc", 3);
  SendNow();
  EXPECT_EQ(io.printer(), "abc");
  EXPECT_EQ(printer.drainTimeouts, std::vector<double>{0.1});
  EXPECT_TRUE(printer.reads.empty());
}

TEST_F(QueryTest, SleepsGoThroughTheChannelClock) {
  mysleep(500);
  EXPECT_DOUBLE_EQ(printer.now(), 0.5);
  sleepSeconds(3);
  EXPECT_DOUBLE_EQ(printer.now(), 3.5);
  sleepSeconds(0);
  EXPECT_DOUBLE_EQ(printer.now(), 3.5);
}

}  // namespace
