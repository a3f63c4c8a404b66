// Reading page-header fields that come straight from the raster stream: a hostile raster may
// store any value in an enum field (which the enum type need not be able to hold, so loading it
// as the enum is undefined behaviour) and leave strings without their terminating NUL.
#pragma once

#include <cstring>
#include <string_view>

// The 32-bit field (enum or unsigned) as the raster stored it.
template <typename Field>
unsigned headerFieldValue(const Field &field) {
  static_assert(sizeof(Field) == sizeof(unsigned));
  unsigned value;
  std::memcpy(&value, &field, sizeof value);
  return value;
}

// True when the string field holds its terminating NUL.
template <size_t N>
bool headerStringTerminated(const char (&field)[N]) {
  return std::memchr(field, '\0', N) != nullptr;
}

// The string field up to its NUL, never past the field.
template <size_t N>
std::string_view headerString(const char (&field)[N]) {
  return std::string_view(field, strnlen(field, N));
}

// True when the string field is exactly text.
template <size_t N>
bool headerStringIs(const char (&field)[N], std::string_view text) {
  return headerString(field) == text;
}
