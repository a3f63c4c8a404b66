// Exact bytes of the label rows where a slip would still decode plausibly or go unnoticed:
// run-count boundaries, trailing zeros, repeated rows, delta-row offsets, seed rows, skip
// counts, row length digits, complemented and inverted rows, the packing threshold. (The
// stream coders' cut to the page's row length never acts: the rows have that length.)
#include <gtest/gtest.h>

#include <sstream>

#include "label_job.h"

namespace {

using namespace std::string_literals;
using Bytes = std::string;

// count blank rows of row's length, then row, then a blank row (never sent where blank rows are
// counted: the page ends before they are needed).
std::vector<Bytes> afterBlanks(size_t count, const Bytes &row) {
  std::vector<Bytes> rows(count, Bytes(row.size(), '\0'));
  rows.push_back(row);
  rows.push_back(Bytes(row.size(), '\0'));
  return rows;
}

TEST(LabelRows, PagesOfPackedRows) {
  const Bytes ab = "\xAB\0"s, blank2(2, '\0'), row50(50, '\x3C'), ones(1000, '\x01');
  const Bytes ten = "\1\2\3\4\5\6\7\x08\x09\x0A"s, z(10, '\0');
  const Bytes pclTen = "\033*b12W\xE0\1\2\3\4\5\6\7\x08\x20\x09\x0A"s;
  const Bytes dymo = "\x81\0\x7E"s, skip = "\033f\1"s, full = "\033f\1\xFF"s;
  const struct {
    int model;
    std::vector<Bytes> rows;
    Bytes sent;
  } cases[] = {
      // ZPL: an even zero tail is a comma alone, an odd one a zero and the comma; leading zeros
      // are a run like any other; a row equal to the one before is ':'.
      {18, {"\x0F\0\0"s}, "0F,"},
      {18, {"\0\x0F"s}, "I0F"},
      {18, {"\xF0"s}, "F0"},
      {18, {"\xF0\0"s}, "F0,"},
      {18, {"\xFF\xFF\x12"s}, "JF12"},
      {18, {Bytes(22, '\0') + "\x01" + Bytes(22, '\0')}, "hK01,"},
      {18, {blank2, ab, ab, ab, blank2, blank2, ab}, ",AB,::,:AB,"},
      // PCL: without a seed row, pieces of 8 at offset 0; equal to the seed, no data; a skip
      // clears the seed row; blank rows at the page's end are never sent.
      {32, {ten, ten, z, z, z, z, z, ten, z, z}, pclTen + "\033*b0W\033*b5Y" + pclTen},
      // Dymo: blank rows become skips of at most 255 rows.
      {0, afterBlanks(0, dymo), "\x16" + dymo},
      {0, afterBlanks(1, dymo), skip + "\1" + "\x16" + dymo},
      {0, afterBlanks(254, dymo), skip + "\xFE" + "\x16" + dymo},
      {0, afterBlanks(255, dymo), full + "\x16" + dymo},
      {0, afterBlanks(256, dymo), full + skip + "\1" + "\x16" + dymo},
      {0, afterBlanks(510, dymo), full + full + "\x16" + dymo},
      // A blank row at y 0, then a row at y 1: the line mode sends both, with three or four
      // length digits; page-mode graphics print the 0 bits, so their bytes go out complemented;
      // model 20 sends the bits inverted (a printed dot is a 0 bit).
      {16, {"\0"s, "\x5A"}, "\033g001\0\033g001\x5A"s},
      {16, {Bytes(1000, '\0'), ones}, "\033g1000" + Bytes(1000, '\0') + "\033g1000" + ones},
      {17,
       {Bytes(50, '\0'), "\xFF" + row50.substr(1)},
       "GW0,1,50,1\n\0"s + Bytes(49, '\xC3') + "\n"},
      {19, {Bytes(50, '\0'), row50}, "CG 50 1 0 1 " + row50 + "\r\n"},
      {20, {blank2, "\x80\x01"}, "\xFF\xFF\x7F\xFE"},
  };
  for (const auto &c : cases) {
    LabelJob lj(c.model);
    EXPECT_EQ(runPackedRows(lj, c.rows).rows, c.sent) << c.model << " " << &c - cases;
  }
  // Dots of 128 and darker print, 129 and lighter do not; the pad columns of a row that is not
  // a whole number of bytes print nothing.
  LabelJob lj(20);
  const std::vector<unsigned char> dots = {128, 129, 255, 255, 255, 255, 255, 255, 255, 0};
  EXPECT_EQ(runLabel(lj, rastertest::rasterHeader(10, 1), dots).rows, "\x7F\xBF");
}

TEST(ZplRuns, CountsAtTheirBoundaries) {
  // Pairs of a count and its code; past 3599 the stream form sends whole 'z's first.
  std::istringstream cases(
      "1 5  2 H5  3 I5  19 Y5  20 g5  21 gG5  45 hK5  380 y5  399 yY5  400 z5  401 zG5  800 zz5  "
      "3599 zzzzzzzzyY5  3999 zzzzzzzzzyY5  4000 zzzzzzzzzz5");
  int count;
  Bytes code;
  while (cases >> count >> code) {
    LabelJob lj(18);
    ZPLCompress(lj.job, '5', count);
    EXPECT_EQ(lj.stream(), code) << count;
    if (count > 3599) continue;
    unsigned char out[16];
    EXPECT_EQ(Bytes(reinterpret_cast<char *>(out), zplCodeRun(out, '5', count) - out), code);
  }
  EXPECT_EQ(count, 4000);
}

TEST(PclRows, OffsetAndCountEncoding) {
  const struct {
    size_t changedFrom, changedCount;  // bytes changed to '\n' from a seed of 600 bytes
    Bytes code;
  } cases[] = {{30, 1, "\x1E\n"},
               {31, 1, "\x1F\0\n"s},
               {285, 1, "\x1F\xFE\n"},
               {286, 1, "\x1F\xFF\0\n"s},
               {541, 1, "\x1F\xFF\xFF\0\n"s},
               {3, 8, "\xE3\n\n\n\n\n\n\n\n"},
               {592, 8, "\xFF\xFF\xFF\x33\n\n\n\n\n\n\n\n"},
               // Nine bytes from byte 0: a full piece of 8, then the ninth right after.
               {0, 9, "\xE0\n\n\n\n\n\n\n\n\0\n"s}};
  const Bytes seed(600, '\x55');
  for (const auto &c : cases) {
    Bytes line = seed;
    line.replace(c.changedFrom, c.changedCount, c.changedCount, '\n');
    unsigned char out[1200];
    const size_t length =
        pclCodeDeltaRow(reinterpret_cast<const unsigned char *>(line.data()),
                        reinterpret_cast<const unsigned char *>(seed.data()), line.size(), out);
    EXPECT_EQ(Bytes(reinterpret_cast<char *>(out), length), c.code) << c.changedFrom;
  }
  // The stream coder codes at most the page's row length.
}

}  // namespace
