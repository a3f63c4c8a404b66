// The back channel (status reports from the printer) and the side channel (drain requests): the
// one thin layer between a job and its printer's answers. The filter uses descriptors 3 and 4
// as CUPS hands them over; tests play a printer behind it; the printer application a device.
#pragma once

#include <poll.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <functional>

class Channel {
 public:
  virtual ~Channel() = default;
  // Reads at most n bytes of status reports, waiting up to timeout seconds; an interruptible
  // read (the monitor thread's) ends early when interruptRead() is called meanwhile or was
  // called since the last interruptible read. Returns the bytes read, 0 or -1 when nothing
  // arrived. A read that fails at once (no back channel) still waits, so that no caller's poll
  // loop can spin.
  virtual ssize_t backRead(unsigned char *buf, size_t n, double timeout,
                           bool interruptible = false) = 0;
  // Asks the backend to pass everything written so far to the device, waiting up to timeout
  // seconds, or until canceled() holds.
  virtual void drain(double timeout, const std::function<bool()> &canceled) = 0;
  // Cuts an interruptible backRead short: the monitor thread hands the channel over, or stops.
  virtual void interruptRead() = 0;
};

// The system calls under a back-channel read. Tests replace them to play a descriptor that
// poll() calls readable and read() then finds empty, which no real descriptor does on demand.
struct DescriptorCalls {
  std::function<bool(int fd)> isOpen;  // empty: whether fcntl knows the descriptor
  std::function<int(pollfd *fds, nfds_t count, int timeoutMs)> poll = ::poll;
  std::function<ssize_t(int fd, void *buf, size_t n)> read = ::read;
};

// The CUPS channels on descriptors 3 and 4. Reads wait on the monotonic clock.
class CupsChannel : public Channel {
 public:
  explicit CupsChannel(DescriptorCalls calls = {});
  ~CupsChannel() override;
  CupsChannel(const CupsChannel &) = delete;
  CupsChannel &operator=(const CupsChannel &) = delete;

  ssize_t backRead(unsigned char *buf, size_t n, double timeout,
                   bool interruptible = false) override;
  void drain(double timeout, const std::function<bool()> &canceled) override;
  void interruptRead() override;

  // Called at start, before any file is opened: holds descriptors 3 and 4 with /dev/null when
  // they are closed (so that no file the filter opens takes their place), and makes descriptor
  // 3 non-blocking, so that a hand-made set-up with a blocking back channel cannot hang reads.
  static void prepareDescriptors();

 private:
  DescriptorCalls calls_;
  int wake_ = -1;  // an event descriptor that interruptRead() makes readable
};
