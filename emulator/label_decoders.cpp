// What a label printer makes of the filter's stream: each language parsed into its commands
// and rows, the rows painted onto the label. Every read is bounds-checked, so garbage input
// gives an error naming the offset, never a read outside the stream.
//
// Each language parses one unit at a time (a command, a row, a run of graphic data). A unit that
// reads past the bytes received so far is abandoned and parsed again from its start once more
// bytes have come, so a unit changes no state before its last read. Units are bounded in size,
// which bounds the bytes kept between calls.
#include "label_decoders.h"

#include <algorithm>
#include <climits>
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
  bool limit;  // a size beyond the options' limits, not a malformed command
};

// A unit read past the bytes received so far: parse it again when more have come.
struct NeedMore {};
// The output refused a page.
struct Stopped {};

[[noreturn]] void fail(size_t offset, std::string what) {
  throw DecodeFailure{offset, std::move(what), false};
}
[[noreturn]] void failLimit(size_t offset, std::string what) {
  throw DecodeFailure{offset, std::move(what), true};
}
std::string tooLarge(std::string what) {
  return what + " is larger than the decoder accepts";
}

std::string hexByte(unsigned char b) {
  const char digits[] = "0123456789ABCDEF";
  return std::string("0x") + digits[b >> 4] + digits[b & 15];
}

// The bytes received so far, from the start of the unit being parsed on, with a read position
// in stream offsets. A read past them fails once the stream has ended and throws NeedMore
// before that.
class Stream {
 public:
  explicit Stream(size_t maxUnit) : maxUnit_(maxUnit) {}

  size_t pos = 0;
  // Bytes received so far: the stream's size once it has ended.
  size_t size() const { return base_ + buf_.size(); }
  bool ended() const { return ended_; }
  size_t available() const { return size() - pos; }
  size_t maxUnit() const { return maxUnit_; }

  // Adds bytes; those before pos are no longer needed.
  void append(const unsigned char *data, size_t n) {
    buf_.erase(0, pos - base_);
    base_ = pos;
    buf_.append(reinterpret_cast<const char *>(data), n);
  }
  void end() { ended_ = true; }

