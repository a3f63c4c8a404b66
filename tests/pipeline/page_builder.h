// Test pages: raster headers, rows and readers for the capture.
#pragma once

#include <cups/raster.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pipeline/pipeline.h"
#include "reference.h"
#include "support/raster_file.h"

// A header for width × height dots of 8-bit chunky RGB at 203 dpi, A4 paper.
inline cups_page_header2_t rgbHeader(int width, int height) {
  cups_page_header2_t h = rastertest::a4Header();
  h.cupsWidth = static_cast<unsigned>(width);
  h.cupsHeight = static_cast<unsigned>(height);
  h.cupsBytesPerLine = static_cast<unsigned>(3 * width);
  return h;
}

// A reader handing out rows one by one, then 0.
inline RowReader rowsReader(const std::vector<Dots> &rows) {
  return [&rows, next = size_t{0}](unsigned char *row, unsigned length) mutable -> unsigned {
    if (next >= rows.size()) return 0;
    std::memcpy(row, rows[next].data(), std::min<size_t>(length, rows[next].size()));
    next++;
    return length;
  };
}

// Rows of width RGB dots all of one colour.
inline std::vector<Dots> uniformRows(int width, int height, unsigned char v) {
  return std::vector<Dots>(static_cast<size_t>(height), Dots(3 * static_cast<size_t>(width), v));
}

// The filter's toned page (nw × height dots) of a header and its rows; log receives the lines.
inline Dots tonedPage(const cups_page_header2_t &header, const std::vector<Dots> &rows,
                      const ImageSettings &settings, std::string *log = nullptr) {
  StringLogSink sink;
  Log lines(sink);
  Dots row(header.cupsBytesPerLine ? header.cupsBytesPerLine : 1);
  DotBuffer page;
  std::string error;
  if (!renderTonedPage(rowsReader(rows), header, settings, row.data(), lines, page, error))
    return {};
  if (log) *log = sink.text();
  size_t n = static_cast<size_t>((header.cupsWidth + 7) & ~7u) * header.cupsHeight;
  return Dots(page.get(), page.get() + n);
}
