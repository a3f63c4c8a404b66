// The monitor thread against a scripted printer: it reads reports only while watching, marks a
// cover opened during a page, and finishes when told to stop or when the job is cancelled.
// Deterministic on the virtual clock; every shared flag is atomic (also run under TSan).
#include <chrono>
#include <functional>
#include <thread>

#include "monitor_fixture.h"
#include "support/scripted_channel.h"

namespace {

// Waits (really) for a condition that another thread will make true; false after a long
// safety limit, so a broken thread fails the test instead of hanging it.
bool eventually(const std::function<bool()> &cond) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Runs mon on its own thread; always stopped and joined, even when an assertion fails.
class MonitorThread {
 public:
  MonitorThread() : thread_([] { mon(nullptr); }) {}
  ~MonitorThread() {
    mymon.status = 0;
    thread_.join();
  }

 private:
  std::thread thread_;
};

class MonitorThreadTest : public MonitorTest {
 protected:
  ScriptedChannel printer{io};
};

TEST_F(MonitorThreadTest, WatchingAppliesReportsAndMarksAnOpenCover) {
  printer.at(2.0, report::paperOut);
  printer.at(4.0, report::coverOpen);
  mymon.status = 2;
  MonitorThread thread;
  ASSERT_TRUE(eventually([] { return mymon.Exception == 1; }));
  EXPECT_EQ(mymon.Coverstatus, 1);
  EXPECT_EQ(mymon.paperstatus, 0);
  EXPECT_EQ(io.log(), "INFO: The printer is out of paper.\n");
  EXPECT_GE(printer.now(), 4.0);
  mymon.status = 0;
  ASSERT_TRUE(eventually([] { return mymon.end == 1; }));
  EXPECT_EQ(mymon.wait, 0);
}

TEST_F(MonitorThreadTest, ClosedCoverIsNoException) {
  printer.at(1.0, report::coverClosed + report::idle);
  mymon.status = 2;
  MonitorThread thread;
  ASSERT_TRUE(eventually([] { return mymon.freeStatus == 1; }));
  EXPECT_EQ(mymon.Exception, 0);
}

TEST_F(MonitorThreadTest, PausedThreadLeavesTheBackChannelAlone) {
  printer.at(0.0, report::paperOut);
  MonitorThread thread;                                           // status 1 from mymonInit
  ASSERT_TRUE(eventually([&] { return printer.now() >= 5.0; }));  // slept at least 5 times
  EXPECT_EQ(mymon.paperstatus, 0);
  EXPECT_EQ(mymon.messagestatus, 0);
  EXPECT_EQ(io.log(), "");
  EXPECT_EQ(mymon.wait, 0);
  mymon.status = 2;
  ASSERT_TRUE(eventually([] { return mymon.messagestatus == 2; }));
  EXPECT_EQ(io.log(), "INFO: The printer is out of paper.\n");
  mymon.status = 1;  // paused again, then stopped
  mymon.status = 0;
  ASSERT_TRUE(eventually([] { return mymon.end == 1; }));
}

TEST_F(MonitorThreadTest, StopBeforeStartFinishesAtOnce) {
  mymon.status = 0;
  mon(nullptr);
  EXPECT_EQ(mymon.end, 1);
  EXPECT_EQ(printer.now(), 0.0);
}

TEST_F(MonitorThreadTest, CancelledJobEndsTheThread) {
  mymon.status = 2;
  MonitorThread thread;
  ASSERT_TRUE(eventually([&] { return printer.now() >= 3.0; }));
  Canceled = 1;
  ASSERT_TRUE(eventually([] { return mymon.end == 1; }));
  EXPECT_EQ(mymon.wait, 0);
}

}  // namespace
