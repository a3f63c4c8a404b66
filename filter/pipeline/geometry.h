// Page geometry: half turn, width limit of model 400, offsets and the placement of the picture
// on the paper by model and page size.
#pragma once

#include <cstdint>
#include <string>

#include "base/log.h"
#include "base/page_memory.h"

struct GeometryParams {
  int model = 0;                  // ModelNumber (its placement comes from the model table)
  const char *modelName = "";     // the PPD's ModelName
  const char *pageSizeName = "";  // cupsPageSizeName
  unsigned resX = 0, resY = 0;    // HWResolution
  float pageLength = 0;           // cupsPageSize[1], points
  float imagingTop = 0;           // cupsImagingBBox[3], points
  int rotate = 0, hOffset = 0, vOffset = 0;
  int tofill = 0;                // pad columns the capture added on the right
  bool continuousMedia = false;  // the printer tracks continuous media for this page
};

// Turns the toned page (width = nw, height rows) into the finished page; may replace the
// buffer and changes width and height. paperCode receives the paper-size command's code of the
// page size (-1: none). Writes the geometry log lines. Returns false with a reason when a page
// buffer cannot be had.
bool applyGeometry(DotBuffer &page, int &width, int &height, const GeometryParams &p, Log &log,
                   int &paperCode, std::string &error);

// The size applyGeometry gives a toned page of width x height dots, without its dots; false
// with a reason where applyGeometry would fail for the page's geometry.
bool finishedPageSize(const GeometryParams &p, int width, int height, int64_t &finishedWidth,
                      int64_t &finishedHeight, std::string &error);