  // True when the stream ends at or before offset q.
  bool endsBy(size_t q) const {
    if (q < size()) return false;
    if (ended_) return true;
    throw NeedMore{};
  }
  bool more() const { return !endsBy(pos); }
  bool has(size_t n) const { return n == 0 || !endsBy(pos + n - 1); }
  // Byte at offset, or -1 past the end.
  int at(size_t offset) const { return endsBy(offset) ? -1 : byte(offset); }
  int peek(size_t ahead = 0) const { return at(pos + ahead); }
  unsigned char next() {
    if (!more()) fail(pos, "stream ends inside a command");
    return static_cast<unsigned char>(byte(pos++));
  }
  const unsigned char *take(size_t n, const char *what) {
    if (n > maxUnit_)
      failLimit(pos, tooLarge(std::string(what) + " of " + std::to_string(n) + " bytes"));
    if (!has(n))
      fail(pos, std::string(what) + ": " + std::to_string(n) + " bytes announced, " +
                    std::to_string(size() - pos) + " left");
    const unsigned char *p = data(pos);
    pos += n;
    return p;
  }
  // n received bytes from offset.
  std::string bytesAt(size_t offset, size_t n) const {
    return std::string(reinterpret_cast<const char *>(data(offset)), n);
  }
  bool lookingAt(std::string_view text, size_t from) const {
    for (size_t i = 0; i < text.size(); i++)
      if (at(from + i) != static_cast<unsigned char>(text[i])) return false;
    return true;
  }
  bool lookingAt(std::string_view text) const { return lookingAt(text, pos); }
  // Offset of the first byte from `from` on that `stop` accepts, or the end of the stream.
  template <class Stop>
  size_t find(size_t from, Stop stop) const {
    for (size_t q = from;; q++) {
      if (q - from > maxUnit_)
        failLimit(from, "command longer than " + std::to_string(maxUnit_) + " bytes");
      if (endsBy(q) || stop(static_cast<unsigned char>(byte(q)))) return q;
    }
  }
  // Bytes up to the next byte `stop` (not consumed) or the end.
  std::string until(unsigned char stop) {
    const size_t end = find(pos, [stop](unsigned char c) { return c == stop; });
    std::string text = bytesAt(pos, end - pos);
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
  int byte(size_t offset) const { return static_cast<unsigned char>(buf_[offset - base_]); }
  const unsigned char *data(size_t offset) const {
    return reinterpret_cast<const unsigned char *>(buf_.data()) + (offset - base_);
  }

  size_t maxUnit_;
  std::string buf_;  // bytes from stream offset base_ on
  size_t base_ = 0;
  bool ended_ = false;
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

std::string sizeText(int64_t width, int64_t height) {
  return std::to_string(width) + " x " + std::to_string(height) + " dots";
}

// What decoding may still cost: dots filled, painted and rendered. A few bytes of stream can
// recall a stored graphic, or repeat a row, over and over, so the work is counted, not the bytes.
class WorkBudget {
 public:
  explicit WorkBudget(uint64_t max) : max_(max) {}
  void spend(uint64_t dots, size_t offset) {
    if (dots > max_ - used_)
      failLimit(offset, "decoding the labels would take more than " + std::to_string(max_) +
                            " dots of work (max-decode-dots)");
    used_ += dots;
  }

 private:
  uint64_t max_;
  uint64_t used_ = 0;
};

// One label being decoded: the dots painted so far, packed 8 to a byte (1 a printed dot) in
// rows that grow as strips arrive, and the page size the stream declared.
class PageBuilder {
 public:
  PageBuilder(uint64_t maxDots, WorkBudget &work) : maxDots_(maxDots), work_(work) {}

  void declareWidth(int64_t dots) { declaredWidth_ = dots; }
  // clip: rows below the declared height are dropped; otherwise they lengthen the page.
  void declareHeight(int64_t rows, bool clip) {
    declaredHeight_ = rows;
    clipHeight_ = clip;
  }
  // Packed bits for row y from dot x on; inverted: a 0 bit is a printed dot. Dots beyond the
  // declared width are dropped now, as the finished page would crop them.
  void strip(int64_t y, int64_t x, const unsigned char *bits, size_t n, bool inverted,
             size_t offset) {
    if (y < 0 || (clipHeight_ && declaredHeight_ >= 0 && y >= declaredHeight_)) return;
    if (declaredWidth_ >= 0 && x >= declaredWidth_) return;
    const int64_t end = x + static_cast<int64_t>(8 * n);
    extentX_ = std::max(extentX_, end);
    extentY_ = std::max(extentY_, y + 1);
    const int64_t keep = declaredWidth_ >= 0 ? std::min(end, declaredWidth_) : end;
    if (keep <= 0 || n == 0) return;
    work_.spend(8 * n, offset);
    grow(keep, y, offset);
    unsigned char *row = bits_.data() + static_cast<size_t>(y) * stride_;
    for (size_t i = 0; i < n; i++) {
      const unsigned char b = static_cast<unsigned char>(inverted ? ~bits[i] : bits[i]);
      if (!b) continue;
      const int64_t x0 = x + static_cast<int64_t>(8 * i);
      if (x0 >= 0 && x0 % 8 == 0 && x0 + 8 <= keep) {
        row[x0 / 8] |= b;
        continue;
      }
      for (int k = 0; k < 8; k++) {
        const int64_t dot = x0 + k;
        if ((b & (0x80 >> k)) && dot >= 0 && dot < keep) row[dot / 8] |= 0x80 >> (dot % 8);
      }
    }
  }

  // The finished page's size; a label beyond maxDots fails at offset.
  std::pair<int, int> size(size_t offset) const {
    int64_t width = declaredWidth_ >= 0 ? declaredWidth_ : extentX_;
    int64_t height = declaredHeight_ >= 0 ? declaredHeight_ : 0;
    if (!(clipHeight_ && declaredHeight_ >= 0)) height = std::max(height, extentY_);
    if (width < 0) width = 0;
    if (width > INT_MAX || height > INT_MAX ||
        (width > 0 && static_cast<uint64_t>(height) > maxDots_ / static_cast<uint64_t>(width)))
      failLimit(offset, tooLarge("label of " + sizeText(width, height)));
    return {static_cast<int>(width), static_cast<int>(height)};
  }

  LabelPage render(int width, int height, bool printed) const {
    LabelPage page;
    page.width = width;
    page.height = height;
    page.printed = printed;
    page.dots.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 255);
    const size_t rows = std::min(rows_, static_cast<size_t>(height));
    const size_t bytes = std::min(stride_, (static_cast<size_t>(width) + 7) / 8);
    for (size_t y = 0; y < rows; y++) {
      const unsigned char *row = bits_.data() + y * stride_;
      unsigned char *out = page.dots.data() + y * static_cast<size_t>(width);
      for (size_t i = 0; i < bytes; i++) {
        if (!row[i]) continue;
        for (size_t k = 0; k < 8; k++)
          if ((row[i] & (0x80 >> k)) && 8 * i + k < static_cast<size_t>(width)) out[8 * i + k] = 0;
      }
    }
    return page;
  }

 private:
  // Makes room for row y and dots up to keep; the painted area stays within maxDots.
  void grow(int64_t keep, int64_t y, size_t offset) {
    const uint64_t width = static_cast<uint64_t>(std::max(keptWidth_, keep));
    const uint64_t rows = std::max<uint64_t>(rows_, static_cast<uint64_t>(y) + 1);
    if (rows > maxDots_ / width)
      failLimit(offset, tooLarge("label of " + sizeText(extentX_, extentY_)));
    keptWidth_ = static_cast<int64_t>(width);
    const size_t stride = static_cast<size_t>((width + 7) / 8);
    if (stride > stride_) {
      // Doubling keeps the copies few when strips widen the label step by step.
      const size_t wider = std::max(stride, std::min(2 * stride_, (maxDots_ + 7) / 8));
      std::vector<unsigned char> bits(rows_ * wider, 0);
      for (size_t r = 0; r < rows_; r++)
        std::copy_n(bits_.data() + r * stride_, stride_, bits.data() + r * wider);
      bits_ = std::move(bits);
      stride_ = wider;
    }
    if (rows > rows_) {
      rows_ = static_cast<size_t>(rows);
      bits_.resize(rows_ * stride_, 0);
    }
  }

  uint64_t maxDots_;
  WorkBudget &work_;
  std::vector<unsigned char> bits_;
  size_t stride_ = 0;  // bytes per row in bits_
  size_t rows_ = 0;
  int64_t keptWidth_ = 0;  // dots that strips painted, from 0
  int64_t declaredWidth_ = -1;
  int64_t declaredHeight_ = -1;
  bool clipHeight_ = false;
  int64_t extentX_ = 0;
  int64_t extentY_ = 0;
};

// The pages of one stream and what they have cost so far.
class Session {
 public:
  Session(Stream &in, const LabelDecodeOptions &options, LabelOutput &output)
      : in(in), options_(options), output_(output), work_(options.maxWorkDots) {}

