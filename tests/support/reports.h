// Bytes for binary expectations, and the status reports as the printer sends them.
#pragma once

#include <initializer_list>
#include <string>

inline std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

namespace report {
inline const std::string paperOut{"\x1A\x06\x88", 3};
inline const std::string paperIn{"\x1A\x06\x89", 3};
inline const std::string coverOpen{"\x1A\x05\x99", 3};
inline const std::string coverClosed{"\x1A\x05\x98", 3};
inline const std::string idle{"\x1A\x0F\x0C", 3};
inline const std::string overheat{"\x1A\x03\xA9", 3};
inline const std::string tempNormal{"\x1A\x03\xA8", 3};
inline const std::string cancel{"\x1A\x0B\xB8", 3};
}  // namespace report
