// The real clock: sleeps and condition-variable waits on the monotonic clock.
#include "base/clock.h"

#include <chrono>
#include <ctime>

double monotonicSeconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void sleepUntil(double deadline) {
  for (;;) {
    double left = deadline - monotonicSeconds();
    if (left <= 0) return;
    timespec req;
    req.tv_sec = static_cast<time_t>(left);
    req.tv_nsec = static_cast<long>((left - static_cast<double>(req.tv_sec)) * 1e9);
    nanosleep(&req, nullptr);
  }
}

void RealClock::sleepMs(unsigned ms) {
  sleepUntil(monotonicSeconds() + ms / 1000.0);
}

bool RealClock::waitFor(double seconds, const std::function<bool()> &ready) {
  std::unique_lock<std::mutex> lock(lock_);
  return changed_.wait_for(lock, std::chrono::duration<double>(seconds), ready);
}

void RealClock::notifyAll() {
  // Taking the lock orders the change before a waiter's check: no wake-up is lost.
  { std::lock_guard<std::mutex> guard(lock_); }
  changed_.notify_all();
}