  Stream &in;
  size_t unitStart = 0;  // offset of the unit being parsed, for the commands it logs

  PageBuilder &page() {
    if (!page_) page_.emplace(options_.maxDots, work_);
    return *page_;
  }
  bool pageOpen() const { return page_.has_value(); }
  // A command of the page (it opens one) and a job-level command (it does not).
  void command(const std::string &text) {
    page();
    jobCommand(text);
  }
  void jobCommand(const std::string &text) { output_.command(unitStart, text); }
  void endPage(bool printed) {
    const auto [width, height] = page().size(in.pos);
    const uint64_t dots = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (dots > options_.maxJobDots - jobDots_)
      failLimit(in.pos, "label " + std::to_string(pages_ + 1) +
                            " would bring the job to more than " +
                            std::to_string(options_.maxJobDots) + " dots");
    jobDots_ += dots;
    work_.spend(dots, in.pos);
    pages_++;
    LabelPage done = page_->render(width, height, printed);
    page_.reset();
    if (!output_.page(done)) throw Stopped{};
  }
  // A page whose stream ended before its print command.
  void finishStream() {
    if (page_) endPage(false);
  }
  uint64_t maxDots() const { return options_.maxDots; }
  // Longest row a label can have.
  size_t maxRowBytes() const { return static_cast<size_t>(options_.maxDots / 8); }
  int rowBytes() const { return options_.rowBytes; }
  // Dots about to be filled or painted at offset; beyond the budget the decoder stops.
  void spend(uint64_t dots, size_t offset) { work_.spend(dots, offset); }

 private:
  const LabelDecodeOptions &options_;
  LabelOutput &output_;
  WorkBudget work_;
  std::optional<PageBuilder> page_;
  uint64_t jobDots_ = 0;
  int pages_ = 0;
};

// One label language: what it carries from unit to unit.
class Language {
 public:
  virtual ~Language() = default;
  // Parses one unit at s.in.pos. False: the unit is waiting for more bytes and has kept what it
  // read (rather than throw NeedMore to be parsed again).
  virtual bool step(Session &s) = 0;
  // Inside a unit that the end of the stream must still see (to report it cut short).
  virtual bool busy() const { return false; }
};

// Rows of a graphic that follows its command, one row a unit.
struct PendingRows {
  int64_t left = 0;  // rows still to come
  int64_t y = 0;     // of the next row
  int64_t x = 0;
  size_t bytes = 0;  // per row
  size_t dataStart = 0;
  bool inverted = false;
  bool lineEnd = false;  // the line end that may follow the rows is still to be skipped
  const char *name = "";

  // The command's values, checked, before its rows.
  void expect(const char *command, int64_t x0, int64_t y0, int64_t rowBytes, int64_t rows,
              bool invert, const Session &s, size_t start) {
    if (rows > 0 && static_cast<uint64_t>(rowBytes) > s.maxRowBytes())
      failLimit(start,
                tooLarge(std::string(command) + " row of " + std::to_string(rowBytes) + " bytes"));
    name = command;
    x = x0;
    y = y0;
    bytes = static_cast<size_t>(rowBytes);
    left = rowBytes > 0 ? rows : 0;
    dataStart = s.in.pos;
    inverted = invert;
    lineEnd = true;
  }
  // Paints the next row; false when all have come.
  bool row(Session &s) {
    if (left == 0) return false;
    Stream &in = s.in;
    if (!in.has(bytes)) fail(dataStart, std::string(name) + " data shorter than announced");
    const size_t at = in.pos;
    const unsigned char *data = in.take(bytes, name);
    s.page().strip(y++, x, data, bytes, inverted, at);
    left--;
    return true;
  }
};

// Languages of text lines in which a graphic command is followed by its rows and a line end.
class LinesAndRows : public Language {
 public:
  bool busy() const override { return rows_.left > 0; }
  bool step(Session &s) final {
    if (rows_.row(s)) return true;
    if (rows_.lineEnd) {
      skipLineEnd(s.in);
      rows_.lineEnd = false;
      return true;
    }
    const size_t start = s.in.pos;
    if (graphic(s, start)) return true;
    const std::string text = s.in.line();
    if (!text.empty()) line(s, text);
    return true;
  }

 protected:
  virtual void skipLineEnd(Stream &in) = 0;
  // A graphic command at start, parsed up to its rows; false when there is none.
  virtual bool graphic(Session &s, size_t start) = 0;
  // A text line other than a graphic command.
  virtual void line(Session &s, const std::string &text) = 0;

