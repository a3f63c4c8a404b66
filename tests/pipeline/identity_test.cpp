// The fast steps against their plain forms, byte for byte, on random pages: every size from 1
// to 21 dots wide and high (narrower than the sketch's blur windows), larger pages, short
// rasters, noise and documents, all levels, offsets and effect combinations; the box passes,
// the diffusion's errors, the packing, and gray rasters against their RGB twins.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "page_builder.h"
#include "pipeline/effects.h"
#include "pipeline/packing.h"
#include "pipeline/tone.h"
#include "reference.h"

namespace {

// Random pages: noise, or a document (white with black text blocks and gray patches) whose
// large uniform areas take the fast paths of the diffusion.
std::vector<Dots> noiseRows(std::mt19937 &rng, int width, int height) {
  std::vector<Dots> rows(static_cast<size_t>(height), Dots(3 * static_cast<size_t>(width)));
  for (Dots &row : rows)
    for (unsigned char &c : row) c = static_cast<unsigned char>(rng());
  return rows;
}

std::vector<Dots> documentRows(std::mt19937 &rng, int width, int height) {
  std::vector<Dots> rows = uniformRows(width, height, 255, 255, 255);
  int blocks = 1 + (width * height) / 400;
  for (int b = 0; b < blocks; b++) {
    int x0 = static_cast<int>(rng() % width), y0 = static_cast<int>(rng() % height);
    int bw = 1 + static_cast<int>(rng() % 12), bh = 1 + static_cast<int>(rng() % 6);
    unsigned char v = rng() % 3 == 0 ? static_cast<unsigned char>(rng()) : 0;
    for (int y = y0; y < std::min(height, y0 + bh); y++)
      for (int x = x0; x < std::min(width, x0 + bw); x++)
        for (int c = 0; c < 3; c++) rows[y][3 * x + c] = v;
  }
  return rows;
}

std::vector<Dots> randomRows(std::mt19937 &rng, int width, int height) {
  return rng() % 2 ? noiseRows(rng, width, height) : documentRows(rng, width, height);
}

ImageSettings randomSettings(std::mt19937 &rng) {
  ImageSettings s;
  s.gray = rng() % 2;
  s.blacklevel = static_cast<int>(rng() % 9);  // 0 and 8 lie outside the table
  s.graylevel = static_cast<int>(rng() % 9);
  s.lightOffset = static_cast<int>(rng() % 121) - 60;
  s.mirrorPrint = rng() % 2;
  s.sketchPrint = rng() % 3 == 0;
  return s;
}

void expectSamePage(int width, int height, const std::vector<Dots> &rows, const ImageSettings &s) {
  Dots expected = referenceTonedPage(rows, width, height, s);
  Dots actual = tonedPage(rgbHeader(width, height), rows, s);
  ASSERT_EQ(expected.size(), actual.size());
  size_t firstDiff = 0;
  while (firstDiff < expected.size() && expected[firstDiff] == actual[firstDiff]) firstDiff++;
  EXPECT_EQ(firstDiff, expected.size())
      << width << "x" << height << " rows " << rows.size() << " gray " << s.gray << " levels "
      << s.blacklevel << "/" << s.graylevel << " offset " << s.lightOffset << " mirror "
      << s.mirrorPrint << " sketch " << s.sketchPrint << ": first difference at dot " << firstDiff;
}

}  // namespace

TEST(ByteIdentity, NarrowAndShortPagesInEveryMode) {
  std::mt19937 rng(1);
  for (int width = 1; width <= 21; width++)
    for (int height = 1; height <= 21; height += (height < 4 ? 1 : 5))
      for (int mode = 0; mode < 8; mode++) {
        ImageSettings s = randomSettings(rng);
        s.gray = mode & 1;
        s.mirrorPrint = (mode >> 1) & 1;
        s.sketchPrint = (mode >> 2) & 1;
        expectSamePage(width, height, randomRows(rng, width, height), s);
      }
}

// Every fourth raster is cut short: the rows that never arrive stay white.
TEST(ByteIdentity, RandomPagesOfManySizesSomeCutShort) {
  std::mt19937 rng(2);
  for (int round = 0; round < 80; round++) {
    int width = 1 + static_cast<int>(rng() % 120), height = 1 + static_cast<int>(rng() % 90);
    auto rows = randomRows(rng, width, height);
    if (round % 4 == 3) rows.resize(rng() % height);
    expectSamePage(width, height, rows, randomSettings(rng));
  }
}

TEST(ByteIdentity, LargerPagesWithDiffusionAndSketch) {
  std::mt19937 rng(3);
  for (bool sketchToo : {false, true}) {
    ImageSettings s;
    s.gray = 1;
    s.sketchPrint = sketchToo;
    expectSamePage(403, 297, noiseRows(rng, 403, 297), s);
    expectSamePage(331, 211, documentRows(rng, 331, 211), s);
  }
}

