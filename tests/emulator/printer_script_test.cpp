// The scripted printer's answers: the idle delay, identification reports, page-triggered
// reports and the defaults that keep models 302 and 831 moving. (The paper and cover counters
// are pinned by the harness's query test.)
#include <gtest/gtest.h>

#include <string>

#include "printer_script.h"
#include "support/reports.h"

TEST(PrinterScript, IdleIsAnsweredOnlyAfterTheDelay) {
  emu::PrinterSettings s;
  s.idleAfter = 2.5;
  emu::PrinterScript printer(s, 831);
  EXPECT_EQ(printer.answer(0x43, 2.4), "");
  EXPECT_EQ(printer.answer(0x43, 2.5), report::idle);
  EXPECT_EQ(printer.answer(0x99, 3.0), "");  // not a query this printer knows
}

TEST(PrinterScript, IdentificationGoesWithTheFirstAnswerOnly) {
  emu::PrinterSettings s;
  s.hardVer = std::array<unsigned char, 3>{1, 0, 4};
  s.serial = "SN123";
  s.idleAfter = 10;
  emu::PrinterScript printer(s, 64519);
  EXPECT_EQ(printer.answer(0x43, 0), "");  // silence is no answer: identification waits
  std::string first = printer.answer(0x12, 0);
  std::string expected = std::string{"\x1A\x07\x01\x00\x04", 5} + std::string{"\x1A\x08", 2} +
                         "SN123" + std::string(10, '\0') + report::coverClosed;
  EXPECT_EQ(first, expected);
  EXPECT_EQ(emu::describeReports(first), "hardware version 1.0.4, serial \"SN123\", cover closed");
  EXPECT_EQ(printer.answer(0x12, 0), report::coverClosed);
}

TEST(PrinterScript, SilentPrinterSaysNothing) {
  emu::PrinterSettings s;
  s.silent = true;
  s.cancelAtPage = 1;
  s.hardVer = std::array<unsigned char, 3>{1, 2, 3};
  emu::PrinterScript printer(s, 302);
  for (unsigned char q : {0x11, 0x12, 0x43}) EXPECT_EQ(printer.answer(q, 100), "");
  EXPECT_EQ(printer.bitmapStarted(1, 0), "");
  EXPECT_EQ(printer.bitmapDone(1, 0), "");
  EXPECT_LT(printer.nextDue(), 0);
}

TEST(PrinterScript, PageReportsArriveWithTheirPage) {
  emu::PrinterSettings s;
  s.cancelAtPage = 2;
  s.overheatAtPage = 1;
  emu::PrinterScript printer(s, 22);
  EXPECT_EQ(printer.bitmapStarted(1, 0), report::overheat);
  EXPECT_EQ(printer.bitmapDone(1, 0), report::tempNormal);
  EXPECT_EQ(printer.bitmapStarted(2, 0), report::cancel);
  EXPECT_EQ(printer.bitmapDone(2, 0), "");
  EXPECT_EQ(printer.bitmapStarted(3, 0), "");
}

TEST(PrinterScript, SheetGapDefaultsLetModel831SeeTheSheetLeave) {
  for (int model : {831, 21}) {
    emu::PrinterScript printer(emu::PrinterSettings{}, model);
    EXPECT_EQ(printer.answer(0x11, 0), report::paperIn);
    printer.bitmapDone(1, 1);
    if (model == 831) {
      EXPECT_EQ(printer.answer(0x11, 2), report::paperOut);
    }
    EXPECT_EQ(printer.answer(0x11, 2), report::paperIn) << model;
  }
  emu::PrinterSettings s;
  s.sheetGap = 2;
  s.paperMissing = 1;
  emu::PrinterScript printer(s, 22);
  printer.bitmapDone(1, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(printer.answer(0x11, 0), report::paperOut) << i;
  EXPECT_EQ(printer.answer(0x11, 0), report::paperIn);
}

TEST(PrinterScript, Model302GetsAVolunteeredIdleReportAfterEachPage) {
  emu::PrinterSettings s;
  s.idleAfter = 4;
  emu::PrinterScript printer(s, 302);
  EXPECT_LT(printer.nextDue(), 0);
  printer.bitmapDone(1, 1.0);
  EXPECT_DOUBLE_EQ(printer.nextDue(), 4.0);  // 1.5 s would be sooner, but not yet idle
  EXPECT_EQ(printer.due(3.9), "");
  EXPECT_EQ(printer.due(4.0), report::idle);
  EXPECT_EQ(printer.due(5.0), "");
  printer.bitmapDone(2, 10.0);
  EXPECT_DOUBLE_EQ(printer.nextDue(), 10.5);

  emu::PrinterScript other(emu::PrinterSettings{}, 22);
  other.bitmapDone(1, 0);
  EXPECT_LT(other.nextDue(), 0);
  s.idleReportMs = -1;  // never, on model 302 too
  emu::PrinterScript never(s, 302);
  never.bitmapDone(1, 0);
  EXPECT_LT(never.nextDue(), 0);
}
