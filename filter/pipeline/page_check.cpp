// Page header checks: raster layout, sizes, resolution, the floats geometry converts, and the
// memory the page's buffers need at their peak.
#include "pipeline/page_check.h"

#include "base/page_memory.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "base/header_fields.h"
#include "pipeline/capture.h"

namespace {

constexpr unsigned kMaxResolution = 10000;
// Widest and longest paper a placement may produce, in millimetres.
constexpr double kWidestPaperMm = 216;
constexpr double kLongestPaperMm = 300;

// Overflow-checked arithmetic: once a step overflows, ok stays false.
struct Checked {
  uint64_t value = 0;
  bool ok = true;
};
Checked mul(Checked a, uint64_t b) {
  Checked r;
  r.ok = a.ok && !__builtin_mul_overflow(a.value, b, &r.value);
  return r;
}
Checked add(Checked a, Checked b) {
  Checked r;
  r.ok = a.ok && b.ok && !__builtin_add_overflow(a.value, b.value, &r.value);
  return r;
}
Checked of(uint64_t v) {
  return Checked{v, true};
}
Checked larger(Checked a, Checked b) {
  return Checked{std::max(a.value, b.value), a.ok && b.ok};
}

uint64_t millimetresToDots(unsigned resolution, double mm) {
  return static_cast<uint64_t>(resolution * mm / 25.4);
}

bool fitsInt(float v) {
  return std::isfinite(v) && v > static_cast<float>(INT_MIN) && v < static_cast<float>(INT_MAX);
}

// Sets the reason and returns false.
__attribute__((format(printf, 2, 3))) bool reject(std::string &reason, const char *fmt, ...) {
  char text[256];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  reason = text;
  return false;
}

// Every string of the header ends within its field.
bool headerStringsTerminated(const cups_page_header2_t &h) {
  bool ok = headerStringTerminated(h.MediaClass) && headerStringTerminated(h.MediaColor) &&
            headerStringTerminated(h.MediaType) && headerStringTerminated(h.OutputType) &&
            headerStringTerminated(h.cupsMarkerType) &&
            headerStringTerminated(h.cupsRenderingIntent) &&
            headerStringTerminated(h.cupsPageSizeName);
  for (const auto &s : h.cupsString) ok = ok && headerStringTerminated(s);
  return ok;
}

}  // namespace

bool pageMemoryNeed(const cups_page_header2_t &header, uint64_t &bytes) {
  const uint64_t nw = (uint64_t{header.cupsWidth} + 7) & ~uint64_t{7};
  const uint64_t height = header.cupsHeight;
  const Checked page = mul(of(nw), height);
  // Capture and tone conversion: the row buffer, the page, four rows of diffusion errors.
  Checked capture = add(add(of(header.cupsBytesPerLine), page), mul(of(nw + 4), 4 * 8));
  // Sketch: a second page, and per box pass a ring of 11 rows, window sums and one row.
  Checked effects = add(mul(page, 2), mul(of(nw), 32));
  // Geometry works in place but for the placed page, at most as wide as the widest paper and
  // as long as the longest paper or the page length; it replaces the page.
  const unsigned rx = header.HWResolution[0], ry = header.HWResolution[1];
  float length = header.cupsPageSize[1] * static_cast<float>(ry) / 72;
  uint64_t lengthDots = fitsInt(length) && length > 0 ? static_cast<uint64_t>(length) : 0;
  Checked placedWidth = of(std::max(nw, millimetresToDots(rx, kWidestPaperMm)));
  Checked placedHeight = of(std::max({height, millimetresToDots(ry, kLongestPaperMm), lengthDots}));
  Checked placed = mul(placedWidth, placedHeight.value);
  Checked geometry = add(page, placed);
  // Packing: the finished page and the bitmap.
  Checked bitmap = mul(of((placedWidth.value + 7) / 8), placedHeight.value);
  Checked packing = add(placed, bitmap);
  Checked peak = larger(larger(capture, effects), larger(geometry, packing));
  bytes = peak.value;
  return peak.ok;
}

bool checkPageHeader(const cups_page_header2_t &h, std::string &reason) {
  RasterLayout layout = rasterLayoutOf(h);
  if (layout == RasterLayout::Unsupported)
    return reject(reason,
                  "unsupported raster format: %u bits per pixel, colour space %u, "
                  "order %u",
                  h.cupsBitsPerPixel, headerFieldValue(h.cupsColorSpace),
                  headerFieldValue(h.cupsColorOrder));
  if (!headerStringsTerminated(h)) return reject(reason, "header string without its end (NUL)");
  if (h.cupsWidth == 0 || h.cupsHeight == 0)
    return reject(reason, "empty page: width %u, height %u", h.cupsWidth, h.cupsHeight);
  if (h.cupsWidth > INT_MAX - 7 || h.cupsHeight > INT_MAX)
    return reject(reason, "page of %u x %u dots too large", h.cupsWidth, h.cupsHeight);
  uint64_t rowNeed = uint64_t{h.cupsWidth} * static_cast<unsigned>(rasterBytesPerDot(layout));
  if (h.cupsBytesPerLine < rowNeed)
    return reject(reason, "bytes per line %u too small for width %u", h.cupsBytesPerLine,
                  h.cupsWidth);
  for (unsigned r : h.HWResolution)
    if (r == 0 || r > kMaxResolution)
      return reject(reason, "resolution %ux%u dpi out of range", h.HWResolution[0],
                    h.HWResolution[1]);
  const float ry = static_cast<float>(h.HWResolution[1]);
  const float length = h.cupsPageSize[1], top = h.cupsImagingBBox[3];
  bool sizesUsable = std::isfinite(h.cupsPageSize[0]) && length >= 0;
  for (float v : h.cupsImagingBBox) sizesUsable = sizesUsable && std::isfinite(v);
  sizesUsable = sizesUsable && fitsInt(length * ry / 72) && fitsInt((length - top) * ry / 72);
  if (!sizesUsable)
    return reject(reason,
                  "page size %g x %g points or imageable area %g %g %g %g out of "
                  "range",
                  static_cast<double>(h.cupsPageSize[0]), static_cast<double>(length),
                  static_cast<double>(h.cupsImagingBBox[0]),
                  static_cast<double>(h.cupsImagingBBox[1]),
                  static_cast<double>(h.cupsImagingBBox[2]), static_cast<double>(top));
  uint64_t need = 0;
  bool known = pageMemoryNeed(h, need);
  uint64_t limit = pageMemoryLimit();
  if (!known || need > limit)
    return reject(reason, "page of %u x %u dots needs %s%llu bytes, above the limit of %llu",
                  h.cupsWidth, h.cupsHeight, known ? "" : "more than ",
                  static_cast<unsigned long long>(known ? need : UINT64_MAX),
                  static_cast<unsigned long long>(limit));
  return true;
}
