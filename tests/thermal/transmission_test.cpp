// Bitmap transmission: LZO frames that decompress to their blocks, the bitmap command bytes and
// the pages it refuses, drained 1024-byte pieces, the filler, and cancellation. (Compression,
// paper commands and the waits after a page per model are in the end-to-end streams.)
#include "thermal/transmission.h"

#include <gtest/gtest.h>
#include <lzo/lzo1x.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "support/test_job.h"

namespace {

using Queries = std::vector<unsigned char>;
const std::string kFiller(2048, '\0');
const std::string kOff = bytes({0x1F, 0x11, 0x35, 0x00});
const std::string kOn = bytes({0x1F, 0x11, 0x35, 0x01});

// Half runs of white and black, half noise: compressible but not trivially.
std::vector<unsigned char> pageBits(size_t size, unsigned seed = 1) {
  std::vector<unsigned char> v(size);
  std::mt19937 rng(seed);
  for (size_t i = 0; i < size; i++) v[i] = (i / 512) % 2 ? static_cast<unsigned char>(rng()) : 0;
  return v;
}

// Splits a compressed stream into frames and decompresses each; fails the test on any flaw.
std::vector<std::vector<unsigned char>> decodeFrames(const unsigned char *data, size_t size) {
  std::vector<std::vector<unsigned char>> blocks;
  size_t i = 0;
  while (i < size) {
    EXPECT_LE(i + 3, size);
    if (i + 3 > size) break;
    size_t length = data[i] | (data[i + 1] << 8);
    EXPECT_EQ(data[i + 2], 0);
    EXPECT_LE(i + 3 + length, size);
    if (i + 3 + length > size) break;
    std::vector<unsigned char> block(4096);
    lzo_uint out = block.size();
    EXPECT_EQ(lzo1x_decompress_safe(data + i + 3, length, block.data(), &out, nullptr), LZO_E_OK);
    block.resize(out);
    blocks.push_back(block);
    i += 3 + length;
  }
  return blocks;
}

TEST(CompressBitmap, FramesDecompressToTheirBlocks) {
  for (size_t size : {1u, 100u, 4095u, 4096u, 4097u, 8192u, 3u * 4096u, 12345u, 65536u + 7u}) {
    SCOPED_TRACE(size);
    std::vector<unsigned char> bits = pageBits(size, static_cast<unsigned>(size));
    std::vector<unsigned char> out(compressedCapacity(size));
    int n = compressBitmap(bits.data(), out.data(), static_cast<int>(size));
    ASSERT_GT(n, 0);
    ASSERT_LE(static_cast<size_t>(n), out.size());
    auto blocks = decodeFrames(out.data(), static_cast<size_t>(n));
    ASSERT_EQ(blocks.size(), (size + 4095) / 4096);
    for (size_t b = 0; b < blocks.size(); b++) {
      size_t start = b * 4096, length = std::min<size_t>(4096, size - start);
      ASSERT_EQ(blocks[b].size(), length) << "block " << b;
      EXPECT_TRUE(std::equal(blocks[b].begin(), blocks[b].end(), bits.begin() + start))
          << "block " << b;
    }
  }
}

TEST(CompressBitmap, IncompressibleDataStaysWithinTheCapacity) {
  // 64 blocks of noise: every frame near its worst case.
  size_t size = 64 * 4096;
  std::vector<unsigned char> bits(size);
  std::mt19937 rng(7);
  for (auto &b : bits) b = static_cast<unsigned char>(rng());
  std::vector<unsigned char> out(compressedCapacity(size));
  int n = compressBitmap(bits.data(), out.data(), static_cast<int>(size));
  EXPECT_GT(static_cast<size_t>(n), size);
  EXPECT_LE(static_cast<size_t>(n), out.size());
  EXPECT_EQ(decodeFrames(out.data(), static_cast<size_t>(n)).size(), 64u);
  EXPECT_EQ(compressBitmap(bits.data(), out.data(), 0), 0);
}

// Sends a width x height page of pageBits for the model; returns what reached the printer.
std::string send(TestJob &t, unsigned width, unsigned height,
                 TransmitResult expected = TransmitResult::Sent) {
  Page page = t.page(width, height);
  const size_t size = static_cast<size_t>((width + 7) / 8) * height;
  std::vector<unsigned char> bits = pageBits(size);
  page.sendBuf = allocateDots(size);
  std::copy(bits.begin(), bits.end(), page.sendBuf.get());
  page.sendBufSize = size;
  EXPECT_EQ(transmitBitmap(t.job, page), expected);
  return t.stream();
}

std::string bitmapCommand(unsigned char xL, unsigned char xH, unsigned char yL, unsigned char yH) {
  return bytes({0x1D, 0x76, 0x30, 0x00, xL, xH, yL, yH});
}

TEST(Transmission, BitmapCommandCarriesWidthInBytesAndRowCount) {
  struct Case {
    unsigned width, height;
    std::string command;
  };
  const std::vector<Case> cases = {
      {2048, 3, bitmapCommand(0x00, 0x01, 0x03, 0x00)},
      {2040, 1, bitmapCommand(0xFF, 0x00, 0x01, 0x00)},
      {8, 65535, bitmapCommand(0x01, 0x00, 0xFF, 0xFF)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    TestJob t(831);
    std::string wire = send(t, c.width, c.height);
    EXPECT_EQ(wire.substr(kFiller.size() + kOff.size(), 8), c.command);
    EXPECT_EQ(wire.size(), kFiller.size() + kOff.size() + 8 + (c.width + 7) / 8 * c.height);
  }
}

TEST(Transmission, BitmapGoesInDrainedPiecesOf1024Bytes) {
  TestJob t(590314);
  std::string wire = send(t, 1000, 2000);  // 250000 raw bytes
  size_t dataStart = kFiller.size() + kOff.size() + 8;
  ASSERT_EQ(wire.size(), dataStart + 250000);
  // A drain before the filler, one after it, then one after each of the 245 pieces.
  ASSERT_EQ(t.drainedAt.size(), 2u + 245u);
  EXPECT_EQ(t.drainedAt[0], 0u);
  EXPECT_EQ(t.drainedAt[1], kFiller.size());
  for (size_t k = 0; k < 245; k++)
    EXPECT_EQ(t.drainedAt[2 + k], dataStart + std::min<size_t>((k + 1) * 1024, 250000));
}

// (Model 64519 and the other models are shown end to end.)
TEST(Transmission, FillerIsLeftOutForTheHQModels) {
  const struct {
    int model;
    const char *modelName;
    bool filler;
  } cases[] = {{21, "HQ31", false}, {22, "HQ32", false}, {22, "HQ33", true}, {21, "hq31", true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.model) + " " + c.modelName);
    TestJob t(c.model, {}, c.modelName);
    std::string wire = send(t, 16, 2);
    EXPECT_EQ(wire.compare(0, kFiller.size(), kFiller) == 0, c.filler);
    EXPECT_EQ(wire.find("\x1F\x11\x35"), c.filler ? kFiller.size() : 0u);
  }
}

TEST(Transmission, ACancelBeforeTheBitmapCommandSendsNothingOfTheBitmap) {
  for (int model : {21, 22, 302, 64519}) {
    SCOPED_TRACE(model);
    TestJob t(model);
    t.job.Canceled = 1;
    t.job.mymon.Exception = 1;
    std::string wire = send(t, 64, 64, TransmitResult::Canceled);
    EXPECT_EQ(wire.find("\x1D\x76\x30"), std::string::npos);
    EXPECT_EQ(wire.substr(wire.size() - 4), model == 22 || model == 302 ? kOn : kOff);
    EXPECT_EQ(t.job.mymon.Exception, 1);
    EXPECT_TRUE(t.queries.empty());
  }
}

TEST(Transmission, SendingTheBitmapClearsTheCoverException) {
  TestJob t(831);
  t.job.mymon.Exception = 1;
  send(t, 8, 8);
  EXPECT_EQ(t.job.mymon.Exception, 0);
}

TEST(Transmission, APageTooLargeToCompressFailsBeforeAnyOutput) {
  TestJob t(22);
  Page page = t.page();
  page.sendBuf = allocateDots(1);
  page.sendBufSize = static_cast<size_t>(INT_MAX) + 1;
  EXPECT_EQ(transmitBitmap(t.job, page), TransmitResult::Failed);
  EXPECT_EQ(t.stream(), "");
  EXPECT_NE(t.log().find("ERROR: "), std::string::npos);
}

// The bitmap command's fields are 16 bits: a finished page that does not fit is refused.
TEST(Transmission, PagesBeyondTheBitmapCommandsFieldsAreRefused) {
  const struct {
    int64_t width, height;
    bool fits;
  } cases[] = {{524280, 65535, true}, {524281, 1, false}, {8, 65536, false}, {0, 0, true}};
  for (const auto &c : cases) {
    std::string reason;
    EXPECT_EQ(bitmapCommandFits(c.width, c.height, reason), c.fits) << c.width << "x" << c.height;
    EXPECT_EQ(reason.empty(), c.fits) << reason;
  }
}

}  // namespace
