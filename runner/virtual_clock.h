// A virtual clock for whole jobs in-process: the job's waits cost no time, and its two threads
// run one at a time in a fixed order, so a job's printer stream and scheduler lines are the
// same on every run. Time moves on only when every thread of the job waits: to the earliest
// deadline of a wait, or to the printer's next timed report.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/clock.h"

namespace runner {

class VirtualClock : public Clock {
 public:
  // The calling thread takes part in the job (its main thread); leave() when it is done.
  void enter();
  void leave();
  double now() const;
  // Hand-overs of the run from one thread to another so far.
  long switches() const;

  // Timed events besides the waits (the printer's volunteered reports, a time limit): the time
  // of the next one (negative: none), and their firing at time t. Called with the clock's lock
  // held: they must not call back into the clock.
  std::function<double()> nextEvent;
  std::function<void(double t)> fireEvents;

  // Lets the job's other threads run what they can now, as they would while this one blocks
  // on the backend (a drain); the time stays.
  void yield();
  void sleepMs(unsigned ms) override;
  bool waitFor(double seconds, const std::function<bool()> &ready) override;
  void notifyAll() override {}  // waits are checked at every hand-over anyway
  void threadStarting() override;
  void threadStartFailed() override;
  void threadStarted() override;
  void threadEnding() override;

 private:
  struct Thread {
    std::thread::id id;
    bool waiting = false;
    double deadline = 0;
    const std::function<bool()> *ready = nullptr;
    std::unique_ptr<std::condition_variable> turn = std::make_unique<std::condition_variable>();
  };
  Thread *self();
  void wait(std::unique_lock<std::mutex> &lock, double seconds, const std::function<bool()> *ready);
  // Blocks until the run is handed to the calling thread.
  void awaitTurn(std::unique_lock<std::mutex> &lock);
  // Gives the run to the next thread: one whose wait is over, else the one whose deadline
  // comes first (time moves on to it).
  void handOver();

  // Gives the run to t, waking it only when it is another thread.
  void runNext(Thread &t);

  mutable std::mutex lock_;
  std::vector<Thread> threads_;  // in the order they joined
  std::thread::id running_;      // the thread that may run
  int starting_ = 0;             // threads created but not yet joined
  double now_ = 0;
  long switches_ = 0;
};

}  // namespace runner
