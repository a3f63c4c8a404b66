// The page pipeline. The fast steps against their plain forms, byte for byte, on random pages:
// every size from 1 to 21 dots wide and high (narrower than the sketch's blur windows), larger
// pages, short rasters, noise and documents, all levels, offsets (to the ends of the range and
// past them) and effect combinations (the diffusion in pairs of rows and alone); gray rasters
// against their RGB twins; the box passes at every radius, the mirror and the sketch, in place
// and not.
// (The packing is held to the dot-by-dot threshold by the label round trips, at every row
// length.) The header checks: the raster layouts the capture reads, what it cannot read refused
// with a reason naming what came; the memory a page needs and the ceiling it is held to. (Whole
// pages through the pipeline, every model's placement and log lines, are the reference jobs'.)
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>

#include "base/page_memory.h"
#include "pipeline/capture.h"
#include "pipeline/effects.h"
#include "pipeline/page_check.h"
#include "pipeline/pipeline.h"
#include "pipeline/tone.h"
#include "reference.h"
#include "support/raster_file.h"

namespace {

// The filter's toned page (nw x height dots) of a header and its rows.
Dots tonedPage(const cups_page_header2_t &header, const std::vector<Dots> &rows,
               const ImageSettings &settings) {
  StringLogSink sink;
  Log log(sink);
  Dots row(header.cupsBytesPerLine);
  DotBuffer page;
  std::string error;
  size_t next = 0;
  const RowReader read = [&](unsigned char *to, unsigned length) -> unsigned {
    if (next == rows.size()) return 0;
    std::copy(rows[next].begin(), rows[next].end(), to), next++;
    return length;
  };
  EXPECT_TRUE(renderTonedPage(read, header, settings, row.data(), log, page, error)) << error;
  return Dots(page.get(),
              page.get() + static_cast<size_t>((header.cupsWidth + 7) & ~7u) * header.cupsHeight);
}

// A page of RGB rows: noise, or a document (white with black text blocks and gray patches, R, G
// and B alike) whose large uniform areas take the fast paths of the diffusion.
std::vector<Dots> randomRows(std::mt19937 &rng, int width, int height, bool document) {
  std::vector<Dots> rows(static_cast<size_t>(height), Dots(3 * static_cast<size_t>(width), 255));
  for (Dots &row : rows)
    for (unsigned char &c : row) c = document ? 255 : static_cast<unsigned char>(rng());
  for (int b = 0; document && b < 1 + width * height / 400; b++) {
    const int x0 = static_cast<int>(rng() % width), y0 = static_cast<int>(rng() % height);
    const int x1 = std::min(width, x0 + 1 + static_cast<int>(rng() % 12));
    const unsigned char v = rng() % 3 == 0 ? static_cast<unsigned char>(rng()) : 0;
    for (int y = y0; y < std::min(height, y0 + 1 + static_cast<int>(rng() % 6)); y++)
      std::fill(rows[y].begin() + 3 * x0, rows[y].begin() + 3 * x1, v);
  }
  return rows;
}

size_t firstDifference(const Dots &a, const Dots &b) {
  return std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
}

// The filter's toned page against the plain steps, in mode (bits: gray, mirror, sketch) with
// random levels (0 and 8 lie outside the tables) and offset; a document also as gray rasters,
// which give the dots of the RGB raster with three equal components. Some rasters are cut
// short: the rows that never arrive stay white.
void expectSamePage(std::mt19937 &rng, int width, int height, int mode, bool cutShort) {
  ImageSettings s;
  s.gray = mode & 1;
  s.mirrorPrint = (mode >> 1) & 1;
  s.sketchPrint = (mode >> 2) & 1;
  s.blacklevel = static_cast<int>(rng() % 9);
  s.graylevel = static_cast<int>(rng() % 9);
  // Now and then an offset that takes every dot to an end of the range, or past it.
  const int kFar[] = {INT_MIN, -300, -255, -254, 254, 255, 256, INT_MAX};
  s.lightOffset = rng() % 8 ? static_cast<int>(rng() % 121) - 60 : kFar[rng() % 8];
  const bool document = rng() % 2;
  std::vector<Dots> rows = randomRows(rng, width, height, document);
  if (cutShort) rows.resize(rng() % height);
  const Dots expected = referenceTonedPage(rows, width, height, s);
  SCOPED_TRACE(testing::Message() << width << "x" << height << " rows " << rows.size() << " mode "
                                  << mode << " levels " << s.blacklevel << "/" << s.graylevel
                                  << " offset " << s.lightOffset);
  EXPECT_EQ(firstDifference(tonedPage(rastertest::rasterHeader(width, height), rows, s), expected),
            expected.size());
  if (!document) return;
  cups_page_header2_t h =
      rastertest::rasterHeader(width, height, 203, rastertest::RasterColor::Gray);
  for (cups_cspace_t space : {CUPS_CSPACE_W, CUPS_CSPACE_SW, CUPS_CSPACE_K}) {
    std::vector<Dots> gray(rows.size(), Dots(static_cast<size_t>(width)));
    for (size_t y = 0; y < rows.size(); y++)
      for (int x = 0; x < width; x++)
        gray[y][x] = static_cast<unsigned char>(space == CUPS_CSPACE_K ? 255 - rows[y][3 * x]
                                                                       : rows[y][3 * x]);
    h.cupsColorSpace = space;
    EXPECT_EQ(firstDifference(tonedPage(h, gray, s), expected), expected.size()) << space;
  }
}

// Every size up to 21 dots (narrower than the sketch's blur windows) in every mode, random sizes
// up to 120 x 90, and pages of a few hundred dots.
TEST(ByteIdentity, RandomPagesInEveryModeMatchThePlainSteps) {
  std::mt19937 rng(1);
  for (int width = 1; width <= 21; width++)
    for (int height : {1, 2, 3, 4, 9, 14, 19})
      for (int mode = 0; mode < 8; mode++) expectSamePage(rng, width, height, mode, false);
  for (int round = 0; round < 80; round++)
    expectSamePage(rng, 1 + static_cast<int>(rng() % 120), 1 + static_cast<int>(rng() % 90),
                   static_cast<int>(rng() % 8), round % 4 == 3);
  for (int mode : {1, 5, 1, 5}) expectSamePage(rng, 403, 297, mode, false);
}

// Every box pass, the mirror and the sketch, in place and not, against their plain forms; and a
// box pass or the mirror of a uniform page is the page: window sums of the widest radius still
// fit 16 bits on a white page, one more takes 32.
TEST(ByteIdentity, EffectsOfEveryRadiusOnSmallPages) {
  using Pass = void (*)(const unsigned char *, unsigned char *, int, int, int);
  using P = const unsigned char *;
  const std::pair<Pass, Pass> passes[] = {
      {boxBlurH_4, referenceBoxBlurH},
      {boxBlurT_4, referenceBoxBlurT},
      {boxBlur_4, referenceBoxBlur},
      {[](P s, unsigned char *t, int w, int h, int) { mirror(s, t, w, h); },
       [](P s, unsigned char *t, int w, int h, int) { referenceMirror(s, t, w, h); }},
      {gaussBlur_4, referenceGaussBlur},
      {[](P s, unsigned char *t, int w, int h, int) { sketch(s, t, w, h); },
       [](P s, unsigned char *t, int w, int h, int) { referenceSketch(s, t, w, h); }}};
  std::mt19937 rng(5);
  for (int w = 1; w <= 24; w += 3)
    for (int h = 1; h <= 24; h += 4)
      for (int r : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 127, 128, 129, 300})
        for (size_t k = 0; k < std::size(passes); k++) {
          SCOPED_TRACE(testing::Message() << w << "x" << h << " r " << r << " pass " << k);
          Dots page(static_cast<size_t>(w) * h, (w + r) % 2 ? 255 : rng()), actual(page.size());
          const bool inPlace = (w + h) % 2;
          const auto run = [&](Pass pass) {
            if (inPlace) actual = page;
            pass(inPlace ? actual.data() : page.data(), actual.data(), w, h, r);
          };
          if (k < 5) {
            run(passes[k].first);
            EXPECT_EQ(actual, page);
          }
          if (k >= 4 && r > 11) continue;  // the plain gaussian would take long
          for (unsigned char &d : page) d = static_cast<unsigned char>(rng());
          Dots expected(page.size());
          passes[k].second(page.data(), expected.data(), w, h, r);
          run(passes[k].first);
          EXPECT_EQ(expected, actual);
        }
}

