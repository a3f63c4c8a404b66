// Checks that a page header describes a raster the capture can read, within the memory
// ceiling, before anything of the page reaches the printer.
#pragma once

#include <cstdint>
#include <string>

#include <cups/raster.h>

// Memory ceiling for the buffers of one page: RX5K_PAGE_MEMORY_LIMIT (bytes, or with a K, M or
// G suffix), 1 GiB by default.
uint64_t pageMemoryLimit();

// Returns true when the capture can read the page; otherwise false with the reason.
bool checkPageHeader(const cups_page_header2_t &header, std::string &reason);
