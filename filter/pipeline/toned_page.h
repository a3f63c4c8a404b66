// The page up to its tone conversion: capture, mirror, sketch, threshold or diffusion.
#pragma once

#include <cups/raster.h>

#include <functional>
#include <string>

#include "base/log.h"
#include "base/page_memory.h"

// Reads one raster row like cupsRasterReadPixels: returns the bytes read, 0 at the end.
using RowReader = std::function<unsigned(unsigned char *row, unsigned length)>;

// The job and page settings the capture, effects and tone conversion use.
struct ImageSettings {
  int lightOffset = 0;
  int gray = 0;  // 0 black-and-white conversion, otherwise gray conversion
  int blacklevel = 4;
  int graylevel = 7;
  int mirrorPrint = 0;
  int sketchPrint = 0;
};

// Captures the page through read (rows of header.cupsBytesPerLine bytes into rowBuffer), then
// mirror, sketch and tone conversion as the settings ask; page becomes the toned page, nw ×
// cupsHeight dots with nw the width rounded up to a multiple of 8. Writes the capture's and the
// conversion's log lines. Returns false with a reason when a buffer cannot be had.
bool renderTonedPage(const RowReader &read, const cups_page_header2_t &header,
                     const ImageSettings &settings, unsigned char *rowBuffer, Log &log,
                     DotBuffer &page, std::string &error);
