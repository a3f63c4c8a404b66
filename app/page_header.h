// A client's page turned into the page a CUPS queue's rasterizer hands the filter for the same
// PPD and options: the header it writes (sizes rounded as it rounds them) and the imageable area
// cut out of the client's page. Raster pages from clients and rendered PDF pages both go through
// here, so that a page prints with the same bytes through the app as through a CUPS queue.
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>

#include <cstddef>
#include <vector>

#include "printer_model.h"

namespace app {

// A client's page as the app keeps it: 8-bit gray rows (0 black).
struct ClientPage {
  unsigned width = 0;   // dots
  unsigned height = 0;  // rows
  unsigned xdpi = 0, ydpi = 0;
  const unsigned char *rows = nullptr;  // height rows of width bytes
};

// The filter's page: its header and where its first row and column lie in the client's page.
struct FilterPage {
  cups_page_header2_t header;
  unsigned top = 0;
  unsigned left = 0;
};

// Whether the app reads a client raster of this header: 8-bit gray, the one type it asks PAPPL
// for (PAPPL aborts pages of other types before they arrive).
bool readableRaster(const cups_page_header2_t &client);
// The page of a client raster header whose rows are at rows.
ClientPage clientPageOf(const cups_page_header2_t &client, const unsigned char *rows);

// The page at dpi across and down: each dot the mean of the client's dots it covers.
ClientPage resampled(const ClientPage &client, unsigned dpi, std::vector<unsigned char> &rows);

// Marks the PPD's Resolution and PageSize for the client's page (the marked size stays when the
// page is that size within 1 mm; else the PPD size or custom size the page is) and returns the
// page the rasterizer would make of it.
FilterPage filterPageOf(ppd_file_t *ppd, const PrinterModel &model, const ClientPage &client);

// Row y of the filter page (length bytes): the client's dots under it, white beyond its edges.
void filterRow(const FilterPage &page, const ClientPage &client, unsigned y, unsigned char *row,
               size_t length);

}  // namespace app
