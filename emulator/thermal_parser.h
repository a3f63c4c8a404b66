// Structural parser of the thermal printers' byte stream, as the printer reads it: commands by
// code and length, zero filler runs, and the raster bitmap command with its raw or LZO-framed
// data. Incremental (bytes may arrive in any split), so the emulator can answer queries as they
// arrive and fuzzers can feed it anything.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace emu {

enum class ThermalCommand {
  Filler,          // a run of 00 bytes
  Density,         // 1F 11 02 nn
  SpecialDensity,  // 1F 11 37 96
  Antiwrinkle,     // 1F 11 88 nn
  MediaTracking,   // 1F 11 0A / 0B / 26
  Compression,     // 1F 11 35 00 / 01
  PaperQuery,      // 1F 11 11
  CoverQuery,      // 1F 11 12
  IdleQuery,       // 1F 11 43
  PrintMode,       // 1B 4E 62 + 16 bytes
  PaperSize,       // 1B 4E 17 pp
  Feed,            // 1B 64 nn
  Bitmap,          // 1D 76 30 00 xL xH yL yH: the header; the data follows as BitmapData
  BitmapData,      // the complete data of the bitmap announced before it
};

// Short name for logs ("density", "paper query", ...).
const char *thermalCommandName(ThermalCommand command);

// A complete bitmap as the printer decoded it.
struct ThermalBitmap {
  int bytewidth = 0;                // bytes per row
  int rows = 0;                     // rows
  bool compressed = false;          // LZO-framed on the wire
  int frames = 0;                   // LZO frames (0 for raw data)
  std::vector<unsigned char> bits;  // rows x bytewidth, bit 7 leftmost, 1 = printed dot
};

struct ThermalEvent {
  ThermalCommand command = ThermalCommand::Filler;
  size_t offset = 0;                    // stream offset of the first byte
  size_t length = 0;                    // bytes on the wire (filler run length, bitmap data length)
  std::vector<unsigned char> bytes;     // the command's bytes (none for filler and bitmap data)
  std::optional<ThermalBitmap> bitmap;  // BitmapData only
};

// Readable description of a command's values ("level 02", "on", "A5", "1680 dots x 2374 rows,
// LZO"); flags values the filter is not expected to send.
std::string describeThermalEvent(const ThermalEvent &event);

class ThermalParser {
 public:
  // Bitmaps larger than maxBitmapBytes are refused (a hostile header could claim 4 GB; a real
  // page is about 1 MB, and the emulator unpacks it to eight times its size).
  static constexpr size_t kDefaultMaxBitmapBytes = size_t{64} << 20;
  explicit ThermalParser(size_t maxBitmapBytes = kDefaultMaxBitmapBytes);

  // Parses n more bytes and appends the events they complete. Returns false once the stream
  // is malformed (see error()); later calls do nothing.
  bool feed(const unsigned char *data, size_t n, std::vector<ThermalEvent> &out);
  // Reports an open filler run now (the emulator calls it at every drain, so that its log keeps
  // stream order); zeros that follow start a new run.
  void flushFiller(std::vector<ThermalEvent> &out);
  // End of the stream: reports an open filler run; false when the stream stops inside a
  // command or a bitmap.
  bool finish(std::vector<ThermalEvent> &out);

  bool failed() const { return !error_.empty(); }
  // "offset N: what went wrong"; empty while the stream is well formed.
  const std::string &error() const { return error_; }
  // Bytes fed so far.
  size_t offset() const { return fed_; }
  // Bitmap commands seen so far (the page being sent, counted from 1).
  int bitmapsStarted() const { return bitmaps_; }

 private:
  enum class State { Command, RawData, FrameData };
  bool fail(size_t offset, const std::string &what);
  bool parseCommand(std::vector<ThermalEvent> &out);
  bool parseRawData(std::vector<ThermalEvent> &out);
  bool parseFrame(std::vector<ThermalEvent> &out);
  void startBitmap(const unsigned char *header, size_t offset, std::vector<ThermalEvent> &out);
  void finishBitmap(std::vector<ThermalEvent> &out);
  size_t available() const { return buf_.size() - pos_; }
  size_t streamPos() const { return bufStart_ + pos_; }

  size_t maxBitmapBytes_;
  std::vector<unsigned char> buf_;  // bytes not yet consumed start at pos_
  size_t pos_ = 0;
  size_t bufStart_ = 0;  // stream offset of buf_[0]
  size_t fed_ = 0;
  State state_ = State::Command;
  bool compression_ = false;  // the last compression switch said "on"
  size_t fillerStart_ = 0;
  size_t fillerLength_ = 0;
  ThermalBitmap bitmap_;     // the bitmap being received
  size_t bitmapTotal_ = 0;   // its uncompressed size
  size_t bitmapOffset_ = 0;  // stream offset of its data
  int bitmaps_ = 0;
  std::string error_;
};

// Decodes a whole stream at once (tests and tools).
struct ThermalStream {
  bool ok = false;
  std::string error;
  std::vector<ThermalEvent> events;
};
ThermalStream parseThermalStream(const std::string &bytes);

// One byte per dot (0 black, 255 white), bytewidth x 8 dots wide.
std::vector<unsigned char> bitmapDots(const ThermalBitmap &bitmap);

// "1F 11 35 01"
std::string hexBytes(const unsigned char *data, size_t n);

}  // namespace emu
