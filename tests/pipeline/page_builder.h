// Test pages: raster headers, rows and readers for the capture.
#pragma once

#include <cstdint>
#include <vector>

#include <cups/raster.h>

#include "pipeline/pipeline.h"
#include "pipeline/toned_page.h"
#include "reference.h"

// A header for width × height dots of 8-bit chunky RGB at 203 dpi, A4 paper.
cups_page_header2_t rgbHeader(int width, int height);

// A reader handing out rows one by one, then 0.
RowReader rowsReader(const std::vector<Dots> &rows);

// Rows of width RGB dots all of one colour.
std::vector<Dots> uniformRows(int width, int height, unsigned char r, unsigned char g,
                              unsigned char b);

// The filter's toned page (nw × height dots) of a header and its rows; log collects the lines.
Dots tonedPage(const cups_page_header2_t &header, const std::vector<Dots> &rows,
               const ImageSettings &settings, std::string *log = nullptr);
