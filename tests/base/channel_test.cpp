// The back channel's read after poll() called it readable: a read that finds nothing yet
// (EAGAIN, EINTR) is retried, an end of file (whatever errno holds from before) or a failing read
// ends the channel for the read. The side channel's drain ends at its answer.
#include <cups/sidechannel.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

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

// A drain ends at the backend's drain answer, and only there: each wait slice asks whether the
// job was cancelled, so the slices count the answers read. The answers wait in the side channel
// (one message each) before the drain asks.
TEST(CupsChannel, DrainEndsAtTheDrainAnswer) {
  const struct {
    std::vector<cups_sc_command_t> answers;
    int slices;
  } rows[] = {{{CUPS_SC_CMD_DRAIN_OUTPUT}, 1},
              {{CUPS_SC_CMD_GET_BIDI, CUPS_SC_CMD_DRAIN_OUTPUT}, 2}};
  for (const auto &row : rows) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_LOCAL, SOCK_SEQPACKET, 0, sv), 0);
    const int saved = dup(CUPS_SC_FD);
    dup2(sv[0], CUPS_SC_FD);
    for (cups_sc_command_t command : row.answers) {
      const unsigned char answer[4] = {static_cast<unsigned char>(command), CUPS_SC_STATUS_OK};
      ASSERT_EQ(write(sv[1], answer, sizeof answer), 4);
    }
    int slices = 0;
    CupsChannel().drain(3600, [&] { return ++slices > row.slices; });
    EXPECT_EQ(slices, row.slices) << row.answers.size();
    saved >= 0 ? dup2(saved, CUPS_SC_FD) : close(CUPS_SC_FD);
    for (int fd : {saved, sv[0], sv[1]})
      if (fd >= 0) close(fd);
  }
}
