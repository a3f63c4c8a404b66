// printf-style formatting into a stack buffer, spilling to a string only for long texts.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

// Formats into buf (size bytes) when the text fits, else into spill. Empty on a format error.
std::string_view formatText(char *buf, size_t size, std::string &spill, const char *fmt,
                            va_list ap);
