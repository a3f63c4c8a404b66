// Back and side channel through libcups; waits on the monotonic clock.
#include "io/channel.h"

#include <cups/cups.h>
#include <cups/sidechannel.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <initializer_list>

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
constexpr int kSideChannelFd = 4;
// Longest stretch a drain waits before it looks at the cancel check again.
constexpr double kDrainSliceSeconds = 0.1;

bool (*cancelCheck)() = nullptr;

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
    // The request and its answer are sent and awaited separately (rather than with
    // cupsSideChannelDoRequest, which restarts its wait after every signal), so that the wait
    // is cut into slices and ends as soon as the job is cancelled: a backend that never
    // answers must not hold up a cancelled job. The answer's status is not examined; without a
    // side channel the write fails and the drain returns at once.
    if (cupsSideChannelWrite(CUPS_SC_CMD_DRAIN_OUTPUT, CUPS_SC_STATUS_NONE, nullptr, 0,
                             kDrainSliceSeconds) != 0)
      return;
    timespec start = monotonicNow();
    for (;;) {
      double left = timeout - secondsSince(start);
      if (left <= 0 || (cancelCheck && cancelCheck())) return;
      double slice = left < kDrainSliceSeconds ? left : kDrainSliceSeconds;
      timespec sliceStart = monotonicNow();
      cups_sc_command_t command = CUPS_SC_CMD_NONE;
      cups_sc_status_t status = CUPS_SC_STATUS_NONE;
      char data[1024];
      int datalen = static_cast<int>(sizeof data);
      if (cupsSideChannelRead(&command, &status, data, &datalen, slice) == 0 &&
          command == CUPS_SC_CMD_DRAIN_OUTPUT)
        return;
      // A side channel at end of file fails at once: wait out the slice rather than spin.
      double rest = slice - secondsSince(sliceStart);
      if (rest > 0) sleepFor(rest);
    }
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

void setChannelCancelCheck(bool (*canceled)()) {
  cancelCheck = canceled;
}

void prepareBackChannel() {
  // A descriptor 3 or 4 left closed would go to the next file the filter opens (the raster
  // file): the monitor would then read raster bytes as status reports and the drains would
  // consume them. /dev/null, read-only, holds the places: reads at end of file behave like a
  // silent printer, and a drain's request fails at once as with no side channel.
  for (int fd : {kBackChannelFd, kSideChannelFd}) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    int placeholder = open("/dev/null", O_RDONLY);
    if (placeholder >= 0 && placeholder != fd) {
      dup2(placeholder, fd);
      close(placeholder);
    }
  }
  int flags = fcntl(kBackChannelFd, F_GETFL);
  if (flags >= 0 && !(flags & O_NONBLOCK)) fcntl(kBackChannelFd, F_SETFL, flags | O_NONBLOCK);
}
