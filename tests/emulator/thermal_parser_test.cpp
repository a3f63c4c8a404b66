// The printer-side parser of the thermal stream: the errors a printer must notice, with their
// offsets. (Every command, filler run and bitmap the filter sends is parsed and decoded in each
// in-process job, whose wire the end-to-end tests compare; the fuzz target holds a stream fed
// in pieces to the same result as the whole.)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/reports.h"
#include "thermal/transmission.h"
#include "thermal_parser.h"

using emu::ThermalEvent;
using emu::ThermalParser;

namespace {

std::string bitmapHeader(int bytewidth, int rows) {
  return bytes({0x1D, 0x76, 0x30, 0x00, bytewidth & 0xFF, bytewidth >> 8, rows & 0xFF, rows >> 8});
}

// The filter's LZO1X-1 frames of data (2-byte length, a zero byte, the packed block of up to
// 4096 bytes).
std::string lzoFrames(const std::vector<unsigned char> &data) {
  std::string out(compressedCapacity(data.size()), '\0');
  const int n = compressBitmap(data.data(), reinterpret_cast<unsigned char *>(out.data()),
                               static_cast<int>(data.size()));
  out.resize(static_cast<size_t>(std::max(n, 0)));
  return out;
}

// A bitmap that does not compress to nothing: a pattern with some noise.
std::vector<unsigned char> patternBitmap(size_t size) {
  std::vector<unsigned char> v(size);
  unsigned seed = 12345;
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    v[i] = (i % 97 < 40) ? 0xFF : static_cast<unsigned char>(seed >> 24);
  }
  return v;
}

}  // namespace

TEST(ThermalParser, MalformedStreamsFailWithTheOffset) {
  std::vector<unsigned char> block = patternBitmap(4096);
  std::vector<unsigned char> short4000(block.begin(), block.begin() + 4000);
  std::string lzoOn = bytes({0x1F, 0x11, 0x35, 0x01});
  std::string badHigh = lzoFrames(block);
  badHigh[2] = 1;
  // Without its end marker (the last 3 bytes) the frame's data runs out early.
  std::string corrupt = lzoFrames(block);
  corrupt.resize(corrupt.size() - 3);
  size_t shorter = corrupt.size() - 3;
  corrupt[0] = static_cast<char>(shorter & 0xFF);
  corrupt[1] = static_cast<char>(shorter >> 8);
  struct Case {
    const char *what;
    std::string stream;
    size_t offset;
    const char *message;
  };
  const Case cases[] = {
      {"garbage byte", bytes({0x1F, 0x11, 0x35, 0x01, 0xFF}), 4, "unexpected byte FF"},
      {"unknown function code", bytes({0x00, 0x1F, 0x11, 0x99}), 1, "unknown command 1F 11 99"},
      {"unknown ESC command", bytes({0x1B, 0x40}), 0, "unknown command 1B 40"},
      {"bitmap mode byte", bytes({0x1D, 0x76, 0x30, 0x01}), 0, "unknown command 1D 76 30 01"},
      {"compression value", bytes({0x1F, 0x11, 0x35, 0x02}), 0, "compression switch with value 02"},
      // Two blocks are announced; the first frame holds only 4000 bytes.
      {"short frame", lzoOn + bitmapHeader(128, 64) + lzoFrames(short4000), 12,
       "frame 1 of bitmap 1: decompresses to 4000 bytes, expected 4096"},
      // 100 bytes are announced; the frame holds a whole block.
      {"long frame", lzoOn + bitmapHeader(10, 10) + lzoFrames(block), 12,
       "decompresses to more than the expected 100 bytes"},
      {"length high byte", lzoOn + bitmapHeader(128, 32) + badHigh, 12, "length high byte is 01"},
      {"corrupt data", lzoOn + bitmapHeader(128, 32) + corrupt, 12, "LZO error"},
      {"empty frame", lzoOn + bitmapHeader(128, 32) + bytes({0, 0, 0}), 12, "empty frame"},
      {"truncated raw bitmap", bitmapHeader(10, 10) + std::string(99, '\x55'), 107,
       "stream ends inside the data of bitmap 1 (99 of 100 bytes decoded)"},
      {"truncated frame", lzoOn + bitmapHeader(128, 32) + lzoFrames(block).substr(0, 20), 12,
       "stream ends inside the data of bitmap 1 (0 of 4096 bytes decoded)"},
      {"truncated command", bytes({0x1F, 0x11, 0x02}), 0, "stream ends inside a command: 1F 11 02"},
  };
  for (const Case &c : cases) {
    const emu::ThermalStream s = emu::parseThermalStream(c.stream);
    EXPECT_FALSE(s.ok) << c.what;
    EXPECT_EQ(s.error.rfind("offset " + std::to_string(c.offset) + ": ", 0), 0u) << s.error;
    EXPECT_NE(s.error.find(c.message), std::string::npos) << c.what << ": " << s.error;
  }
}

TEST(ThermalParser, StopsAtTheFirstErrorAndRefusesHugeBitmaps) {
  ThermalParser parser(1000);
  std::vector<ThermalEvent> events;
  const std::string stream = bytes({0x1F, 0x11, 0x43}) + bitmapHeader(100, 11);
  const auto *p = reinterpret_cast<const unsigned char *>(stream.data());
  EXPECT_FALSE(parser.feed(p, stream.size(), events));
  EXPECT_EQ(parser.error().substr(0, 10), "offset 3: ");
  EXPECT_NE(parser.error().find("exceeds the limit of 1000"), std::string::npos) << parser.error();
  const size_t before = events.size();
  EXPECT_FALSE(parser.feed(p, 3, events) || parser.finish(events));  // a valid query is not parsed
  EXPECT_EQ(events.size(), before);
}
