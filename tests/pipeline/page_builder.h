// Test pages: raster headers, rows and readers for the capture.
#pragma once

#include <cups/raster.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pipeline/pipeline.h"
#include "pipeline/toned_page.h"
#include "reference.h"
#include "support/capture.h"
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
  auto next = std::make_shared<size_t>(0);
  return [&rows, next](unsigned char *row, unsigned length) -> unsigned {
    if (*next >= rows.size()) return 0;
    const Dots &r = rows[(*next)++];
    std::memcpy(row, r.data(), std::min<size_t>(length, r.size()));
    return length;
  };
}

// Rows of width RGB dots all of one colour.
inline std::vector<Dots> uniformRows(int width, int height, unsigned char r, unsigned char g,
                                     unsigned char b) {
  Dots row;
  for (int x = 0; x < width; x++) row.insert(row.end(), {r, g, b});
  return std::vector<Dots>(static_cast<size_t>(height), row);
}

// The filter's toned page (nw × height dots) of a header and its rows; log collects the lines.
inline Dots tonedPage(const cups_page_header2_t &header, const std::vector<Dots> &rows,
                      const ImageSettings &settings, std::string *log = nullptr) {
  CapturedIO io;
  Dots row(header.cupsBytesPerLine ? header.cupsBytesPerLine : 1);
  DotBuffer page;
  std::string error;
  if (!renderTonedPage(rowsReader(rows), header, settings, row.data(), page, error)) return {};
  if (log) *log = io.log();
  size_t n = static_cast<size_t>((header.cupsWidth + 7) & ~7u) * header.cupsHeight;
  return Dots(page.get(), page.get() + n);
}