  PendingRows rows_;
};

// ---------------------------------------------------------------------------------------------
// Dymo: ESC commands with binary arguments, SYN rows, ESC f skips. ESC D carries only the low
// byte of the row length, so a longer row is found by checking which length lets the stream
// continue with valid commands.

bool dymoRowLengthFits(const Stream &in, size_t rowStart, size_t n) {
  size_t q = rowStart + n;
  for (int step = 0; step < 8; step++) {
    if (in.endsBy(q)) return q == in.size();
    if (in.at(q) == SYN) {
      q += 1 + n;
    } else if (in.at(q) == ESC && in.at(q + 1) == 'f' && in.at(q + 2) == 1) {
      q += 4;
    } else if (in.at(q) == ESC && in.at(q + 1) == 'E') {
      return in.endsBy(q + 2) || in.at(q + 2) == ESC;
    } else {
      return false;
    }
  }
  return true;
}

class Dymo : public Language {
 public:
  bool step(Session &s) override {
    Stream &in = s.in;
    const size_t start = in.pos;
    const unsigned char b = in.next();
    if (b == SYN) {
      if (rowLengthByte_ < 0) fail(start, "row before ESC D set the row length");
      const size_t length = s.pageOpen() && rowLength_ >= 0 ? static_cast<size_t>(rowLength_)
                                                            : findRowLength(s, start);
      const unsigned char *row = in.take(length, "row");
      PageBuilder &page = openPage(s);
      if (rowLength_ < 0) {
        rowLength_ = static_cast<int64_t>(length);
        page.declareWidth(8 * rowLength_);
      }
      page.strip(y_++, 0, row, length, false, start);
      return true;
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
        labelLength_ = v[0] << 8 | v[1];
        openPage(s).declareHeight(labelLength_, false);
        s.command("ESC L " + std::to_string(labelLength_));
        break;
      }
      case 'D': {
        const unsigned char length = in.next();
        // The darkness letter follows ESC D; it may be any byte.
        const bool darkness = in.peek() == ESC;
        const unsigned char letter = darkness ? (in.pos++, in.next()) : 0;
        rowLengthByte_ = length;
        // The row length modulo 256; a row of the page tells the whole length.
        openPage(s).declareWidth(8 * rowLengthByte_);
        rowLength_ = -1;
        s.command("ESC D " + std::to_string(rowLengthByte_));
        if (darkness)
          s.command("ESC " + hexByte(letter) + " (darkness " + std::to_string(letter - 99) + ")");
        break;
      }
      case 'f': {
        const unsigned char *v = in.take(2, "ESC f");
        openPage(s);
        if (v[0] != 1) fail(start, "ESC f with the unknown argument " + hexByte(v[0]));
        y_ += v[1];
        break;
      }
      case 'E':
        openPage(s);
        s.command("ESC E");
        s.endPage(true);
        break;
      default:
        fail(start, "unknown command ESC " + hexByte(c));
    }
    return true;
  }

 private:
  PageBuilder &openPage(Session &s) {
    const bool fresh = !s.pageOpen();
    PageBuilder &page = s.page();
    if (fresh) {
      y_ = 0;
      rowLength_ = -1;
      if (labelLength_ >= 0) page.declareHeight(labelLength_, false);
    }
    return page;
  }

  size_t findRowLength(const Session &s, size_t start) const {
    const Stream &in = s.in;
    for (size_t n = static_cast<size_t>(rowLengthByte_);; n += 256) {
      if (n > s.maxRowBytes() || (in.endsBy(in.pos + n) && in.pos + n > in.size()))
        fail(start, "no row length fits the row data");
      if (dymoRowLengthFits(in, in.pos, n)) return n;
    }
  }

  int rowLengthByte_ = -1;    // from ESC D
  int64_t labelLength_ = -1;  // from ESC L
  int64_t rowLength_ = -1;    // of the current page, once found
  int64_t y_ = 0;
};

// ---------------------------------------------------------------------------------------------
// EPL line mode: ESC commands with text arguments up to the next ESC, rows "ESC g" + decimal
// length + bytes. The length has at least three digits; which digits belong to it is found as
// for Dymo, by the commands that must follow the row.

bool eplRowFits(const Stream &in, size_t dataStart, size_t n, std::string_view digits) {
  size_t q = dataStart + n;
  for (int step = 0; step < 8; step++) {
    if (in.endsBy(q)) return q == in.size();
    if (in.at(q) != ESC) return false;
    if (in.at(q + 1) == 'E') return true;
    if (in.at(q + 1) != 'g' || !in.lookingAt(digits, q + 2)) return false;
    q += 2 + digits.size() + n;
  }
  return true;
}

