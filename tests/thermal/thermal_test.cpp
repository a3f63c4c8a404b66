// The thermal models' page set-up and bitmap transmission. The set-up: the commands of the
// choices no PPD offers and of their order per model, the sheet models' drain, the persistence
// of patched bytes, the page settings and offsets at their limits, and the ready waits against
// scripted printers (which queries, how long, and what a cancel during a wait leaves). The
// transmission, decoded by the emulated printer's parser: LZO frames around the block size and
// near their worst case, raw data, the bitmap command's 16-bit fields, the filler, the drained
// 1024-byte pieces; a page too large to compress, refused before any output; cancellation.
// (Ordinary choices, the pages beyond the bitmap command's fields, paper commands and the waits
// after a page are in the reference and end-to-end jobs.)
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_job.h"
#include "thermal/page_setup.h"
#include "thermal/thermal_printer.h"
#include "thermal/transmission.h"
#include "thermal_parser.h"

namespace {

using Choices = std::vector<std::pair<std::string, std::string>>;
using Queries = std::vector<unsigned char>;
constexpr unsigned char P = 0x11, C = 0x12, I = 0x43;  // paper, cover, idle queries

const auto density = [](int v) { return bytes({0x1F, 0x11, 0x02, v}); };
const auto gap = [](int v) { return bytes({0x1F, 0x11, v}); };
const std::string kDensity1 = density(0x02);  // darkness 1

ThermalPrinter &thermal(TestJob &t) {
  return static_cast<ThermalPrinter &>(*t.job.printer);
}

// One page set-up of the job; returns the commands it sent, the status queries left out.
std::string startPage(TestJob &t, Page &page) {
  const size_t before = t.stream().size();
  thermal(t).startPage(page);
  return std::regex_replace(t.stream().substr(before), std::regex("\x1F\x11[\x11\x12\x43]"), "");
}

TEST(PageSetup, SendsTheCommandsOfEachOptionPerModel) {
  const std::string mode3 = bytes({0x1B, 0x4E, 0x62, 0x0A, 0x20, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x01,
                                   0x00, 0x03, 0x00, 0x06, 0x00, 0xC8, 0x00, 0x2D});
  const struct {
    int model;
    Choices choices;
    std::string wire;
    const char *logged;  // a line the set-up writes; nullptr: no density or print mode line
    const char *pageSize = "A4";
    int drains = 0;  // the sheet models drain after any darkness choice but "Default"
  } cases[] = {
      // clang-format off
      {302, {{"Darkness", "3"}}, "", "density dis 3\n"},
      {21, {{"Darkness", "9"}}, "", "density dis 9\n", "A4", 1},
      {21, {{"Darkness", "Default"}}, "", nullptr},
      {400, {{"Darkness", "3"}}, bytes({0x1F, 0x11, 0x37, 0x96}), "density is 3\n"},
      {22, {{"Darkness", "7"}}, "", "density dis 7\n"},
      {400, {{"Darkness", "Dark"}}, density(0x01), "density is 0\n"},
      {613207, {{"Antiwrinkling", "2"}, {"Darkness", "0"}}, bytes({0x1F, 0x11, 0x88, 0x03}) + density(0x01), "density dis 0\n", "A4", 1},
      {590314, {{"Antiwrinkling", "5"}}, "", nullptr},
      {22, {{"Antiwrinkling", "1"}}, "", nullptr},
      {23, {{"zeMediaTracking", "BLine"}}, gap(0x26), nullptr, "Letter"},
      {302, {{"zeMediaTracking", "Gap"}}, gap(0x0B), nullptr, "a4"},  // not a known size
      {302, {{"zeMediaTracking", "Gap"}, {"Darkness", "1"}}, kDensity1 + gap(0x0A), "density dis 1\n"},
      {22, {{"zeMediaTracking", "Gap"}}, "", nullptr},
      {64519, {{"zeMediaTracking", "Default"}}, "", nullptr},
      {64519, {{"zeMediaTracking", "Default"}}, gap(0x0B), nullptr, "w1"},
      {64519, {{"zeMediaTracking", "Gap"}, {"Darkness", "1"}}, gap(0x0A) + kDensity1, "density is 1\n", "Letter"},
      {23, {{"PrintMode", "259"}}, mode3, "PrintMode is 3\n"},  // the low byte
      {400, {{"PrintMode", "3"}}, "", nullptr},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(&c - cases);
    TestJob t(c.model, c.choices);
    Page page = t.page(8, 1, c.pageSize);
    EXPECT_EQ(startPage(t, page), c.wire);
    EXPECT_EQ(t.drains - static_cast<int>(t.queries.size()), c.drains);  // drains after no query
    const std::string log = t.log();
    const bool quiet = log.find("density") == log.npos && log.find("PrintMode") == log.npos;
    EXPECT_TRUE(c.logged ? log.find(c.logged) != log.npos : quiet) << log;
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
  EXPECT_EQ(thermal(t).gapModeForPage(a4.header), 0x0B);
  // A new job starts from the initial byte.
  TestJob next(302, {{"zeMediaTracking", "Mark"}});
  EXPECT_EQ(startPage(next, a4), gap(0x26));
}

// Colour and turn set the page, and every model resets what the choices leave unset. Offsets
// beyond a million dots either way are held there, in both forms. (Ordinary offsets, their
// dots and log lines, are the reference jobs'.)
TEST(PageSetup, PageSettingsAndOffsetsInDots) {
  for (const ModelFacts &facts : modelTable()) {
    if (facts.family != ModelFamily::Thermal) continue;
    const int model = facts.number;
    TestJob t(model, {{"ColorOption", "GrayScale"},
                      {"Rotate", "180"},
                      {"AdjustHoriaontal", "2147483647"},
                      {"AdjustVertical", "-99999999999"}});
    Page page = t.page();
    startPage(t, page);
    EXPECT_EQ(std::make_tuple(page.gray, page.Rotate, page.hOffset, page.vOffset),
              std::make_tuple(1, 180, 1000000, -1000000))
        << model;
    TestJob plain(model, {{"ColorOption", "Grayscale"}, {"AdjustHoriaontal", "Default"}});
    Page reset = plain.page();
    reset.hOffset = reset.vOffset = reset.Rotate = reset.gray = 9;
    EXPECT_EQ(startPage(plain, reset), "");
    EXPECT_EQ(reset.hOffset + reset.vOffset + reset.Rotate + reset.gray, 0) << model;
  }
  EXPECT_EQ(millimetresToDots(INT_MAX, UINT_MAX), 1000000);
  EXPECT_EQ(millimetresToDots(INT_MIN, UINT_MAX), -1000000);
}

// Which queries each model's wait asks and how long it takes; a cancel ends waits E, K and J
// with no option read and no command sent, while wait M only ends its polling and its options
// still go out.
TEST(ReadyWaits, AskAndWaitAsEachModelNeedsUntilReadyOrCancelled) {
  const std::string in = report::paperIn, out = report::paperOut;
  const std::string closed = report::coverClosed, open = report::coverOpen;
  const struct {
    const char *what;
    int model, page;
    bool coverWasOpened;  // mymon.Exception
    std::vector<std::string> paper, cover;
    Queries queries;
    double seconds;
    int cancelAt = -1;  // the query that brings the cancel; 0: cancelled before the set-up
    const char *modelName = "RX5K";
    std::string idle = report::idle;
  } cases[] = {
      // clang-format off
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
      // Paper and cover, then the paper confirmed (other 302 printers do not wait).
      {"302 JT64", 302, 1, false, {in, out, in}, {closed}, {P, C, P, P, C, P}, 5.0, -1, "JT64"},
      {"E on entry", 21, 1, false, {in}, {closed}, {}, 0, 0},
      {"E paper", 21, 1, false, {out}, {closed}, {}, 0, 2},
      {"E confirm", 613207, 1, false, {in}, {closed}, {}, 0, 2},
      {"K idle", 831, 1, false, {in}, {closed}, {}, 0, 3, "RX5K", ""},
      {"K sheet", 831, 2, false, {in}, {closed}, {}, 0, 3},
      {"K cover", 831, 1, false, {in}, {open}, {}, 0, 4},
      {"J paper", 302, 1, false, {out}, {closed}, {}, 0, 2, "JT64"},
      {"J cover", 302, 1, false, {in}, {open}, {}, 0, 4, "JT64"},
      {"M cover", 64519, 1, false, {in}, {open}, {}, 0, 4},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    TestJob t(c.model, {{"Darkness", "1"}, {"AdjustHoriaontal", "2"}, {"Rotate", "90"}},
              c.modelName);
    t.script(P, c.paper);
    t.script(C, c.cover);
    t.script(I, {c.idle});
    t.answerer = [&t, n = c.cancelAt](unsigned char, int count, std::string &) {
      if (count == n) t.job.Canceled = 1;
      return false;
    };
    t.job.Canceled = c.cancelAt == 0;
    t.job.mymon.Exception = c.coverWasOpened;
    t.job.Page = c.page;
    Page page = t.page();
    page.hOffset = page.Rotate = 9;
    const bool set = c.cancelAt < 0 || c.model == 64519;  // the options were read and sent
    EXPECT_EQ(startPage(t, page), set ? kDensity1 : "");
    EXPECT_EQ(std::make_pair(page.hOffset, page.Rotate),
              set ? std::make_pair(15, 90) : std::make_pair(9, 9));
    EXPECT_EQ(t.log().find("density") != std::string::npos, set);
    if (c.cancelAt < 0) {
      EXPECT_EQ(t.queries, c.queries);
      EXPECT_NEAR(t.now, c.seconds, 1e-9);
    } else {
      EXPECT_EQ(t.job.Canceled.load(), 1);
      EXPECT_EQ(t.queries.size(), static_cast<size_t>(c.cancelAt));
    }
    if (c.cancelAt == 0) {
      EXPECT_EQ(t.log().find("mytest"), std::string::npos);
    }
  }
}

// Sends a width x height page for the model: half runs of white and black, half noise
// (compressible but not trivially), or all noise; bits receives the page's bytes.
std::string send(TestJob &t, unsigned width, unsigned height, bool noise,
                 std::vector<unsigned char> &bits, PageResult expected = PageResult::Sent) {
  Page page = t.page(width, height);
  const size_t size = static_cast<size_t>((width + 7) / 8) * height;
  std::mt19937 rng(width + height);
  bits.resize(size);
  for (size_t i = 0; i < size; i++)
    bits[i] = noise || (i / 512) % 2 ? static_cast<unsigned char>(rng()) : 0;
  ThermalPrinter &printer = thermal(t);
  printer.sendBuf = allocateDots(size);
  std::copy(bits.begin(), bits.end(), printer.sendBuf.get());
  printer.sendBufSize = size;
  EXPECT_EQ(printer.transmitBitmap(page), expected);
  return t.stream();
}

TEST(Transmission, TheBitmapDecodesInThePrinterToTheBitsSent) {
  const struct {
    int model;  // 22 compresses, 21 and 831 do not
    const char *modelName;
    unsigned width, height;
    bool noise, filler;
  } cases[] = {
      // clang-format off
      {22, "RX5K", 8, 1, false, true},
      {22, "HQ33", 800, 1, false, true},
      {22, "HQ32", 32760, 1, false, false},
      {22, "RX5K", 32768, 1, false, true},
      {22, "RX5K", 32776, 1, false, true},
      {22, "RX5K", 8 * 8193, 8, false, true},
      {22, "RX5K", 32768, 64, true, true},  // every frame near its worst case
      {831, "RX5K", 16384, 3, false, true},
      {831, "RX5K", 2040, 1, false, true},
      {21, "HQ31", 8, 65535, false, false},
      {21, "hq31", 524280, 1, false, true},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.model << " " << c.modelName << " " << c.width << "x" << c.height);
    TestJob t(c.model, {}, c.modelName);
    t.job.mymon.Exception = 1;
    std::vector<unsigned char> bits;
    const emu::ThermalStream s = emu::parseThermalStream(send(t, c.width, c.height, c.noise, bits));
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(s.events.front().command == emu::ThermalCommand::Filler, c.filler);
    const emu::ThermalEvent &data = s.events.back();
    ASSERT_TRUE(data.bitmap);
    EXPECT_EQ(data.bitmap->bytewidth, static_cast<int>((c.width + 7) / 8));
    EXPECT_EQ(data.bitmap->rows, static_cast<int>(c.height));
    EXPECT_EQ(data.bitmap->frames, c.model == 22 ? static_cast<int>(bits.size() + 4095) / 4096 : 0);
    EXPECT_TRUE(data.bitmap->bits == bits);
    if (c.noise) {
      EXPECT_GT(data.length, bits.size());
      EXPECT_LE(data.length, compressedCapacity(bits.size()));
    }
    // A drain before the filler, one after it, then one after each 1024-byte piece.
    const size_t pieces = (data.length + 1023) / 1024;
    ASSERT_EQ(t.drainedAt.size(), 1 + c.filler + pieces);
    for (size_t k = 0; k < pieces; k++)
      EXPECT_EQ(t.drainedAt[1 + c.filler + k], data.offset + std::min((k + 1) * 1024, data.length));
    EXPECT_EQ(t.job.mymon.Exception, 0) << "sending the bitmap clears the cover exception";
  }
}

TEST(Transmission, ACancelBeforeTheBitmapCommandSendsNothingOfTheBitmap) {
  for (int model : {21, 22, 302, 64519}) {
    SCOPED_TRACE(model);
    TestJob t(model);
    t.job.Canceled = 1;
    t.job.mymon.Exception = 1;
    std::vector<unsigned char> bits;
    std::string wire = send(t, 64, 64, false, bits, PageResult::Canceled);
    EXPECT_EQ(wire.find("\x1D\x76\x30"), std::string::npos);
    EXPECT_EQ(wire.substr(wire.size() - 4),
              bytes({0x1F, 0x11, 0x35, model == 22 || model == 302 ? 1 : 0}));
    EXPECT_EQ(t.job.mymon.Exception, 1);
    EXPECT_TRUE(t.queries.empty());
  }
}

TEST(Transmission, APageTooLargeToCompressFailsBeforeAnyOutput) {
  TestJob t(22);
  ThermalPrinter &printer = thermal(t);
  printer.sendBuf = allocateDots(1);
  printer.sendBufSize = static_cast<size_t>(INT_MAX) + 1;
  EXPECT_EQ(printer.transmitBitmap(t.page()), PageResult::Failed);
  EXPECT_EQ(t.stream(), "");
  EXPECT_NE(t.log().find("ERROR: "), std::string::npos);
  EXPECT_EQ(compressBitmap(nullptr, nullptr, 0), 0);
}

}  // namespace
