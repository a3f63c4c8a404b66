// Exact bytes of the label rows where a slip would still decode plausibly or go unnoticed:
// run-count boundaries, delta-row offsets, skip counts, row length digits.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/job.h"
#include "label_harness.h"
#include "labels/labels.h"
#include "support/capture.h"
#include "thermal/page_setup.h"

namespace {

using Bytes = std::string;

Bytes bytes(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) b += static_cast<char>(v);
  return b;
}

// Rows given as packed bytes, sent through labelOutputLine as dots after labelStartPage;
// returns what the rows wrote (the prologue cut off).
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
  struct Case {
    int count;
    Bytes code;
  };
  const Case cases[] = {
      {1, "5"},
      {2, "H5"},
      {3, "I5"},
      {19, "Y5"},
      {20, "g5"},
      {21, "gG5"},
      {45, "hK5"},
      {380, "y5"},
      {399, "yY5"},
      {400, "z5"},
      {401, "zG5"},
      {800, "zz5"},
      {3999, "zzzzzzzzzyY5"},
      {4000, "zzzzzzzzzz5"},
  };
  for (const Case &c : cases) {
    CapturedIO io;
    ZPLCompress('5', c.count);
    EXPECT_EQ(io.printer(), c.code) << c.count;
  }
}

TEST(ZplRows, TrailingZerosAndRepeats) {
  struct Case {
    Bytes row;
    Bytes code;
  };
  const Case cases[] = {
      {bytes({0x0F, 0x00, 0x00}), "0F,"},  // even zero tail: a comma alone
      {bytes({0x00, 0x0F}), "I0F"},        // leading zeros are a run like any other
      {bytes({0xF0}), "F0"},               // one trailing zero is written plain
      {bytes({0xF0, 0x00}), "F0,"},        // odd zero tail: one zero, then the comma
      {bytes({0x00, 0x00}), ","},
      {bytes({0xFF, 0xFF, 0x12}), "JF12"},
      {Bytes(22, '\0') + bytes({0x01}) + Bytes(22, '\0'), "hK01,"},
  };
  for (const Case &c : cases) {
    RowRun run(18, c.row.size());
    run.row(c.row);
    EXPECT_EQ(run.written(), c.code);
  }
  RowRun twice(18, 2);
  twice.row(bytes({0xAB, 0x00})).row(bytes({0xAB, 0x00})).row(bytes({0xAB, 0x00}));
  twice.row(bytes({0x00, 0x00})).row(bytes({0xAB, 0x00}));
  EXPECT_EQ(twice.written(), "AB,::,AB,");
}

TEST(PclRows, OffsetAndCountEncoding) {
  struct Case {
    const char *what;
    size_t changedFrom;
    size_t changedCount;
    Bytes code;  // without the replacement bytes
  };
  const Case cases[] = {
      {"byte 30", 30, 1, bytes({0x1E})},
      {"byte 31", 31, 1, bytes({0x1F, 0x00})},
      {"byte 40", 40, 1, bytes({0x1F, 0x09})},
      {"byte 285", 285, 1, bytes({0x1F, 0xFE})},
      {"byte 286", 286, 1, bytes({0x1F, 0xFF, 0x00})},
      {"byte 541", 541, 1, bytes({0x1F, 0xFF, 0xFF, 0x00})},
      {"bytes 3 to 10", 3, 8, bytes({0xE3})},
  };
  for (const Case &c : cases) {
    Bytes seed(600, '\x55');
    Bytes line = seed;
    for (size_t i = 0; i < c.changedCount; i++) line[c.changedFrom + i] = '\x0A';
    unsigned char out[1200];
    size_t length =
        pclCodeDeltaRow(reinterpret_cast<const unsigned char *>(line.data()),
                        reinterpret_cast<const unsigned char *>(seed.data()), line.size(), out);
    EXPECT_EQ(Bytes(reinterpret_cast<char *>(out), length), c.code + Bytes(c.changedCount, '\x0A'))
        << c.what;
  }
  // Nine changed bytes from byte 0: a full piece of 8, then the ninth right after it.
  Bytes seed(20, '\0'), line = seed;
  for (int i = 0; i < 9; i++) line[i] = static_cast<char>(i + 1);
  unsigned char out[40];
  size_t length = pclCodeDeltaRow(reinterpret_cast<const unsigned char *>(line.data()),
                                  reinterpret_cast<const unsigned char *>(seed.data()), 20, out);
  EXPECT_EQ(Bytes(reinterpret_cast<char *>(out), length),
            bytes({0xE0, 1, 2, 3, 4, 5, 6, 7, 8, 0x00, 9}));
}

