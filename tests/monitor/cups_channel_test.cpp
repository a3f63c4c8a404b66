// The real channel layer without a printer behind it (as when the filter is run by hand): a
// read that fails at once still takes its whole time-out, so no query loop can spin, and the back
// channel is made non-blocking. Only lower bounds are checked: the layer must never return early.
// (The filter run without channels, its waits and drains, is covered end to end by the
// reliability tests.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "io/channel.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kTimeout = 0.05;
constexpr auto kTimeoutDuration = std::chrono::milliseconds(50);

// Moves whatever the process has on a descriptor out of the way for one test, and puts it
// back afterwards (the test runner may hold descriptors 3 and 4).
class VacatedDescriptor {
 public:
  explicit VacatedDescriptor(int fd) : fd_(fd), saved_(fcntl(fd, F_DUPFD_CLOEXEC, 10)) {
    if (saved_ >= 0) close(fd_);
  }
  ~VacatedDescriptor() {
    close(fd_);
    if (saved_ >= 0) {
      dup2(saved_, fd_);
      close(saved_);
    }
  }

 private:
  int fd_;
  int saved_;
};

TEST(CupsChannel, ReadWithoutBackChannelTakesItsTimeOut) {
  VacatedDescriptor backChannel(3);
  unsigned char buf[63];

  auto start = Clock::now();  // descriptor 3 closed: the read fails at once
  EXPECT_LE(cupsChannel().backRead(buf, sizeof buf, kTimeout), 0);
  EXPECT_GE(Clock::now() - start, kTimeoutDuration);

  int fd = open("/dev/null", O_RDONLY);  // descriptor 3 at end of file: reads return 0 at once
  ASSERT_GE(fd, 0);
  if (fd != 3) {
    ASSERT_EQ(dup2(fd, 3), 3);
    close(fd);
  }
  prepareBackChannel();
  start = Clock::now();
  EXPECT_LE(cupsChannel().backRead(buf, sizeof buf, kTimeout), 0);
  EXPECT_GE(Clock::now() - start, kTimeoutDuration);
  EXPECT_TRUE(fcntl(3, F_GETFL) & O_NONBLOCK);
}

}  // namespace
