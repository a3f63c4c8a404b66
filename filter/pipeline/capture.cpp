// Raster rows to luminance dots. A gray raster gives the dot the RGB raster with three equal
// components would give, (g × 1000) / 1000 = g, so both share the map.
#include "pipeline/capture.h"

#include <algorithm>
#include <cstring>

#include "base/header_fields.h"

RasterLayout rasterLayoutOf(const cups_page_header2_t &header) {
  // The enums are read as stored: a hostile header may hold values they cannot represent.
  if (header.cupsBitsPerColor != 8 || headerFieldValue(header.cupsColorOrder) != CUPS_ORDER_CHUNKED)
    return RasterLayout::Unsupported;
  switch (headerFieldValue(header.cupsColorSpace)) {
    case CUPS_CSPACE_RGB:
    case CUPS_CSPACE_SRGB:
    case CUPS_CSPACE_ADOBERGB:
      return header.cupsBitsPerPixel == 24 ? RasterLayout::Rgb24 : RasterLayout::Unsupported;
    case CUPS_CSPACE_W:
    case CUPS_CSPACE_SW:
      return header.cupsBitsPerPixel == 8 ? RasterLayout::White8 : RasterLayout::Unsupported;
    case CUPS_CSPACE_K:
      return header.cupsBitsPerPixel == 8 ? RasterLayout::Black8 : RasterLayout::Unsupported;
    default:
      return RasterLayout::Unsupported;
  }
}

int rasterBytesPerDot(RasterLayout layout) {
  return layout == RasterLayout::Rgb24 ? 3 : 1;
}

void buildLightMap(int offset, unsigned char map[256]) {
  // Beyond +-255 every offset gives the same map; held there, v + offset cannot overflow.
  const int held = std::clamp(offset, -255, 255);
  for (int v = 0; v < 256; v++) map[v] = static_cast<unsigned char>(std::clamp(v + held, 0, 255));
}

void captureRow(const unsigned char *raster, RasterLayout layout, int width, int nw,
                const unsigned char map[256], unsigned char *out) {
  switch (layout) {
    case RasterLayout::Rgb24:
      for (int x = 0; x < width; x++) {
        const unsigned char *p = raster + 3 * x;
        out[x] = map[luminanceOf(p[0], p[1], p[2])];
      }
      break;
    case RasterLayout::White8:
      for (int x = 0; x < width; x++) out[x] = map[raster[x]];
      break;
    case RasterLayout::Black8:
      for (int x = 0; x < width; x++) out[x] = map[255 - raster[x]];
      break;
    case RasterLayout::Unsupported:
      std::memset(out, 255, static_cast<size_t>(width));
      break;
  }
  std::memset(out + width, 255, static_cast<size_t>(nw - width));
}
