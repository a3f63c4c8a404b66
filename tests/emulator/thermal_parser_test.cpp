// The printer-side parser of the thermal stream: command lengths, filler runs, raw and
// LZO-framed bitmaps, and the errors a printer must notice (with their offsets).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream_bytes.h"
#include "thermal_parser.h"

using emu::ThermalCommand;
using emu::ThermalEvent;
using emu::ThermalParser;

namespace {

std::string bitmapHeader(int bytewidth, int rows) {
  return bytes({0x1D, 0x76, 0x30, 0x00, bytewidth & 0xFF, bytewidth >> 8, rows & 0xFF, rows >> 8});
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

// Feeds the stream in pieces of the given size (0: whole) and finishes it.
emu::ThermalStream feedInPieces(const std::string &stream, size_t piece) {
  emu::ThermalStream s;
  ThermalParser parser;
  const auto *p = reinterpret_cast<const unsigned char *>(stream.data());
  bool ok = true;
  if (piece == 0) piece = stream.size() ? stream.size() : 1;
  for (size_t i = 0; ok && i < stream.size(); i += piece) {
    ok = parser.feed(p + i, std::min(piece, stream.size() - i), s.events);
  }
  s.ok = ok && parser.finish(s.events);
  s.error = parser.error();
  return s;
}

}  // namespace

TEST(ThermalParser, EveryCommandByCodeAndLength) {
  struct Case {
    std::string stream;
    ThermalCommand command;
    const char *description;
  };
  const std::string mode = bytes({0x1B, 0x4E, 0x62, 0x0A, 0x20, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x01,
                                  0x00, 0x05, 0x00, 0x06, 0x00, 0xC8, 0x00, 0x2D});
  const Case cases[] = {
      {bytes({0x1F, 0x11, 0x02, 0x04}), ThermalCommand::Density, "level 04 (dark)"},
      {bytes({0x1F, 0x11, 0x02, 0x06}), ThermalCommand::Density, "level 06 (unexpected value)"},
      {bytes({0x1F, 0x11, 0x37, 0x96}), ThermalCommand::SpecialDensity, "special"},
      {bytes({0x1F, 0x11, 0x88, 0x03}), ThermalCommand::Antiwrinkle, "level 03"},
      {bytes({0x1F, 0x11, 0x0A}), ThermalCommand::MediaTracking, "gap"},
      {bytes({0x1F, 0x11, 0x26}), ThermalCommand::MediaTracking, "black line"},
      {bytes({0x1F, 0x11, 0x35, 0x01}), ThermalCommand::Compression, "on (LZO)"},
      {bytes({0x1F, 0x11, 0x11}), ThermalCommand::PaperQuery, ""},
      {bytes({0x1F, 0x11, 0x12}), ThermalCommand::CoverQuery, ""},
      {bytes({0x1F, 0x11, 0x43}), ThermalCommand::IdleQuery, ""},
      {mode, ThermalCommand::PrintMode, "mode 5"},
      {bytes({0x1B, 0x4E, 0x17, 0x04}), ThermalCommand::PaperSize, "Letter"},
      {bytes({0x1B, 0x64, 0x02}), ThermalCommand::Feed, "02"},
  };
  for (const Case &c : cases) {
    // Behind a one-byte filler, so the offset is 1; followed by a query to show the length.
    std::string stream = std::string(1, '\0') + c.stream + bytes({0x1F, 0x11, 0x43});
    SCOPED_TRACE(testing::PrintToString(c.stream));
    for (size_t piece : {size_t{0}, size_t{1}}) {
      emu::ThermalStream s = feedInPieces(stream, piece);
      ASSERT_TRUE(s.ok) << s.error;
      ASSERT_EQ(s.events.size(), 3u);
      EXPECT_EQ(s.events[0].command, ThermalCommand::Filler);
      EXPECT_EQ(s.events[1].command, c.command);
      EXPECT_EQ(s.events[1].offset, 1u);
      EXPECT_EQ(s.events[1].length, c.stream.size());
      EXPECT_EQ(std::string(s.events[1].bytes.begin(), s.events[1].bytes.end()), c.stream);
      EXPECT_EQ(emu::describeThermalEvent(s.events[1]), c.description);
      EXPECT_EQ(s.events[2].offset, 1 + c.stream.size());
    }
  }
}

TEST(ThermalParser, FillerRunsAreCountedAndSplitAtDrains) {
  std::string zeros(2048, '\0');
  emu::ThermalStream whole = feedInPieces(zeros + bytes({0x1F, 0x11, 0x35, 0x01}) + zeros, 100);
  ASSERT_TRUE(whole.ok) << whole.error;
  ASSERT_EQ(whole.events.size(), 3u);
  EXPECT_EQ(whole.events[0].length, 2048u);
  EXPECT_EQ(whole.events[2].command, ThermalCommand::Filler);  // a trailing run ends at finish
  EXPECT_EQ(whole.events[2].offset, 2052u);
  EXPECT_EQ(whole.events[2].length, 2048u);

  // A drain in the middle of a run reports what came before it.
  ThermalParser parser;
  std::vector<ThermalEvent> events;
  const auto *z = reinterpret_cast<const unsigned char *>(zeros.data());
  parser.feed(z, 1000, events);
  EXPECT_TRUE(events.empty());
  parser.flushFiller(events);
  parser.feed(z, 48, events);
  ASSERT_TRUE(parser.finish(events));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].length, 1000u);
  EXPECT_EQ(events[1].offset, 1000u);
  EXPECT_EQ(events[1].length, 48u);
}

