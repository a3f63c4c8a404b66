// The ready waits of the thermal page set-up against scripted printers: which queries they
// send, how long they wait (virtual clock), and what a cancel during a wait leaves on the wire.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "thermal_fixture.h"

namespace {

using Queries = std::vector<unsigned char>;
constexpr unsigned char P = 0x11, C = 0x12, I = 0x43;  // paper, cover, idle queries

using WaitTest = ThermalTest;

// Cancels the job when the printer receives its n-th query (and answers it as scripted).
void cancelAtQuery(ScriptedChannel &printer, int n) {
  printer.answerer = [n, count = 0](unsigned char, double, std::string &) mutable {
    if (++count == n) Canceled = 1;
    return false;
  };
}

const std::string kDensity1 = bytes({0x1F, 0x11, 0x02, 0x02});

struct WaitCase {
  const char *what;
  int model, page;
  bool coverWasOpened;  // mymon.Exception
  std::vector<std::string> paper, cover;
  Queries queries;
  double seconds;
  const char *modelName = "RX5K";
};

TEST_F(WaitTest, ReadyWaitsAskAndWaitAsEachModelNeeds) {
  const std::string in = report::paperIn, out = report::paperOut;
  const std::string closed = report::coverClosed, open = report::coverOpen;
  const std::vector<WaitCase> cases = {
      // Later page: idle first, then paper still seen twice, then out of paper: the sheet has
      // left.
      {"831 page 2", 831, 2, false, {in, in, out, in}, {closed}, {I, P, P, P, P, C}, 4.0},
      // The cover was opened: straight to the paper and cover check; one miss, a second, ready.
      {"831 after cover", 831, 2, true, {out, in}, {closed}, {I, P, P, C}, 1 + 2},
      // The paper is checked again once an open cover closes.
      {"831 cover", 831, 1, false, {in}, {open, open, closed, closed}, {I, P, C, C, C, P, C}, 5},
      // Not ready at once: three seconds more than the two polls a second apart.
      {"64519 no paper", 64519, 1, false, {out, in}, {closed}, {I, C, P, C, P, C, P}, 2 + 3},
      // The cover is asked again at once while it is open.
      {"64519 cover", 64519, 1, false, {in}, {open, closed}, {I, C, C, P, C, P}, 1.0},
      // Paper and cover, then the paper confirmed.
      {"302 JT64", 302, 1, false, {in, out, in}, {closed}, {P, C, P, P, C, P}, 5.0, "JT64"},
  };
  for (const WaitCase &c : cases) {
    SCOPED_TRACE(c.what);
    printer.script(P, c.paper);
    printer.script(C, c.cover);
    mymonInit();
    mymon.nonePaper = 0;
    mymon.Exception = c.coverWasOpened;
    Page = c.page;
    const size_t asked = printer.queries().size();
    const double start = printer.now();
    EXPECT_EQ(startPage(c.model, {{"Darkness", "1"}}, "A4", c.modelName), kDensity1);
    const Queries sent = printer.queries();
    EXPECT_EQ(Queries(sent.begin() + static_cast<long>(asked), sent.end()), c.queries);
    EXPECT_NEAR(printer.now() - start, c.seconds, 1e-9);
  }
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
      {"K idle", 831, "RX5K", 1, {report::paperIn}, {report::coverClosed}, {""}, 3},
      {"K sheet", 831, "RX5K", 2, {report::paperIn}, {report::coverClosed}, {report::idle}, 3},
      {"K cover", 831, "RX5K", 1, {report::paperIn}, {report::coverOpen}, {report::idle}, 4},
      {"J paper", 302, "JT64", 1, {report::paperOut}, {report::coverClosed}, {report::idle}, 2},
      {"J cover", 302, "JT64", 1, {report::paperIn}, {report::coverOpen}, {report::idle}, 4},
  };
  for (const CancelCase &c : cases) {
    SCOPED_TRACE(c.what);
    printer.script(P, c.paper);
    printer.script(C, c.cover);
    printer.script(I, c.idle);
    cancelAtQuery(printer, c.cancelAt);
    Canceled = c.cancelAt == 0;
    Page = c.page;
    hOffset = vOffset = Rotate = gray = 9;
    const size_t asked = printer.queries().size(), logged = io.log().size();
    EXPECT_EQ(startPage(c.model, {{"Darkness", "1"}, {"AdjustHoriaontal", "2"}, {"Rotate", "90"}},
                        "A4", c.modelName),
              "");
    EXPECT_EQ(Canceled.load(), 1);
    EXPECT_EQ(printer.queries().size() - asked, static_cast<size_t>(c.cancelAt));
    EXPECT_EQ(hOffset, 9);
    EXPECT_EQ(vOffset, 9);
    EXPECT_EQ(Rotate, 9);
    EXPECT_EQ(gray, 9);
    EXPECT_EQ(io.log().find("density", logged), std::string::npos);
    if (c.cancelAt == 0) {
      EXPECT_EQ(io.log().find("mytest", logged), std::string::npos);
    }
    Canceled = 0;
  }
}

TEST_F(WaitTest, Model64519StillSendsItsOptionsWhenCancelledDuringTheWait) {
  printer.script(C, {report::coverOpen});
  cancelAtQuery(printer, 4);
  hOffset = Rotate = gray = 9;
  EXPECT_EQ(startPage(64519, {{"Darkness", "1"}, {"AdjustHoriaontal", "2"}, {"Rotate", "90"}}),
            kDensity1);
  EXPECT_EQ(printer.queries(), (Queries{I, C, C, C}));
  EXPECT_EQ(hOffset, 15);
  EXPECT_EQ(Rotate, 90);
  EXPECT_EQ(gray, 0);
}

}  // namespace
