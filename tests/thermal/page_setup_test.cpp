// Thermal page set-up: the commands each option sends per model, the page settings, the
// persistence of patched bytes, the offsets in dots, and the ready waits against scripted
// printers (which queries, how long, and what a cancel during a wait leaves).
#include "thermal/page_setup.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "support/test_job.h"

namespace {

using Choices = std::vector<std::pair<std::string, std::string>>;
using Queries = std::vector<unsigned char>;
constexpr unsigned char P = 0x11, C = 0x12, I = 0x43;  // paper, cover, idle queries

const std::string kMode3 = bytes({0x1B, 0x4E, 0x62, 0x0A, 0x20, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x01,
                                  0x00, 0x03, 0x00, 0x06, 0x00, 0xC8, 0x00, 0x2D});
const std::string kDensity1 = bytes({0x1F, 0x11, 0x02, 0x02});
std::string density(int v) {
  return bytes({0x1F, 0x11, 0x02, v});
}
std::string gap(int v) {
  return bytes({0x1F, 0x11, v});
}

// The printer stream without the status queries (1F 11 11, 1F 11 12, 1F 11 43).
std::string withoutQueries(const std::string &s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    if (i + 2 < s.size() && s[i] == '\x1F' && s[i + 1] == '\x11' &&
        (s[i + 2] == '\x11' || s[i + 2] == '\x12' || s[i + 2] == '\x43')) {
      i += 3;
    } else {
      out += s[i++];
    }
  }
  return out;
}

// One page set-up of the job; returns the commands it sent (queries left out).
std::string startPage(TestJob &t, Page &page) {
  const size_t before = t.stream().size();
  thermalStartPage(t.job, page);
  return withoutQueries(t.stream().substr(before));
}
std::string startPage(int model, const Choices &choices, const char *pageSize = "A4") {
  TestJob t(model, choices);
  Page page = t.page(8, 1, pageSize);
  return startPage(t, page);
}

