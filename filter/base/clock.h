// Time for a job's waits: the pauses the printers need and the waits of one thread for another.
// The filter runs on the real clock; tests and fuzzers swap in a virtual one, on which a job's
// waits cost no time.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

class Clock {
 public:
  virtual ~Clock() = default;
  // Waits ms milliseconds.
  virtual void sleepMs(unsigned ms) = 0;
  // Waits until ready() holds or seconds have passed; ready() is checked again after every
  // notifyAll(). Returns ready().
  virtual bool waitFor(double seconds, const std::function<bool()> &ready) = 0;
  // Makes every waitFor check its ready() again (after a change of what it reads).
  virtual void notifyAll() = 0;
  // A second thread of the job (the monitor thread): the creating thread calls
  // threadStarting() before it creates it; the new thread calls threadStarted() first and
  // threadEnding() last. A virtual clock only moves on while every thread of the job waits.
  virtual void threadStarting() {}
  virtual void threadStartFailed() {}  // the thread could not be created after all
  virtual void threadStarted() {}
  virtual void threadEnding() {}
};

// The monotonic clock.
class RealClock : public Clock {
 public:
  void sleepMs(unsigned ms) override;
  bool waitFor(double seconds, const std::function<bool()> &ready) override;
  void notifyAll() override;

 private:
  std::mutex lock_;
  std::condition_variable changed_;
};

// Seconds on the monotonic clock.
double monotonicSeconds();
// Sleeps until monotonicSeconds() reaches deadline; a signal does not cut it short.
void sleepUntil(double deadline);
