// The blocking status queries against a scripted printer: what they send, when they ask again,
// how they read the answers, and that cancellation always ends them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/test_job.h"

namespace {

using namespace report;
constexpr unsigned char kPaper = 0x11, kCover = 0x12, kIdle = 0x43;
using Queries = std::vector<unsigned char>;

// An answer without a paper report is applied and the paper asked again; a cancel report ends
// the query; the cover query takes any answer, one without a cover report counting as open; only
// silence makes it go out again.
TEST(Queries, AskUntilTheAwaitedReportComes) {
  struct Case {
    const char *what;
    unsigned char code;
    std::vector<std::string> replies;
    int result, asked, status;  // status: paperstatus or Coverstatus afterwards
  } cases[] = {
      {"paper in", kPaper, {paperIn}, 1, 1, 1},
      {"temperature, then paper out", kPaper, {tempNormal, paperOut}, 0, 2, 0},
      {"cancel", kPaper, {tempNormal, cancel}, 0, 2, -1},
      {"cover closed", kCover, {coverClosed}, 0, 1, 0},
      {"cover open", kCover, {coverOpen}, 1, 1, 1},
      {"no cover report", kCover, {paperIn}, 1, 1, 0xFF},
      {"silence, then closed", kCover, {"", paperOut + coverClosed}, 0, 2, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TestJob t(22);
    t.script(c.code, c.replies);
    const int result = c.code == kPaper ? GetPaperStatus(t.job) : GetCoverStatus(t.job);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(c.code == kPaper ? t.job.mymon.paperstatus.load() : t.job.mymon.Coverstatus.load(),
              c.status);
    EXPECT_EQ(t.queries, Queries(static_cast<size_t>(c.asked), c.code));
    // Each ask is the query, then its drain; nothing else reaches the printer.
    std::string sent;
    for (int i = 0; i < c.asked; i++) sent += bytes({0x1F, 0x11, c.code});
    EXPECT_EQ(t.stream(), sent);
    EXPECT_EQ(t.drains, c.asked);
    EXPECT_EQ(t.job.mymon.handOver, 0) << "the back channel is given back";
  }
}

// The idle wait ignores a stale idle report; model 64519 asks for idle only from hardware
// version 1.0.5 on (the three bytes compared as one number), older ones get one cover query.
TEST(Queries, WaitFreeAsksUntilIdleOrOnceForTheCoverOnOldHardware) {
  struct Case {
    int model;
    std::string version;
    Queries queries;
  } cases[] = {
      {831, "", {kIdle, kIdle, kIdle}},
      {64519, "", {kIdle, kIdle, kIdle}},  // no version reported
      {64519, bytes({0x1A, 0x07, 0x01, 0x00, 0x04}), {kCover}},
      {64519, bytes({0x1A, 0x07, 0x01, 0x00, 0x05}), {kIdle, kIdle, kIdle}},
      {64519, bytes({0x1A, 0x07, 0x00, 0xFF, 0xFF}), {kCover}},
      {64519, bytes({0x1A, 0x07, 0x01, 0x80, 0x00}), {kIdle, kIdle, kIdle}},
  };
  for (const Case &c : cases) {
    TestJob t(c.model);
    pocessRead(t.job, reinterpret_cast<const unsigned char *>(c.version.data()),
               static_cast<ssize_t>(c.version.size()));
    t.job.mymon.freeStatus = 1;
    t.script(kIdle, {"", tempNormal, idle});
    t.script(kCover, {coverOpen});  // its answer is ignored
    waitFree(t.job);
    EXPECT_EQ(t.queries, c.queries) << c.model << " " << getHardVer(t.job);
  }
}

struct NamedQuery {
  const char *name;
  unsigned char code;
  std::function<int(Job &)> run;
};
const NamedQuery kQueries[] = {
    {"GetPaperStatus", kPaper, [](Job &j) { return GetPaperStatus(j); }},
    {"GetCoverStatus", kCover, [](Job &j) { return GetCoverStatus(j); }},
    {"waitFree", kIdle, [](Job &j) { return waitFree(j), 0; }},
};

// Cancelled beforehand: nothing is sent. A silent printer is asked once a second (a read's
// time-out) until the job is cancelled.
TEST(Queries, CancellationEndsEveryQuery) {
  for (const NamedQuery &q : kQueries) {
    SCOPED_TRACE(q.name);
    TestJob before(831);
    before.job.Canceled = 1;
    EXPECT_EQ(q.run(before.job), 0);
    EXPECT_EQ(before.stream(), "");

    TestJob silent(831);
    silent.answerer = [&silent](unsigned char, int count, std::string &) {
      if (count == 5) silent.job.Canceled = 1;
      return true;
    };
    EXPECT_EQ(q.run(silent.job), 0);
    EXPECT_EQ(silent.queries, Queries(5, q.code));
    EXPECT_DOUBLE_EQ(silent.now, 5.0);
  }
}

// While the monitor thread reads, a query waits for it and writes nothing; it goes out once the
// thread is out of its read, and a cancel ends the wait.
TEST(Queries, AQueryWaitsForTheMonitorThreadsRead) {
  for (const NamedQuery &q : kQueries) {
    for (bool cancel : {false, true}) {
      SCOPED_TRACE(std::string(q.name) + (cancel ? " cancelled" : ""));
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
      q.run(t.job);
      EXPECT_EQ(waits, 3);
      EXPECT_EQ(t.queries, cancel ? Queries{} : Queries{q.code});
    }
  }
}

TEST(Queries, SendNowFlushesAndDrains) {
  TestJob t(22);
  t.job.prn.write("abc", 3);
  SendNow(t.job);
  EXPECT_EQ(t.stream(), "abc");
  EXPECT_EQ(t.drains, 1);
}

}  // namespace
