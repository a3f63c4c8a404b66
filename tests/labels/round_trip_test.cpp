// Every label language, encoded by the filter and decoded by the emulator, gives back the page:
// random and structured rows (runs, repeats, long blank stretches, zero tails, rows equal to
// the previous one or differing in a few far-apart bytes), rows of 1 to 1000 bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "label_decoders.h"
#include "label_job.h"

namespace {

// A page of width x height dots whose rows, packed, take one of several shapes; black dots are
// one of 0..128 and white ones one of 129..255, so that the packing threshold round-trips too.
std::vector<unsigned char> randomPage(std::mt19937 &rng, unsigned width, unsigned height) {
  const size_t n = (width + 7) / 8;
  std::vector<unsigned char> packed(n * height, 0), dots(size_t{width} * height);
  auto pick = [&](size_t limit) { return static_cast<size_t>(rng() % limit); };
  for (unsigned y = 0; y < height; y++) {
    unsigned char *row = &packed[y * n];
    const size_t shape = pick(7);  // 6: blank
    // The previous row again (2), or with a few bytes changed, far apart or in a cluster (3).
    if (y > 0 && (shape == 2 || shape == 3)) std::copy(row - n, row, row);
    for (size_t k = shape == 3 ? pick(12) : 0; k-- > 0;) row[pick(n)] ^= 1 + pick(255);
    if (shape == 3 && pick(2))
      for (size_t i = pick(n), end = std::min(n, i + 9 + pick(10)); i < end; i++) row[i] = ~row[i];
    // Noise (0), or a black start and a long zero tail (4).
    if (shape == 0 || shape == 4)
      for (size_t i = 0, end = shape ? pick(n + 1) / 4 : n; i < end; i++) row[i] = rng();
    // Runs of equal bytes, of equal hex digits and of single digits.
    for (size_t i = 0; shape == 1 && i < n;) {
      const unsigned char b = "\x00\xFF\x0F\xF0\x11\x80\x01"[pick(7)];
      for (size_t length = 1 + pick(pick(2) ? 8 : 300); length-- && i < n; i++) row[i] = b;
    }
    // A stretch of blank rows, long enough for several skips.
    if (shape == 5) y += pick(4) ? pick(20) : 250 + pick(400);
  }
  for (size_t i = 0; i < dots.size(); i++) {
    const size_t y = i / width, x = i % width;
    const bool black = packed[y * n + x / 8] & (0x80 >> (x % 8));
    dots[i] = black ? "\0\0\0\x4D\x80"[pick(5)] : "\xFF\xFF\xFF\x81\xC8"[pick(5)];
  }
  return dots;
}

unsigned randomWidth(std::mt19937 &rng) {
  // Row lengths that matter: 256 bytes and more (one-byte row length fields wrap), 1000 bytes
  // (four length digits), and small ones.
  static const unsigned kWidths[] = {1, 7, 8, 9, 2040, 2048, 2049, 2056, 7993, 8000};
  const unsigned pick = rng() % 3;
  return pick == 0 ? kWidths[rng() % 10] : 1 + rng() % (pick == 1 ? 800 : 8000);
}

// The decoded label shows the page's black dots and nothing else.
testing::AssertionResult samePicture(const emu::LabelPage &got, const cups_page_header2_t &h,
                                     const std::vector<unsigned char> &dots) {
  const int width = std::max<int>(got.width, h.cupsWidth);
  const int height = std::max<int>(got.height, h.cupsHeight);
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      const bool want =
          x < int(h.cupsWidth) && y < int(h.cupsHeight) && dots[size_t(y) * h.cupsWidth + x] <= 128;
      const bool black =
          x < got.width && y < got.height && got.dots[size_t(y) * got.width + x] == 0;
      if (want != black)
        return testing::AssertionFailure() << "dot (" << x << ", " << y << ") differs";
    }
  return testing::AssertionSuccess();
}

class LabelRoundTrip : public testing::TestWithParam<int> {};

TEST_P(LabelRoundTrip, DecodingTheStreamGivesBackEveryPage) {
  const int model = GetParam();
  // The decoded width is cupsWidth for CPCL and PCL, else the packed row's 8n dots; EPL page
  // mode's decoded height ends at the last black row.
  const bool widthIsRaster = model == 19 || model == 32, heightExact = model != 17;
  std::mt19937 rng(1234 + model);
  for (int job = 0; job < 60; job++) {
    LabelJob lj(model);
    std::vector<cups_page_header2_t> headers;
    std::vector<std::vector<unsigned char>> pages;
    // Model 20's stream has no row length: the decoder is told it, so one width per job.
    const unsigned jobWidth = randomWidth(rng);
    for (int p = 0, count = 1 + rng() % 3; p < count; p++) {
      // Some pages tall enough for blank stretches of several hundred rows between rows.
      const bool tall = rng() % 6 == 0 && (model != 20 || jobWidth <= 600);
      const unsigned width = model == 20 ? jobWidth : tall ? 1 + rng() % 600 : randomWidth(rng);
      const unsigned height = tall ? 300 + rng() % 600 : 1 + rng() % 40;
      lj.job.Page = p + 1;
      // The Dymo label length in dots is the page height at 72 dpi along the label.
      headers.push_back(rastertest::rasterHeader(width, height));
      headers.back().HWResolution[1] = 72;
      headers.back().PageSize[1] = height;
      pages.push_back(randomPage(rng, width, height));
      runLabel(lj, headers.back(), pages.back());
    }
    emu::LabelDecodeOptions options;
    options.rowBytes = static_cast<int>((jobWidth + 7) / 8);
    const emu::LabelDecodeResult out = emu::decodeLabelStream(model, lj.stream(), options);
    ASSERT_TRUE(out.ok) << "job " << job << ": " << out.error;
    ASSERT_EQ(out.pages.size(), pages.size()) << "job " << job;
    for (size_t p = 0; p < pages.size(); p++) {
      const emu::LabelPage &got = out.pages[p];
      const unsigned width = headers[p].cupsWidth, height = headers[p].cupsHeight;
      EXPECT_TRUE(got.printed);
      int wantWidth = widthIsRaster ? int(width) : int((width + 7) / 8 * 8);
      // A Dymo label without a row knows its row length only modulo 256 (ESC D has one byte).
      if (model == 0 &&
          std::all_of(pages[p].begin(), pages[p].end(), [](int d) { return d > 128; }))
        wantWidth %= 256 * 8;
      EXPECT_EQ(got.width, wantWidth);
      EXPECT_TRUE(heightExact ? got.height == int(height) : got.height <= int(height));
      ASSERT_TRUE(samePicture(got, headers[p], pages[p])) << "job " << job << ", page " << p;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllLanguages, LabelRoundTrip, testing::Values(0, 16, 17, 18, 19, 20, 32),
                         [](const testing::TestParamInfo<int> &info) {
                           return "Model" + std::to_string(info.param);
                         });

}  // namespace
