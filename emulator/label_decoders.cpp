// What a label printer makes of the filter's stream: each language parsed into its commands
// and rows, the rows painted onto the label. Every read is bounds-checked, so garbage input
// gives an error naming the offset, never a read outside the stream.
#include "label_decoders.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

namespace emu {
namespace {

constexpr unsigned char ESC = 0x1B;
constexpr unsigned char SYN = 0x16;
constexpr unsigned char FF = 0x0C;
// Numbers in commands are clamped here, far above any real size, so arithmetic cannot overflow.
constexpr int64_t kNumberLimit = int64_t(1) << 40;

struct DecodeFailure {
  size_t offset;
  std::string what;
};

[[noreturn]] void fail(size_t offset, std::string what) {
  throw DecodeFailure{offset, std::move(what)};
}

std::string hexByte(unsigned char b) {
  const char digits[] = "0123456789ABCDEF";
  return std::string("0x") + digits[b >> 4] + digits[b & 15];
}

// The stream with a read position; reads past the end fail with the offset.
class Stream {
 public:
  explicit Stream(const std::string &bytes) : data_(bytes) {}

  size_t pos = 0;
  size_t size() const { return data_.size(); }
  bool more() const { return pos < data_.size(); }
  bool has(size_t n) const { return data_.size() - pos >= n; }
  // Byte at pos + ahead, or -1 past the end.
  int peek(size_t ahead = 0) const {
    return ahead < data_.size() - pos ? static_cast<unsigned char>(data_[pos + ahead]) : -1;
  }
  int at(size_t offset) const {
    return offset < data_.size() ? static_cast<unsigned char>(data_[offset]) : -1;
  }
  unsigned char next() {
    if (!more()) fail(pos, "stream ends inside a command");
    return static_cast<unsigned char>(data_[pos++]);
  }
  const unsigned char *take(size_t n, const char *what) {
    if (!has(n))
      fail(pos, std::string(what) + ": " + std::to_string(n) + " bytes announced, " +
                    std::to_string(data_.size() - pos) + " left");
    const unsigned char *p = reinterpret_cast<const unsigned char *>(data_.data()) + pos;
    pos += n;
    return p;
  }
  // Up to n bytes from offset (fewer near the end).
  std::string_view bytesAt(size_t offset, size_t n) const {
    return offset <= data_.size() ? std::string_view(data_).substr(offset, n) : std::string_view();
  }
  bool lookingAt(std::string_view text, size_t from) const {
    return from <= data_.size() && data_.size() - from >= text.size() &&
           std::string_view(data_).substr(from, text.size()) == text;
  }
  bool lookingAt(std::string_view text) const { return lookingAt(text, pos); }
  // Bytes up to the next byte `stop` (not consumed) or the end.
  std::string until(unsigned char stop) {
    size_t end = data_.find(static_cast<char>(stop), pos);
    if (end == std::string::npos) end = data_.size();
    std::string text = data_.substr(pos, end - pos);
    pos = end;
    return text;
  }
  // A text line: up to "\n" (consumed), a trailing "\r" dropped.
  std::string line() {
    std::string text = until('\n');
    if (more()) pos++;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    return text;
  }

 private:
  const std::string &data_;
};

bool isDigit(int c) {
  return c >= '0' && c <= '9';
}

// Leading decimal integer of text (optional sign), clamped; nullopt when there is none.
std::optional<int64_t> leadingNumber(std::string_view text, size_t *used = nullptr) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  size_t first = i;
  int64_t value = 0;
  for (; i < text.size() && isDigit(text[i]); i++)
    value = std::min(kNumberLimit, value * 10 + (text[i] - '0'));
  if (i == first) return std::nullopt;
  if (used) *used = i;
  return negative ? -value : value;
}

// True when rows of bytesPerRow bytes (both counts not negative) fit in `left` bytes.
bool fitsIn(int64_t bytesPerRow, int64_t rows, size_t left) {
  return bytesPerRow == 0 ||
         static_cast<uint64_t>(rows) <= left / static_cast<uint64_t>(bytesPerRow);
}

// Comma- or space-separated integers of a command's parameters.
std::vector<int64_t> numberList(std::string_view text, char separator) {
  std::vector<int64_t> numbers;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view field = text.substr(start, end - start);
    while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
    numbers.push_back(leadingNumber(field).value_or(0));
    start = end + 1;
  }
  return numbers;
}

