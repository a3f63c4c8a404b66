// Capture of the printer stream and of the scheduler messages.
#include "support/capture.h"

#include <mutex>

#include "io/log.h"

struct CapturedIO::State {
  std::mutex lock;
  std::string log;
};

CapturedIO::CapturedIO() : state_(new State) {
  prnSetSink(&sink_);
  State *s = state_;
  logSetCapture([s](std::string_view line) {
    std::lock_guard<std::mutex> guard(s->lock);
    s->log.append(line);
  });
}

CapturedIO::~CapturedIO() {
  prnFlush();
  prnSetSink(nullptr);
  logSetCapture(nullptr);
  delete state_;
}

std::string CapturedIO::log() const {
  std::lock_guard<std::mutex> guard(state_->lock);
  return state_->log;
}
