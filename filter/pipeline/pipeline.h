// The page image pipeline: capture, effects, tone conversion and geometry of one page, leaving
// the finished black-and-white page (one byte per dot, 0 black, 255 white). Pure: its settings
// come in, the page and what the page's commands need go out; only its log lines leave.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <functional>
#include <string>

#include "base/log.h"
#include "base/page_memory.h"
#include "pipeline/geometry.h"
#include "pipeline/toned_page.h"

struct PageSettings {
  ImageSettings image;
  GeometryParams geometry;  // its pageSizeName must outlive the run
};

// The finished page: width × height dots, row-major.
struct FinishedPage {
  DotBuffer dots;
  int width = 0;
  int height = 0;
  int paperCode = -1;  // the paper-size command's code for the page size, or -1
};

// The geometry of a page as its header gives it, for model (and the PPD's ModelName) on the
// media its printer tracks for it; turn and offsets are the set-up's.
GeometryParams geometryParams(const cups_page_header2_t &header, int model, const char *modelName,
                              bool continuousMedia);

// Runs the pipeline on the page whose header was read, reading its rows through read into
// rowBuffer (cupsBytesPerLine bytes). Returns false, with a reason for the scheduler, when a
// page buffer cannot be had.
bool runPagePipeline(const RowReader &read, const cups_page_header2_t &header,
                     const PageSettings &settings, unsigned char *rowBuffer, Log &log,
                     FinishedPage &page, std::string &error);

// The size runPagePipeline gives the page of header under geometry p; false with a reason when
// its geometry has no number.
bool finishedPageSizeOf(const cups_page_header2_t &header, const GeometryParams &p, int64_t &width,
                        int64_t &height, std::string &error);