class EplLine : public Language {
 public:
  bool step(Session &s) override {
    Stream &in = s.in;
    const size_t start = in.pos;
    const unsigned char b = in.next();
    if (b == FF) {
      s.jobCommand("FF");
      return true;
    }
    if (b != ESC) fail(start, "unexpected byte " + hexByte(b));
    if (!s.pageOpen()) y_ = 0;
    const unsigned char c = in.next();
    switch (c) {
      case 'g': {
        size_t digitCount = 0;
        while (digitCount < 10 && isDigit(in.peek(digitCount))) digitCount++;
        if (digitCount < 3) fail(start, "ESC g without a three-digit length");
        std::optional<size_t> fit;
        size_t n = 0;
        for (size_t used = 3; used <= digitCount && !fit; used++) {
          const std::string digits = in.bytesAt(in.pos, used);
          n = static_cast<size_t>(leadingNumber(digits).value_or(0));
          if (n <= s.maxRowBytes() && eplRowFits(in, in.pos + used, n, digits)) fit = used;
        }
        if (!fit) fail(start, "no row length fits the row data");
        in.pos += *fit;
        const unsigned char *row = in.take(n, "ESC g row");
        s.page().strip(y_++, 0, row, n, false, start);
        break;
      }
      case 'E': {
        const bool formFeed = in.peek() == FF;
        if (formFeed) in.pos++;
        s.command("ESC E");
        if (formFeed) s.command("FF");
        s.endPage(true);
        break;
      }
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
    return true;
  }

 private:
  int64_t y_ = 0;
};

// ---------------------------------------------------------------------------------------------
// EPL page mode: text lines, "GWx,y,bytes,rows" followed by the complemented graphic and a
// line end, "P" prints.

class EplPage : public LinesAndRows {
  void skipLineEnd(Stream &in) override {
    if (in.peek() == '\r') in.pos++;
    if (in.peek() == '\n') in.pos++;
  }
  bool graphic(Session &s, size_t start) override {
    if (!s.in.lookingAt("GW")) return false;
    const std::string text = s.in.line();
    const std::vector<int64_t> v = numberList(std::string_view(text).substr(2), ',');
    if (v.size() != 4 || v[2] < 0 || v[3] < 0)
      fail(start, "GW needs x, y, bytes per row and rows: " + text);
    rows_.expect("GW", v[0], v[1], v[2], v[3], true, s, start);
    s.page();
    return true;
  }
  void line(Session &s, const std::string &text) override {
    if (text == "N" && s.pageOpen()) s.endPage(false);
    s.command(text);
    if (text[0] == 'q') {
      if (auto width = leadingNumber(std::string_view(text).substr(1)))
        s.page().declareWidth(std::max<int64_t>(0, *width));
    } else if (text[0] == 'P') {
      s.endPage(true);
    }
  }
};

// ---------------------------------------------------------------------------------------------
// ZPL: "^" and "~" commands; "~DG" downloads a graphic whose hexadecimal data uses repeat
// counts (G-Y 1 to 19, g-z 20 to 400, added up), "," (zeros to the row end), "!" (ones to the
// row end) and ":" (the previous row again). "^XG" in a format prints the graphic. The graphic
// stays stored from label to label.

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

bool endsZplCommand(unsigned char c) {
  return c == '^' || c == '~' || c == '\n' || c == '\r';
}

class Zpl : public Language {
 public:
  bool busy() const override { return loading_ != nullptr; }
  bool step(Session &s) override {
    if (loading_) return readGraphicData(s.in);
    Stream &in = s.in;
    const size_t start = in.pos;
    const unsigned char lead = in.next();
    if (lead == '\r' || lead == '\n' || lead == ' ') return true;
    if (lead != '^' && lead != '~') fail(start, "unexpected byte " + hexByte(lead));
    if (!in.has(2)) fail(start, "command cut short");
    std::string name{static_cast<char>(lead), static_cast<char>(in.next()),
                     static_cast<char>(in.next())};
    if (name == "~DG") {
      startDownload(s, start);
      return true;
    }
    const size_t end = in.find(in.pos, endsZplCommand);
    const std::string params = in.bytesAt(in.pos, end - in.pos);
    in.pos = end;
    s.command(name + params);
    if (name == "~DN") {
      // The download is abandoned: the label is never printed.
      PageBuilder &page = s.page();
      if (graphic_) paint(page, *graphic_, start);
      graphic_.reset();
      s.endPage(false);
    } else if (name == "^XA") {
      inFormat_ = true;
      recalled_.reset();
    } else if (name == "^XG") {
      if (graphic_ && graphic_->name == params.substr(0, params.find(','))) recalled_ = graphic_;
    } else if (name == "^ID") {
      if (graphic_ && graphic_->name == params) graphic_.reset();
    } else if (name == "^XZ") {
      if (!inFormat_) fail(start, "^XZ without ^XA");
      inFormat_ = false;
      if (recalled_) {
        PageBuilder &page = s.page();
        page.declareHeight(static_cast<int64_t>(recalled_->rows), true);
        paint(page, *recalled_, start);
        recalled_.reset();
        s.endPage(true);
      }
    }
    return true;
  }

 private:
  static void paint(PageBuilder &page, const ZplGraphic &g, size_t offset) {
    page.declareWidth(static_cast<int64_t>(8 * g.rowBytes));
    for (size_t r = 0; r < g.rows; r++)
      page.strip(static_cast<int64_t>(r), 0, g.bytes.data() + r * g.rowBytes, g.rowBytes, false,
                 offset);
  }

