// Fuzzes the emulator's thermal stream parser: arbitrary bytes never crash it, and it reads the
// same commands, bitmaps and errors whether the stream arrives whole or cut into arbitrary
// pieces (the emulator receives it in whatever pieces the backend writes).
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "thermal_parser.h"

namespace {

// Bitmaps claimed by the stream are capped, so that a hostile header costs no time.
constexpr size_t kMaxBitmapBytes = size_t{1} << 20;

struct Parsed {
  bool ok;
  std::string error;
  std::vector<emu::ThermalEvent> events;
};

Parsed parseInPieces(const std::string &stream, const std::string &cuts) {
  emu::ThermalParser parser(kMaxBitmapBytes);
  Parsed p{true, "", {}};
  size_t at = 0;
  for (size_t i = 0; at < stream.size(); i++) {
    // Piece lengths from the cut bytes, 1 to 256; the whole rest when they run out.
    size_t n = i < cuts.size() ? 1 + static_cast<unsigned char>(cuts[i]) : stream.size() - at;
    if (n > stream.size() - at) n = stream.size() - at;
    const bool fed =
        parser.feed(reinterpret_cast<const unsigned char *>(stream.data()) + at, n, p.events);
    FUZZ_CHECK(fed == !parser.failed(), "");
    at += n;
  }
  p.ok = parser.finish(p.events) && !parser.failed();
  p.error = parser.error();
  return p;
}

bool sameEvent(const emu::ThermalEvent &a, const emu::ThermalEvent &b) {
  if (a.command != b.command || a.offset != b.offset || a.length != b.length ||
      a.bytes != b.bytes || a.bitmap.has_value() != b.bitmap.has_value())
    return false;
  if (!a.bitmap) return true;
  return a.bitmap->bytewidth == b.bitmap->bytewidth && a.bitmap->rows == b.bitmap->rows &&
         a.bitmap->compressed == b.bitmap->compressed && a.bitmap->frames == b.bitmap->frames &&
         a.bitmap->bits == b.bitmap->bits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput in(data, size);
  const std::string cuts = in.bytes(in.byte() % 16);
  const std::string stream = in.bytes(in.remaining());

  const Parsed whole = parseInPieces(stream, "");
  const Parsed pieces = parseInPieces(stream, cuts);
  FUZZ_CHECK(whole.ok || !whole.error.empty(), "");
  FUZZ_CHECK(whole.ok == pieces.ok && whole.error == pieces.error,
             "whole: " + whole.error + "\npieces: " + pieces.error);
  FUZZ_CHECK(whole.events.size() == pieces.events.size(),
             std::to_string(whole.events.size()) + " events whole, " +
                 std::to_string(pieces.events.size()) + " in pieces");
  for (size_t i = 0; i < whole.events.size(); i++) {
    FUZZ_CHECK(sameEvent(whole.events[i], pieces.events[i]), "event " + std::to_string(i));
    if (const auto &b = whole.events[i].bitmap) {
      FUZZ_CHECK(b->bits.size() == static_cast<size_t>(b->bytewidth) * b->rows, "");
      FUZZ_CHECK(emu::bitmapDots(*b).size() == b->bits.size() * 8, "");
    }
  }
  return 0;
}
