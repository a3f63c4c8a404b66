// Lines for the scheduler ("INFO:", "ATTR:", "PAGE:", "DEBUG:", "ERROR:") and debug lines, all
// to standard error. Each call is written with one write(2), so lines of the two threads never
// interleave; tests capture them with logSetCapture.
#pragma once

#include <functional>
#include <string_view>

void logMessage(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Routes every message to fn instead of standard error (nullptr restores standard error).
void logSetCapture(std::function<void(std::string_view)> fn);
