// Structural parser of the thermal byte stream: a state machine over a buffer of unconsumed
// bytes, one command (or one LZO frame) at a time.
#include "thermal_parser.h"

#include <lzo/lzo1x.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace emu {

namespace {

constexpr size_t kFrameBlock = 4096;  // every LZO frame but the last holds this much
constexpr unsigned char kModeBlock[19] = {0x1B, 0x4E, 0x62, 0x0A, 0x20, 0x00, 0x00,
                                          0x00, 0x1E, 0x00, 0x01, 0x00, 0x02, 0x00,
                                          0x06, 0x00, 0xC8, 0x00, 0x2D};

void initLzoOnce() {
  static std::once_flag once;
  std::call_once(once, [] { lzo_init(); });
}

std::string hex2(unsigned v) {
  char s[8];
  std::snprintf(s, sizeof s, "%02X", v & 0xFFu);
  return s;
}

// Length of the 1F 11 command with this code, 0 when the code is unknown.
size_t functionCommandLength(unsigned char code) {
  switch (code) {
    case 0x02:
    case 0x37:
    case 0x88:
    case 0x35:
      return 4;
    case 0x0A:
    case 0x0B:
    case 0x26:
    case 0x11:
    case 0x12:
    case 0x43:
      return 3;
    default:
      return 0;
  }
}

ThermalCommand functionCommand(unsigned char code) {
  switch (code) {
    case 0x02:
      return ThermalCommand::Density;
    case 0x37:
      return ThermalCommand::SpecialDensity;
    case 0x88:
      return ThermalCommand::Antiwrinkle;
    case 0x35:
      return ThermalCommand::Compression;
    case 0x11:
      return ThermalCommand::PaperQuery;
    case 0x12:
      return ThermalCommand::CoverQuery;
    case 0x43:
      return ThermalCommand::IdleQuery;
    default:
      return ThermalCommand::MediaTracking;
  }
}

}  // namespace

const char *thermalCommandName(ThermalCommand command) {
  switch (command) {
    case ThermalCommand::Filler:
      return "filler";
    case ThermalCommand::Density:
      return "density";
    case ThermalCommand::SpecialDensity:
      return "special density";
    case ThermalCommand::Antiwrinkle:
      return "anti-wrinkle";
    case ThermalCommand::MediaTracking:
      return "media tracking";
    case ThermalCommand::Compression:
      return "compression";
    case ThermalCommand::PaperQuery:
      return "paper query";
    case ThermalCommand::CoverQuery:
      return "cover query";
    case ThermalCommand::IdleQuery:
      return "idle query";
    case ThermalCommand::PrintMode:
      return "print mode";
    case ThermalCommand::PaperSize:
      return "paper size";
    case ThermalCommand::Feed:
      return "feed";
    case ThermalCommand::Bitmap:
      return "bitmap";
    case ThermalCommand::BitmapData:
      return "bitmap data";
  }
  return "?";
}

std::string hexBytes(const unsigned char *data, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += hex2(data[i]);
  }
  return s;
}

std::string describeThermalEvent(const ThermalEvent &e) {
  const std::vector<unsigned char> &b = e.bytes;
  auto valueOf = [&](const char *const names[], size_t count, unsigned v) -> std::string {
    if (v < count && names[v]) return names[v];
    return hex2(v) + " (unexpected value)";
  };
  switch (e.command) {
    case ThermalCommand::Filler:
      return std::to_string(e.length) + " x 00";
    case ThermalCommand::Density: {
      static const char *const names[] = {nullptr, "01 (light)", "02 (medium)", nullptr,
                                          "04 (dark)"};
      return "level " + valueOf(names, 5, b[3]);
    }
    case ThermalCommand::SpecialDensity:
      return b[3] == 0x96 ? "special" : hex2(b[3]) + " (unexpected value)";
    case ThermalCommand::Antiwrinkle: {
      static const char *const names[] = {nullptr, "01", "02", "03"};
      return "level " + valueOf(names, 4, b[3]);
    }
    case ThermalCommand::MediaTracking:
      return b[2] == 0x0A ? "gap" : b[2] == 0x0B ? "continuous" : "black line";
    case ThermalCommand::Compression:
      return b[3] ? "on (LZO)" : "off (raw)";
    case ThermalCommand::PaperQuery:
    case ThermalCommand::CoverQuery:
    case ThermalCommand::IdleQuery:
      return "";
    case ThermalCommand::PrintMode: {
      std::string s = "mode " + std::to_string(b[12]);
      for (size_t i = 0; i < b.size(); ++i) {
        if (i != 12 && b[i] != kModeBlock[i]) return s + " (fixed bytes differ)";
      }
      return s;
    }
    case ThermalCommand::PaperSize: {
      static const char *const names[] = {"A4", "A5_Lanspace", "EnvISOB5", "A5", "Letter"};
      return valueOf(names, 5, b[3]);
    }
    case ThermalCommand::Feed:
      return hex2(b[2]);
    case ThermalCommand::Bitmap: {
      int bytewidth = b[4] | b[5] << 8;
      int rows = b[6] | b[7] << 8;
      return std::to_string(bytewidth) + " bytes (" + std::to_string(bytewidth * 8) + " dots) x " +
             std::to_string(rows) + " rows";
    }
    case ThermalCommand::BitmapData: {
      std::string s = std::to_string(e.length) + " bytes";
      if (e.bitmap && e.bitmap->compressed) {
        s += ", LZO " + std::to_string(e.bitmap->frames) + " frames -> " +
             std::to_string(e.bitmap->bits.size()) + " bytes";
      } else {
        s += ", raw";
      }
      return s;
    }
  }
  return "";
}