// Stucki's diffusion against pages worked from its definition (a dot is white when its value
// plus the error it received exceeds 127; the difference goes right 8 4, a row down 2 4 8 4 2,
// two rows down 1 2 4 2 1, over 42) by a separate plain program: on these two 6 x 3 pages every
// change of one weight, of the threshold or of the divisor gives other dots.
TEST(Stucki, WorkedPages) {
  const struct {
    Dots in, out;
  } pages[] = {
      {{140, 160, 127, 90, 100, 120, 128, 127, 127, 128, 127, 127, 110, 120, 127, 127, 100, 140},
       {255, 255, 0, 0, 255, 0, 0, 0, 255, 255, 0, 255, 0, 255, 0, 0, 0, 255}},
      {{28, 227, 120, 51, 185, 157, 137, 142, 161, 119, 12, 65, 21, 243, 231, 91, 72, 92},
       {0, 255, 0, 0, 255, 255, 255, 255, 255, 0, 0, 0, 0, 255, 255, 0, 0, 0}},
  };
  for (const auto &p : pages) {
    Dots dots = p.in;
    StuckiDiffusion diffusion(6);
    for (int y = 0; y < 3; y++) diffusion.diffuseRow(dots.data() + 6 * y);
    diffusion.finish();
    EXPECT_EQ(dots, p.out);
  }
}

