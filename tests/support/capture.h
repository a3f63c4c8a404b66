// Test helpers: capture the printer stream and the scheduler messages of code under test.
#pragma once

#include <string>

#include "io/printer_stream.h"

// While alive, printer bytes go to `printer` and messages to `log`.
class CapturedIO {
 public:
  CapturedIO();
  ~CapturedIO();
  // Everything written so far (the stream is flushed first).
  std::string &printer() {
    prnFlush();
    return sink_.bytes;
  }
  std::string log() const;

 private:
  StringSink sink_;
  struct State;
  State *state_;
};
