// Capture, effects and tone conversion of one page.
//
// One page buffer carries the picture from the capture to the geometry: the effects and the
// tone conversion work in place (the sketch alone needs a second page). Without a sketch every
// step is per row, so each row is mirrored and toned right after it is captured, while it is
// still in the cache; the Stucki diffusion only pushes errors downwards and streams along.
#include "pipeline/toned_page.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "pipeline/capture.h"
#include "pipeline/effects.h"
#include "pipeline/tone.h"

namespace {

// The tone conversion of the settings, row by row: a pointwise dot map (threshold or forced
// black), then for gray the diffusion.
class ToneConversion {
 public:
  ToneConversion(const ImageSettings &s, int nw) {
    if (s.gray) {
      int level = effectiveGrayLevel(s.graylevel);
      buildForcedBlackMap(graylevellist[level - 1], map_);
      diffusion_.emplace(nw);
    } else {
      buildThresholdMap(blacklevellist[effectiveBlackLevel(s.blacklevel) - 1], map_);
    }
  }
  // The conversion's start line.
  static void announce(const ImageSettings &s, Log &log) {
    if (s.gray) {
      int level = effectiveGrayLevel(s.graylevel);
      log.message("gray and graylevel is %d(%d)\n", level, graylevellist[level - 1]);
    } else {
      log.message("balck");
    }
  }
  const unsigned char *map() const { return map_; }
  // The rest of the conversion for a row whose dots went through map(); the row may only be
  // done once the next row has come, or at finishPage().
  void finishRow(unsigned char *row) {
    if (diffusion_) diffusion_->diffuseRow(row);
  }
  void finishPage() {
    if (diffusion_) diffusion_->finish();
  }

 private:
  unsigned char map_[256];
  std::optional<StuckiDiffusion> diffusion_;  // gray conversion only
};

bool allocationFailed(std::string &error, const char *what, int width, int height) {
  char text[160];
  std::snprintf(text, sizeof text, "cannot allocate the %s of %d x %d dots", what, width, height);
  error = text;
  return false;
}

}  // namespace

bool renderTonedPage(const RowReader &read, const cups_page_header2_t &header,
                     const ImageSettings &settings, unsigned char *rowBuffer, Log &log,
                     DotBuffer &page, std::string &error) {
  const int width = static_cast<int>(header.cupsWidth);
  const int height = static_cast<int>(header.cupsHeight);
  const int nw = paddedWidth(width);
  const size_t stride = static_cast<size_t>(nw);
  uint64_t count = 0;
  if (checkedMul(stride, static_cast<uint64_t>(height), count)) page = allocateDots(count);
  if (!page) return allocationFailed(error, "page", nw, height);
  log.message("nw is %d 1 and cupsBytesPerLine is %d\n", nw,
              static_cast<int>(header.cupsBytesPerLine));

  // Without a sketch the tone conversion joins the capture; its map then replaces the light
  // map, which is sound because the mirror only moves dots.
  const bool tonedWhileCaptured = !settings.sketchPrint;
  unsigned char map[256];
  buildLightMap(settings.lightOffset, map);
  ToneConversion tone(settings, nw);
  if (tonedWhileCaptured) {
    for (int v = 0; v < 256; v++) map[v] = tone.map()[map[v]];
    ToneConversion::announce(settings, log);
  }

  const RasterLayout layout = rasterLayoutOf(header);
  bool reading = true;
  for (int y = 0; y < height; y++) {
    unsigned char *row = page.get() + static_cast<size_t>(y) * stride;
    reading = reading && read(rowBuffer, header.cupsBytesPerLine) > 0;
    if (reading) {
      captureRow(rowBuffer, layout, width, nw, map, row);
    } else {
      std::memset(row, 255, stride);  // rows a short raster leaves unread are white
    }
    if (settings.mirrorPrint) mirrorRow(row, nw);
    if (tonedWhileCaptured) tone.finishRow(row);
  }
  if (tonedWhileCaptured) {
    tone.finishPage();
    return true;
  }

  DotBuffer sketched = allocateDots(count);
  if (!sketched) return allocationFailed(error, "sketch page", nw, height);
  sketch(page.get(), sketched.get(), nw, height);
  page = std::move(sketched);
  ToneConversion::announce(settings, log);
  for (int y = 0; y < height; y++) {
    unsigned char *row = page.get() + static_cast<size_t>(y) * stride;
    mapDots(row, stride, tone.map());
    tone.finishRow(row);
  }
  tone.finishPage();
  return true;
}
