// printf-style formatting into a stack buffer, spilling to a string only for long texts.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

// printf-style text, formatted on the stack when it fits (nearly always) and on the heap when
// not; empty on a format error.
class FormattedText {
 public:
  FormattedText(const char *fmt, va_list ap);
  FormattedText(const FormattedText &) = delete;
  FormattedText &operator=(const FormattedText &) = delete;
  std::string_view view() const { return text_; }

 private:
  char line_[2048];
  std::string spill_;
  std::string_view text_;
};

// Job-supplied text made safe for one scheduler line: every control byte (below 0x20, and 0x7F)
// becomes '?', so no job can end the line and start one of its own. Other bytes stay as they are.
std::string neutralised(std::string_view text);
