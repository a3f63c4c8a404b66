// The back channel's read after poll() called it readable: a read that finds nothing yet
// (EAGAIN, EINTR) is retried, an end of file (whatever errno holds from before) or a failing read
// ends the channel for the read.
#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "base/channel.h"

TEST(CupsChannel, RetriesAnEmptyReadDropsAClosedChannelEndsAtTheTimeOut) {
  struct Row {
    ssize_t got;
    int error;
    ssize_t result;
    std::vector<int> polled;  // descriptor 3's place in each poll; -1: left out
  };
  for (const Row &row : {Row{1, 0, 1, {3}}, Row{-1, EAGAIN, -1, {3, 3}}, Row{-1, EINTR, -1, {3, 3}},
                         Row{0, EAGAIN, -1, {3, -1}}, Row{-1, EIO, -1, {3, -1}}}) {
    std::vector<int> polled;
    DescriptorCalls calls;
    calls.isOpen = [](int) { return true; };
    calls.poll = [&](pollfd *fds, nfds_t, int) {
      polled.push_back(fds[1].fd);
      if (polled.size() > 1) return errno = EBADF, -1;  // ends the read here, without a wait
      fds[1].revents = POLLIN;
      return 1;
    };
    calls.read = [&](int, void *, size_t) { return errno = row.error, row.got; };
    unsigned char buf[8];
    EXPECT_EQ(CupsChannel(calls).backRead(buf, sizeof buf, 60), row.result) << row.error;
    EXPECT_EQ(polled, row.polled) << row.got << " " << row.error;
  }
  // Without a back channel, a read is silence until its time-out (here none).
  DescriptorCalls closed;
  closed.isOpen = [](int) { return false; };
  unsigned char buf[8];
  EXPECT_EQ(CupsChannel(closed).backRead(buf, sizeof buf, 0), 0);
}
