// Exact bytes of the label rows where a slip would still decode plausibly or go unnoticed:
// run-count boundaries, delta-row offsets, skip counts, row length digits.
#include <gtest/gtest.h>

#include <sstream>

#include "label_harness.h"
#include "support/capture.h"

namespace {

using Bytes = std::string;

Bytes bytes(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) b += static_cast<char>(v);
  return b;
}

// Rows given as packed bytes, sent through labelOutputLine as dots after labelStartPage;
// written() is what the rows wrote (the prologue cut off).
class RowRun {
 public:
  RowRun(int model, size_t n) : n_(n), header_(labelHeader(unsigned(8 * n), 1)) {
    ModelNumber = model;
    Page = 2;
    labelStartPage(nullptr, &header_);
    EXPECT_TRUE(allocateRowBuffer(header_.cupsBytesPerLine));
    prologue_ = io_.printer().size();
  }
  ~RowRun() {
    Buffer = nullptr;
    releaseRowBuffer();
    labelReleasePageBuffers();
  }
  RowRun &row(const Bytes &packed, int y = 0) {
    EXPECT_EQ(packed.size(), n_);
    dots_.assign(8 * n_, 255);
    for (size_t x = 0; x < 8 * n_; x++)
      if (static_cast<unsigned char>(packed[x / 8]) & (0x80 >> (x % 8))) dots_[x] = 0;
    Buffer = dots_.data();
    labelOutputLine(nullptr, &header_, y);
    return *this;
  }
  RowRun &blank(int count) {
    for (int i = 0; i < count; i++) row(Bytes(n_, '\0'));
    return *this;
  }
  Bytes written() { return io_.printer().substr(prologue_); }

 private:
  CapturedIO io_;
  size_t n_;
  cups_page_header2_t header_;
  size_t prologue_ = 0;
  std::vector<unsigned char> dots_;
};

TEST(ZplRuns, CountBytesAtTheirBoundaries) {
  // Pairs of a count and its code.
  std::istringstream cases(
      "1 5  2 H5  3 I5  19 Y5  20 g5  21 gG5  45 hK5  380 y5  399 yY5  400 z5  401 zG5  800 zz5  "
      "3999 zzzzzzzzzyY5  4000 zzzzzzzzzz5");
  int count;
  Bytes code;
  while (cases >> count >> code) {
    CapturedIO io;
    ZPLCompress('5', count);
    EXPECT_EQ(io.printer(), code) << count;
  }
  EXPECT_EQ(count, 4000);
}

TEST(ZplRows, TrailingZerosAndRepeats) {
  const std::pair<Bytes, Bytes> cases[] = {
      {bytes({0x0F, 0x00, 0x00}), "0F,"},  // even zero tail: a comma alone
      {bytes({0x00, 0x0F}), "I0F"},        // leading zeros are a run like any other
      {bytes({0xF0}), "F0"},               // one trailing zero is written plain
      {bytes({0xF0, 0x00}), "F0,"},        // odd zero tail: one zero, then the comma
      {bytes({0x00, 0x00}), ","},
      {bytes({0xFF, 0xFF, 0x12}), "JF12"},
      {Bytes(22, '\0') + bytes({0x01}) + Bytes(22, '\0'), "hK01,"},
  };
  for (const auto &[row, code] : cases) EXPECT_EQ(RowRun(18, row.size()).row(row).written(), code);
  RowRun twice(18, 2);
  const Bytes row = bytes({0xAB, 0x00});
  twice.row(row).row(row).row(row).blank(1).row(row);
  EXPECT_EQ(twice.written(), "AB,::,AB,");
}

