// The fast steps against their plain forms, byte for byte, on random pages: every size from 1
// to 21 dots wide and high (narrower than the sketch's blur windows), larger pages, short
// rasters, noise and documents, all levels, offsets and effect combinations (the diffusion in
// pairs of rows and alone); the box passes; gray rasters against their RGB twins. Then the
// properties of the effects: a blur of a uniform page is the page, a mirror or negative twice gives
// the page back, a sketch in place is the sketch. (The packing is held to the dot-by-dot threshold
// by the label round trips, at every row length.)
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>

#include "page_builder.h"
#include "pipeline/capture.h"
#include "pipeline/effects.h"
#include "pipeline/tone.h"
#include "reference.h"

namespace {

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
  s.lightOffset = static_cast<int>(rng() % 121) - 60;
  const bool document = rng() % 2;
  std::vector<Dots> rows = randomRows(rng, width, height, document);
  if (cutShort) rows.resize(rng() % height);
  const Dots expected = referenceTonedPage(rows, width, height, s);
  SCOPED_TRACE(testing::Message() << width << "x" << height << " rows " << rows.size() << " mode "
                                  << mode << " levels " << s.blacklevel << "/" << s.graylevel
                                  << " offset " << s.lightOffset);
  EXPECT_EQ(firstDifference(tonedPage(rgbHeader(width, height), rows, s), expected),
            expected.size());
  if (!document) return;
  for (cups_cspace_t space : {CUPS_CSPACE_W, CUPS_CSPACE_SW, CUPS_CSPACE_K}) {
    std::vector<Dots> gray(rows.size(), Dots(static_cast<size_t>(width)));
    for (size_t y = 0; y < rows.size(); y++)
      for (int x = 0; x < width; x++)
        gray[y][x] = static_cast<unsigned char>(space == CUPS_CSPACE_K ? 255 - rows[y][3 * x]
                                                                       : rows[y][3 * x]);
    cups_page_header2_t h = rgbHeader(width, height);
    h.cupsColorSpace = space;
    h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = static_cast<unsigned>(width);
    EXPECT_EQ(firstDifference(tonedPage(h, gray, s), expected), expected.size()) << space;
  }
}

}  // namespace

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

// Every pass against its plain form; and on a uniform page, the page itself: window sums of
// the widest radius still fit 16 bits on a white page, one more takes 32.
TEST(ByteIdentity, BoxPassesOfEveryRadiusOnSmallPages) {
  using Pass = void (*)(const unsigned char *, unsigned char *, int, int, int);
  const std::pair<Pass, Pass> passes[] = {{boxBlurH_4, referenceBoxBlurH},
                                          {boxBlurT_4, referenceBoxBlurT},
                                          {boxBlur_4, referenceBoxBlur},
                                          {gaussBlur_4, referenceGaussBlur}};
  std::mt19937 rng(5);
  for (int w = 1; w <= 24; w += 3)
    for (int h = 1; h <= 24; h += 4)
      for (int r : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 127, 128, 129, 300})
        for (const auto &[fast, plain] : passes) {
          SCOPED_TRACE(testing::Message() << w << "x" << h << " r " << r << " pass " << &fast);
          Dots page(static_cast<size_t>(w) * h, (w + r) % 2 ? 255 : rng()), actual(page.size());
          fast(page.data(), actual.data(), w, h, r);
          EXPECT_EQ(actual, page);
          if (plain == referenceGaussBlur && r > 11) continue;  // the plain form would take long
          for (unsigned char &d : page) d = static_cast<unsigned char>(rng());
          Dots expected(page.size());
          plain(page.data(), expected.data(), w, h, r);
          fast(page.data(), actual.data(), w, h, r);
          EXPECT_EQ(expected, actual);
        }
}

// A mirror or a negative twice gives the page back; a sketch in place is the sketch, and the
// sketch of a uniform page is white (its blurred negative dodges every dot to white).
TEST(Effects, MirrorNegativeAndSketch) {
  std::mt19937 rng(9);
  for (int w : {1, 3, 8, 13})
    for (int h : {1, 5, 27}) {
      Dots page(static_cast<size_t>(w) * h), once(page.size()), twice(page.size());
      for (unsigned char &d : page) d = static_cast<unsigned char>(rng());
      referenceMirror(page.data(), twice.data(), w, h);
      mirror(page.data(), once.data(), w, h);
      EXPECT_EQ(once, twice) << w << "x" << h;
      mirror(once.data(), once.data(), w, h);
      EXPECT_EQ(once, page) << w << "x" << h;
      getReverseGray(page.data(), once.data(), w, h);
      for (size_t i = 0; i < page.size(); i++) ASSERT_EQ(once[i], 255 - page[i]) << i;
      referenceSketch(page.data(), twice.data(), w, h);
      once = page;
      sketch(once.data(), once.data(), w, h);
      EXPECT_EQ(once, twice) << w << "x" << h;
      std::fill(once.begin(), once.end(), page[0]);
      sketch(once.data(), once.data(), w, h);
      EXPECT_EQ(once, Dots(page.size(), 255)) << w << "x" << h;
    }
}

// The brightness offset saturates at the ends of the dot range, for offsets of any size.
TEST(Capture, LightMapSaturates) {
  for (int offset : {INT_MIN, -300, -255, -254, -1, 0, 1, 254, 255, 256, INT_MAX}) {
    unsigned char map[256];
    buildLightMap(offset, map);
    for (int v = 0; v < 256; v++)
      ASSERT_EQ(map[v], std::clamp<int64_t>(int64_t{v} + offset, 0, 255)) << offset << " " << v;
  }
}
