// Packing: bit order, the 128 boundary, bits past the row's end.
#include <gtest/gtest.h>

#include <random>

#include "page_builder.h"
#include "pipeline/packing.h"

TEST(Packing, FirstDotIsBitSevenAndPrintedDotsAreOnes) {
  Dots row = {0, 255, 255, 255, 255, 255, 255, 255};
  unsigned char out[1] = {0xEE};
  packRow(row.data(), 8, out);
  EXPECT_EQ(out[0], 0x80);
  Dots edge = {128, 129, 0, 255, 1, 200, 128, 127};
  packRow(edge.data(), 8, out);
  EXPECT_EQ(out[0], 0xAB);  // 1 0 1 0 1 0 1 1
}

TEST(Packing, TenDotsLeaveTheLastSixBitsClear) {
  Dots row(10, 0);
  unsigned char out[2] = {0, 0xFF};
  packRow(row.data(), 10, out);
  EXPECT_EQ(out[0], 0xFF);
  EXPECT_EQ(out[1], 0xC0);
}

TEST(Packing, AgreesWithDotByDotPackingAtEveryWidth) {
  std::mt19937 rng(10);
  for (int width = 1; width <= 70; width++) {
    Dots row(static_cast<size_t>(width));
    for (unsigned char &d : row) d = static_cast<unsigned char>(rng());
    std::vector<unsigned char> out((width + 7) / 8, 0x5A), expected((width + 7) / 8, 0);
    for (int x = 0; x < width; x++)
      if (row[x] <= 128) expected[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
    packRow(row.data(), width, out.data());
    EXPECT_EQ(out, expected) << width;
  }
}