TEST(PclRows, OffsetAndCountEncoding) {
  const Bytes x = "\x0A";  // the changed byte
  struct Case {
    size_t changedFrom, changedCount;
    Bytes code;
  };
  const Case cases[] = {{30, 1, bytes({0x1E}) + x},
                        {31, 1, bytes({0x1F, 0x00}) + x},
                        {285, 1, bytes({0x1F, 0xFE}) + x},
                        {286, 1, bytes({0x1F, 0xFF, 0x00}) + x},
                        {541, 1, bytes({0x1F, 0xFF, 0xFF, 0x00}) + x},
                        {3, 8, bytes({0xE3}) + Bytes(8, '\x0A')},
                        // Nine bytes from byte 0: a full piece of 8, then the ninth right after.
                        {0, 9, bytes({0xE0}) + Bytes(8, '\x0A') + bytes({0x00}) + x}};
  for (const Case &c : cases) {
    const Bytes seed(600, '\x55');
    Bytes line = seed;
    for (size_t i = 0; i < c.changedCount; i++) line[c.changedFrom + i] = '\x0A';
    unsigned char out[1200];
    size_t length =
        pclCodeDeltaRow(reinterpret_cast<const unsigned char *>(line.data()),
                        reinterpret_cast<const unsigned char *>(seed.data()), line.size(), out);
    EXPECT_EQ(Bytes(reinterpret_cast<char *>(out), length), c.code) << c.changedFrom;
  }
}

TEST(PclRows, SeedRowSkipsAndTheCommand) {
  RowRun run(32, 10);
  const Bytes row = bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  const Bytes coded = "\033*b12W" + bytes({0xE0, 1, 2, 3, 4, 5, 6, 7, 8, 0x20, 9, 10});
  run.row(row);           // no seed row: pieces of 8 with offset 0
  run.row(row);           // equal to the seed: no data
  run.blank(5).row(row);  // after a skip the seed row is gone again
  EXPECT_EQ(run.written(), coded + "\033*b0W\033*b5Y" + coded);
  run.blank(3);  // blank rows at the end of the page are never sent
  EXPECT_EQ(run.written(), coded + "\033*b0W\033*b5Y" + coded);
}

TEST(DymoRows, BlankRowsBecomeSkipsOfAtMost255) {
  const Bytes row = bytes({0x81, 0x00, 0x7E});
  const Bytes skip = bytes({0x1B, 'f', 1}), full = skip + bytes({0xFF});
  const std::pair<int, Bytes> cases[] = {{0, ""},
                                         {1, skip + bytes({1})},
                                         {255, full},
                                         {256, full + skip + bytes({1})},
                                         {510, full + full}};
  for (const auto &[blanks, skips] : cases)
    EXPECT_EQ(RowRun(0, 3).blank(blanks).row(row).written(), skips + "\x16" + row) << blanks;
}

// A blank row at y 4, then a row at y 5: which languages send blank rows, and how rows go out.
TEST(LabelRows, LineAndGraphicCommands) {
  const Bytes row50(50, '\x3C'), blank1000(1000, '\0');
  const struct {
    int model;
    Bytes row, want;
  } cases[] = {
      {16, "\x5A", Bytes("\033g001\0\033g001\x5A", 12)},
      {16, Bytes(1000, '\x01'), "\033g1000" + blank1000 + "\033g1000" + Bytes(1000, '\x01')},
      // Page-mode graphics print the 0 bits: the bytes go out complemented.
      {17, "\xFF" + row50.substr(1), Bytes("GW0,5,50,1\n\0", 12) + Bytes(49, '\xC3') + "\n"},
      {19, row50, "CG 50 1 0 5 " + row50 + "\r\n"}};
  for (const auto &c : cases) {
    RowRun run(c.model, c.row.size());
    EXPECT_EQ(run.row(Bytes(c.row.size(), '\0'), 4).row(c.row, 5).written(), c.want) << c.model;
  }
}

TEST(Model20Rows, InvertedBitsWithOnesPastTheRow) {
  CapturedIO io;
  ModelNumber = 20;
  cups_page_header2_t header = labelHeader(10, 1);
  labelStartPage(nullptr, &header);
  // Dots 0 and 9 printed (value 128 counts as printed, 129 does not).
  unsigned char dots[10] = {128, 129, 255, 255, 255, 255, 255, 255, 255, 0};
  Buffer = dots;
  labelOutputLine(nullptr, &header, 0);
  Buffer = nullptr;
  labelEndPage(nullptr, &header);
  EXPECT_EQ(io.printer(), bytes({0x7F, 0xBF}) + "\nPRINT 1,1\n");
}

}  // namespace