// One label being decoded: the rows painted so far (kept as strips of packed bits, 1 a
// printed dot) and the page size the stream declared.
class PageBuilder {
 public:
  void command(std::string text) { page_.commands.push_back(std::move(text)); }
  void declareWidth(int64_t dots) { declaredWidth_ = dots; }
  // clip: rows below the declared height are dropped; otherwise they lengthen the page.
  void declareHeight(int64_t rows, bool clip) {
    declaredHeight_ = rows;
    clipHeight_ = clip;
  }
  int64_t declaredHeight() const { return declaredHeight_; }
  // Packed bits for row y from dot x on; inverted: a 0 bit is a printed dot.
  void strip(int64_t y, int64_t x, const unsigned char *bits, size_t n, bool inverted) {
    if (y < 0 || (clipHeight_ && declaredHeight_ >= 0 && y >= declaredHeight_)) return;
    if (declaredWidth_ >= 0 && x >= declaredWidth_) return;
    Strip s{y, x, std::string(reinterpret_cast<const char *>(bits), n)};
    if (inverted)
      for (char &b : s.bits) b = static_cast<char>(~b);
    extentX_ = std::max(extentX_, x + static_cast<int64_t>(8 * n));
    extentY_ = std::max(extentY_, y + 1);
    strips_.push_back(std::move(s));
  }

  LabelPage finish(bool printed, size_t maxDots, size_t offset) {
    int64_t width = declaredWidth_ >= 0 ? declaredWidth_ : extentX_;
    int64_t height = declaredHeight_ >= 0 ? declaredHeight_ : 0;
    if (!(clipHeight_ && declaredHeight_ >= 0)) height = std::max(height, extentY_);
    if (width < 0) width = 0;
    if (width > INT_MAX || height > INT_MAX ||
        (width > 0 && static_cast<uint64_t>(height) > maxDots / static_cast<uint64_t>(width)))
      fail(offset, "label of " + std::to_string(width) + " x " + std::to_string(height) +
                       " dots is larger than the decoder accepts");
    page_.width = static_cast<int>(width);
    page_.height = static_cast<int>(height);
    page_.dots.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 255);
    for (const Strip &s : strips_) {
      if (s.y >= height) continue;
      unsigned char *row = page_.dots.data() + static_cast<size_t>(s.y) * width;
      for (size_t i = 0; i < s.bits.size(); i++) {
        const unsigned char b = static_cast<unsigned char>(s.bits[i]);
        if (!b) continue;
        for (int k = 0; k < 8; k++) {
          int64_t x = s.x + static_cast<int64_t>(8 * i) + k;
          if ((b & (0x80 >> k)) && x >= 0 && x < width) row[x] = 0;
        }
      }
    }
    page_.printed = printed;
    return std::move(page_);
  }

 private:
  struct Strip {
    int64_t y;
    int64_t x;
    std::string bits;
  };
  LabelPage page_;
  std::vector<Strip> strips_;
  int64_t declaredWidth_ = -1;
  int64_t declaredHeight_ = -1;
  bool clipHeight_ = false;
  int64_t extentX_ = 0;
  int64_t extentY_ = 0;
};

// The pages of one stream: commands before a page's first own command (job-level ones) wait in
// `pending` and open the next page's log.
class Session {
 public:
  Session(Stream &in, const LabelDecodeOptions &options) : in(in), options_(options) {}

  Stream &in;
  std::vector<LabelPage> pages;

