// The stop flag, set by a signal handler that then calls PAPPL's.
#include "server_stop.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace app {

namespace {

std::atomic<bool> stopping{false};
std::atomic<int> printing{0};
struct sigaction previous[2];
constexpr int kSignals[2] = {SIGTERM, SIGINT};

void onStop(int sig, siginfo_t *info, void *context) {
  stopping = true;
  for (int i = 0; i < 2; i++) {
    if (kSignals[i] != sig) continue;
    if (previous[i].sa_flags & SA_SIGINFO)
      previous[i].sa_sigaction(sig, info, context);
    else if (previous[i].sa_handler != SIG_DFL && previous[i].sa_handler != SIG_IGN)
      previous[i].sa_handler(sig);
  }
}

}  // namespace

void watchServerStop() {
  static std::mutex installing;
  std::lock_guard<std::mutex> guard(installing);
  struct sigaction action = {};
  action.sa_sigaction = onStop;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 2; i++) {
    struct sigaction current;
    if (sigaction(kSignals[i], nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) &&
        current.sa_sigaction == onStop)
      continue;
    sigaction(kSignals[i], &action, &previous[i]);
  }
}

bool serverStopping() {
  return stopping;
}

void jobEntered() {
  printing++;
}

void jobLeft() {
  printing--;
}

bool readyToExit() {
  return stopping && printing == 0;
}

void parkUntilExit() {
  for (;;) pause();
}

}  // namespace app
