// Every label language, encoded by the filter and decoded by the emulator, gives back the page:
// random and structured rows (runs, repeats, long blank stretches, zero tails, rows equal to
// the previous one or differing in a few far-apart bytes), rows of 1 to 1000 bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "label_decoders.h"
#include "label_harness.h"
#include "support/capture.h"

namespace {

// The rows of a page as packed bytes (bit 7 the leftmost dot, 1 black), built row by row in
// one of several shapes.
std::vector<unsigned char> randomPackedPage(std::mt19937 &rng, size_t n, unsigned height) {
  std::vector<unsigned char> bytes(n * height, 0);
  auto pick = [&](unsigned limit) { return static_cast<unsigned>(rng() % limit); };
  for (unsigned y = 0; y < height; y++) {
    unsigned char *row = &bytes[y * n];
    const unsigned char *previous = y ? row - n : nullptr;
    switch (pick(8)) {
      case 0:  // noise
        for (size_t i = 0; i < n; i++) row[i] = static_cast<unsigned char>(rng());
        break;
      case 1: {  // runs of equal bytes, of equal hex digits, and of single digits
        static const unsigned char kRunBytes[] = {0x00, 0xFF, 0x0F, 0xF0, 0x11, 0x80, 0x01};
        for (size_t i = 0; i < n;) {
          size_t length = 1 + pick(pick(2) ? 8 : 300);
          unsigned char b = kRunBytes[pick(sizeof kRunBytes)];
          for (; length-- && i < n; i++) row[i] = b;
        }
        break;
      }
      case 2:  // the previous row again
        if (previous) std::copy(previous, previous + n, row);
        break;
      case 3:  // blank
        break;
      case 4:  // the previous row with a few bytes changed, far apart or in a cluster
        if (previous) std::copy(previous, previous + n, row);
        for (unsigned k = pick(12); k-- > 0;) row[pick(static_cast<unsigned>(n))] ^= 1 + pick(255);
        if (pick(2)) {
          size_t at = pick(static_cast<unsigned>(n));
          for (size_t i = at; i < n && i < at + 9 + pick(10); i++) row[i] = ~row[i];
        }
        break;
      case 5: {  // a black start and a long zero tail
        size_t prefix = pick(static_cast<unsigned>(n) + 1) / 4;
        for (size_t i = 0; i < prefix; i++) row[i] = static_cast<unsigned char>(rng());
        break;
      }
      case 6:  // one dot
        row[pick(static_cast<unsigned>(n))] = static_cast<unsigned char>(0x80 >> pick(8));
        break;
      default:  // a stretch of blank rows, long enough for several skips
        y += pick(4) ? pick(20) : 250 + pick(400);
        break;
    }
  }
  return bytes;
}

// Dots of the packed page: black as one of 0..128, white as one of 129..255, so that the
// packing threshold is part of what round-trips. Bits past the width are dropped.
DotPage toDots(std::mt19937 &rng, const std::vector<unsigned char> &packed, size_t n,
               unsigned width, unsigned height) {
  static const unsigned char kBlack[] = {0, 0, 0, 77, 128};
  static const unsigned char kWhite[] = {255, 255, 255, 129, 200};
  DotPage page{width, height, std::vector<unsigned char>(size_t(width) * height)};
  for (unsigned y = 0; y < height; y++)
    for (unsigned x = 0; x < width; x++) {
      bool black = packed[y * n + x / 8] & (0x80 >> (x % 8));
      page.dots[size_t(y) * width + x] = black ? kBlack[rng() % 5] : kWhite[rng() % 5];
    }
  return page;
}

unsigned randomWidth(std::mt19937 &rng) {
  // Row lengths that matter: 256 bytes and more (one-byte row length fields wrap), 1000 bytes
  // (four length digits), and small ones.
  static const unsigned kWidths[] = {1, 7, 8, 9, 2040, 2048, 2049, 2056, 7993, 8000};
  const unsigned pick = rng() % 3;
  return pick == 0 ? kWidths[rng() % 10] : 1 + rng() % (pick == 1 ? 800 : 8000);
}

testing::AssertionResult samePicture(const emu::LabelPage &decoded, const DotPage &page) {
  const int width = std::max<int>(decoded.width, page.width);
  const int height = std::max<int>(decoded.height, page.height);
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      bool want = x < int(page.width) && y < int(page.height) &&
                  page.dots[size_t(y) * page.width + x] <= 128;
      bool got = x < decoded.width && y < decoded.height &&
                 decoded.dots[size_t(y) * decoded.width + x] == 0;
      if (want != got)
        return testing::AssertionFailure()
               << "dot (" << x << ", " << y << ") is " << (got ? "black" : "white");
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
  Ppd ppd = labelPpd();
  ModelNumber = model;
  Canceled = 0;
  for (int job = 0; job < 60; job++) {
    CapturedIO io;
    io.printer() = jobLevelBytes(model);
    std::vector<DotPage> pages;
    // Model 20's stream has no row length: the decoder is told it, so one width per job.
    const unsigned jobWidth = randomWidth(rng);
    for (int p = 0, count = 1 + rng() % 3; p < count; p++) {
      // Some pages tall enough for blank stretches of several hundred rows between rows.
      const bool tall = rng() % 6 == 0 && (model != 20 || jobWidth <= 600);
      const unsigned width = model == 20 ? jobWidth : tall ? 1 + rng() % 600 : randomWidth(rng);
      const unsigned height = tall ? 300 + rng() % 600 : 1 + rng() % 40;
      const size_t n = (width + 7) / 8;
      pages.push_back(toDots(rng, randomPackedPage(rng, n, height), n, width, height));
      Page = p + 1;
      cups_page_header2_t header = labelHeader(width, height);
      // The Dymo label length in dots is the page height at 72 dpi along the label.
      header.HWResolution[1] = 72;
      header.PageSize[1] = height;
      runLabelPage(ppd.get(), header, pages.back());
    }
    emu::LabelDecodeOptions options;
    options.rowBytes = static_cast<int>((jobWidth + 7) / 8);
    emu::LabelDecodeResult result = emu::decodeLabelStream(model, io.printer(), options);
    ASSERT_TRUE(result.ok) << "job " << job << ": " << result.error;
    ASSERT_EQ(result.pages.size(), pages.size()) << "job " << job;
    for (size_t p = 0; p < pages.size(); p++) {
      const emu::LabelPage &got = result.pages[p];
      const DotPage &want = pages[p];
      EXPECT_TRUE(got.printed);
      int width = widthIsRaster ? int(want.width) : int((want.width + 7) / 8 * 8);
      // A Dymo label without a row knows its row length only modulo 256 (ESC D has one byte).
      if (model == 0 &&
          std::all_of(want.dots.begin(), want.dots.end(), [](unsigned char d) { return d > 128; }))
        width %= 256 * 8;
      EXPECT_EQ(got.width, width);
      if (heightExact)
        EXPECT_EQ(got.height, int(want.height));
      else
        EXPECT_LE(got.height, int(want.height));
      ASSERT_TRUE(samePicture(got, want)) << "job " << job << ", page " << p;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllLanguages, LabelRoundTrip, testing::Values(0, 16, 17, 18, 19, 20, 32),
                         [](const testing::TestParamInfo<int> &info) {
                           return "Model" + std::to_string(info.param);
                         });

}  // namespace