TEST(PageSetup, SendsTheCommandsOfEachOptionPerModel) {
  struct Case {
    const char *what;
    int model;
    Choices choices;
    std::string wire;
    const char *logged = nullptr;  // a line the set-up writes
    const char *pageSize = "A4";
  } cases[] = {
      {"no options", 22, {}, ""},
      {"darkness 2", 23, {{"Darkness", "2"}}, density(0x04), "density dis 2\n"},
      {"darkness 3 sends nothing", 302, {{"Darkness", "3"}}, "", "density dis 3\n"},
      {"darkness 3 special",
       400,
       {{"Darkness", "3"}},
       bytes({0x1F, 0x11, 0x37, 0x96}),
       "density is 3\n"},
      {"darkness unknown", 22, {{"Darkness", "7"}}, "", "density dis 7\n"},
      {"darkness word", 400, {{"Darkness", "Dark"}}, density(0x01), "density is 0\n"},
      {"antiwrinkling 2 then darkness",
       613207,
       {{"Antiwrinkling", "2"}, {"Darkness", "0"}},
       bytes({0x1F, 0x11, 0x88, 0x03}) + density(0x01),
       "density dis 0\n"},
      {"antiwrinkling unknown", 590314, {{"Antiwrinkling", "5"}}, ""},
      {"antiwrinkling ignored on 22", 22, {{"Antiwrinkling", "1"}}, ""},
      {"gap A4", 23, {{"zeMediaTracking", "Gap"}}, gap(0x0A)},
      {"bline letter", 23, {{"zeMediaTracking", "BLine"}}, gap(0x26), nullptr, "Letter"},
      {"a4 is no known size", 302, {{"zeMediaTracking", "Gap"}}, gap(0x0B), nullptr, "a4"},
      {"tracking after density",
       302,
       {{"zeMediaTracking", "Gap"}, {"Darkness", "1"}},
       kDensity1 + gap(0x0A),
       "density dis 1\n"},
      {"tracking ignored on 22", 22, {{"zeMediaTracking", "Gap"}}, ""},
      {"64519 Default A4", 64519, {{"zeMediaTracking", "Default"}}, ""},
      {"64519 Default custom", 64519, {{"zeMediaTracking", "Default"}}, gap(0x0B), nullptr, "w1"},
      {"64519 tracking first",
       64519,
       {{"zeMediaTracking", "Gap"}, {"Darkness", "1"}},
       gap(0x0A) + kDensity1,
       "density is 1\n",
       "Letter"},
      {"print mode low byte", 23, {{"PrintMode", "259"}}, kMode3, "PrintMode is 3\n"},
      {"print mode ignored on 400", 400, {{"PrintMode", "3"}}, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TestJob t(c.model, c.choices);
    Page page = t.page(8, 1, c.pageSize);
    EXPECT_EQ(startPage(t, page), c.wire);
    if (c.logged) {
      EXPECT_NE(t.log().find(c.logged), std::string::npos) << t.log();
    } else {
      EXPECT_EQ(t.log().find("density"), std::string::npos) << t.log();
      EXPECT_EQ(t.log().find("PrintMode"), std::string::npos) << t.log();
    }
  }
}

// Only the sheet models drain after a darkness choice, and not after "Default".
TEST(PageSetup, SheetModelsDrainAfterEveryDarknessChoiceButDefault) {
  for (int model : {21, 22, 23, 302, 400, 831, 64519, 590314, 613207}) {
    const bool sheet = model == 21 || model == 831 || model == 613207 || model == 590314;
    for (const char *choice : {"0", "3", "9", "Default"}) {
      SCOPED_TRACE(std::to_string(model) + " " + choice);
      TestJob t(model, {{"Darkness", choice}});
      Page page = t.page();
      startPage(t, page);
      const bool isDefault = std::string(choice) == "Default";
      // Drains that follow no query.
      EXPECT_EQ(t.drains - static_cast<int>(t.queries.size()), sheet && !isDefault);
    }
  }
}

TEST(PageSetup, APatchedModeByteCarriesOverToLaterPages) {
  TestJob t(23, {{"zeMediaTracking", "Gap"}});
  Page a4 = t.page(), custom = t.page(8, 1, "w288h432");
  EXPECT_EQ(startPage(t, a4), gap(0x0A));
  t.choices.choices["zeMediaTracking"] = "Mark";  // not a mode: the byte stays
  EXPECT_EQ(startPage(t, a4), gap(0x0A));
  // A custom size forces continuous media, which the next A4 page then keeps.
  EXPECT_EQ(startPage(t, custom), gap(0x0B));
  EXPECT_EQ(startPage(t, a4), gap(0x0B));
  EXPECT_EQ(gapModeForPage(t.job, a4.header), 0x0B);
  // A new job starts from the initial byte.
  EXPECT_EQ(startPage(302, {{"zeMediaTracking", "Mark"}}), gap(0x26));
}

TEST(PageSetup, ColourAndRotationSetThePageAndEveryModelResetsIt) {
  for (int model : {21, 22, 23, 302, 400, 831, 64519, 590314, 613207}) {
    SCOPED_TRACE(model);
    TestJob t(model, {{"ColorOption", "GrayScale"}, {"Rotate", "180"}});
    Page page = t.page();
    startPage(t, page);
    EXPECT_EQ(page.gray, 1);
    EXPECT_EQ(page.Rotate, 180);
    TestJob plain(model, {{"ColorOption", "Grayscale"}});
    Page reset = plain.page();
    reset.hOffset = reset.vOffset = reset.Rotate = reset.gray = 9;
    EXPECT_EQ(startPage(plain, reset), "");
    EXPECT_EQ(reset.hOffset + reset.vOffset + reset.Rotate + reset.gray, 0);
  }
}

TEST(PageSetup, OffsetsTurnMillimetresIntoDotsInBothForms) {
  const struct {
    const char *mm;
    int dots203, dots300;
  } cases[] = {
      {"1", 7, 11},
      {"-2", -15, -23},
      {"5", 39, 59},
      {"Default", 0, 0},
      {"2147483647", 1000000, 1000000},
      {"-99999999999", -1000000, -1000000},
  };
  for (int model : {22, 64519}) {
    for (const auto &c : cases) {
      for (unsigned dpi : {203u, 300u}) {
        SCOPED_TRACE(std::to_string(model) + " " + c.mm + " " + std::to_string(dpi));
        TestJob t(model, {{"AdjustHoriaontal", c.mm}, {"AdjustVertical", c.mm}});
        Page page = t.page(8, 1, "A4", dpi);
        startPage(t, page);
        EXPECT_EQ(page.hOffset, dpi == 203 ? c.dots203 : c.dots300);
        EXPECT_EQ(page.vOffset, dpi == 203 ? c.dots203 : c.dots300);
        // Logged in millimetres, except on the 64519.
        EXPECT_EQ(t.log().find("DEBUG: AdjustHoriaontal = ") != std::string::npos, model == 22);
        EXPECT_EQ(t.log().find("vOffset is ") != std::string::npos, model == 22);
      }
    }
  }
  EXPECT_EQ(millimetresToDots(INT_MAX, UINT_MAX), 1000000);
  EXPECT_EQ(millimetresToDots(INT_MIN, UINT_MAX), -1000000);
}

struct WaitCase {
  const char *what;
  int model, page;
  bool coverWasOpened;  // mymon.Exception
  std::vector<std::string> paper, cover;
  Queries queries;
  double seconds;
  const char *modelName = "RX5K";
};

TEST(ReadyWaits, AskAndWaitAsEachModelNeeds) {
  const std::string in = report::paperIn, out = report::paperOut;
  const std::string closed = report::coverClosed, open = report::coverOpen;
  const std::vector<WaitCase> cases = {
      // Paper twice, 1.1 s apart, then 1.5 s.
      {"21", 21, 1, false, {in}, {closed}, {P, P}, 2.6},
      {"21 no paper", 21, 1, false, {out, in}, {closed}, {P, P, P}, 3.6},
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
      // Paper and cover, then the paper confirmed; other 302 printers do not wait.
      {"302 JT64", 302, 1, false, {in, out, in}, {closed}, {P, C, P, P, C, P}, 5.0, "JT64"},
      {"302", 302, 1, false, {out}, {open}, {}, 0},
  };
  for (const WaitCase &c : cases) {
    SCOPED_TRACE(c.what);
    TestJob t(c.model, {{"Darkness", "1"}}, c.modelName);
    t.script(P, c.paper);
    t.script(C, c.cover);
    t.job.mymon.Exception = c.coverWasOpened;
    t.job.Page = c.page;
    Page page = t.page();
    EXPECT_EQ(startPage(t, page), kDensity1);
    EXPECT_EQ(t.queries, c.queries);
    EXPECT_NEAR(t.now, c.seconds, 1e-9);
  }
}

// A cancel ends waits E, K and J with no option read and no command sent; wait M only ends its
// polling, and its options still go out.
TEST(ReadyWaits, ACancelDuringAWaitLeavesNoCommandExceptOn64519) {
  const struct {
    const char *what;
    int model;
    const char *modelName;
    int page;
    std::string paper, cover, idle;
    int cancelAt;  // 0: cancelled before the set-up
  } cases[] = {
      {"E on entry", 21, "RX5K", 1, report::paperIn, report::coverClosed, report::idle, 0},
      {"E paper", 21, "RX5K", 1, report::paperOut, report::coverClosed, report::idle, 2},
      {"E confirm", 613207, "RX5K", 1, report::paperIn, report::coverClosed, report::idle, 2},
      {"K idle", 831, "RX5K", 1, report::paperIn, report::coverClosed, "", 3},
      {"K sheet", 831, "RX5K", 2, report::paperIn, report::coverClosed, report::idle, 3},
      {"K cover", 831, "RX5K", 1, report::paperIn, report::coverOpen, report::idle, 4},
      {"J paper", 302, "JT64", 1, report::paperOut, report::coverClosed, report::idle, 2},
      {"J cover", 302, "JT64", 1, report::paperIn, report::coverOpen, report::idle, 4},
      {"M cover", 64519, "RX5K", 1, report::paperIn, report::coverOpen, report::idle, 4},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const bool m = c.model == 64519;
    TestJob t(c.model, {{"Darkness", "1"}, {"AdjustHoriaontal", "2"}, {"Rotate", "90"}},
              c.modelName);
    t.script(P, {c.paper});
    t.script(C, {c.cover});
    t.script(I, {c.idle});
    t.answerer = [&t, n = c.cancelAt](unsigned char, int count, std::string &) {
      if (count == n) t.job.Canceled = 1;
      return false;
    };
    t.job.Canceled = c.cancelAt == 0;
    t.job.Page = c.page;
    Page page = t.page();
    page.hOffset = page.Rotate = 9;
    EXPECT_EQ(startPage(t, page), m ? kDensity1 : "");
    EXPECT_EQ(t.job.Canceled.load(), 1);
    EXPECT_EQ(t.queries.size(), static_cast<size_t>(c.cancelAt));
    EXPECT_EQ(page.hOffset, m ? 15 : 9);
    EXPECT_EQ(page.Rotate, m ? 90 : 9);
    EXPECT_EQ(t.log().find("density") != std::string::npos, m);
    if (c.cancelAt == 0) {
      EXPECT_EQ(t.log().find("mytest"), std::string::npos);
    }
  }
}

}  // namespace
