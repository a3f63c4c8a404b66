// Page image pipeline: the toned page handed to the geometry, with the settings of the job
// and page globals.
#include "pipeline/pipeline.h"

#include <vector>

#include "driver/job.h"
#include "pipeline/capture.h"
#include "pipeline/geometry.h"
#include "pipeline/toned_page.h"
#include "thermal/commands.h"
#include "thermal/page_setup.h"

namespace {

// The geometry of the page as its header gives it; the page set-up adds turn and offsets.
GeometryParams geometryParams(const cups_page_header2_t &header, const char *modelName,
                              unsigned char gapMode) {
  GeometryParams p;
  p.model = ModelNumber;
  p.modelName = modelName ? modelName : "";
  p.pageSizeName = header.cupsPageSizeName;
  p.resX = header.HWResolution[0];
  p.resY = header.HWResolution[1];
  p.pageLength = header.cupsPageSize[1];
  p.imagingTop = header.cupsImagingBBox[3];
  p.tofill = paddedWidth(static_cast<int>(header.cupsWidth)) - static_cast<int>(header.cupsWidth);
  p.gapMode = gapMode;
  return p;
}

}  // namespace

bool finishedPageSizeOf(const cups_page_header2_t &header, const char *modelName,
                        unsigned char gapMode, int64_t &width, int64_t &height,
                        std::string &error) {
  return finishedPageSize(geometryParams(header, modelName, gapMode),
                          paddedWidth(static_cast<int>(header.cupsWidth)),
                          static_cast<int>(header.cupsHeight), width, height, error);
}

bool runPagePipeline(const RowReader &read, cups_page_header2_t *header, const char *modelName,
                     FinishedPage &page, std::string &error) {
  // Rows are read into the page set-up's row buffer; a caller without one gets a private row.
  std::vector<unsigned char> privateRow;
  unsigned char *rowBuffer = Buffer;
  if (!rowBuffer) {
    privateRow.resize(header->cupsBytesPerLine ? header->cupsBytesPerLine : 1);
    rowBuffer = privateRow.data();
  }
  DotBuffer dots;
  bool toned = renderTonedPage(read, *header, currentImageSettings(), rowBuffer, dots, error);
  releaseRowBuffer();
  if (!toned) return false;

  GeometryParams p = geometryParams(*header, modelName, bCmdGap[2]);
  p.rotate = Rotate;
  p.hOffset = hOffset;
  p.vOffset = vOffset;
  const int nw = paddedWidth(static_cast<int>(header->cupsWidth));
  int width = nw;
  int height = static_cast<int>(header->cupsHeight);
  if (!applyGeometry(dots, width, height, p, error)) return false;
  header->cupsWidth = static_cast<unsigned>(width);
  header->cupsHeight = static_cast<unsigned>(height);
  page.dots = std::move(dots);
  page.width = width;
  page.height = height;
  return true;
}
