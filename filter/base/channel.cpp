// Back and side channel through the CUPS descriptors; waits on the monotonic clock.
#include "base/channel.h"

#include <cups/sidechannel.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <initializer_list>
#include <utility>

#include "base/clock.h"

namespace {

constexpr int kBackChannelFd = 3;
constexpr int kSideChannelFd = 4;
// Longest stretch a drain waits before it looks at the cancel check again.
constexpr double kDrainSliceSeconds = 0.1;

bool descriptorOpen(int fd) {
  return fcntl(fd, F_GETFD) != -1;
}

int millisecondsLeft(double deadline) {
  double left = deadline - monotonicSeconds();
  return left <= 0 ? 0 : static_cast<int>(left * 1000.0) + 1;
}

}  // namespace

CupsChannel::CupsChannel(DescriptorCalls calls)
    : calls_(std::move(calls)), wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (!calls_.isOpen) calls_.isOpen = descriptorOpen;
}

CupsChannel::~CupsChannel() {
  if (wake_ >= 0) close(wake_);
}

void CupsChannel::interruptRead() {
  uint64_t one = 1;
  if (wake_ >= 0 && write(wake_, &one, sizeof one) < 0) return;
}

ssize_t CupsChannel::backRead(unsigned char *buf, size_t n, double timeout, bool interruptible) {
  const double deadline = monotonicSeconds() + timeout;
  // Without a back channel, or once it is at its end, the read behaves like a silent printer.
  bool open = calls_.isOpen(kBackChannelFd);
  for (;;) {
    pollfd fds[2] = {{interruptible ? wake_ : -1, POLLIN, 0},
                     {open ? kBackChannelFd : -1, POLLIN, 0}};
    int ready = calls_.poll(fds, 2, millisecondsLeft(deadline));
    if (ready < 0 && errno != EINTR) return -1;
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t got = calls_.read(kBackChannelFd, buf, n);
      if (got > 0) return got;
      if (got == 0 || (errno != EAGAIN && errno != EINTR)) open = false;
    }
    if (fds[0].revents & POLLIN) {
      uint64_t count;
      if (calls_.read(wake_, &count, sizeof count) < 0) return -1;
      return 0;
    }
    if (millisecondsLeft(deadline) == 0) return 0;
  }
}

void CupsChannel::drain(double timeout, const std::function<bool()> &canceled) {
  // The request and its answer are sent and awaited separately (rather than with
  // cupsSideChannelDoRequest, which restarts its wait after every signal), so that the wait is
  // cut into slices and ends as soon as the job is cancelled: a backend that never answers must
  // not hold up a cancelled job. The answer's status is not examined; without a side channel
  // the write fails and the drain returns at once.
  if (cupsSideChannelWrite(CUPS_SC_CMD_DRAIN_OUTPUT, CUPS_SC_STATUS_NONE, nullptr, 0,
                           kDrainSliceSeconds) != 0)
    return;
  const double deadline = monotonicSeconds() + timeout;
  for (;;) {
    double left = deadline - monotonicSeconds();
    if (left <= 0 || canceled()) return;
    double slice = left < kDrainSliceSeconds ? left : kDrainSliceSeconds;
    double sliceEnd = monotonicSeconds() + slice;
    cups_sc_command_t command = CUPS_SC_CMD_NONE;
    cups_sc_status_t status = CUPS_SC_STATUS_NONE;
    char data[1024];
    int datalen = static_cast<int>(sizeof data);
    if (cupsSideChannelRead(&command, &status, data, &datalen, slice) == 0 &&
        command == CUPS_SC_CMD_DRAIN_OUTPUT)
      return;
    // A side channel at end of file fails at once: wait out the slice rather than spin.
    sleepUntil(sliceEnd);
  }
}

void CupsChannel::prepareDescriptors() {
  // A descriptor 3 or 4 left closed would go to the next file the filter opens (the raster
  // file): the monitor would then read raster bytes as status reports and the drains would
  // consume them. /dev/null, read-only, holds the places: reads at end of file behave like a
  // silent printer, and a drain's request fails at once as with no side channel.
  for (int fd : {kBackChannelFd, kSideChannelFd}) {
    if (descriptorOpen(fd)) continue;
    int placeholder = open("/dev/null", O_RDONLY);
    if (placeholder >= 0 && placeholder != fd) {
      dup2(placeholder, fd);
      close(placeholder);
    }
  }
  int flags = fcntl(kBackChannelFd, F_GETFL);
  if (flags >= 0 && !(flags & O_NONBLOCK)) fcntl(kBackChannelFd, F_SETFL, flags | O_NONBLOCK);
}
