// A scripted printer behind the channel layer, on a virtual clock: waits and reads advance
// the clock instead of sleeping, and each status query gets the next scripted answer.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "io/channel.h"
#include "support/capture.h"

class ScriptedChannel : public Channel {
 public:
  // The printer stream is read at every drain: a drain right after a 3-byte query (1F 11 xx)
  // answers it. Installs itself as the channel; the destructor restores the real one.
  explicit ScriptedChannel(CapturedIO &io);
  ~ScriptedChannel() override;

  // Answers for query code (0x11 paper, 0x12 cover, 0x43 idle), used in order; the last one
  // repeats. An empty answer is silence.
  void script(unsigned char code, std::vector<std::string> replies);
  // Optional answerer, consulted before the scripted lists; return true when it answered.
  std::function<bool(unsigned char code, double now, std::string &reply)> answerer;
  // Bytes that become readable at virtual time t (unsolicited reports).
  void at(double t, std::string bytes);

  ssize_t backRead(unsigned char *buf, size_t n, double timeout) override;
  void drain(double timeout) override;
  void sleepMs(unsigned ms) override;

  double now() const;
  int drains() const;
  // Query codes in the order they were sent.
  std::vector<unsigned char> queries() const;
  // Count of one query code.
  int count(unsigned char code) const;

 private:
  mutable std::mutex lock_;
  CapturedIO &io_;
  size_t scanned_ = 0;
  double now_ = 0;
  int drains_ = 0;
  std::string readable_;
  std::vector<std::pair<double, std::string>> timed_;
  std::map<unsigned char, std::vector<std::string>> replies_;
  std::map<unsigned char, size_t> used_;
  std::vector<unsigned char> queries_;
  void releaseTimedLocked();
};

// Report bytes, for readable scripts.
namespace report {
inline const std::string paperOut{"\x1A\x06\x88", 3};
inline const std::string paperIn{"\x1A\x06\x89", 3};
inline const std::string coverOpen{"\x1A\x05\x99", 3};
inline const std::string coverClosed{"\x1A\x05\x98", 3};
inline const std::string idle{"\x1A\x0F\x0C", 3};
inline const std::string overheat{"\x1A\x03\xA9", 3};
inline const std::string tempNormal{"\x1A\x03\xA8", 3};
inline const std::string cancel{"\x1A\x0B\xB8", 3};
}  // namespace report
