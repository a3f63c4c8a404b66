// The filter's page from a client's page, as a CUPS queue's rasterizer makes it.
#include "page_header.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace app {

namespace {

// Hundredths of millimetres of dots at dpi.
int hundredths(unsigned dots, unsigned dpi) {
  return static_cast<int>(dots * 2540ULL / dpi);
}

// The rasterizer rounds the PPD's point sizes to whole points where libcups's reading of the
// PPD truncates them (a 967.83 pt custom label is 968 pt long for the filter), and rounds the
// imageable area's dots in double precision where libcups rounds in single (497.4 pt at 300 dpi
// is 2072 dots, not 2073).
void roundAsTheRasterizer(cups_page_header2_t &header) {
  for (int i = 0; i < 2; i++)
    header.PageSize[i] = static_cast<unsigned>(std::lround(header.cupsPageSize[i]));
  for (int i = 0; i < 4; i++)
    header.ImagingBoundingBox[i] = static_cast<unsigned>(std::lround(header.cupsImagingBBox[i]));
  auto dots = [](float from, float to, unsigned dpi) {
    return static_cast<unsigned>((static_cast<double>(to) - from) * dpi / 72.0 + 0.5);
  };
  header.cupsWidth =
      dots(header.cupsImagingBBox[0], header.cupsImagingBBox[2], header.HWResolution[0]);
  header.cupsHeight =
      dots(header.cupsImagingBBox[1], header.cupsImagingBBox[3], header.HWResolution[1]);
}

}  // namespace

bool readableRaster(const cups_page_header2_t &client) {
  return client.cupsBitsPerColor == 8 && client.cupsBitsPerPixel == 8 &&
         client.cupsColorOrder == CUPS_ORDER_CHUNKED &&
         (client.cupsColorSpace == CUPS_CSPACE_SW || client.cupsColorSpace == CUPS_CSPACE_W) &&
         client.cupsBytesPerLine == client.cupsWidth;
}

ClientPage clientPageOf(const cups_page_header2_t &client, const unsigned char *rows) {
  ClientPage page;
  page.width = client.cupsWidth;
  page.height = client.cupsHeight;
  page.xdpi = client.HWResolution[0];
  page.ydpi = client.HWResolution[1];
  page.rows = rows;
  return page;
}

namespace {

// For each dot of an axis of n dots at dpi, the first of the from dots at fromDpi it covers (the
// last entry ends the last dot).
std::vector<unsigned> spans(unsigned n, unsigned dpi, unsigned from, unsigned fromDpi) {
  std::vector<unsigned> first(n + 1);
  for (unsigned i = 0; i <= n; i++)
    first[i] = std::min<unsigned>(from, static_cast<unsigned>(uint64_t{i} * fromDpi / dpi));
  for (unsigned i = 0; i < n; i++) first[i + 1] = std::max(first[i + 1], first[i] + 1);
  return first;
}

}  // namespace

ClientPage resampled(const ClientPage &client, unsigned dpi, std::vector<unsigned char> &rows) {
  ClientPage page = client;
  if (dpi == 0 || client.xdpi == 0 || client.ydpi == 0 || !client.rows) return page;
  page.xdpi = page.ydpi = dpi;
  page.width = static_cast<unsigned>(uint64_t{client.width} * dpi / client.xdpi);
  page.height = static_cast<unsigned>(uint64_t{client.height} * dpi / client.ydpi);
  rows.assign(static_cast<size_t>(page.width) * page.height, 0xFF);
  const std::vector<unsigned> xs = spans(page.width, dpi, client.width, client.xdpi);
  const std::vector<unsigned> ys = spans(page.height, dpi, client.height, client.ydpi);
  std::vector<uint32_t> sums(page.width);
  for (unsigned y = 0; y < page.height; y++) {
    std::fill(sums.begin(), sums.end(), 0);
    const unsigned y0 = ys[y], y1 = std::min(ys[y + 1], client.height);
    for (unsigned sy = y0; sy < y1; sy++) {
      const unsigned char *in = client.rows + static_cast<size_t>(sy) * client.width;
      for (unsigned x = 0; x < page.width; x++)
        for (unsigned sx = xs[x]; sx < std::min(xs[x + 1], client.width); sx++) sums[x] += in[sx];
    }
    unsigned char *out = rows.data() + static_cast<size_t>(y) * page.width;
    for (unsigned x = 0; x < page.width; x++) {
      const uint32_t n = (y1 - y0) * (std::min(xs[x + 1], client.width) - xs[x]);
      if (n > 0) out[x] = static_cast<unsigned char>((sums[x] + n / 2) / n);
    }
  }
  page.rows = rows.data();
  return page;
}

FilterPage filterPageOf(ppd_file_t *ppd, const PrinterModel &model, const ClientPage &client) {
  const std::string resolution = std::to_string(client.xdpi) + "dpi";
  if (client.xdpi > 0 && client.xdpi == client.ydpi &&
      ppdFindChoice(ppdFindOption(ppd, "Resolution"), resolution.c_str()))
    ppdMarkOption(ppd, "Resolution", resolution.c_str());
  const ppd_size_t *marked = ppdPageSize(ppd, nullptr);
  if (client.xdpi > 0 && client.ydpi > 0 && marked) {
    const int width = hundredths(client.width, client.xdpi);
    const int length = hundredths(client.height, client.ydpi);
    if (std::abs(width - marked->width * 2540 / 72) > 100 ||
        std::abs(length - marked->length * 2540 / 72) > 100) {
      const std::string size = pageSizeOfPage(model, width, length);
      if (!size.empty()) ppdMarkOption(ppd, "PageSize", size.c_str());
    }
  }

  FilterPage page;
  cups_page_header2_t &header = page.header;
  std::memset(&header, 0, sizeof header);
  cupsRasterInterpretPPD(&header, ppd, 0, nullptr, nullptr);
  roundAsTheRasterizer(header);
  // The rasterizer renders the imageable area alone: its first row lies this far below the
  // page's top edge, its first column right of the left edge.
  const double top = header.cupsPageSize[1] - header.cupsImagingBBox[3];
  page.top = static_cast<unsigned>(std::max(0.0, std::floor(top * header.HWResolution[1] / 72)));
  page.left = static_cast<unsigned>(
      std::max(0.0, std::floor(header.cupsImagingBBox[0] * header.HWResolution[0] / 72.0)));
  // The client's dots stay 8-bit gray, which the filter's capture reads as it reads RGB.
  header.cupsBitsPerColor = header.cupsBitsPerPixel = 8;
  header.cupsBytesPerLine = header.cupsWidth;
  header.cupsColorOrder = CUPS_ORDER_CHUNKED;
  header.cupsColorSpace = CUPS_CSPACE_SW;
  header.cupsNumColors = 1;
  return page;
}

void filterRow(const FilterPage &page, const ClientPage &client, unsigned y, unsigned char *row,
               size_t length) {
  std::memset(row, 0xFF, length);
  const uint64_t source = static_cast<uint64_t>(page.top) + y;
  if (source >= client.height || page.left >= client.width || !client.rows) return;
  const size_t n = std::min<size_t>(length, client.width - page.left);
  std::memcpy(row, client.rows + source * client.width + page.left, n);
}

}  // namespace app
