// The filter's page from a client's page, as a CUPS queue's rasterizer makes it.
#include "page_header.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pipeline/capture.h"

namespace app {

namespace {

enum class ClientLayout { None, Gray, Black, Black1, Rgb, Cmyk };

ClientLayout layoutOf(const cups_page_header2_t &h) {
  if (h.cupsColorOrder != CUPS_ORDER_CHUNKED) return ClientLayout::None;
  const unsigned bits = h.cupsBitsPerPixel;
  switch (h.cupsColorSpace) {
    case CUPS_CSPACE_W:
    case CUPS_CSPACE_SW:
      return bits == 8 && h.cupsBitsPerColor == 8 ? ClientLayout::Gray : ClientLayout::None;
    case CUPS_CSPACE_K:
      if (bits == 1 && h.cupsBitsPerColor == 1) return ClientLayout::Black1;
      return bits == 8 && h.cupsBitsPerColor == 8 ? ClientLayout::Black : ClientLayout::None;
    case CUPS_CSPACE_RGB:
    case CUPS_CSPACE_SRGB:
    case CUPS_CSPACE_ADOBERGB:
      return bits == 24 && h.cupsBitsPerColor == 8 ? ClientLayout::Rgb : ClientLayout::None;
    case CUPS_CSPACE_CMYK:
      return bits == 32 && h.cupsBitsPerColor == 8 ? ClientLayout::Cmyk : ClientLayout::None;
    default:
      return ClientLayout::None;
  }
}

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

size_t keptRowBytes(const cups_page_header2_t &client) {
  const ClientLayout layout = layoutOf(client);
  if (layout == ClientLayout::None) return 0;
  return static_cast<size_t>(client.cupsWidth) * (layout == ClientLayout::Rgb ? 3 : 1);
}

void keepRow(const cups_page_header2_t &client, const unsigned char *line, unsigned char *kept) {
  const unsigned width = client.cupsWidth;
  switch (layoutOf(client)) {
    case ClientLayout::Gray:
      std::memcpy(kept, line, width);
      break;
    case ClientLayout::Rgb:
      std::memcpy(kept, line, width * 3ULL);
      break;
    case ClientLayout::Black:
      for (unsigned x = 0; x < width; x++) kept[x] = static_cast<unsigned char>(255 - line[x]);
      break;
    case ClientLayout::Black1:
      for (unsigned x = 0; x < width; x++) kept[x] = (line[x / 8] & (0x80 >> (x % 8))) ? 0 : 255;
      break;
    case ClientLayout::Cmyk:
      // Ink to light: each colour's ink with the black ink, as the RGB the filter's capture
      // weighs.
      for (unsigned x = 0; x < width; x++) {
        const unsigned char *p = line + 4 * static_cast<size_t>(x);
        auto light = [&](int ink) { return 255 - std::min(255, ink + p[3]); };
        kept[x] = static_cast<unsigned char>(luminanceOf(light(p[0]), light(p[1]), light(p[2])));
      }
      break;
    case ClientLayout::None:
      break;
  }
}

ClientPage clientPageOf(const cups_page_header2_t &client, const unsigned char *rows) {
  ClientPage page;
  page.width = client.cupsWidth;
  page.height = client.cupsHeight;
  page.xdpi = client.HWResolution[0];
  page.ydpi = client.HWResolution[1];
  page.rgb = layoutOf(client) == ClientLayout::Rgb;
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
  const size_t dot = client.rgb ? 3 : 1;
  rows.assign(page.rowBytes() * page.height, 0xFF);
  const std::vector<unsigned> xs = spans(page.width, dpi, client.width, client.xdpi);
  const std::vector<unsigned> ys = spans(page.height, dpi, client.height, client.ydpi);
  std::vector<uint32_t> sums(page.rowBytes());
  for (unsigned y = 0; y < page.height; y++) {
    std::fill(sums.begin(), sums.end(), 0);
    const unsigned y0 = ys[y], y1 = std::min(ys[y + 1], client.height);
    for (unsigned sy = y0; sy < y1; sy++) {
      const unsigned char *in = client.rows + sy * client.rowBytes();
      for (unsigned x = 0; x < page.width; x++)
        for (unsigned sx = xs[x]; sx < std::min(xs[x + 1], client.width); sx++)
          for (size_t c = 0; c < dot; c++) sums[x * dot + c] += in[sx * dot + c];
    }
    unsigned char *out = rows.data() + y * page.rowBytes();
    for (unsigned x = 0; x < page.width; x++) {
      const uint32_t n = (y1 - y0) * (std::min(xs[x + 1], client.width) - xs[x]);
      for (size_t c = 0; c < dot && n > 0; c++)
        out[x * dot + c] = static_cast<unsigned char>((sums[x * dot + c] + n / 2) / n);
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
  // The app keeps the client's dots as 8-bit gray or RGB, layouts the filter's capture reads.
  header.cupsBitsPerColor = 8;
  header.cupsBitsPerPixel = client.rgb ? 24 : 8;
  header.cupsBytesPerLine = header.cupsWidth * (client.rgb ? 3 : 1);
  header.cupsColorOrder = CUPS_ORDER_CHUNKED;
  header.cupsColorSpace = client.rgb ? CUPS_CSPACE_SRGB : CUPS_CSPACE_SW;
  header.cupsNumColors = client.rgb ? 3 : 1;
  return page;
}

void filterRow(const FilterPage &page, const ClientPage &client, unsigned y, unsigned char *row,
               size_t length) {
  std::memset(row, 0xFF, length);
  const uint64_t source = static_cast<uint64_t>(page.top) + y;
  if (source >= client.height || page.left >= client.width || !client.rows) return;
  const size_t dot = client.rgb ? 3 : 1;
  const size_t n = std::min(length, (client.width - page.left) * dot);
  std::memcpy(row, client.rows + source * client.rowBytes() + page.left * dot, n);
}

}  // namespace app
