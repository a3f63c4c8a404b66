// Bitmap transmission: LZO frames that decompress to their blocks, the bitmap command bytes,
// drained 1024-byte pieces, the filler, cancellation, and the model-302 paper queries after the
// page. (Compression, paper commands and the idle-report wait per model are in the end-to-end
// streams.)
#include "thermal/transmission.h"

#include <gtest/gtest.h>
#include <lzo/lzo1x.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

#include "thermal_fixture.h"

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

class TransmissionTest : public ThermalTest {
 protected:
  // Sends a width x height page of pageBits for the model; returns what reached the printer.
  std::string send(int model, unsigned width, unsigned height, const char *modelName = "RX5K",
                   TransmitResult expected = TransmitResult::Sent) {
    ModelNumber = model;
    Ppd ppd = markedPpd(model, modelName, {});
    cups_page_header2_t header = rasterHeader(width, height);
    size_t size = static_cast<size_t>((width + 7) / 8) * height;
    bits = pageBits(size);
    EXPECT_EQ(transmitBitmap(ppd.get(), &header, bits.data(), size), expected);
    return io.printer();
  }
  std::vector<unsigned char> bits;
};

std::string bitmapCommand(unsigned char xL, unsigned char xH, unsigned char yL, unsigned char yH) {
  return bytes({0x1D, 0x76, 0x30, 0x00, xL, xH, yL, yH});
}

TEST_F(TransmissionTest, BitmapCommandCarriesWidthInBytesAndRowCount) {
  struct Case {
    unsigned width, height;
    std::string command;
  };
  const std::vector<Case> cases = {
      {2048, 3, bitmapCommand(0x00, 0x01, 0x03, 0x00)},
      {2040, 1, bitmapCommand(0xFF, 0x00, 0x01, 0x00)},
      {8, 70000, bitmapCommand(0x01, 0x00, 0x70, 0x11)},  // 70000 rows: cut to 16 bits
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    std::string wire = send(831, c.width, c.height);
    EXPECT_EQ(wire.substr(kFiller.size() + kOff.size(), 8), c.command);
    EXPECT_EQ(wire.size(), kFiller.size() + kOff.size() + 8 + bits.size());
    io.printer().clear();
  }
}

TEST_F(TransmissionTest, BitmapGoesInDrainedPiecesOf1024Bytes) {
  std::string wire = send(590314, 1000, 2000);  // 250000 raw bytes
  size_t dataStart = kFiller.size() + kOff.size() + 8;
  ASSERT_EQ(wire.size(), dataStart + 250000);
  // A drain before the filler, one after it, then one after each of the 245 pieces.
  ASSERT_EQ(printer.drainedAt.size(), 2u + 245u);
  EXPECT_EQ(printer.drainedAt[0], 0u);
  EXPECT_EQ(printer.drainedAt[1], kFiller.size());
  for (size_t k = 0; k < 245; k++)
    EXPECT_EQ(printer.drainedAt[2 + k], dataStart + std::min<size_t>((k + 1) * 1024, 250000));
}

// (Model 64519 and the other models are shown end to end.)
TEST_F(TransmissionTest, FillerIsLeftOutForTheHQModels) {
  const struct {
    int model;
    const char *modelName;
    bool filler;
  } cases[] = {{21, "HQ31", false}, {22, "HQ32", false}, {22, "HQ33", true}, {21, "hq31", true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.model) + " " + c.modelName);
    std::string wire = send(c.model, 16, 2, c.modelName);
    EXPECT_EQ(wire.compare(0, kFiller.size(), kFiller) == 0, c.filler);
    EXPECT_EQ(wire.find("\x1F\x11\x35"), c.filler ? kFiller.size() : 0u);
    io.printer().clear();
  }
}

TEST_F(TransmissionTest, ACancelBeforeTheBitmapCommandSendsNothingOfTheBitmap) {
  for (int model : {21, 22, 302, 64519}) {
    SCOPED_TRACE(model);
    Canceled = 1;
    mymon.Exception = 1;
    std::string wire = send(model, 64, 64, "RX5K", TransmitResult::Canceled);
    EXPECT_EQ(wire.find("\x1D\x76\x30"), std::string::npos);
    EXPECT_EQ(wire.substr(wire.size() - 4), model == 22 || model == 302 ? kOn : kOff);
    EXPECT_EQ(mymon.Exception, 1);
    EXPECT_TRUE(printer.queries().empty());
    io.printer().clear();
  }
}

TEST_F(TransmissionTest, SendingTheBitmapClearsTheCoverException) {
  mymon.Exception = 1;
  send(831, 8, 8);
  EXPECT_EQ(mymon.Exception, 0);
}

TEST_F(TransmissionTest, APageTooLargeToCompressFailsBeforeAnyOutput) {
  ModelNumber = 22;
  cups_page_header2_t header = rasterHeader(8, 1);
  unsigned char one = 0;
  EXPECT_EQ(transmitBitmap(nullptr, &header, &one, static_cast<size_t>(INT_MAX) + 1),
            TransmitResult::Failed);
  EXPECT_EQ(io.printer(), "");
  EXPECT_NE(io.log().find("ERROR: "), std::string::npos);
}

TEST_F(TransmissionTest, Model302AsksForPaperFromThe26thSecond) {
  printer.script(0x11, {report::paperOut});
  send(302, 64, 64);
  EXPECT_EQ(printer.queries(), (Queries(5, 0x11)));
  EXPECT_NEAR(printer.now(), 30.0, 1e-9);

  io.printer().clear();
  ThermalPrinter second(io);
  second.script(0x11, {report::paperIn});
  send(302, 64, 64);
  EXPECT_EQ(second.queries(), (Queries{0x11}));
  EXPECT_NEAR(second.now(), 26.0, 1e-9);
}

TEST_F(TransmissionTest, Model302WaitEndsOnCancel) {
  printer.script(0x11, {""});  // silence: a query costs its 1 s read
  printer.answerer = [](unsigned char, double, std::string &) {
    Canceled = 1;
    return false;
  };
  EXPECT_EQ(send(302, 64, 64).find("\x1D\x76\x30"), 4u + kFiller.size() + kOn.size());
  // The first paper query (26 s) cancels and gets no answer (1 s read); the next second's
  // check ends the wait.
  EXPECT_EQ(printer.queries(), (Queries{0x11}));
  EXPECT_NEAR(printer.now(), 28.0, 1e-9);
}

}  // namespace
