// printf-style formatting into a stack buffer, spilling to a string only for long texts.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

// Formats into buf (size bytes) when the text fits, else into spill. Empty on a format error.
std::string_view formatText(char *buf, size_t size, std::string &spill, const char *fmt,
                            va_list ap);

// Job-supplied text made safe for one scheduler line: every control byte (below 0x20, and 0x7F)
// becomes '?', so no job can end the line and start one of its own. Other bytes stay as they are.
std::string neutralised(std::string_view text);
