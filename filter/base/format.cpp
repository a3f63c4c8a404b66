// Formatting shared by the printer stream and the log.
#include "base/format.h"

#include <cstdio>

std::string_view formatText(char *buf, size_t size, std::string &spill, const char *fmt,
                            va_list ap) {
  va_list again;
  va_copy(again, ap);
  int n = vsnprintf(buf, size, fmt, ap);
  if (n < 0) {
    va_end(again);
    return {};
  }
  if (static_cast<size_t>(n) < size) {
    va_end(again);
    return std::string_view(buf, static_cast<size_t>(n));
  }
  spill.assign(static_cast<size_t>(n) + 1, '\0');
  vsnprintf(spill.data(), spill.size(), fmt, again);
  va_end(again);
  spill.resize(static_cast<size_t>(n));
  return spill;
}

std::string neutralised(std::string_view text) {
  std::string out(text);
  for (char &c : out) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) c = '?';
  }
  return out;
}
