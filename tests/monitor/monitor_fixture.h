// Shared fixture of the monitor tests: a clean status record and job globals around each test,
// captured printer stream and messages.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "driver/job.h"
#include "monitor/queries.h"
#include "monitor/status.h"
#include "support/capture.h"

// Resets everything the monitor reads or writes, including the fields mymonInit keeps.
inline void resetMonitorGlobals() {
  mymonInit();
  mymon.nonePaper = 0;
  mymon.Exception = 0;
  mymon.language = 0;
  mymon.hardVer[1] = 0;
  mymon.hardVer[2] = 0;
  for (auto &c : mymon.sn) c = 0;
  Canceled = 0;
  ModelNumber = 0;
  Page = 1;
  TotalPage = 1;
}

class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override { resetMonitorGlobals(); }
  void TearDown() override { resetMonitorGlobals(); }
  CapturedIO io;
};

inline std::string bytes(std::initializer_list<unsigned char> b) {
  return std::string(b.begin(), b.end());
}