ThermalParser::ThermalParser(size_t maxBitmapBytes) : maxBitmapBytes_(maxBitmapBytes) {
  initLzoOnce();
}

bool ThermalParser::fail(size_t offset, const std::string &what) {
  error_ = "offset " + std::to_string(offset) + ": " + what;
  return false;
}

void ThermalParser::flushFiller(std::vector<ThermalEvent> &out) {
  if (fillerLength_ == 0) return;
  ThermalEvent e;
  e.command = ThermalCommand::Filler;
  e.offset = fillerStart_;
  e.length = fillerLength_;
  out.push_back(std::move(e));
  fillerLength_ = 0;
}

bool ThermalParser::feed(const unsigned char *data, size_t n, std::vector<ThermalEvent> &out) {
  if (failed()) return false;
  fed_ += n;
  // Drop consumed bytes before growing, so the buffer holds at most one command or frame.
  if (pos_ > 0) {
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(pos_));
    bufStart_ += pos_;
    pos_ = 0;
  }
  buf_.insert(buf_.end(), data, data + n);
  for (;;) {
    bool progressed = false;
    switch (state_) {
      case State::Command:
        progressed = parseCommand(out);
        break;
      case State::RawData:
        progressed = parseRawData(out);
        break;
      case State::FrameData:
        progressed = parseFrame(out);
        break;
    }
    if (failed()) return false;
    if (!progressed) return true;
  }
}

// One command, or the whole filler run in the buffer. Returns true when it consumed bytes.
bool ThermalParser::parseCommand(std::vector<ThermalEvent> &out) {
  if (available() == 0) return false;
  const unsigned char *p = buf_.data() + pos_;
  size_t at = streamPos();
  if (p[0] == 0x00) {
    if (fillerLength_ == 0) fillerStart_ = at;
    size_t run = 0;
    while (run < available() && p[run] == 0x00) ++run;
    fillerLength_ += run;
    pos_ += run;
    return true;
  }
  flushFiller(out);

  size_t need = 0;
  ThermalCommand command{};
  switch (p[0]) {
    case 0x1F:
      if (available() < 3) return false;
      if (p[1] != 0x11) return fail(at, "unknown command 1F " + hex2(p[1]));
      need = functionCommandLength(p[2]);
      if (need == 0) return fail(at, "unknown command 1F 11 " + hex2(p[2]));
      command = functionCommand(p[2]);
      break;
    case 0x1B:
      if (available() < 2) return false;
      if (p[1] == 0x64) {
        need = 3;
        command = ThermalCommand::Feed;
      } else if (p[1] == 0x4E) {
        if (available() < 3) return false;
        if (p[2] == 0x62) {
          need = 19;
          command = ThermalCommand::PrintMode;
        } else if (p[2] == 0x17) {
          need = 4;
          command = ThermalCommand::PaperSize;
        } else {
          return fail(at, "unknown command 1B 4E " + hex2(p[2]));
        }
      } else {
        return fail(at, "unknown command 1B " + hex2(p[1]));
      }
      break;
    case 0x1D:
      if (available() < 4) return false;
      if (p[1] != 0x76 || p[2] != 0x30 || p[3] != 0x00) {
        return fail(at, "unknown command " + hexBytes(p, 4));
      }
      need = 8;
      command = ThermalCommand::Bitmap;
      break;
    default:
      return fail(at, "unexpected byte " + hex2(p[0]) + " where a command should start");
  }
  if (available() < need) return false;
  if (command == ThermalCommand::Compression && p[3] > 1) {
    return fail(at, "compression switch with value " + hex2(p[3]));
  }
  ThermalEvent e;
  e.command = command;
  e.offset = at;
  e.length = need;
  e.bytes.assign(p, p + need);
  pos_ += need;
  if (command == ThermalCommand::Compression) compression_ = e.bytes[3] == 1;
  unsigned char header[8] = {};
  if (command == ThermalCommand::Bitmap) std::copy(p, p + 8, header);
  out.push_back(std::move(e));
  if (command == ThermalCommand::Bitmap) startBitmap(header, at, out);
  return !failed();
}

