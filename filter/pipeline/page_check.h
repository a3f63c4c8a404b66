// Checks that a page header describes a raster the capture can read, within the memory
// ceiling, before anything of the page reaches the printer.
#pragma once

#include <cstdint>
#include <string>

#include <cups/raster.h>

// The most bytes the page's buffers occupy at one time, from the row buffer through the
// capture, effects, tone conversion and geometry to the packed bitmap; false when that does
// not fit in 64 bits. Assumes a header that passed the format and resolution checks.
bool pageMemoryNeed(const cups_page_header2_t &header, uint64_t &bytes);

// Returns true when the capture can read the page; otherwise false with the reason.
bool checkPageHeader(const cups_page_header2_t &header, std::string &reason);
