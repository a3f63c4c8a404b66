// The fast steps against their plain forms, byte for byte, on random pages: every size from 1
// to 21 dots wide and high (narrower than the sketch's blur windows), larger pages, noise and
// documents, all levels, offsets and effect combinations.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "page_builder.h"
#include "pipeline/effects.h"
#include "pipeline/tone.h"
#include "reference.h"

namespace {

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
      << width << "x" << height << " gray " << s.gray << " levels " << s.blacklevel << "/"
      << s.graylevel << " offset " << s.lightOffset << " mirror " << s.mirrorPrint << " sketch "
      << s.sketchPrint << ": first difference at dot " << firstDiff;
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
        auto rows = rng() % 2 ? noiseRows(rng, width, height) : documentRows(rng, width, height);
        expectSamePage(width, height, rows, s);
      }
}

TEST(ByteIdentity, RandomPagesOfManySizes) {
  std::mt19937 rng(2);
  for (int round = 0; round < 60; round++) {
    int width = 1 + static_cast<int>(rng() % 120), height = 1 + static_cast<int>(rng() % 90);
    auto rows = round % 2 ? noiseRows(rng, width, height) : documentRows(rng, width, height);
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

TEST(ByteIdentity, ShortRasterLeavesWhiteRows) {
  std::mt19937 rng(4);
  auto rows = noiseRows(rng, 37, 9);  // 9 of 30 rows arrive
  for (int gray = 0; gray < 2; gray++) {
    ImageSettings s;
    s.gray = gray;
    s.sketchPrint = gray;
    expectSamePage(37, 30, rows, s);
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