TEST(PclRows, SeedRowSkipsAndTheCommand) {
  RowRun run(32, 10);
  const Bytes row = bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  run.row(row);           // no seed row: pieces of 8 with offset 0
  run.row(row);           // equal to the seed: no data
  run.blank(5).row(row);  // after a skip the seed row is gone again
  EXPECT_EQ(run.written(), "\x1B*b12W" + bytes({0xE0, 1, 2, 3, 4, 5, 6, 7, 8, 0x20, 9, 10}) +
                               "\x1B*b0W" + "\x1B*b5Y" + "\x1B*b12W" +
                               bytes({0xE0, 1, 2, 3, 4, 5, 6, 7, 8, 0x20, 9, 10}));
  // Blank rows at the end of the page are never sent.
  const Bytes sent = run.written();
  run.blank(3);
  EXPECT_EQ(run.written(), sent);
}

TEST(DymoRows, BlankRowsBecomeSkipsOfAtMost255) {
  const Bytes row = bytes({0x81, 0x00, 0x7E});
  struct Case {
    int blanks;
    Bytes skips;
  };
  const Case cases[] = {
      {0, ""},
      {1, bytes({0x1B, 'f', 1, 1})},
      {255, bytes({0x1B, 'f', 1, 0xFF})},
      {256, bytes({0x1B, 'f', 1, 0xFF, 0x1B, 'f', 1, 0x01})},
      {300, bytes({0x1B, 'f', 1, 0xFF, 0x1B, 'f', 1, 0x2D})},
      {510, bytes({0x1B, 'f', 1, 0xFF, 0x1B, 'f', 1, 0xFF})},
  };
  for (const Case &c : cases) {
    RowRun run(0, 3);
    run.blank(c.blanks).row(row);
    EXPECT_EQ(run.written(), c.skips + "\x16" + row) << c.blanks;
  }
}

TEST(EplRows, LineModeLengthDigits) {
  for (size_t n : {1, 8, 999, 1000}) {
    RowRun run(16, n);
    Bytes row(n, '\0');
    run.row(row);  // blank rows go out like any other
    EXPECT_EQ(run.written(), "\x1Bg" +
                                 (n < 10    ? "00" + std::to_string(n)
                                  : n < 100 ? "0" + std::to_string(n)
                                            : std::to_string(n)) +
                                 row);
  }
}

TEST(EplRows, PageModeGraphicIsComplemented) {
  RowRun run(17, 50);
  Bytes row(50, '\x0F');
  row[0] = '\xFF';
  run.row(Bytes(50, '\0'), 4).row(row, 5);
  Bytes complement(50, '\xF0');
  complement[0] = '\0';
  EXPECT_EQ(run.written(), "GW0,5,50,1\n" + complement + "\n");
}

TEST(CpclRows, GraphicPerNonBlankRow) {
  RowRun run(19, 50);
  Bytes row(50, '\x3C');
  run.row(Bytes(50, '\0'), 4).row(row, 5);
  EXPECT_EQ(run.written(), "CG 50 1 0 5 " + row + "\r\n");
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
  EXPECT_EQ(io.printer(), bytes({0x7F, 0xBF}));
  labelEndPage(nullptr, &header);
  EXPECT_EQ(io.printer(), bytes({0x7F, 0xBF}) + "\nPRINT 1,1\n");
}

}  // namespace
