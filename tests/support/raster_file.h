// Test helpers that write CUPS raster files with libcups: RGB or gray pages from a dot image or
// from a generator function, several pages per file, and truncated rasters.
#pragma once

#include <cups/raster.h>

#include <functional>
#include <string>
#include <vector>

namespace rastertest {

enum class RasterColor { Rgb, Gray };

// One page: its header and cupsBytesPerLine x cupsHeight bytes of pixels.
struct RasterPage {
  cups_page_header2_t header{};
  std::vector<unsigned char> pixels;
  // Rows actually written (-1: all); fewer makes a truncated raster that promises more rows.
  int rowsToWrite = -1;
};

// A page header of width x height dots at dpi, 8 bits per colour, with page size and imaging
// box in points derived from the dots, and cupsPageSizeName set to sizeName.
cups_page_header2_t rasterHeader(unsigned width, unsigned height, unsigned dpi = 203,
                                 RasterColor color = RasterColor::Rgb, const char *sizeName = "A4");

// Luminance of the dot at (x, y): 0 black, 255 white.
using DotGenerator = std::function<unsigned char(unsigned x, unsigned y)>;

// A page whose dot (x, y) has the generator's luminance (gray written to R, G and B alike).
RasterPage pageFromGenerator(const cups_page_header2_t &header, const DotGenerator &dots);
// An all-white page.
RasterPage whitePage(const cups_page_header2_t &header);

// The pages as libcups writes them in mode (CUPS_RASTER_WRITE: CUPS raster version 3,
// uncompressed; CUPS_RASTER_WRITE_PWG: PWG raster), each with its rows as far as rowsToWrite
// reaches; "" on failure.
std::string rasterStream(const std::vector<RasterPage> &pages,
                         cups_mode_t mode = CUPS_RASTER_WRITE);
// Writes the rasterStream of the pages to path; false on failure.
bool writeRasterFile(const std::string &path, const std::vector<RasterPage> &pages);
// Writes the pages with their headers byte for byte (libcups's writer would recompute fields of
// hostile headers), each with its pixels as far as its rows (rowsToWrite, else cupsHeight) reach.
bool writeRawRaster(const std::string &path, const std::vector<RasterPage> &pages);

}  // namespace rastertest