  PageBuilder &page() {
    if (!page_) {
      page_.emplace();
      for (std::string &c : pending_) page_->command(std::move(c));
      pending_.clear();
    }
    return *page_;
  }
  bool pageOpen() const { return page_.has_value(); }
  void command(std::string text) { page().command(std::move(text)); }
  void jobCommand(std::string text) {
    if (page_)
      page_->command(std::move(text));
    else
      pending_.push_back(std::move(text));
  }
  void endPage(bool printed) {
    pages.push_back(page().finish(printed, options_.maxDots, in.pos));
    page_.reset();
  }
  // A page whose stream ended before its print command.
  void finishStream() {
    if (page_) endPage(false);
  }
  size_t maxDots() const { return options_.maxDots; }
  int rowBytes() const { return options_.rowBytes; }

 private:
  const LabelDecodeOptions &options_;
  std::optional<PageBuilder> page_;
  std::vector<std::string> pending_;
};

// ---------------------------------------------------------------------------------------------
// Dymo: ESC commands with binary arguments, SYN rows, ESC f skips. ESC D carries only the low
// byte of the row length, so a longer row is found by checking which length lets the stream
// continue with valid commands.

bool dymoRowLengthFits(const Stream &in, size_t rowStart, size_t n) {
  size_t q = rowStart + n;
  for (int step = 0; step < 8; step++) {
    if (q > in.size()) return false;
    if (q == in.size()) return true;
    if (in.at(q) == SYN) {
      q += 1 + n;
    } else if (in.at(q) == ESC && in.at(q + 1) == 'f' && in.at(q + 2) == 1) {
      q += 4;
    } else if (in.at(q) == ESC && in.at(q + 1) == 'E') {
      return q + 2 == in.size() || in.at(q + 2) == ESC;
    } else {
      return false;
    }
  }
  return true;
}

