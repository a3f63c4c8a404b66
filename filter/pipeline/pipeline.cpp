// Page image pipeline: the toned page handed to the geometry.
#include "pipeline/pipeline.h"

#include "pipeline/capture.h"

GeometryParams geometryParams(const cups_page_header2_t &header, int model, const char *modelName,
                              bool continuousMedia) {
  GeometryParams p;
  p.model = model;
  p.modelName = modelName ? modelName : "";
  p.pageSizeName = header.cupsPageSizeName;
  p.resX = header.HWResolution[0];
  p.resY = header.HWResolution[1];
  p.pageLength = header.cupsPageSize[1];
  p.imagingTop = header.cupsImagingBBox[3];
  p.tofill = paddedWidth(static_cast<int>(header.cupsWidth)) - static_cast<int>(header.cupsWidth);
  p.continuousMedia = continuousMedia;
  return p;
}

bool finishedPageSizeOf(const cups_page_header2_t &header, const GeometryParams &p, int64_t &width,
                        int64_t &height, std::string &error) {
  return finishedPageSize(p, paddedWidth(static_cast<int>(header.cupsWidth)),
                          static_cast<int>(header.cupsHeight), width, height, error);
}

bool runPagePipeline(const RowReader &read, const cups_page_header2_t &header,
                     const PageSettings &settings, unsigned char *rowBuffer, Log &log,
                     FinishedPage &page, std::string &error) {
  DotBuffer dots;
  if (!renderTonedPage(read, header, settings.image, rowBuffer, log, dots, error)) return false;
  int width = paddedWidth(static_cast<int>(header.cupsWidth));
  int height = static_cast<int>(header.cupsHeight);
  if (!applyGeometry(dots, width, height, settings.geometry, log, page.paperCode, error))
    return false;
  page.dots = std::move(dots);
  page.width = width;
  page.height = height;
  return true;
}
