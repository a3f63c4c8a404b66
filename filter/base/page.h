// What the driver and the image pipeline share about one page of a job: its header, the page
// settings its set-up chooses, the raster row and the finished page. A page object lives from the
// header's read to the page's end; the printer language keeps its own row state.
#pragma once

#include <cups/raster.h>

#include <cstddef>
#include <vector>

#include "base/page_memory.h"

struct Page {
  cups_page_header2_t header{};  // as read; the pipeline writes the finished size into it

  // Set by the page set-up, read by the image pipeline.
  int hOffset = 0;  // dots, signed
  int vOffset = 0;  // dots, signed
  int Rotate = 0;
  int gray = 0;  // 1: gray conversion

  // The raster row buffer (cupsBytesPerLine bytes), allocated by the page set-up; the capture
  // reads the page's rows into it.
  DotBuffer Buffer;
  // The finished page from the pipeline: header.cupsWidth x header.cupsHeight dots, row-major,
  // 0 black, 255 white.
  DotBuffer dots;
  int paperCode = -1;  // the paper-size command's code the geometry chose for it, or -1

  // Row y of the finished page.
  const unsigned char *finishedRow(unsigned y) const {
    return dots.get() + static_cast<size_t>(y) * header.cupsWidth;
  }
};