TEST(PageCheck, RefusesWhatTheCaptureCannotRead) {
  using H = cups_page_header2_t;
  const float inf = INFINITY;
  // 8-bit gray, 0 white.
  const auto k8 = [](H &h) { h.cupsColorSpace = CUPS_CSPACE_K, h.cupsBitsPerPixel = 8; };
  const struct {
    std::function<void(H &)> change;  // of an RGB page of 4 x 10 dots at 203 dpi on A4
    const char *reason;               // how the reason starts; nullptr: accepted
  } cases[] = {
      // clang-format off
      {[&](H &h) { k8(h), h.cupsBytesPerLine = 4; }, nullptr},
      {[](H &h) { h.cupsColorSpace = CUPS_CSPACE_SRGB; }, nullptr},
      {[](H &h) { h.cupsColorSpace = CUPS_CSPACE_ADOBERGB; }, nullptr},
      {[](H &h) { h.HWResolution[0] = 10000; }, nullptr},
      {[&](H &h) { k8(h), h.cupsBitsPerColor = h.cupsBitsPerPixel = 1; },
       "unsupported raster format: 1 bits per pixel, colour space 3, order 0"},
      {[](H &h) { h.cupsColorOrder = CUPS_ORDER_BANDED; },
       "unsupported raster format: 24 bits per pixel, colour space 1, order 1"},
      {[](H &h) { h.cupsBitsPerColor = 16, h.cupsBitsPerPixel = 48; }, "unsupported raster format: 48"},
      {[](H &h) { h.cupsBitsPerPixel = 32, h.cupsBytesPerLine = 16; }, "unsupported raster format: 32"},
      {[](H &h) { h.cupsColorSpace = CUPS_CSPACE_W; }, "unsupported raster format: 24 bits per pixel, colour space 0"},
      {[](H &h) { std::memset(h.MediaType, 'x', sizeof h.MediaType); }, "header string without its end (NUL)"},
      {[](H &h) { h.cupsWidth = 0; }, "empty page: width 0, height 10"},
      {[](H &h) { h.cupsHeight = 0; }, "empty page: width 4, height 0"},
      {[](H &h) { h.cupsWidth = INT_MAX - 6; }, "page of 2147483641 x 10 dots too large"},
      {[](H &h) { h.cupsWidth = INT_MAX - 7; }, "bytes per line 12 too small for width 2147483640"},
      {[](H &h) { h.cupsHeight = 1u << 31; }, "page of 4 x 2147483648 dots too large"},
      {[](H &h) { h.cupsHeight = INT_MAX; }, "page of 4 x 2147483647 dots needs "},
      {[](H &h) { h.cupsBytesPerLine = 11; }, "bytes per line 11 too small for width 4"},
      {[](H &h) { h.HWResolution[1] = 0; }, "resolution 203x0 dpi out of range"},
      {[](H &h) { h.HWResolution[0] = 10001; }, "resolution 10001x203 dpi out of range"},
      {[&](H &h) { h.cupsPageSize[1] = inf; },
       "page size 1 x inf points or imageable area 0 0 1 4 out of range"},
      {[](H &h) { h.cupsPageSize[1] = 3e35f; }, "page size"},
      {[](H &h) { h.cupsPageSize[1] = -1; }, "page size"},
      {[&](H &h) { k8(h), h.cupsBytesPerLine = h.cupsWidth = h.cupsHeight = 2000000000u; },
       "page of 2000000000 x 2000000000 dots needs "},
      // clang-format on
  };
  for (const auto &c : cases) {
    H h = rastertest::rasterHeader(4, 10);
    c.change(h);
    std::string reason;
    EXPECT_EQ(checkPageHeader(h, reason), !c.reason) << &c - cases << ": " << reason;
    EXPECT_EQ(reason.rfind(c.reason ? c.reason : "", 0), 0u) << &c - cases << ": " << reason;
  }
}