  // name,total bytes,bytes per row, then the data right after the third comma
  void startDownload(Session &s, size_t start) {
    Stream &in = s.in;
    size_t comma[3];
    size_t from = in.pos;
    for (size_t &c : comma) {
      c = in.find(from, [](unsigned char b) { return b == ',' || endsZplCommand(b); });
      if (in.at(c) != ',') fail(start, "~DG needs a name, a total and a row length");
      from = c + 1;
    }
    const std::string header = in.bytesAt(in.pos, comma[2] - in.pos);
    const size_t c1 = comma[0] - in.pos, c2 = comma[1] - in.pos;
    const int64_t total = leadingNumber(std::string_view(header).substr(c1 + 1)).value_or(-1);
    const int64_t row = leadingNumber(std::string_view(header).substr(c2 + 1)).value_or(-1);
    if (total < 0 || row <= 0) fail(start, "~DG with a bad size: " + header);
    auto g = std::make_shared<ZplGraphic>();
    g->name = header.substr(0, c1);
    g->rowBytes = static_cast<size_t>(row);
    g->rows = static_cast<size_t>(total / row);
    if (g->rows > 0 && 8 * g->rowBytes > s.maxDots() / g->rows)
      failLimit(start, tooLarge("graphic of " + sizeText(8 * row, static_cast<int64_t>(g->rows))));
    s.spend(8 * g->rowBytes * g->rows, start);
    g->bytes.assign(g->rowBytes * g->rows, 0);
    in.pos = comma[2] + 1;
    s.command("~DG" + header + ",");
    loading_ = std::move(g);
    digit_ = 0;
    count_ = 0;
  }

  // The graphic's data, as far as it has arrived, up to its end or to a "~DN" that aborts the
  // download (the partial graphic stays for the unprinted label's picture).
  bool readGraphicData(Stream &in) {
    ZplGraphic &g = *loading_;
    const size_t digits = 2 * g.rowBytes * g.rows;
    const size_t rowDigits = 2 * g.rowBytes;
    auto setDigit = [&](size_t d, int value) {
      unsigned char &byte = g.bytes[d / 2];
      byte = d % 2 ? static_cast<unsigned char>((byte & 0xF0) | value)
                   : static_cast<unsigned char>((byte & 0x0F) | value << 4);
    };
    auto digitAt = [&](size_t d) { return d % 2 ? g.bytes[d / 2] & 15 : g.bytes[d / 2] >> 4; };
    while (digit_ < digits) {
      const size_t at = in.pos;
      if (in.available() == 0) {
        if (!in.ended()) return false;
        fail(at, "graphic data ends after " + std::to_string(digit_) + " of " +
                     std::to_string(digits) + " digits");
      }
      const unsigned char c = static_cast<unsigned char>(in.at(at));
      if (c == '~') {
        // Whether "DN" follows may not have arrived yet.
        if (in.available() < 3 && !in.ended()) return false;
        if (in.lookingAt("DN", at + 1)) break;
      }
      in.pos++;
      if (int value = hexValue(c); value >= 0) {
        size_t n = std::min(std::max<size_t>(count_, 1), digits - digit_);
        for (size_t k = 0; k < n; k++) setDigit(digit_++, value);
        count_ = 0;
      } else if (c >= 'G' && c <= 'Y') {
        count_ += c - 'F';
      } else if (c >= 'g' && c <= 'z') {
        count_ = std::min<size_t>(count_ + 20 * (c - 'f'), digits);
      } else if (c == ',' || c == '!') {
        const size_t end = (digit_ / rowDigits + 1) * rowDigits;
        for (; digit_ < end; digit_++) setDigit(digit_, c == ',' ? 0 : 15);
        count_ = 0;
      } else if (c == ':') {
        const size_t end = (digit_ / rowDigits + 1) * rowDigits;
        for (; digit_ < end; digit_++)
          setDigit(digit_, digit_ >= rowDigits ? digitAt(digit_ - rowDigits) : 0);
        count_ = 0;
      } else if (c != '\r' && c != '\n') {
        fail(at, "unexpected byte " + hexByte(c) + " in graphic data");
      }
    }
    graphic_ = std::move(loading_);
    return true;
  }

