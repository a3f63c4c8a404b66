// Capture of raster rows into 8-bit luminance dots (0 black, 255 white) with white pad columns
// up to a multiple of 8.
#pragma once

#include <cups/raster.h>

// The raster layouts the capture reads.
enum class RasterLayout {
  Unsupported,
  Rgb24,   // 8-bit chunky RGB (RGB, sRGB, Adobe RGB)
  White8,  // 8-bit gray, 0 black (W, SW)
  Black8,  // 8-bit gray, 0 white (K)
};

RasterLayout rasterLayoutOf(const cups_page_header2_t &header);
// Raster bytes of one dot in a supported layout.
int rasterBytesPerDot(RasterLayout layout);

// The page width rounded up to a multiple of 8, and the pad columns that adds.
inline int paddedWidth(int width) {
  return (width + 7) & ~7;
}

// (R × 299 + G × 587 + B × 114) / 1000: the luminance of one RGB dot.
inline int luminanceOf(int r, int g, int b) {
  return (r * 299 + g * 587 + b * 114) / 1000;
}

// The brightness offset as a dot map: luminance + offset, clamped to 0..255.
void buildLightMap(int offset, unsigned char map[256]);

// Row y of the page from one raster row: map[luminance] for the width dots, then 255 for the
// pad columns up to nw.
void captureRow(const unsigned char *raster, RasterLayout layout, int width, int nw,
                const unsigned char map[256], unsigned char *out);