void ThermalParser::startBitmap(const unsigned char *header, size_t offset,
                                std::vector<ThermalEvent> &out) {
  ++bitmaps_;
  bitmap_ = ThermalBitmap{};
  bitmap_.bytewidth = header[4] | header[5] << 8;
  bitmap_.rows = header[6] | header[7] << 8;
  bitmap_.compressed = compression_;
  bitmapTotal_ = static_cast<size_t>(bitmap_.bytewidth) * static_cast<size_t>(bitmap_.rows);
  bitmapOffset_ = offset + 8;
  if (bitmapTotal_ > maxBitmapBytes_) {
    fail(offset, "bitmap of " + std::to_string(bitmapTotal_) + " bytes exceeds the limit of " +
                     std::to_string(maxBitmapBytes_));
    return;
  }
  bitmap_.bits.reserve(bitmapTotal_);
  if (bitmapTotal_ == 0) {
    finishBitmap(out);
    return;
  }
  state_ = compression_ ? State::FrameData : State::RawData;
}

void ThermalParser::finishBitmap(std::vector<ThermalEvent> &out) {
  ThermalEvent e;
  e.command = ThermalCommand::BitmapData;
  e.offset = bitmapOffset_;
  e.length = streamPos() - bitmapOffset_;
  e.bitmap = std::move(bitmap_);
  bitmap_ = ThermalBitmap{};
  out.push_back(std::move(e));
  state_ = State::Command;
}

bool ThermalParser::parseRawData(std::vector<ThermalEvent> &out) {
  size_t take = std::min(available(), bitmapTotal_ - bitmap_.bits.size());
  if (take == 0) return false;
  const unsigned char *p = buf_.data() + pos_;
  bitmap_.bits.insert(bitmap_.bits.end(), p, p + take);
  pos_ += take;
  if (bitmap_.bits.size() == bitmapTotal_) finishBitmap(out);
  return true;
}

// One whole frame: 3-byte header (length low, middle, high = 0) and the LZO1X data of one block.
bool ThermalParser::parseFrame(std::vector<ThermalEvent> &out) {
  if (available() < 3) return false;
  const unsigned char *p = buf_.data() + pos_;
  size_t at = streamPos();
  int frame = bitmap_.frames + 1;
  std::string which =
      "LZO frame " + std::to_string(frame) + " of bitmap " + std::to_string(bitmaps_) + ": ";
  if (p[2] != 0) return fail(at, which + "length high byte is " + hex2(p[2]) + ", not 00");
  size_t length = p[0] | static_cast<size_t>(p[1]) << 8;
  if (length == 0) return fail(at, which + "empty frame");
  if (available() < 3 + length) return false;

  size_t expected = std::min(kFrameBlock, bitmapTotal_ - bitmap_.bits.size());
  size_t base = bitmap_.bits.size();
  bitmap_.bits.resize(base + expected);
  lzo_uint produced = expected;
  int rc = lzo1x_decompress_safe(p + 3, length, bitmap_.bits.data() + base, &produced, nullptr);
  if (rc == LZO_E_OUTPUT_OVERRUN) {
    return fail(at, which + "decompresses to more than the expected " + std::to_string(expected) +
                        " bytes");
  }
  if (rc != LZO_E_OK) {
    return fail(at, which + "LZO error " + std::to_string(rc) + " in " + std::to_string(length) +
                        " compressed bytes");
  }
  if (produced != expected) {
    return fail(at, which + "decompresses to " + std::to_string(produced) + " bytes, expected " +
                        std::to_string(expected));
  }
  pos_ += 3 + length;
  bitmap_.frames = frame;
  if (bitmap_.bits.size() == bitmapTotal_) finishBitmap(out);
  return true;
}

bool ThermalParser::finish(std::vector<ThermalEvent> &out) {
  if (failed()) return false;
  flushFiller(out);
  if (state_ == State::RawData || state_ == State::FrameData) {
    return fail(streamPos(), "stream ends inside the data of bitmap " + std::to_string(bitmaps_) +
                                 " (" + std::to_string(bitmap_.bits.size()) + " of " +
                                 std::to_string(bitmapTotal_) + " bytes decoded)");
  }
  if (available() > 0) {
    return fail(streamPos(), "stream ends inside a command: " +
                                 hexBytes(buf_.data() + pos_, std::min<size_t>(available(), 8)));
  }
  return true;
}

ThermalStream parseThermalStream(const std::string &bytes) {
  ThermalStream s;
  ThermalParser parser;
  s.ok =
      parser.feed(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), s.events) &&
      parser.finish(s.events);
  s.error = parser.error();
  return s;
}

std::vector<unsigned char> bitmapDots(const ThermalBitmap &bitmap) {
  size_t width = static_cast<size_t>(bitmap.bytewidth) * 8;
  std::vector<unsigned char> dots(width * static_cast<size_t>(bitmap.rows), 255);
  for (size_t i = 0; i < bitmap.bits.size() && i * 8 < dots.size(); ++i) {
    unsigned char byte = bitmap.bits[i];
    for (int bit = 0; bit < 8; ++bit) {
      if (byte & (0x80 >> bit)) dots[i * 8 + static_cast<size_t>(bit)] = 0;
    }
  }
  return dots;
}

}  // namespace emu
