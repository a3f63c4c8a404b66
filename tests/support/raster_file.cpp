// CUPS raster files for tests, written through libcups as a raster-producing filter would.
#include "support/raster_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace rastertest {

cups_page_header2_t rasterHeader(unsigned width, unsigned height, unsigned dpi, RasterColor color,
                                 const char *sizeName) {
  cups_page_header2_t h{};
  std::strncpy(h.MediaClass, "PwgRaster", sizeof h.MediaClass - 1);
  h.HWResolution[0] = h.HWResolution[1] = dpi;
  h.NumCopies = 1;
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.cupsBitsPerColor = 8;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  const bool rgb = color == RasterColor::Rgb;
  h.cupsNumColors = rgb ? 3 : 1;
  h.cupsBitsPerPixel = 8 * h.cupsNumColors;
  h.cupsColorSpace = rgb ? CUPS_CSPACE_RGB : CUPS_CSPACE_SW;
  h.cupsBytesPerLine = width * h.cupsNumColors;
  // The page and its imaging box, in points, as integers and as floats.
  for (const auto &[i, dots] : {std::pair{0, width}, std::pair{1, height}}) {
    h.PageSize[i] = h.ImagingBoundingBox[i + 2] =
        dpi ? static_cast<unsigned>(std::lround(dots * 72.0 / dpi)) : 0;
    h.cupsPageSize[i] = h.cupsImagingBBox[i + 2] = static_cast<float>(h.PageSize[i]);
  }
  std::strncpy(h.cupsPageSizeName, sizeName, sizeof h.cupsPageSizeName - 1);
  return h;
}

RasterPage pageFromGenerator(const cups_page_header2_t &header, const DotGenerator &dots) {
  RasterPage page;
  page.header = header;
  const unsigned bpd = header.cupsBitsPerPixel / 8;
  page.pixels.assign(static_cast<size_t>(header.cupsBytesPerLine) * header.cupsHeight, 255);
  for (unsigned y = 0; y < header.cupsHeight; ++y) {
    unsigned char *row = page.pixels.data() + static_cast<size_t>(y) * header.cupsBytesPerLine;
    for (unsigned x = 0; x < header.cupsWidth && (x + 1) * bpd <= header.cupsBytesPerLine; ++x) {
      std::fill_n(row + static_cast<size_t>(x) * bpd, bpd, dots(x, y));
    }
  }
  return page;
}

RasterPage whitePage(const cups_page_header2_t &header) {
  return pageFromGenerator(header, [](unsigned, unsigned) { return 255; });
}

namespace {

ssize_t appendTo(void *text, unsigned char *data, size_t n) {
  static_cast<std::string *>(text)->append(reinterpret_cast<char *>(data), n);
  return static_cast<ssize_t>(n);
}

}  // namespace

std::string rasterStream(const std::vector<RasterPage> &pages, cups_mode_t mode) {
  std::string out;
  cups_raster_t *ras = cupsRasterOpenIO(appendTo, &out, mode);
  bool ok = ras != nullptr;
  for (const RasterPage &page : pages) {
    cups_page_header2_t header = page.header;
    const size_t line = header.cupsBytesPerLine;
    const size_t rows = std::min<size_t>(
        page.rowsToWrite < 0 ? header.cupsHeight : size_t(page.rowsToWrite), header.cupsHeight);
    ok = ok && cupsRasterWriteHeader2(ras, &header) && rows * line <= page.pixels.size();
    for (size_t y = 0; ok && y < rows && line > 0; ++y)
      ok = cupsRasterWritePixels(ras, const_cast<unsigned char *>(&page.pixels[y * line]), line) ==
           line;
  }
  if (ras) cupsRasterClose(ras);
  return ok ? out : "";
}

bool writeRasterFile(const std::string &path, const std::vector<RasterPage> &pages) {
  const std::string stream = rasterStream(pages);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  return !stream.empty() && out.write(stream.data(), stream.size()).flush();
}

bool writeRawRaster(const std::string &path, const std::vector<RasterPage> &pages) {
  FILE *f = std::fopen(path.c_str(), "wb");
  const unsigned sync = CUPS_RASTER_SYNC;  // native byte order
  bool ok = f && std::fwrite(&sync, sizeof sync, 1, f) == 1;
  for (const RasterPage &page : pages) {
    const cups_page_header2_t &h = page.header;
    const size_t rows = page.rowsToWrite < 0 ? h.cupsHeight : size_t(page.rowsToWrite);
    const size_t bytes = std::min(page.pixels.size(), size_t{h.cupsBytesPerLine} * rows);
    ok = ok && std::fwrite(&h, sizeof h, 1, f) == 1 &&
         (bytes == 0 || std::fwrite(page.pixels.data(), 1, bytes, f) == bytes);
  }
  return f && std::fclose(f) == 0 && ok;
}

}  // namespace rastertest