  std::shared_ptr<const ZplGraphic> graphic_;
  std::shared_ptr<const ZplGraphic> recalled_;  // the graphic that the current format prints
  bool inFormat_ = false;
  std::shared_ptr<ZplGraphic> loading_;  // the download whose data is arriving
  size_t digit_ = 0;
  size_t count_ = 0;
};

// ---------------------------------------------------------------------------------------------
// CPCL: "\r\n" lines; "! 0 hres vres height copies" opens a label, "CG bytes rows x y " is
// followed by the graphic, "PRINT" prints.

class Cpcl : public LinesAndRows {
  void skipLineEnd(Stream &in) override {
    if (in.lookingAt("\r\n")) in.pos += 2;
  }
  bool graphic(Session &s, size_t start) override {
    Stream &in = s.in;
    if (!in.lookingAt("CG ")) return false;
    in.pos += 3;
    int64_t v[4];
    for (int64_t &value : v) {
      size_t used = 0;
      const std::string field = in.until(' ');
      std::optional<int64_t> number = leadingNumber(field, &used);
      if (!number || used != field.size() || !in.more())
        fail(start, "CG needs bytes, rows, x and y");
      value = *number;
      in.pos++;  // the space
    }
    if (v[0] < 0 || v[1] < 0) fail(start, "CG with a negative size");
    rows_.expect("CG", v[2], v[3], v[0], v[1], false, s, start);
    s.page();
    return true;
  }
  void line(Session &s, const std::string &text) override {
    if (text.rfind("! ", 0) == 0 && s.pageOpen()) s.endPage(false);
    s.command(text);
    if (text.rfind("! ", 0) == 0) {
      std::vector<int64_t> v = numberList(std::string_view(text).substr(2), ' ');
      if (v.size() >= 4) s.page().declareHeight(std::max<int64_t>(0, v[3]), true);
    } else if (text.rfind("PAGE-WIDTH ", 0) == 0) {
      s.page().declareWidth(std::max<int64_t>(0, leadingNumber(text.substr(11)).value_or(0)));
    } else if (text.rfind("PAGE-HEIGHT ", 0) == 0) {
      s.page().declareHeight(std::max<int64_t>(0, leadingNumber(text.substr(12)).value_or(0)),
                             true);
    } else if (text == "PRINT") {
      s.endPage(true);
    }
  }
};

// ---------------------------------------------------------------------------------------------
// Model 20: rows of a fixed length, a printed dot a 0 bit, the label closed by "\nPRINT 1,1\n".

class Model20 : public Language {
 public:
  bool step(Session &s) override {
    Stream &in = s.in;
    const char kPrint[] = "\nPRINT 1,1\n";
    if (s.rowBytes() <= 0) fail(0, "model 20 needs the row length in bytes");
    const size_t n = static_cast<size_t>(s.rowBytes());
    const size_t start = in.pos;
    // Opening the page and declaring its width can be repeated when the unit is parsed again.
    if (!s.pageOpen()) y_ = 0;
    PageBuilder &page = s.page();
    page.declareWidth(static_cast<int64_t>(8 * n));
    if (in.lookingAt(kPrint)) {
      in.pos += sizeof kPrint - 1;
      s.command("PRINT 1,1");
      s.endPage(true);
      return true;
    }
    const unsigned char *row = in.take(n, "row");
    page.strip(y_++, 0, row, n, true, start);
    return true;
  }

 private:
  int64_t y_ = 0;
};

// ---------------------------------------------------------------------------------------------
// PCL: escape sequences (parameterised ones may combine several parameters, each a unit), raster
// rows "ESC *b#W" in compression mode 0 or 3 (delta row against the seed row), "ESC *b#Y" skips,
// form feed prints. The raster settings last from page to page.

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

class Pcl : public Language {
 public:
  bool busy() const override { return inSequence_; }
  bool step(Session &s) override {
    if (inSequence_) {
      parameter(s);
      return true;
    }
    Stream &in = s.in;
    const size_t start = in.pos;
    const unsigned char b = in.next();
    if (b == FF) {
      s.command("FF");
      active_ = false;
      s.endPage(true);
      return true;
    }
    if (b == '\r' || b == '\n') return true;
    if (b != ESC) fail(start, "unexpected byte " + hexByte(b));
    const unsigned char group = in.next();
    if (group < 0x21 || group > 0x2F) {
      if (group == 'E')
        s.jobCommand("ESC E");
      else
        s.command(std::string("ESC ") + static_cast<char>(group));
      return true;
    }
    const unsigned char family = in.next();
    if (family < 0x60 || family > 0x7E) fail(start, "bad escape sequence");
    sequenceStart_ = start;
    group_ = group;
    family_ = family;
    inSequence_ = true;
    return true;
  }

 private:
  // One parameter: value, then a lower-case letter to go on or an upper-case one to end the
  // sequence.
  void parameter(Session &s) {
    Stream &in = s.in;
    const size_t start = sequenceStart_;
    std::string value;
    while (isDigit(in.peek()) || in.peek() == '-' || in.peek() == '+' || in.peek() == '.') {
      if (value.size() > 20) fail(in.pos, "number too long");
      value += static_cast<char>(in.next());
    }
    const size_t termAt = in.pos;
    const unsigned char t = in.next();
    const bool last = t >= 0x40 && t <= 0x5E;
    if (!last && !(t >= 0x60 && t <= 0x7E)) fail(termAt, "bad escape sequence");
    const unsigned char term = static_cast<unsigned char>(last ? t : t - 0x20);
    const int64_t v = leadingNumber(value).value_or(0);
    const unsigned char group = group_, family = family_;
    if (group == '*' && family == 'b' && term == 'W') {
      if (v < 0) fail(start, "ESC *b with a negative byte count");
      const unsigned char *data = in.take(static_cast<size_t>(v), "raster row");
      if (!active_) fail(start, "raster row outside raster graphics");
      if (mode_ == 3) {
        applyDeltaRow(data, static_cast<size_t>(v), seed_, static_cast<size_t>(termAt + 1));
      } else if (mode_ == 0) {
        std::fill(seed_.begin(), seed_.end(), 0);
        std::copy_n(data, std::min(seed_.size(), static_cast<size_t>(v)), seed_.begin());
      } else {
        fail(start, "compression mode " + std::to_string(mode_) + " is not supported");
      }
      s.page().strip(y_++, 0, seed_.data(), seed_.size(), false, start);
    } else if (group == '*' && family == 'b' && term == 'Y') {
      if (!active_) fail(start, "row skip outside raster graphics");
      y_ += std::max<int64_t>(0, v);
      std::fill(seed_.begin(), seed_.end(), 0);
    } else {
      s.command(pclCommandText(group, family, value, term));
      if (group == '*' && family == 'b' && term == 'M') {
        mode_ = v;
      } else if (group == '*' && family == 'r' && term == 'S') {
        width_ = std::max<int64_t>(0, v);
      } else if (group == '*' && family == 'r' && term == 'T') {
        height_ = std::max<int64_t>(0, v);
      } else if (group == '*' && family == 'r' && term == 'A') {
        if (static_cast<uint64_t>(width_) > s.maxDots() ||
            (height_ > 0 &&
             static_cast<uint64_t>(width_) > s.maxDots() / static_cast<uint64_t>(height_)))
          failLimit(start, tooLarge("raster of " + sizeText(width_, height_)));
        PageBuilder &page = s.page();
        page.declareWidth(width_);
        page.declareHeight(height_, true);
        active_ = true;
        y_ = 0;
        seed_.assign(static_cast<size_t>((width_ + 7) / 8), 0);
      } else if (group == '*' && family == 'r' && (term == 'B' || term == 'C')) {
        active_ = false;
      }
    }
    if (last) inSequence_ = false;
  }