TEST(ByteIdentity, BoxPassesOfEveryRadiusOnSmallPages) {
  std::mt19937 rng(5);
  for (int w = 1; w <= 24; w += 3)
    for (int h = 1; h <= 24; h += 4)
      for (int r : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 127, 128}) {
        Dots page(static_cast<size_t>(w) * h);
        for (unsigned char &d : page) d = static_cast<unsigned char>(rng());
        Dots expectedH(page.size()), expectedT(page.size()), actual(page.size());
        referenceBoxBlurH(page.data(), expectedH.data(), w, h, r);
        boxBlurH_4(page.data(), actual.data(), w, h, r);
        EXPECT_EQ(expectedH, actual) << "horizontal " << w << "x" << h << " r " << r;
        referenceBoxBlurT(page.data(), expectedT.data(), w, h, r);
        boxBlurT_4(page.data(), actual.data(), w, h, r);
        EXPECT_EQ(expectedT, actual) << "vertical " << w << "x" << h << " r " << r;
        if (r > 11) continue;  // sigma 128 would take long in the plain form
        Dots expectedGauss(page.size());
        referenceGaussBlur(page.data(), expectedGauss.data(), w, h, r);
        gaussBlur_4(page.data(), actual.data(), w, h, r);
        EXPECT_EQ(expectedGauss, actual) << "gaussian " << w << "x" << h << " sigma " << r;
      }
}

// The page bytes only show an error that flips a dot; the gathered errors show every bit.
TEST(ByteIdentity, DiffusionErrorsMatchBitForBit) {
  std::mt19937 rng(6);
  for (int nw : {8, 16, 64, 200, 1, 3, 4, 5})
    for (int kind = 0; kind < 3; kind++) {
      const int height = 40;
      Dots rs(static_cast<size_t>(nw) * height);
      for (unsigned char &d : rs) {
        unsigned v = rng();
        d = kind == 0   ? static_cast<unsigned char>(v)                       // noise
            : kind == 1 ? (v % 5 ? 255 : static_cast<unsigned char>(v >> 8))  // sparse
                        : static_cast<unsigned char>(120 + v % 16);           // mid gray
      }
      Dots fast = rs;
      std::vector<double> flo(rs.size(), 0.0);
      StuckiDiffusion diffusion(nw);
      for (int y = 0; y < height; y++) {
        referenceDiffuseRow(rs, flo, nw, height, y);
        diffusion.diffuseRow(fast.data() + static_cast<size_t>(y) * nw);
        if (y % 5 == 2) diffusion.finish();  // a row alone now and then, pairs otherwise
        if (y % 5 != 2 && y % 5 != 1 && y % 5 != 4) continue;  // a row still queued
        for (int below = 1; below <= 2 && y + below < height; below++)
          ASSERT_EQ(
              0, std::memcmp(diffusion.pendingErrors(below),
                             flo.data() + static_cast<size_t>(y + below) * nw, sizeof(double) * nw))
              << "width " << nw << " kind " << kind << " row " << y << " below " << below;
      }
      EXPECT_EQ(rs, fast);
    }
}

// The first dot is bit 7, a dot of 128 or darker is a one, bits past the row's end stay clear.
TEST(ByteIdentity, PackingAgreesWithDotByDotPackingAtEveryWidth) {
  std::mt19937 rng(10);
  for (int width = 1; width <= 70; width++) {
    Dots row(static_cast<size_t>(width));
    for (unsigned char &d : row) d = static_cast<unsigned char>(rng());
    row[0] = 128;
    row[width - 1] = width > 1 ? 129 : 128;
    std::vector<unsigned char> out((width + 7) / 8, 0x5A), expected((width + 7) / 8, 0);
    for (int x = 0; x < width; x++)
      if (row[x] <= 128) expected[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
    packRow(row.data(), width, out.data());
    EXPECT_EQ(out, expected) << width;
  }
}

TEST(ByteIdentity, GrayRastersMatchTheirRgbTwinInEveryMode) {
  std::mt19937 rng(8);
  const int width = 29, height = 23;
  std::vector<Dots> rgb(height), white(height, Dots(width)), black(height, Dots(width));
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      unsigned char v = static_cast<unsigned char>(rng());
      white[y][x] = v;
      black[y][x] = static_cast<unsigned char>(255 - v);
      rgb[y].insert(rgb[y].end(), {v, v, v});
    }
  for (int mode = 0; mode < 4; mode++) {
    ImageSettings s;
    s.gray = mode & 1;
    s.sketchPrint = mode >> 1;
    s.lightOffset = 19 * mode - 40;
    Dots expected = tonedPage(rgbHeader(width, height), rgb, s);
    for (cups_cspace_t space : {CUPS_CSPACE_W, CUPS_CSPACE_SW, CUPS_CSPACE_K}) {
      cups_page_header2_t h = rgbHeader(width, height);
      h.cupsColorSpace = space;
      h.cupsBitsPerPixel = 8;
      h.cupsBytesPerLine = width;
      EXPECT_EQ(tonedPage(h, space == CUPS_CSPACE_K ? black : white, s), expected)
          << "space " << space << " mode " << mode;
    }
  }
}
