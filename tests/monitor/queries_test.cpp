// The blocking status queries against a scripted printer on a virtual clock: what they send,
// when they ask again, how they read the answers, and that cancellation always ends them.
#include <functional>
#include <string>
#include <vector>

#include "monitor_fixture.h"
#include "support/scripted_channel.h"
#include "thermal/commands.h"

namespace {

using namespace report;

constexpr unsigned char kPaperQuery = 0x11, kCoverQuery = 0x12, kIdleQuery = 0x43;

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

// Each ask: the query, a drain of up to 10 s and one read of up to 63 bytes within 1 s. An answer
// without a paper report is applied and the paper asked again; a cancel report ends the query.
TEST_F(QueryTest, PaperAskedUntilAPaperReportComes) {
  struct {
    std::vector<std::string> replies;
    int result, paperstatus, asked, tstatus, canceled;
  } cases[] = {
      {{paperIn}, 1, 1, 1, 1, 0},
      {{tempNormal, paperOut}, 0, 0, 2, 0, 0},
      {{tempNormal, cancel}, 0, -1, 2, 0, 1},  // still pending
  };
  for (const auto &c : cases) {
    resetMonitorGlobals();
    mymon.Tstatus = 1;
    printer.reads.clear();
    printer.drainTimeouts.clear();
    const size_t before = io.printer().size();
    printer.script(kPaperQuery, c.replies);
    EXPECT_EQ(GetPaperStatus(), c.result);
    EXPECT_EQ(mymon.paperstatus, c.paperstatus);
    EXPECT_EQ(mymon.Tstatus, c.tstatus);
    EXPECT_EQ(Canceled, c.canceled);
    EXPECT_EQ(io.printer().substr(before), queryBytes(findpaper, c.asked));
    EXPECT_EQ(printer.drainTimeouts, std::vector<double>(c.asked, 10.0));
    EXPECT_EQ(printer.reads, (std::vector<std::pair<size_t, double>>(c.asked, {63, 1.0})));
  }
}

// A reply without a cover report counts as open; only silence makes the query go out again.
TEST_F(QueryTest, CoverStates) {
  struct {
    std::vector<std::string> replies;
    int result, coverstatus, asked;
  } cases[] = {
      {{coverClosed}, 0, 0, 1},     {{coverOpen}, 1, 1, 1},
      {{paperIn}, 1, 0xFF, 1},      {{paperOut + coverClosed}, 0, 0, 1},
      {{"", coverClosed}, 0, 0, 2},
  };
  for (const auto &c : cases) {
    resetMonitorGlobals();
    const size_t before = io.printer().size();
    printer.script(kCoverQuery, c.replies);
    EXPECT_EQ(GetCoverStatus(), c.result);
    EXPECT_EQ(mymon.Coverstatus, c.coverstatus);
    EXPECT_EQ(io.printer().substr(before), queryBytes(askCover, c.asked));
  }
}

TEST_F(QueryTest, WaitFreeAsksUntilIdle) {
  ModelNumber = 831;
  mymon.freeStatus = 1;  // a stale idle report does not count
  printer.script(kIdleQuery, {"", tempNormal, idle});
  waitFree();
  EXPECT_EQ(io.printer(), queryBytes(freeQuery, 3));
  EXPECT_EQ(mymon.freeStatus, 1);
}

// Model 64519 asks for idle from hardware version 1.0.5 on, the version compared as one number
// (1.0.4, 1.0.5 and the unreported version are shown end to end).
TEST_F(QueryTest, WaitFreeOn64519ComparesTheWholeHardwareVersion) {
  const std::vector<unsigned char> idleTwice = {kIdleQuery, kIdleQuery};
  struct {
    std::string version;
    int number;
    std::vector<unsigned char> queries;
  } cases[] = {
      {bytes({0x1A, 0x07, 0x01, 0x80, 0xFF}), 0x0180FF, idleTwice},
      {bytes({0x1A, 0x07, 0x02, 0x00, 0x00}), 0x020000, idleTwice},
  };
  for (const auto &c : cases) {
    resetMonitorGlobals();
    ModelNumber = 64519;
    pocessRead(reinterpret_cast<const unsigned char *>(c.version.data()),
               static_cast<ssize_t>(c.version.size()));
    const size_t before = printer.queries().size();
    printer.script(kCoverQuery, {coverOpen});  // the result is ignored
    printer.script(kIdleQuery, {"", idle});
    waitFree();
    const std::vector<unsigned char> sent = printer.queries();
    EXPECT_EQ(std::vector<unsigned char>(sent.begin() + before, sent.end()), c.queries)
        << getHardVer();
    EXPECT_EQ(getHardVer(), c.number);
  }
}

struct NamedQuery {
  const char *name;
  unsigned char code;
  std::function<int()> run;
};
const NamedQuery kQueries[] = {
    {"GetPaperStatus", kPaperQuery, [] { return GetPaperStatus(); }},
    {"GetCoverStatus", kCoverQuery, [] { return GetCoverStatus(); }},
    {"waitFree", kIdleQuery, [] { return waitFree(), 0; }},
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
}

TEST_F(QueryTest, CancelWhileWaitingForTheMonitorThread) {
  mymon.wait = 1;
  printer.onSleep = [&] {
    if (printer.sleeps.size() == 2) Canceled = 1;
  };
  EXPECT_EQ(GetPaperStatus(), 0);
  EXPECT_EQ(printer.sleeps.size(), 2u);
  EXPECT_TRUE(io.printer().empty());
}

TEST_F(QueryTest, SendNowFlushesAndDrainsBriefly) {
  prnWrite("abc", 3);
  SendNow();
  EXPECT_EQ(io.printer(), "abc");
  EXPECT_EQ(printer.drainTimeouts, std::vector<double>{0.1});
  EXPECT_TRUE(printer.reads.empty());
}

}  // namespace