  // The escape sequence whose parameters are being read.
  bool inSequence_ = false;
  size_t sequenceStart_ = 0;
  unsigned char group_ = 0;
  unsigned char family_ = 0;
  // Raster graphics.
  int64_t width_ = 0;
  int64_t height_ = 0;
  int64_t mode_ = 0;
  bool active_ = false;
  int64_t y_ = 0;
  std::vector<unsigned char> seed_;
};

std::unique_ptr<Language> languageOf(int model) {
  switch (model) {
    case 0:
      return std::make_unique<Dymo>();
    case 16:
      return std::make_unique<EplLine>();
    case 17:
      return std::make_unique<EplPage>();
    case 18:
      return std::make_unique<Zpl>();
    case 19:
      return std::make_unique<Cpcl>();
    case 20:
      return std::make_unique<Model20>();
    case 32:
      return std::make_unique<Pcl>();
    default:
      return nullptr;
  }
}

}  // namespace

struct LabelDecoder::Impl {
  Impl(int model, const LabelDecodeOptions &options, LabelOutput &output)
      // A unit is at most about a row of the largest label (twice that as hexadecimal or delta
      // rows) or a command line.
      : options(options),
        in(static_cast<size_t>(std::max<uint64_t>(options.maxDots / 4, uint64_t{1} << 20))),
        session(in, this->options, output),
        language(languageOf(model)) {
    if (!language) error = "offset 0: model " + std::to_string(model) + " is not a label model";
  }

  // Parses the units that the received bytes complete; at the end of the stream, also closes
  // an unfinished page.
  bool run() {
    try {
      for (;;) {
        const size_t start = in.pos;
        session.unitStart = start;
        try {
          if (!language->busy() && !in.more()) break;
          if (!language->step(session)) break;
        } catch (const NeedMore &) {
          in.pos = start;
          // A long unit arriving in small pieces is parsed again only once its bytes have
          // doubled, so that it is not parsed over and over; a short one at every byte, so that
          // a page leaves as soon as its end has come.
          const size_t have = in.size() - start;
          retryAt = have < 1024 ? have + 1 : 2 * have;
          return true;
        }
      }
      retryAt = 0;
      if (in.ended()) session.finishStream();
      return true;
    } catch (const DecodeFailure &failure) {
      error = "offset " + std::to_string(failure.offset) + ": " + failure.what;
      overLimit = failure.limit;
    } catch (const Stopped &) {
      stopped = true;
    }
    return false;
  }
  bool done() const { return !error.empty() || stopped; }

  LabelDecodeOptions options;
  Stream in;
  Session session;
  std::unique_ptr<Language> language;
  std::string error;
  bool overLimit = false;
  bool stopped = false;
  size_t retryAt = 0;  // bytes from the unit's start needed before it is parsed again
};

LabelDecoder::LabelDecoder(int model, const LabelDecodeOptions &options, LabelOutput &output)
    : impl_(std::make_unique<Impl>(model, options, output)) {}

LabelDecoder::~LabelDecoder() = default;

bool LabelDecoder::feed(const unsigned char *data, size_t n) {
  Impl &d = *impl_;
  if (d.done()) return false;
  d.in.append(data, n);
  if (d.in.available() < d.retryAt) return true;
  return d.run();
}

bool LabelDecoder::finish() {
  Impl &d = *impl_;
  if (d.done() || d.in.ended()) return !d.done();
  d.in.end();
  return d.run();
}

const std::string &LabelDecoder::error() const {
  return impl_->error;
}

bool LabelDecoder::overLimit() const {
  return impl_->overLimit;
}

LabelDecodeResult decodeLabelStream(int model, const std::string &bytes,
                                    const LabelDecodeOptions &options) {
  struct Collect : LabelOutput {
    LabelDecodeResult result;
    std::vector<std::string> commands;  // since the last page
    void command(size_t, const std::string &text) override { commands.push_back(text); }
    bool page(LabelPage &page) override {
      page.commands = std::move(commands);
      commands.clear();
      result.pages.push_back(std::move(page));
      return true;
    }
  } collect;
  LabelDecoder decoder(model, options, collect);
  collect.result.ok =
      decoder.feed(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size()) &&
      decoder.finish();
  collect.result.error = decoder.error();
  return std::move(collect.result);
}

}  // namespace emu
