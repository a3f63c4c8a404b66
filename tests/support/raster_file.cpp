// CUPS raster files for tests, written through libcups as a raster-producing filter would.
#include "support/raster_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace rastertest {

namespace {

unsigned bytesPerDot(const cups_page_header2_t &h) {
  return h.cupsBitsPerPixel / 8;
}

// The page and its imaging box, in points, as integers and as floats.
void setPageSize(cups_page_header2_t &h, unsigned widthPts, unsigned heightPts) {
  const unsigned size[2] = {widthPts, heightPts};
  for (int i = 0; i < 2; i++) {
    h.PageSize[i] = h.ImagingBoundingBox[i + 2] = size[i];
    h.cupsPageSize[i] = h.cupsImagingBBox[i + 2] = static_cast<float>(size[i]);
    h.ImagingBoundingBox[i] = 0;
    h.cupsImagingBBox[i] = 0;
  }
}

}  // namespace

cups_page_header2_t rasterHeader(unsigned width, unsigned height, unsigned dpi, RasterColor color,
                                 const char *sizeName) {
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  std::strncpy(h.MediaClass, "PwgRaster", sizeof h.MediaClass - 1);
  h.HWResolution[0] = dpi;
  h.HWResolution[1] = dpi;
  h.NumCopies = 1;
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.cupsBitsPerColor = 8;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  if (color == RasterColor::Rgb) {
    h.cupsBitsPerPixel = 24;
    h.cupsColorSpace = CUPS_CSPACE_RGB;
    h.cupsNumColors = 3;
  } else {
    h.cupsBitsPerPixel = 8;
    h.cupsColorSpace = CUPS_CSPACE_SW;
    h.cupsNumColors = 1;
  }
  h.cupsBytesPerLine = width * bytesPerDot(h);
  unsigned widthPts = dpi ? static_cast<unsigned>(std::lround(width * 72.0 / dpi)) : 0;
  unsigned heightPts = dpi ? static_cast<unsigned>(std::lround(height * 72.0 / dpi)) : 0;
  setPageSize(h, widthPts, heightPts);
  std::strncpy(h.cupsPageSizeName, sizeName, sizeof h.cupsPageSizeName - 1);
  return h;
}

cups_page_header2_t a4Header(unsigned dpi, RasterColor color) {
  unsigned width = static_cast<unsigned>(std::lround(595.0 * dpi / 72.0));
  unsigned height = static_cast<unsigned>(std::lround(842.0 * dpi / 72.0));
  cups_page_header2_t h = rasterHeader(width, height, dpi, color, "A4");
  setPageSize(h, 595, 842);
  return h;
}

RasterPage pageFromGenerator(const cups_page_header2_t &header, const DotGenerator &dots) {
  RasterPage page;
  page.header = header;
  unsigned bpd = bytesPerDot(header);
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

bool writeRasterFile(const std::string &path, const std::vector<RasterPage> &pages) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
  bool ok = ras != nullptr;
  for (const RasterPage &page : pages) {
    if (!ok) break;
    cups_page_header2_t header = page.header;
    ok = cupsRasterWriteHeader2(ras, &header) != 0;
    unsigned rows =
        page.rowsToWrite < 0
            ? header.cupsHeight
            : std::min<unsigned>(static_cast<unsigned>(page.rowsToWrite), header.cupsHeight);
    size_t line = header.cupsBytesPerLine;
    ok = ok && static_cast<size_t>(rows) * line <= page.pixels.size();
    for (unsigned y = 0; ok && y < rows && line > 0; ++y) {
      unsigned char *row = const_cast<unsigned char *>(page.pixels.data()) + y * line;
      ok = cupsRasterWritePixels(ras, row, header.cupsBytesPerLine) == header.cupsBytesPerLine;
    }
  }
  if (ras) cupsRasterClose(ras);
  return close(fd) == 0 && ok;
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

bool truncateFile(const std::string &path, size_t size) {
  return truncate(path.c_str(), static_cast<off_t>(size)) == 0;
}

}  // namespace rastertest
