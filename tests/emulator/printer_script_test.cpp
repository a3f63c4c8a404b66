// The scripted printer's answers: the idle delay, identification reports, silence and the idle
// report that keeps model 302 moving. (The paper and cover counters are pinned by the harness's
// test; the sheet gap that model 831 waits out and the page reports reach the filter in the
// reference, end-to-end and monitor jobs.)
#include <gtest/gtest.h>

#include <string>

#include "printer_script.h"
#include "support/reports.h"

TEST(PrinterScript, IdleDelayIdentificationAndSilence) {
  emu::PrinterSettings s;
  s.idleAfter = 2.5;
  s.hardVer = std::array<unsigned char, 3>{1, 0, 4};
  s.serial = "SN123";
  emu::PrinterScript printer(s, 64519);
  EXPECT_EQ(printer.answer(0x43, 2.4), "");  // silence is no answer: identification waits
  const std::string first = printer.answer(0x12, 0);
  const std::string identification{"\x1A\x07\x01\x00\x04\x1A\x08SN123", 12};
  EXPECT_EQ(first, identification + std::string(10, '\0') + report::coverClosed);
  EXPECT_EQ(emu::describeReports(first), "hardware version 1.0.4, serial \"SN123\", cover closed");
  EXPECT_EQ(printer.answer(0x43, 2.5), report::idle);
  EXPECT_EQ(printer.answer(0x99, 3.0), "");  // not a query this printer knows

  s.silent = true;  // not even the reports it would volunteer
  s.idleAfter = 0;
  s.cancelAtPage = 1;
  emu::PrinterScript silent(s, 302);
  for (unsigned char q : {0x11, 0x12, 0x43}) EXPECT_EQ(silent.answer(q, 100), "");
  EXPECT_EQ(silent.bitmapStarted(1, 0) + silent.bitmapDone(1, 0), "");
  EXPECT_LT(silent.nextDue(), 0);
}

// Model 302 volunteers the idle report 500 ms after each page, but not before the printer is
// idle; other models never do, nor does model 302 with an --idle-report-ms of -1.
TEST(PrinterScript, Model302GetsAVolunteeredIdleReportAfterEachPage) {
  emu::PrinterSettings s;
  s.idleAfter = 4;
  emu::PrinterScript printer(s, 302);
  EXPECT_LT(printer.nextDue(), 0);
  printer.bitmapDone(1, 1.0);
  EXPECT_DOUBLE_EQ(printer.nextDue(), 4.0);
  EXPECT_EQ(printer.due(3.9), "");
  EXPECT_EQ(printer.due(4.0), report::idle);
  EXPECT_EQ(printer.due(5.0), "");
  printer.bitmapDone(2, 10.0);
  EXPECT_DOUBLE_EQ(printer.nextDue(), 10.5);
  emu::PrinterScript other(emu::PrinterSettings{}, 22);
  other.bitmapDone(1, 0);
  EXPECT_LT(other.nextDue(), 0);
  s.idleReportMs = -1;
  emu::PrinterScript never(s, 302);
  never.bitmapDone(1, 0);
  EXPECT_LT(never.nextDue(), 0);
}
