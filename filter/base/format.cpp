// Formatting shared by the printer stream and the log.
#include "base/format.h"

#include <cstdio>

FormattedText::FormattedText(const char *fmt, va_list ap) {
  va_list again;
  va_copy(again, ap);
  const int n = vsnprintf(line_, sizeof line_, fmt, ap);
  if (n >= 0 && static_cast<size_t>(n) < sizeof line_) {
    text_ = std::string_view(line_, static_cast<size_t>(n));
  } else if (n >= 0) {
    spill_.assign(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(spill_.data(), spill_.size(), fmt, again);
    spill_.resize(static_cast<size_t>(n));
    text_ = spill_;
  }
  va_end(again);
}

std::string neutralised(std::string_view text) {
  std::string out(text);
  for (char &c : out) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) c = '?';
  }
  return out;
}
