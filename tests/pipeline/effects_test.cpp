// Effects: mirror, box blur, box widths, colour dodge and sketch on worked examples.
#include <gtest/gtest.h>

#include <random>

#include "page_builder.h"
#include "pipeline/effects.h"

TEST(Mirror, ReversesRowsAndTwiceIsIdentity) {
  Dots row = {0, 255, 255, 255, 255, 255, 255, 255}, out(8);
  mirror(row.data(), out.data(), 8, 1);
  EXPECT_EQ(out, Dots({255, 255, 255, 255, 255, 255, 255, 0}));
  std::mt19937 rng(9);
  Dots page(13 * 5);
  for (unsigned char &d : page) d = static_cast<unsigned char>(rng());
  Dots once(page.size()), twice = page;
  mirror(page.data(), once.data(), 13, 5);
  EXPECT_NE(once, page);
  EXPECT_EQ(once[0], page[12]);
  mirror(twice.data(), twice.data(), 13, 5);  // in place
  EXPECT_EQ(twice, once);
  mirror(once.data(), once.data(), 13, 5);
  EXPECT_EQ(once, page);
}

TEST(BoxBlur, UniformPageStaysTheSame) {
  for (int w : {1, 7, 30})
    for (int r : {0, 1, 9, 10}) {
      Dots page(static_cast<size_t>(w) * 25, 173), out(page.size());
      boxBlur_4(page.data(), out.data(), w, 25, r);
      EXPECT_EQ(out, page) << w << " " << r;
      gaussBlur_4(page.data(), out.data(), w, 25, 10);
      EXPECT_EQ(out, page) << w;
    }
}

TEST(BoxBlur, EdgeValueStandsInBeyondTheRow) {
  Dots row = {0, 255, 255, 255, 255}, out(5);
  boxBlurH_4(row.data(), out.data(), 5, 1, 1);
  EXPECT_EQ(out, Dots({85, 170, 255, 255, 255}));
  boxBlurT_4(row.data(), out.data(), 1, 5, 1);  // the same along a column
  EXPECT_EQ(out, Dots({85, 170, 255, 255, 255}));
  Dots narrow = {0, 255}, blurred(2);  // narrower than the window: clamped neighbours
  boxBlurH_4(narrow.data(), blurred.data(), 2, 1, 2);
  EXPECT_EQ(blurred, Dots({102, 153}));  // (3 × 0 + 2 × 255) / 5, (2 × 0 + 3 × 255) / 5
  boxBlurH_4(narrow.data(), narrow.data(), 2, 1, 2);  // in place
  EXPECT_EQ(narrow, blurred);
}

TEST(BoxBlur, BoxWidthsForTheSketch) {
  EXPECT_EQ(boxesForGauss(10, 3), std::vector<int>({19, 19, 21}));
  EXPECT_EQ(boxesForGauss(1, 3), std::vector<int>({1, 1, 3}));
}

TEST(ColorDodge, WorkedExamples) {
  EXPECT_EQ(colorDodge(100, 155), 255);  // 100 + 15500 / 100
  EXPECT_EQ(colorDodge(100, 55), 127);   // 100 + 5500 / 200
  EXPECT_EQ(colorDodge(0, 254), 0);
  for (unsigned s : {0u, 1u, 128u, 255u}) EXPECT_EQ(colorDodge(s, 255), 255);
  Dots src = {100, 100, 7}, blur = {155, 55, 255}, out(3);
  ColorDodgeBlendMerge2(src.data(), blur.data(), out.data(), 3, 1);
  EXPECT_EQ(out, Dots({255, 127, 255}));
}

TEST(Sketch, WhiteAndBlackPagesComeOutWhiteAndADotStaysBlack) {
  const int w = 40, h = 30;
  Dots white(w * h, 255), black(w * h, 0), out(w * h);
  sketch(white.data(), out.data(), w, h);
  EXPECT_EQ(out, white);
  sketch(black.data(), out.data(), w, h);  // blurred negative 255 everywhere: white
  EXPECT_EQ(out, white);
  Dots dot = white;
  dot[15 * w + 20] = 0;
  sketch(dot.data(), out.data(), w, h);
  EXPECT_EQ(out, dot);
  Dots inPlace = dot;
  sketch(inPlace.data(), inPlace.data(), w, h);
  EXPECT_EQ(inPlace, dot);
}

TEST(Sketch, EdgesStayDarkAndFlatGrayTurnsLight) {
  const int w = 60, h = 20;
  Dots page(w * h, 255), out(w * h);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w / 2; x++) page[y * w + x] = 100;
  sketch(page.data(), out.data(), w, h);
  EXPECT_EQ(out[10 * w + 0], 255);          // deep inside the gray: negative dominates
  EXPECT_LT(out[10 * w + w / 2 - 1], 200);  // next to the edge: stays darker
  EXPECT_EQ(out[10 * w + w - 1], 255);      // white stays white
}