// The limit from the environment, in bytes, K, M or G (else 1 GiB). The peak of each step wins
// once: the capture (a one-dot page), the sketch's two pages (wider than the widest paper), the
// placed page beside the toned one (A4) and the placed page beside its bitmap (a page length
// far beyond the paper).
TEST(PageMemory, TheLimitAndTheBuffersOfTheStepThatNeedsMost) {
  const std::pair<const char *, uint64_t> limits[] = {
      {"12345", 12345},  {"64K", 65536}, {"32m", 32u << 20}, {"2G", 2ull << 30},        {"0", 0},
      {"12X", 1u << 30}, {"", 1u << 30}, {"-5", 1u << 30},   {"99999999999G", 1u << 30}};
  for (const auto &[text, limit] : limits) {
    setenv("RX5K_PAGE_MEMORY_LIMIT", text, 1);
    EXPECT_EQ(pageMemoryLimit(), limit) << text;
  }
  const struct {
    int width, height;
    unsigned dpi;
    float length;
    uint64_t need;
  } cases[] = {{1, 1, 1, 0, 395},
               {3000, 4000, 203, 842, 24096000},
               {2480, 3508, 300, 842, 17738033},
               {8, 10, 203, 10000, 54752748}};
  for (const auto &c : cases) {
    cups_page_header2_t h = rastertest::rasterHeader(c.width, c.height, c.dpi);
    h.cupsPageSize[1] = c.length;
    uint64_t need = 0;
    ASSERT_TRUE(pageMemoryNeed(h, need));
    EXPECT_EQ(need, c.need) << c.width;
    // The ceiling holds the page to exactly that.
    std::string reason;
    setenv("RX5K_PAGE_MEMORY_LIMIT", std::to_string(c.need).c_str(), 1);
    EXPECT_TRUE(checkPageHeader(h, reason)) << reason;
    setenv("RX5K_PAGE_MEMORY_LIMIT", std::to_string(c.need - 1).c_str(), 1);
    EXPECT_FALSE(checkPageHeader(h, reason));
    EXPECT_NE(reason.find("needs " + std::to_string(c.need) + " bytes, above the limit of " +
                          std::to_string(c.need - 1)),
              std::string::npos);
  }
  unsetenv("RX5K_PAGE_MEMORY_LIMIT");
  EXPECT_EQ(pageMemoryLimit(), 1u << 30);
}

// The toned page is the first buffer a page needs.
TEST(Pipeline, APageWithoutMemoryFailsWithTheReason) {
  const cups_page_header2_t h = rastertest::rasterHeader(9, 2);
  PageSettings s;
  s.geometry = geometryParams(h, 613207, "", 0x26);
  StringLogSink sink;
  Log log(sink);
  std::vector<unsigned char> row(h.cupsBytesPerLine);
  FinishedPage page;
  std::string error;
  setenv("RX5K_PAGE_MEMORY_LIMIT", "31", 1);
  EXPECT_FALSE(runPagePipeline([](unsigned char *, unsigned n) { return n; }, h, s, row.data(), log,
                               page, error));
  unsetenv("RX5K_PAGE_MEMORY_LIMIT");
  EXPECT_EQ(error, "cannot allocate the page of 16 x 2 dots");
}

}  // namespace
