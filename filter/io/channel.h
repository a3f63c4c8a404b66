// The thin layer over the CUPS back channel (status reports from the printer), the side channel
// (drain requests) and the waits between polls. The real layer calls libcups; tests install a
// scripted one that plays a printer and may run on a virtual clock.
#pragma once

#include <sys/types.h>
#include <cstddef>

class Channel {
 public:
  virtual ~Channel() = default;
  // Reads at most n bytes of status reports, waiting up to timeout seconds. Returns the number
  // of bytes read, 0 or -1 when nothing arrived. A read that fails at once still takes the
  // whole time-out, so no caller's poll loop can spin.
  virtual ssize_t backRead(unsigned char *buf, size_t n, double timeout) = 0;
  // Asks the backend to send everything written so far to the device, waiting up to timeout.
  virtual void drain(double timeout) = 0;
  // Waits at least ms milliseconds.
  virtual void sleepMs(unsigned ms) = 0;
};

// The channel in use (the real one unless a test installed another).
Channel &channel();
// Installs a channel (nullptr restores the real one).
void setChannel(Channel *c);

// The real layer's drains end early once canceled() returns true (the job was cancelled).
void setChannelCancelCheck(bool (*canceled)());

// Called at start, before any file is opened: holds descriptors 3 and 4 with /dev/null when
// they are closed (so that no file the filter opens takes their place), and makes descriptor 3
// non-blocking, so that a hand-made set-up with a blocking back channel cannot hang the timed
// reads.
void prepareBackChannel();

// The real layer, for tools that want to wrap it.
Channel &cupsChannel();
