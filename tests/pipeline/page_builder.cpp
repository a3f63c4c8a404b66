// Test pages.
#include "page_builder.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "support/capture.h"

cups_page_header2_t rgbHeader(int width, int height) {
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  h.cupsWidth = static_cast<unsigned>(width);
  h.cupsHeight = static_cast<unsigned>(height);
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = 24;
  h.cupsBytesPerLine = static_cast<unsigned>(3 * width);
  h.cupsColorSpace = CUPS_CSPACE_RGB;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.HWResolution[0] = h.HWResolution[1] = 203;
  h.cupsPageSize[0] = 595;
  h.cupsPageSize[1] = 842;
  h.cupsImagingBBox[2] = 595;
  h.cupsImagingBBox[3] = 842;
  std::strcpy(h.cupsPageSizeName, "A4");
  return h;
}

RowReader rowsReader(const std::vector<Dots> &rows) {
  auto next = std::make_shared<size_t>(0);
  return [&rows, next](unsigned char *row, unsigned length) -> unsigned {
    if (*next >= rows.size()) return 0;
    const Dots &r = rows[(*next)++];
    std::memcpy(row, r.data(), std::min<size_t>(length, r.size()));
    return length;
  };
}

std::vector<Dots> uniformRows(int width, int height, unsigned char r, unsigned char g,
                              unsigned char b) {
  Dots row;
  for (int x = 0; x < width; x++) row.insert(row.end(), {r, g, b});
  return std::vector<Dots>(static_cast<size_t>(height), row);
}

std::vector<Dots> noiseRows(std::mt19937 &rng, int width, int height) {
  std::vector<Dots> rows(static_cast<size_t>(height), Dots(3 * static_cast<size_t>(width)));
  for (Dots &row : rows)
    for (unsigned char &c : row) c = static_cast<unsigned char>(rng());
  return rows;
}

std::vector<Dots> documentRows(std::mt19937 &rng, int width, int height) {
  std::vector<Dots> rows = uniformRows(width, height, 255, 255, 255);
  int blocks = 1 + (width * height) / 400;
  for (int b = 0; b < blocks; b++) {
    int x0 = static_cast<int>(rng() % width), y0 = static_cast<int>(rng() % height);
    int bw = 1 + static_cast<int>(rng() % 12), bh = 1 + static_cast<int>(rng() % 6);
    unsigned char v = rng() % 3 == 0 ? static_cast<unsigned char>(rng()) : 0;
    for (int y = y0; y < std::min(height, y0 + bh); y++)
      for (int x = x0; x < std::min(width, x0 + bw); x++)
        for (int c = 0; c < 3; c++) rows[y][3 * x + c] = v;
  }
  return rows;
}

Dots tonedPage(const cups_page_header2_t &header, const std::vector<Dots> &rows,
               const ImageSettings &settings, std::string *log) {
  CapturedIO io;
  Dots row(header.cupsBytesPerLine ? header.cupsBytesPerLine : 1);
  DotBuffer page;
  std::string error;
  if (!renderTonedPage(rowsReader(rows), header, settings, row.data(), page, error)) return {};
  if (log) *log = io.log();
  size_t n = static_cast<size_t>((header.cupsWidth + 7) & ~7u) * header.cupsHeight;
  return Dots(page.get(), page.get() + n);
}
