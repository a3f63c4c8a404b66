// Scripted printer on a virtual clock.
#include "support/scripted_channel.h"

#include <algorithm>
#include <cstring>

ScriptedChannel::ScriptedChannel(CapturedIO &io) : io_(io) {
  setChannel(this);
}
ScriptedChannel::~ScriptedChannel() {
  setChannel(nullptr);
}

void ScriptedChannel::script(unsigned char code, std::vector<std::string> replies) {
  std::lock_guard<std::mutex> g(lock_);
  replies_[code] = std::move(replies);
  used_[code] = 0;
}

void ScriptedChannel::at(double t, std::string bytes) {
  std::lock_guard<std::mutex> g(lock_);
  timed_.emplace_back(t, std::move(bytes));
}

void ScriptedChannel::releaseTimedLocked() {
  for (auto it = timed_.begin(); it != timed_.end();) {
    if (it->first <= now_) {
      readable_ += it->second;
      it = timed_.erase(it);
    } else {
      ++it;
    }
  }
}

ssize_t ScriptedChannel::backRead(unsigned char *buf, size_t n, double timeout) {
  std::lock_guard<std::mutex> g(lock_);
  releaseTimedLocked();
  if (readable_.empty()) {
    now_ += timeout;
    releaseTimedLocked();
    if (readable_.empty()) return 0;
  }
  size_t k = std::min(n, readable_.size());
  std::memcpy(buf, readable_.data(), k);
  readable_.erase(0, k);
  return static_cast<ssize_t>(k);
}

void ScriptedChannel::drain(double) {
  // The caller flushed before draining; read what the printer received since the last drain.
  const std::string &bytes = io_.printer();
  std::lock_guard<std::mutex> g(lock_);
  drains_++;
  size_t end = bytes.size();
  if (end >= scanned_ + 3 && static_cast<unsigned char>(bytes[end - 3]) == 0x1F &&
      static_cast<unsigned char>(bytes[end - 2]) == 0x11) {
    unsigned char code = static_cast<unsigned char>(bytes[end - 1]);
    if (code == 0x11 || code == 0x12 || code == 0x43) {
      queries_.push_back(code);
      std::string reply;
      bool answered = answerer && answerer(code, now_, reply);
      if (!answered) {
        auto it = replies_.find(code);
        if (it != replies_.end() && !it->second.empty()) {
          size_t &i = used_[code];
          reply = it->second[std::min(i, it->second.size() - 1)];
          i++;
        }
      }
      readable_ += reply;
    }
  }
  scanned_ = end;
}

void ScriptedChannel::sleepMs(unsigned ms) {
  std::lock_guard<std::mutex> g(lock_);
  now_ += ms / 1000.0;
}

double ScriptedChannel::now() const {
  std::lock_guard<std::mutex> g(lock_);
  return now_;
}

int ScriptedChannel::drains() const {
  std::lock_guard<std::mutex> g(lock_);
  return drains_;
}

std::vector<unsigned char> ScriptedChannel::queries() const {
  std::lock_guard<std::mutex> g(lock_);
  return queries_;
}

int ScriptedChannel::count(unsigned char code) const {
  std::lock_guard<std::mutex> g(lock_);
  return static_cast<int>(std::count(queries_.begin(), queries_.end(), code));
}