// Raw bitmaps (with and without the compression switch, empty, with a two-byte row count) and
// LZO-framed ones (less than one block, exactly two blocks, a partial last block), fed whole
// and in pieces: the data length is exact, so the command after it parses.
TEST(ThermalParser, BitmapsDecodeRawOrFromLzoFrames) {
  const std::string off = bytes({0x1F, 0x11, 0x35, 0x00}), on = bytes({0x1F, 0x11, 0x35, 0x01});
  struct Case {
    std::string prefix;
    int bytewidth, rows;
    int frames;  // 0: raw
  };
  const Case cases[] = {{off, 125, 40, 0}, {"", 216, 2000, 0}, {"", 0, 7, 0},
                        {on, 10, 5, 1},    {on, 256, 32, 2},   {on, 210, 100, 6}};
  for (const Case &c : cases) {
    std::vector<unsigned char> bits = patternBitmap(static_cast<size_t>(c.bytewidth) * c.rows);
    std::string stream = c.prefix + bitmapHeader(c.bytewidth, c.rows) +
                         (c.frames ? lzoFrames(bits) : std::string(bits.begin(), bits.end())) +
                         bytes({0x1F, 0x11, 0x11});
    for (size_t piece : {size_t{0}, size_t{1}, size_t{777}}) {
      SCOPED_TRACE(std::to_string(c.bytewidth) + "x" + std::to_string(c.rows) + " piece " +
                   std::to_string(piece));
      emu::ThermalStream s = feedInPieces(stream, piece);
      ASSERT_TRUE(s.ok) << s.error;
      ASSERT_EQ(s.events.size(), c.prefix.empty() ? 3u : 4u);
      const ThermalEvent &header = s.events[s.events.size() - 3];
      const ThermalEvent &data = s.events[s.events.size() - 2];
      EXPECT_EQ(emu::describeThermalEvent(header),
                std::to_string(c.bytewidth) + " bytes (" + std::to_string(8 * c.bytewidth) +
                    " dots) x " + std::to_string(c.rows) + " rows");
      ASSERT_EQ(data.command, ThermalCommand::BitmapData);
      EXPECT_EQ(data.bitmap->bytewidth, c.bytewidth);
      EXPECT_EQ(data.bitmap->rows, c.rows);
      EXPECT_EQ(data.bitmap->compressed, c.frames > 0);
      EXPECT_EQ(data.bitmap->frames, c.frames);
      EXPECT_EQ(data.bitmap->bits, bits);
      if (!c.frames) {
        EXPECT_EQ(data.length, bits.size());
      }
      EXPECT_EQ(s.events.back().command, ThermalCommand::PaperQuery);
    }
  }
}

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
    for (size_t piece : {size_t{0}, size_t{1}}) {
      emu::ThermalStream s = feedInPieces(c.stream, piece);
      EXPECT_FALSE(s.ok) << c.what;
      EXPECT_NE(s.error.find("offset " + std::to_string(c.offset) + ": "), std::string::npos)
          << c.what << ": " << s.error;
      EXPECT_NE(s.error.find(c.message), std::string::npos) << c.what << ": " << s.error;
    }
  }
}

TEST(ThermalParser, StopsAtTheFirstErrorAndRefusesHugeBitmaps) {
  ThermalParser parser(1000);
  std::vector<ThermalEvent> events;
  std::string stream = bytes({0x1F, 0x11, 0x43}) + bitmapHeader(100, 11);
  const auto *p = reinterpret_cast<const unsigned char *>(stream.data());
  EXPECT_FALSE(parser.feed(p, stream.size(), events));
  EXPECT_NE(parser.error().find("offset 3: "), std::string::npos) << parser.error();
  EXPECT_NE(parser.error().find("exceeds the limit of 1000"), std::string::npos);
  size_t before = events.size();
  EXPECT_FALSE(parser.feed(p, 3, events));  // a valid query after the error is not parsed
  EXPECT_EQ(events.size(), before);
  EXPECT_FALSE(parser.finish(events));
}