void decodeDymo(Session &s) {
  Stream &in = s.in;
  int rowLengthByte = -1;    // from ESC D
  int64_t labelLength = -1;  // from ESC L
  int64_t rowLength = -1;    // of the current page, once found
  int64_t y = 0;
  auto openPage = [&]() -> PageBuilder & {
    bool fresh = !s.pageOpen();
    PageBuilder &page = s.page();
    if (fresh) {
      y = 0;
      rowLength = -1;
      if (labelLength >= 0) page.declareHeight(labelLength, false);
    }
    return page;
  };
  while (in.more()) {
    const size_t start = in.pos;
    const unsigned char b = in.next();
    if (b == SYN) {
      if (rowLengthByte < 0) fail(start, "row before ESC D set the row length");
      PageBuilder &page = openPage();
      if (rowLength < 0) {
        for (size_t n = static_cast<size_t>(rowLengthByte); n <= in.size() - in.pos; n += 256)
          if (dymoRowLengthFits(in, in.pos, n)) {
            rowLength = static_cast<int64_t>(n);
            break;
          }
        if (rowLength < 0) fail(start, "no row length fits the row data");
        page.declareWidth(8 * rowLength);
      }
      const unsigned char *row = in.take(static_cast<size_t>(rowLength), "row");
      page.strip(y++, 0, row, static_cast<size_t>(rowLength), false);
      continue;
    }
    if (b != ESC) fail(start, "unexpected byte " + hexByte(b));
    const unsigned char c = in.next();
    switch (c) {
      case ESC:
        in.pos--;  // padding before a reset: the second ESC starts the next command
        break;
      case '@':
        s.jobCommand("ESC @");
        break;
      case 'L': {
        const unsigned char *v = in.take(2, "ESC L");
        labelLength = v[0] << 8 | v[1];
        openPage().declareHeight(labelLength, false);
        s.command("ESC L " + std::to_string(labelLength));
        break;
      }
      case 'D':
        rowLengthByte = in.next();
        // The row length modulo 256; a row of the page tells the whole length.
        openPage().declareWidth(8 * rowLengthByte);
        rowLength = -1;
        s.command("ESC D " + std::to_string(rowLengthByte));
        if (in.peek() == ESC) {
          // The darkness letter follows ESC D; it may be any byte.
          in.pos++;
          const unsigned char darkness = in.next();
          s.command("ESC " + hexByte(darkness) + " (darkness " + std::to_string(darkness - 99) +
                    ")");
        }
        break;
      case 'f': {
        const unsigned char *v = in.take(2, "ESC f");
        openPage();
        if (v[0] != 1) fail(start, "ESC f with the unknown argument " + hexByte(v[0]));
        y += v[1];
        break;
      }
      case 'E':
        openPage();
        s.command("ESC E");
        s.endPage(true);
        break;
      default:
        fail(start, "unknown command ESC " + hexByte(c));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// EPL line mode: ESC commands with text arguments up to the next ESC, rows "ESC g" + decimal
// length + bytes. The length has at least three digits; which digits belong to it is found as
// for Dymo, by the commands that must follow the row.

bool eplRowFits(const Stream &in, size_t dataStart, size_t n, std::string_view digits) {
  size_t q = dataStart + n;
  for (int step = 0; step < 8; step++) {
    if (q > in.size()) return false;
    if (q == in.size()) return true;
    if (in.at(q) != ESC) return false;
    if (in.at(q + 1) == 'E') return true;
    if (in.at(q + 1) != 'g' || !in.lookingAt(digits, q + 2)) return false;
    q += 2 + digits.size() + n;
  }
  return true;
}

void decodeEplLine(Session &s) {
  Stream &in = s.in;
  int64_t y = 0;
  while (in.more()) {
    const size_t start = in.pos;
    const unsigned char b = in.next();
    if (b == FF) {
      s.jobCommand("FF");
      continue;
    }
    if (b != ESC) fail(start, "unexpected byte " + hexByte(b));
    if (!s.pageOpen()) y = 0;
    const unsigned char c = in.next();
    switch (c) {
      case 'g': {
        size_t digitCount = 0;
        while (digitCount < 10 && isDigit(in.peek(digitCount))) digitCount++;
        if (digitCount < 3) fail(start, "ESC g without a three-digit length");
        const size_t left = in.size() - in.pos;
        std::optional<size_t> fit;
        size_t n = 0;
        for (size_t used = 3; used <= digitCount && !fit; used++) {
          std::string_view digits = in.bytesAt(in.pos, used);
          n = static_cast<size_t>(leadingNumber(digits).value_or(0));
          if (n <= left - used && eplRowFits(in, in.pos + used, n, digits)) fit = used;
        }
        if (!fit) fail(start, "no row length fits the row data");
        in.pos += *fit;
        s.page().strip(y++, 0, in.take(n, "ESC g row"), n, false);
        break;
      }
      case 'E':
        s.command("ESC E");
        if (in.peek() == FF) {
          in.pos++;
          s.command("FF");
        }
        s.endPage(true);
        break;
      case 'B':
        s.command("ESC B");
        break;
      case 'S':
      case 'D':
      case 'M':
        s.command(std::string("ESC ") + static_cast<char>(c) + in.until(ESC));
        break;
      default:
        fail(start, "unknown command ESC " + hexByte(c));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// EPL page mode: text lines, "GWx,y,bytes,rows" followed by the complemented graphic and a
// line end, "P" prints.

void decodeEplPage(Session &s) {
  Stream &in = s.in;
  while (in.more()) {
    const size_t start = in.pos;
    if (in.lookingAt("GW")) {
      std::string text = in.line();
      std::vector<int64_t> v = numberList(std::string_view(text).substr(2), ',');
      if (v.size() != 4 || v[2] < 0 || v[3] < 0)
        fail(start, "GW needs x, y, bytes per row and rows: " + text);
      if (!fitsIn(v[2], v[3], in.size() - in.pos)) fail(in.pos, "GW data shorter than announced");
      PageBuilder &page = s.page();
      for (int64_t r = 0; v[2] > 0 && r < v[3]; r++)
        page.strip(v[1] + r, v[0], in.take(static_cast<size_t>(v[2]), "GW data"),
                   static_cast<size_t>(v[2]), true);
      if (in.peek() == '\r') in.pos++;
      if (in.peek() == '\n') in.pos++;
      continue;
    }
    std::string text = in.line();
    if (text.empty()) continue;
    if (text == "N") {
      if (s.pageOpen()) s.endPage(false);
      s.command(text);
    } else if (text[0] == 'q') {
      s.command(text);
      if (auto width = leadingNumber(std::string_view(text).substr(1)))
        s.page().declareWidth(std::max<int64_t>(0, *width));
    } else if (text[0] == 'P') {
      s.command(text);
      s.endPage(true);
    } else {
      s.command(text);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// ZPL: "^" and "~" commands; "~DG" downloads a graphic whose hexadecimal data uses repeat
// counts (G-Y 1 to 19, g-z 20 to 400, added up), "," (zeros to the row end), "!" (ones to the
// row end) and ":" (the previous row again). "^XG" in a format prints the graphic.

struct ZplGraphic {
  std::string name;
  size_t rowBytes = 0;
  size_t rows = 0;
  std::vector<unsigned char> bytes;
};

int hexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads the graphic's data, up to its end or to a "~DN" that aborts the download.
void readZplGraphicData(Stream &in, ZplGraphic &g) {
  const size_t digits = 2 * g.rowBytes * g.rows;
  const size_t rowDigits = 2 * g.rowBytes;
  auto setDigit = [&](size_t d, int value) {
    unsigned char &byte = g.bytes[d / 2];
    byte = d % 2 ? static_cast<unsigned char>((byte & 0xF0) | value)
                 : static_cast<unsigned char>((byte & 0x0F) | value << 4);
  };
  auto digitAt = [&](size_t d) { return d % 2 ? g.bytes[d / 2] & 15 : g.bytes[d / 2] >> 4; };
  size_t d = 0;
  size_t count = 0;
  while (d < digits) {
    const size_t at = in.pos;
    if (!in.more())
      fail(at, "graphic data ends after " + std::to_string(d) + " of " + std::to_string(digits) +
                   " digits");
    const unsigned char c = in.next();
    if (int value = hexValue(c); value >= 0) {
      size_t n = std::min(std::max<size_t>(count, 1), digits - d);
      for (size_t k = 0; k < n; k++) setDigit(d++, value);
      count = 0;
    } else if (c >= 'G' && c <= 'Y') {
      count += c - 'F';
    } else if (c >= 'g' && c <= 'z') {
      count = std::min<size_t>(count + 20 * (c - 'f'), digits);
    } else if (c == ',' || c == '!') {
      const size_t end = (d / rowDigits + 1) * rowDigits;
      for (; d < end; d++) setDigit(d, c == ',' ? 0 : 15);
      count = 0;
    } else if (c == ':') {
      const size_t end = (d / rowDigits + 1) * rowDigits;
      for (; d < end; d++) setDigit(d, d >= rowDigits ? digitAt(d - rowDigits) : 0);
      count = 0;
    } else if (c == '\r' || c == '\n') {
      continue;
    } else if (c == '~' && in.lookingAt("DN")) {
      in.pos = at;
      return;
    } else {
      fail(at, "unexpected byte " + hexByte(c) + " in graphic data");
    }
  }
}

void decodeZpl(Session &s) {
  Stream &in = s.in;
  std::optional<ZplGraphic> graphic;
  std::optional<ZplGraphic> recalled;  // the graphic that the current format prints
  bool inFormat = false;
  while (in.more()) {
    const size_t start = in.pos;
    const unsigned char lead = in.next();
    if (lead == '\r' || lead == '\n' || lead == ' ') continue;
    if (lead != '^' && lead != '~') fail(start, "unexpected byte " + hexByte(lead));
    if (!in.has(2)) fail(start, "command cut short");
    std::string name{static_cast<char>(lead), static_cast<char>(in.next()),
                     static_cast<char>(in.next())};
    size_t end = in.pos;
    while (end < in.size() && in.at(end) != '^' && in.at(end) != '~' && in.at(end) != '\n' &&
           in.at(end) != '\r')
      end++;
    std::string params(in.bytesAt(in.pos, end - in.pos));
    in.pos = end;
    if (name == "~DG") {
      // name,total bytes,bytes per row, then the data right after the third comma
      size_t c1 = params.find(','), c2 = std::string::npos, c3 = std::string::npos;
      if (c1 != std::string::npos) c2 = params.find(',', c1 + 1);
      if (c2 != std::string::npos) c3 = params.find(',', c2 + 1);
      if (c3 == std::string::npos) fail(start, "~DG needs a name, a total and a row length");
      in.pos = start + 3 + c3 + 1;
      int64_t total = leadingNumber(std::string_view(params).substr(c1 + 1)).value_or(-1);
      int64_t row = leadingNumber(std::string_view(params).substr(c2 + 1)).value_or(-1);
      if (total < 0 || row <= 0) fail(start, "~DG with a bad size: " + params.substr(0, c3));
      ZplGraphic g;
      g.name = params.substr(0, c1);
      g.rowBytes = static_cast<size_t>(row);
      g.rows = static_cast<size_t>(total / row);
      if (g.rows > 0 && 8 * g.rowBytes > s.maxDots() / g.rows)
        fail(start, "graphic of " + std::to_string(8 * row) + " x " + std::to_string(g.rows) +
                        " dots is larger than the decoder accepts");
      g.bytes.assign(g.rowBytes * g.rows, 0);
      s.command(name + params.substr(0, c3 + 1));
      // On "~DN" inside the data the partial graphic stays for the unprinted label's picture.
      readZplGraphicData(in, g);
      graphic = std::move(g);
      continue;
    }
    s.command(name + params);
    if (name == "~DN") {
      // The download is abandoned: the label is never printed.
      PageBuilder &page = s.page();
      if (graphic) {
        page.declareWidth(static_cast<int64_t>(8 * graphic->rowBytes));
        for (size_t r = 0; r < graphic->rows; r++)
          page.strip(static_cast<int64_t>(r), 0, graphic->bytes.data() + r * graphic->rowBytes,
                     graphic->rowBytes, false);
      }
      graphic.reset();
      s.endPage(false);
    } else if (name == "^XA") {
      inFormat = true;
      recalled.reset();
    } else if (name == "^XG") {
      std::string wanted = params.substr(0, params.find(','));
      if (graphic && graphic->name == wanted) recalled = graphic;
    } else if (name == "^ID") {
      std::string wanted = params;
      if (graphic && graphic->name == wanted) graphic.reset();
    } else if (name == "^XZ") {
      if (!inFormat) fail(start, "^XZ without ^XA");
      inFormat = false;
      if (recalled) {
        PageBuilder &page = s.page();
        page.declareWidth(static_cast<int64_t>(8 * recalled->rowBytes));
        page.declareHeight(static_cast<int64_t>(recalled->rows), true);
        for (size_t r = 0; r < recalled->rows; r++)
          page.strip(static_cast<int64_t>(r), 0, recalled->bytes.data() + r * recalled->rowBytes,
                     recalled->rowBytes, false);
        recalled.reset();
        s.endPage(true);
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// CPCL: "\r\n" lines; "! 0 hres vres height copies" opens a label, "CG bytes rows x y " is
// followed by the graphic, "PRINT" prints.

void decodeCpcl(Session &s) {
  Stream &in = s.in;
  while (in.more()) {
    const size_t start = in.pos;
    if (in.lookingAt("CG ")) {
      in.pos += 3;
      int64_t v[4];
      for (int64_t &value : v) {
        size_t used = 0;
        std::string field = in.until(' ');
        std::optional<int64_t> number = leadingNumber(field, &used);
        if (!number || used != field.size() || !in.more())
          fail(start, "CG needs bytes, rows, x and y");
        value = *number;
        in.pos++;  // the space
      }
      if (v[0] < 0 || v[1] < 0) fail(start, "CG with a negative size");
      if (!fitsIn(v[0], v[1], in.size() - in.pos)) fail(in.pos, "CG data shorter than announced");
      PageBuilder &page = s.page();
      for (int64_t r = 0; v[0] > 0 && r < v[1]; r++)
        page.strip(v[3] + r, v[2], in.take(static_cast<size_t>(v[0]), "CG data"),
                   static_cast<size_t>(v[0]), false);
      if (in.lookingAt("\r\n")) in.pos += 2;
      continue;
    }
    std::string text = in.line();
    if (text.empty()) continue;
    if (text.rfind("! ", 0) == 0) {
      if (s.pageOpen()) s.endPage(false);
      s.command(text);
      std::vector<int64_t> v = numberList(std::string_view(text).substr(2), ' ');
      if (v.size() >= 4) s.page().declareHeight(std::max<int64_t>(0, v[3]), true);
    } else if (text.rfind("PAGE-WIDTH ", 0) == 0) {
      s.command(text);
      s.page().declareWidth(std::max<int64_t>(0, leadingNumber(text.substr(11)).value_or(0)));
    } else if (text.rfind("PAGE-HEIGHT ", 0) == 0) {
      s.command(text);
      s.page().declareHeight(std::max<int64_t>(0, leadingNumber(text.substr(12)).value_or(0)),
                             true);
    } else if (text == "PRINT") {
      s.command(text);
      s.endPage(true);
    } else {
      s.command(text);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Model 20: rows of a fixed length, a printed dot a 0 bit, the label closed by "\nPRINT 1,1\n".

void decodeModel20(Session &s) {
  Stream &in = s.in;
  const char kPrint[] = "\nPRINT 1,1\n";
  if (s.rowBytes() <= 0 && in.more()) fail(0, "model 20 needs the row length in bytes");
  const size_t n = static_cast<size_t>(std::max(s.rowBytes(), 0));
  int64_t y = 0;
  while (in.more()) {
    if (!s.pageOpen()) y = 0;
    PageBuilder &page = s.page();
    page.declareWidth(static_cast<int64_t>(8 * n));
    if (in.lookingAt(kPrint)) {
      in.pos += sizeof kPrint - 1;
      s.command("PRINT 1,1");
      s.endPage(true);
      continue;
    }
    page.strip(y++, 0, in.take(n, "row"), n, true);
  }
}

// ---------------------------------------------------------------------------------------------
// PCL: escape sequences (parameterised ones may combine several parameters), raster rows
// "ESC *b#W" in compression mode 0 or 3 (delta row against the seed row), "ESC *b#Y" skips,
// form feed prints.

struct PclRaster {
  int64_t width = 0;
  int64_t height = 0;
  int64_t mode = 0;
  bool active = false;
  int64_t y = 0;
  std::vector<unsigned char> seed;
};

// Applies one mode-3 row of data to the seed row.
void applyDeltaRow(const unsigned char *data, size_t length, std::vector<unsigned char> &seed,
                   size_t offset) {
  size_t i = 0;
  size_t p = 0;
  while (i < length) {
    const unsigned char command = data[i++];
    const size_t count = (command >> 5) + 1;
    size_t skip = command & 31;
    if (skip == 31) {
      unsigned char more;
      do {
        if (i >= length) fail(offset + i, "delta row ends inside an offset");
        more = data[i++];
        skip += more;
      } while (more == 255);
    }
    p += skip;
    if (count > length - i) fail(offset + i, "delta row ends inside its replacement bytes");
    for (size_t k = 0; k < count; k++, p++)
      if (p < seed.size()) seed[p] = data[i + k];
    i += count;
    p = std::min(p, seed.size());
  }
}

std::string pclCommandText(unsigned char group, unsigned char family, const std::string &value,
                           unsigned char term) {
  return std::string("ESC ") + static_cast<char>(group) + static_cast<char>(family) + value +
         static_cast<char>(term);
}

void decodePcl(Session &s) {
  Stream &in = s.in;
  PclRaster raster;
  while (in.more()) {
    const size_t start = in.pos;
    const unsigned char b = in.next();
    if (b == FF) {
      s.command("FF");
      raster.active = false;
      s.endPage(true);
      continue;
    }
    if (b == '\r' || b == '\n') continue;
    if (b != ESC) fail(start, "unexpected byte " + hexByte(b));
    const unsigned char group = in.next();
    if (group < 0x21 || group > 0x2F) {
      if (group == 'E')
        s.jobCommand("ESC E");
      else
        s.command(std::string("ESC ") + static_cast<char>(group));
      continue;
    }
    const unsigned char family = in.next();
    if (family < 0x60 || family > 0x7E) fail(start, "bad escape sequence");
    // One or more parameters: value, then a lower-case letter to go on or an upper-case one
    // to end the sequence.
    for (;;) {
      std::string value;
      while (in.more() &&
             (isDigit(in.peek()) || in.peek() == '-' || in.peek() == '+' || in.peek() == '.')) {
        if (value.size() > 20) fail(in.pos, "number too long");
        value += static_cast<char>(in.next());
      }
      const size_t termAt = in.pos;
      const unsigned char t = in.next();
      const bool last = t >= 0x40 && t <= 0x5E;
      if (!last && !(t >= 0x60 && t <= 0x7E)) fail(termAt, "bad escape sequence");
      const unsigned char term = static_cast<unsigned char>(last ? t : t - 0x20);
      const int64_t v = leadingNumber(value).value_or(0);
      if (group == '*' && family == 'b' && term == 'W') {
        if (v < 0) fail(start, "ESC *b with a negative byte count");
        const unsigned char *data = in.take(static_cast<size_t>(v), "raster row");
        if (!raster.active) fail(start, "raster row outside raster graphics");
        if (raster.mode == 3) {
          applyDeltaRow(data, static_cast<size_t>(v), raster.seed, static_cast<size_t>(termAt + 1));
        } else if (raster.mode == 0) {
          std::fill(raster.seed.begin(), raster.seed.end(), 0);
          std::copy_n(data, std::min(raster.seed.size(), static_cast<size_t>(v)),
                      raster.seed.begin());
        } else {
          fail(start, "compression mode " + std::to_string(raster.mode) + " is not supported");
        }
        s.page().strip(raster.y++, 0, raster.seed.data(), raster.seed.size(), false);
      } else if (group == '*' && family == 'b' && term == 'Y') {
        if (!raster.active) fail(start, "row skip outside raster graphics");
        raster.y += std::max<int64_t>(0, v);
        std::fill(raster.seed.begin(), raster.seed.end(), 0);
      } else {
        s.command(pclCommandText(group, family, value, term));
        if (group == '*' && family == 'b' && term == 'M') {
          raster.mode = v;
        } else if (group == '*' && family == 'r' && term == 'S') {
          raster.width = std::max<int64_t>(0, v);
        } else if (group == '*' && family == 'r' && term == 'T') {
          raster.height = std::max<int64_t>(0, v);
        } else if (group == '*' && family == 'r' && term == 'A') {
          if (static_cast<uint64_t>(raster.width) > s.maxDots() ||
              (raster.height > 0 && static_cast<uint64_t>(raster.width) >
                                        s.maxDots() / static_cast<uint64_t>(raster.height)))
            fail(start, "raster of " + std::to_string(raster.width) + " x " +
                            std::to_string(raster.height) +
                            " dots is larger than the decoder accepts");
          PageBuilder &page = s.page();
          page.declareWidth(raster.width);
          page.declareHeight(raster.height, true);
          raster.active = true;
          raster.y = 0;
          raster.seed.assign(static_cast<size_t>((raster.width + 7) / 8), 0);
        } else if (group == '*' && family == 'r' && (term == 'B' || term == 'C')) {
          raster.active = false;
        }
      }
      if (last) break;
    }
  }
}

}  // namespace

LabelDecodeResult decodeLabelStream(int model, const std::string &bytes,
                                    const LabelDecodeOptions &options) {
  LabelDecodeResult result;
  Stream in(bytes);
  Session session(in, options);
  try {
    switch (model) {
      case 0:
        decodeDymo(session);
        break;
      case 16:
        decodeEplLine(session);
        break;
      case 17:
        decodeEplPage(session);
        break;
      case 18:
        decodeZpl(session);
        break;
      case 19:
        decodeCpcl(session);
        break;
      case 20:
        decodeModel20(session);
        break;
      case 32:
        decodePcl(session);
        break;
      default:
        fail(0, "model " + std::to_string(model) + " is not a label model");
    }
    session.finishStream();
    result.ok = true;
  } catch (const DecodeFailure &failure) {
    result.error = "offset " + std::to_string(failure.offset) + ": " + failure.what;
  }
  result.pages = std::move(session.pages);
  return result;
}

}  // namespace emu
