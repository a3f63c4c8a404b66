// The filter's printer stream writes every byte to its descriptor: a single byte, and a write
// larger than the pipe takes at once, which the kernel splits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "base/printer_stream.h"

TEST(FdSink, WritesEveryByteOfShortAndSplitWrites) {
  for (size_t size : {size_t{1}, size_t{3}, size_t{300000}}) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string got;
    std::thread reader([&] {
      char buf[4096];
      for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, n);
    });
    const std::string sent(size, 'x');
    EXPECT_TRUE(FdSink(fds[1]).write(sent.data(), sent.size()));
    close(fds[1]);
    reader.join();
    close(fds[0]);
    EXPECT_EQ(got.size(), size);
  }
}
