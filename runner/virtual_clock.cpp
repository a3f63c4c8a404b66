// The virtual clock's hand-over of the run between the threads of a job.
#include "virtual_clock.h"

#include <algorithm>
#include <limits>

namespace runner {

VirtualClock::Thread *VirtualClock::self() {
  for (Thread &t : threads_)
    if (t.id == std::this_thread::get_id()) return &t;
  return nullptr;
}

void VirtualClock::runNext(Thread &t) {
  running_ = t.id;
  if (t.id != std::this_thread::get_id()) {
    switches_++;
    t.turn->notify_one();
  }
}

long VirtualClock::switches() const {
  std::lock_guard<std::mutex> guard(lock_);
  return switches_;
}

void VirtualClock::enter() {
  std::lock_guard<std::mutex> guard(lock_);
  threads_.push_back({std::this_thread::get_id()});
  running_ = std::this_thread::get_id();
}

void VirtualClock::leave() {
  threadEnding();
}

double VirtualClock::now() const {
  std::lock_guard<std::mutex> guard(lock_);
  return now_;
}

void VirtualClock::handOver() {
  for (;;) {
    // A thread still being created takes part once it has joined.
    if (starting_ > 0) {
      running_ = std::thread::id();
      return;
    }
    for (Thread &t : threads_) {
      if (t.waiting && t.ready && (*t.ready)()) {
        runNext(t);
        return;
      }
    }
    Thread *first = nullptr;
    for (Thread &t : threads_)
      if (t.waiting && (!first || t.deadline < first->deadline)) first = &t;
    if (!first) {
      running_ = std::thread::id();
      return;
    }
    const double event = nextEvent ? nextEvent() : -1;
    if (event >= 0 && event <= first->deadline) {
      now_ = std::max(now_, event);
      if (fireEvents) fireEvents(now_);
      continue;  // an event may have ended a wait
    }
    now_ = std::max(now_, first->deadline);
    runNext(*first);
    return;
  }
}

void VirtualClock::wait(std::unique_lock<std::mutex> &lock, double seconds,
                        const std::function<bool()> *ready) {
  Thread *me = self();
  me->waiting = true;
  me->deadline = now_ + seconds;
  me->ready = ready;
  handOver();
  awaitTurn(lock);
}

void VirtualClock::awaitTurn(std::unique_lock<std::mutex> &lock) {
  const std::thread::id id = std::this_thread::get_id();
  std::condition_variable &turn = *self()->turn;
  turn.wait(lock, [this, id] { return running_ == id; });
  Thread *me = self();
  me->waiting = false;
  me->ready = nullptr;
}

void VirtualClock::yield() {
  std::unique_lock<std::mutex> lock(lock_);
  // Waiting with no condition of its own, due now: every thread that can run goes first.
  wait(lock, 0, nullptr);
}

void VirtualClock::sleepMs(unsigned ms) {
  std::unique_lock<std::mutex> lock(lock_);
  wait(lock, ms / 1000.0, nullptr);
}

bool VirtualClock::waitFor(double seconds, const std::function<bool()> &ready) {
  std::unique_lock<std::mutex> lock(lock_);
  if (ready()) return true;
  wait(lock, seconds, &ready);
  return ready();
}

void VirtualClock::threadStarting() {
  std::lock_guard<std::mutex> guard(lock_);
  starting_++;
}

void VirtualClock::threadStartFailed() {
  std::lock_guard<std::mutex> guard(lock_);
  starting_--;
}

void VirtualClock::threadStarted() {
  std::unique_lock<std::mutex> lock(lock_);
  starting_--;
  // Joins as a thread whose wait is over: it runs once the others wait.
  static const std::function<bool()> kNow = [] { return true; };
  Thread joined{std::this_thread::get_id()};
  joined.waiting = true;
  joined.deadline = now_;
  joined.ready = &kNow;
  threads_.push_back(std::move(joined));
  // Nobody runs when every other thread waited for this one to join.
  if (running_ == std::thread::id()) handOver();
  awaitTurn(lock);
}

void VirtualClock::threadEnding() {
  std::lock_guard<std::mutex> guard(lock_);
  const std::thread::id id = std::this_thread::get_id();
  threads_.erase(std::remove_if(threads_.begin(), threads_.end(),
                                [id](const Thread &t) { return t.id == id; }),
                 threads_.end());
  handOver();
}

}  // namespace runner
