// Back and side channel through libcups; waits on the monotonic clock.
#include "io/channel.h"

#include <cups/cups.h>
#include <cups/sidechannel.h>
#include <fcntl.h>

#include <cerrno>
#include <ctime>

namespace {

timespec monotonicNow() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t;
}

double secondsSince(const timespec &start) {
  timespec now = monotonicNow();
  return static_cast<double>(now.tv_sec - start.tv_sec) +
         static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

// Sleeps until the monotonic clock has advanced by seconds; a signal does not cut it short.
void sleepFor(double seconds) {
  timespec start = monotonicNow();
  for (;;) {
    double left = seconds - secondsSince(start);
    if (left <= 0) return;
    timespec req;
    req.tv_sec = static_cast<time_t>(left);
    req.tv_nsec = static_cast<long>((left - static_cast<double>(req.tv_sec)) * 1e9);
    nanosleep(&req, nullptr);
  }
}

constexpr int kBackChannelFd = 3;

bool backChannelOpen() {
  return fcntl(kBackChannelFd, F_GETFD) != -1;
}

class CupsChannel : public Channel {
 public:
  ssize_t backRead(unsigned char *buf, size_t n, double timeout) override {
    timespec start = monotonicNow();
    // libcups retries its select() for as long as it fails with anything but EINTR/EAGAIN, so
    // with descriptor 3 closed it would spin for ever: only call it when the descriptor exists.
    ssize_t got = -1;
    if (backChannelOpen()) got = cupsBackChannelRead(reinterpret_cast<char *>(buf), n, timeout);
    if (got <= 0) {
      // No back channel, or end of file: behave like a silent printer.
      double left = timeout - secondsSince(start);
      if (left > 0) sleepFor(left);
    }
    return got;
  }
  void drain(double timeout) override {
    // datalen is in/out: the room for the answer's data in, the answer's length out. The
    // status is not examined: a backend without a side channel just makes this return at once.
    char data[1024];
    int datalen = static_cast<int>(sizeof data);
    cupsSideChannelDoRequest(CUPS_SC_CMD_DRAIN_OUTPUT, data, &datalen, timeout);
  }
  void sleepMs(unsigned ms) override { sleepFor(ms / 1000.0); }
};

CupsChannel realChannel;
Channel *current = &realChannel;

}  // namespace

Channel &channel() {
  return *current;
}
void setChannel(Channel *c) {
  current = c ? c : &realChannel;
}
Channel &cupsChannel() {
  return realChannel;
}

void prepareBackChannel() {
  int flags = fcntl(kBackChannelFd, F_GETFL);
  if (flags >= 0 && !(flags & O_NONBLOCK)) fcntl(kBackChannelFd, F_SETFL, flags | O_NONBLOCK);
}
