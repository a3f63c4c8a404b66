// The ready waits of the thermal page set-up against scripted printers: which queries they
// send, how long they wait (virtual clock), and what a cancel during a wait leaves on the wire.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "thermal/page_setup.h"
#include "thermal_fixture.h"

namespace {

using Queries = std::vector<unsigned char>;
constexpr unsigned char P = 0x11, C = 0x12, I = 0x43;  // paper, cover, idle queries

class WaitTest : public ThermalTest {
 protected:
  void SetUp() override {
    ThermalTest::SetUp();
    printer.script(P, {report::paperIn});
    printer.script(C, {report::coverClosed});
    printer.script(I, {report::idle});
  }
  // One page set-up; returns the commands it sent (queries left out).
  std::string startPage(int model, const char *modelName = "RX5K",
                        const std::vector<MarkedOption> &options = {{"Darkness", "1"}}) {
    ModelNumber = model;
    MarkedPpd ppd(model, modelName, options);
    cups_page_header2_t header = pageHeader();
    thermalStartPage(ppd.get(), &header);
    return withoutQueries(io.printer());
  }
};

// Cancels the job when the printer receives its n-th query (and answers it as scripted).
void cancelAtQuery(ScriptedChannel &printer, int n) {
  printer.answerer = [n, count = 0](unsigned char, double, std::string &) mutable {
    if (++count == n) Canceled = 1;
    return false;
  };
}

const std::string kDensity1 = bytes({0x1F, 0x11, 0x02, 0x02});

TEST_F(WaitTest, PaperModelsWaitForPaperOnTwoChecks) {
  for (int model : {21, 613207, 590314}) {
    SCOPED_TRACE(model);
    CapturedIO pageIO;
    ThermalPrinter pagePrinter(pageIO);
    pagePrinter.script(P, {report::paperOut, report::paperOut, report::paperIn});
    ModelNumber = model;
    MarkedPpd ppd(model, "RX5K", {{"Darkness", "1"}});
    cups_page_header2_t header = pageHeader();
    thermalStartPage(ppd.get(), &header);
    // Two misses a second apart, found, 1.1 s, confirmed, 1.5 s.
    EXPECT_EQ(pagePrinter.queries(), (Queries{P, P, P, P}));
    EXPECT_NEAR(pagePrinter.now(), 4.6, 1e-9);
    EXPECT_EQ(withoutQueries(pageIO.printer()), kDensity1);
    EXPECT_NE(pageIO.log().find("mytest\xEF\xBC\x9A"
                                "entry RX5K start page\n"),
              std::string::npos);
  }
}

TEST_F(WaitTest, Model831FirstPageNeedsIdlePaperAndClosedCover) {
  EXPECT_EQ(startPage(831), kDensity1);
  EXPECT_EQ(printer.queries(), (Queries{I, P, C}));
  EXPECT_NEAR(printer.now(), 2.0, 1e-9);
}

TEST_F(WaitTest, Model831LaterPageWaitsUntilTheLastSheetHasLeft) {
  Page = 2;
  // Idle first, then paper still seen twice, then out of paper: the sheet has left.
  printer.script(P, {report::paperIn, report::paperIn, report::paperOut, report::paperIn});
  EXPECT_EQ(startPage(831), kDensity1);
  EXPECT_EQ(printer.queries(), (Queries{I, P, P, P, P, C}));
  EXPECT_NEAR(printer.now(), 0.5 + 0.5 + 1 + 2, 1e-9);
}

TEST_F(WaitTest, Model831SkipsTheSheetWaitAfterTheCoverWasOpened) {
  Page = 2;
  mymon.Exception = 1;
  printer.script(P, {report::paperOut, report::paperIn});
  EXPECT_EQ(startPage(831), kDensity1);
  // Straight to the paper and cover check: one miss, a second, then ready.
  EXPECT_EQ(printer.queries(), (Queries{I, P, P, C}));
  EXPECT_NEAR(printer.now(), 1 + 2, 1e-9);
}

TEST_F(WaitTest, Model831ChecksThePaperAgainOnceAnOpenCoverCloses) {
  printer.script(C,
                 {report::coverOpen, report::coverOpen, report::coverClosed, report::coverClosed});
  EXPECT_EQ(startPage(831), kDensity1);
  EXPECT_EQ(printer.queries(), (Queries{I, P, C, C, C, P, C}));
  EXPECT_NEAR(printer.now(), 1 + 1 + 1 + 2, 1e-9);
}

TEST_F(WaitTest, Model64519ReadyAtOnceTakesTwoPollsOneSecondApart) {
  EXPECT_EQ(startPage(64519), kDensity1);
  EXPECT_EQ(printer.queries(), (Queries{I, C, P, C, P}));
  EXPECT_NEAR(printer.now(), 1.0, 1e-9);
}

TEST_F(WaitTest, Model64519NotReadyAtOnceWaitsThreeSecondsMore) {
  printer.script(P, {report::paperOut, report::paperIn});
  EXPECT_EQ(startPage(64519), kDensity1);
  EXPECT_EQ(printer.queries(), (Queries{I, C, P, C, P, C, P}));
  EXPECT_NEAR(printer.now(), 2 + 3, 1e-9);
}

TEST_F(WaitTest, Model64519AsksTheCoverAgainAtOnceWhileItIsOpen) {
  printer.script(C, {report::coverOpen, report::coverClosed});
  EXPECT_EQ(startPage(64519), kDensity1);
  EXPECT_EQ(printer.queries(), (Queries{I, C, C, P, C, P}));
  EXPECT_NEAR(printer.now(), 1.0, 1e-9);
}

TEST_F(WaitTest, Model64519WithOldFirmwareIsNotAskedForIdle) {
  mymon.hardVer[0] = 1;
  mymon.hardVer[1] = 0;
  mymon.hardVer[2] = 4;
  EXPECT_EQ(startPage(64519), kDensity1);
  EXPECT_EQ(printer.queries(), (Queries{C, C, P, C, P}));
}

TEST_F(WaitTest, Model302JT64WaitsForPaperAndCoverThenConfirmsThePaper) {
  printer.script(P, {report::paperIn, report::paperOut, report::paperIn});
  EXPECT_EQ(startPage(302, "JT64"), kDensity1);
  EXPECT_EQ(printer.queries(), (Queries{P, C, P, P, C, P}));
  EXPECT_NEAR(printer.now(), 1.1 + 1 + 1.1 + 1.8, 1e-9);
}

TEST_F(WaitTest, ModelsWithoutAWaitSendNoQuery) {
  for (int model : {22, 23, 302, 400}) {
    startPage(model, "JT6");  // not "JT64": model 302 does not wait
    EXPECT_TRUE(printer.queries().empty()) << model;
  }
  EXPECT_EQ(printer.now(), 0.0);
}

struct CancelCase {
  const char *what;
  int model;
  const char *modelName;
  int page;
  std::vector<std::string> paper, cover, idle;
  int cancelAt;  // 0: cancelled before the set-up
};

TEST_F(WaitTest, ACancelDuringAWaitLeavesNoCommandAndKeepsThePageGlobals) {
  const std::vector<CancelCase> cases = {
      {"E on entry", 21, "RX5K", 1, {report::paperIn}, {report::coverClosed}, {report::idle}, 0},
      {"E paper", 21, "RX5K", 1, {report::paperOut}, {report::coverClosed}, {report::idle}, 2},
      {"E confirm", 613207, "RX5K", 1, {report::paperIn}, {report::coverClosed}, {report::idle}, 2},
      {"K on entry", 831, "RX5K", 2, {report::paperIn}, {report::coverClosed}, {report::idle}, 0},
      {"K idle", 831, "RX5K", 1, {report::paperIn}, {report::coverClosed}, {""}, 3},
      {"K sheet", 831, "RX5K", 2, {report::paperIn}, {report::coverClosed}, {report::idle}, 3},
      {"K cover", 831, "RX5K", 1, {report::paperIn}, {report::coverOpen}, {report::idle}, 4},
      {"J paper", 302, "JT64", 1, {report::paperOut}, {report::coverClosed}, {report::idle}, 2},
      {"J cover", 302, "JT64", 1, {report::paperIn}, {report::coverOpen}, {report::idle}, 4},
  };
  for (const CancelCase &c : cases) {
    SCOPED_TRACE(c.what);
    CapturedIO pageIO;
    ThermalPrinter pagePrinter(pageIO);
    pagePrinter.script(P, c.paper);
    pagePrinter.script(C, c.cover);
    pagePrinter.script(I, c.idle);
    cancelAtQuery(pagePrinter, c.cancelAt);
    Canceled = c.cancelAt == 0;
    Page = c.page;
    ModelNumber = c.model;
    hOffset = vOffset = Rotate = gray = 9;
    MarkedPpd ppd(c.model, c.modelName,
                  {{"Darkness", "1"}, {"AdjustHoriaontal", "2"}, {"Rotate", "90"}});
    cups_page_header2_t header = pageHeader();
    thermalStartPage(ppd.get(), &header);
    EXPECT_EQ(Canceled.load(), 1);
    EXPECT_EQ(withoutQueries(pageIO.printer()), "");
    EXPECT_EQ(pagePrinter.queries().size(), static_cast<size_t>(c.cancelAt));
    EXPECT_EQ(hOffset, 9);
    EXPECT_EQ(vOffset, 9);
    EXPECT_EQ(Rotate, 9);
    EXPECT_EQ(gray, 9);
    EXPECT_EQ(pageIO.log().find("density"), std::string::npos);
    if (c.cancelAt == 0) {
      EXPECT_EQ(pageIO.log().find("mytest"), std::string::npos);
    }
    Canceled = 0;
  }
}

TEST_F(WaitTest, Model64519StillSendsItsOptionsWhenCancelledDuringTheWait) {
  printer.script(C, {report::coverOpen});
  cancelAtQuery(printer, 4);
  hOffset = Rotate = gray = 9;
  EXPECT_EQ(
      startPage(64519, "RX5K", {{"Darkness", "1"}, {"AdjustHoriaontal", "2"}, {"Rotate", "90"}}),
      kDensity1);
  EXPECT_EQ(printer.queries(), (Queries{I, C, C, C}));
  EXPECT_EQ(hOffset, 15);
  EXPECT_EQ(Rotate, 90);
  EXPECT_EQ(gray, 0);
}

}  // namespace
