// Page geometry: the half turn, the width limit of model 400, the user's offsets and the
// placement of the picture on the paper of the chosen page size, by model.
#include "pipeline/geometry.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/models.h"

namespace {

constexpr int kRX5TopRows = 160;  // "RX5_A4" starts its picture 160 rows down the sheet
constexpr unsigned char kWhite = 255;
// Lengths in points beyond this many dots fit no page an int can size; clamping them keeps
// the conversion defined and changes no result (such a page is refused, such a margin drops
// every row either way).
constexpr float kDotsClamp = 1099511627776.0f;  // 2^40

bool sameName(const char *a, const char *b) {
  return std::strcmp(a ? a : "", b) == 0;
}

// (res × mm) / 25.4 in double, truncated toward zero; finite and within int64 for any
// unsigned resolution and sheet-sized lengths.
int64_t millimetresToDots(unsigned res, double mm) {
  return static_cast<int64_t>(static_cast<double>(res) * mm / 25.4);
}

// points × res / 72 in single precision, truncated toward zero; false when not finite.
bool pointsToDots(float points, unsigned res, int64_t &dots) {
  float value = points * static_cast<float>(res) / 72;
  if (!std::isfinite(value)) return false;
  value = std::clamp(value, -kDotsClamp, kDotsClamp);
  dots = static_cast<int64_t>(value);
  return true;
}

// Writes row src (srcWidth dots) into row dst (dstWidth dots) with its first dot at column
// col; the rest of dst is white and what falls outside dst is dropped. src may be dst itself
// or overlap it: the picture is moved before the white is laid.
void placeRow(unsigned char *dst, int64_t dstWidth, const unsigned char *src, int64_t srcWidth,
              int64_t col) {
  int64_t first = std::max<int64_t>(col, 0);
  int64_t end = std::min(dstWidth, col + srcWidth);
  if (first < end) {
    std::memmove(dst + first, src + (first - col), static_cast<size_t>(end - first));
  } else {
    first = end = 0;
  }
  if (first > 0) std::memset(dst, kWhite, static_cast<size_t>(first));
  if (end < dstWidth) std::memset(dst + end, kWhite, static_cast<size_t>(dstWidth - end));
}

// Moves the picture dx columns right and dy rows down within its own page, in place.
void shiftPage(unsigned char *dots, int64_t width, int64_t height, int64_t dx, int64_t dy) {
  if (width == 0 || height == 0 || (dx == 0 && dy == 0)) return;
  auto shiftRow = [&](int64_t y) {
    unsigned char *row = dots + y * width;
    int64_t from = y - dy;
    if (from >= 0 && from < height) {
      placeRow(row, width, dots + from * width, width, dx);
    } else {
      std::memset(row, kWhite, static_cast<size_t>(width));
    }
  };
  // A row's source is read before it is overwritten: walk against the direction of the move.
  if (dy > 0) {
    for (int64_t y = height - 1; y >= 0; y--) shiftRow(y);
  } else {
    for (int64_t y = 0; y < height; y++) shiftRow(y);
  }
}

// Replaces the page by a white page of newWidth × newHeight with the old picture's top-left
// dot at (col, row); what falls outside the new page is dropped.
bool placePicture(DotBuffer &page, int &width, int &height, int64_t newWidth, int64_t newHeight,
                  int64_t row, int64_t col, std::string &error) {
  uint64_t count = 0;
  if (newWidth < 0 || newHeight < 0 || newWidth > INT_MAX || newHeight > INT_MAX ||
      !checkedMul(static_cast<uint64_t>(newWidth), static_cast<uint64_t>(newHeight), count)) {
    char text[120];
    std::snprintf(text, sizeof text, "cannot place the page on %lld x %lld dots",
                  static_cast<long long>(newWidth), static_cast<long long>(newHeight));
    error = text;
    return false;
  }
  DotBuffer placed = allocateDots(count);
  if (!placed) {
    char text[120];
    std::snprintf(text, sizeof text, "cannot allocate %llu bytes for the placed page",
                  static_cast<unsigned long long>(count));
    error = text;
    return false;
  }
  if (newWidth > 0) {
    for (int64_t y = 0; y < newHeight; y++) {
      unsigned char *dst = placed.get() + y * newWidth;
      int64_t from = y - row;
      if (from >= 0 && from < height) {
        placeRow(dst, newWidth, page.get() + from * width, width, col);
      } else {
        std::memset(dst, kWhite, static_cast<size_t>(newWidth));
      }
    }
  }
  page = std::move(placed);
  width = static_cast<int>(newWidth);
  height = static_cast<int>(newHeight);
  return true;
}

// Where the picture goes: a new white page of width x height dots with the old picture's
// top-left dot at (col, row); or, with place false, the page as it is (after a shift of
// shiftRows rows).
struct PlacementPlan {
  bool place = false;
  int64_t width = 0, height = 0, row = 0, col = 0;
  int64_t shiftRows = 0;
  int paperCode = -1;  // the paper-size command's code, when the page size has one
};

// Widen the page to the paper, picture centred; set the paper-size code.
void widenToPaper(PlacementPlan &to, int width, const GeometryParams &p) {
  struct Paper {
    const char *name;
    double mm;  // 0: the model's own width
    unsigned char code;
  };
  static const Paper kPapers[] = {{"A4", 210, 0},
                                  {"Letter", 216, 4},
                                  {"EnvISOB5", 0, 2},
                                  {"A5", 148, 3},
                                  {"A5_Lanspace", 210, 1}};
  for (const Paper &paper : kPapers) {
    if (!sameName(p.pageSizeName, paper.name)) continue;
    to.width =
        millimetresToDots(p.resX, paper.mm > 0 ? paper.mm : modelFacts(p.model).envelopeB5Mm);
    to.paperCode = paper.code;
    break;
  }
  to.place = to.width > width;
  to.col = p.tofill + (to.width - width) / 2;
}

// Model 302: size the page to the paper across and along, picture at the top, centred.
void fitToPaper(PlacementPlan &to, int width, int height, const GeometryParams &p) {
  struct Paper {
    const char *name;
    double across, along;  // millimetres
    unsigned char code;
  };
  static const Paper kPapers[] = {{"A4", 210, 295, 0},
                                  {"Letter", 216, 279.4, 4},
                                  {"EnvISOB5", 176, 250, 2},
                                  {"A5", 148, 210, 3}};
  for (const Paper &paper : kPapers) {
    if (!sameName(p.pageSizeName, paper.name)) continue;
    to.width = millimetresToDots(p.resX, paper.across);
    to.height = millimetresToDots(p.resY, paper.along);
    to.paperCode = paper.code;
    break;
  }
  to.height = std::max<int64_t>(to.height, height);
  to.place = to.width > width || to.height > height;
  to.col = p.tofill + (to.width - width) / 2;
}

// Models 831 and 21: lengthen the page to the sheet, the picture lowered by the part of its
// top margin beyond 12 mm; an unlisted size instead loses its top 12 mm.
bool placeOnSheet(PlacementPlan &to, int height, const GeometryParams &p, std::string &error) {
  const double twelveMm = static_cast<double>(p.resY) * 12 / 25.4;
  int64_t topoffset = static_cast<int64_t>(twelveMm);
  const char *name = p.pageSizeName ? p.pageSizeName : "";
  if (sameName(name, "A4")) {
    to.height = millimetresToDots(p.resY, 297);
  } else if (sameName(name, "Letter")) {
    to.height = int64_t{p.resY} * 11;
  } else if (sameName(name, "A5")) {
    to.height = millimetresToDots(p.resY, 210);
  } else if (sameName(name, "B5JIS")) {
    to.height = millimetresToDots(p.resY, 257);
  } else if (sameName(name, "EnvISOB5")) {
    to.height = millimetresToDots(p.resY, 250);
  } else if (sameName(name, "RX5_A4")) {
    to.height = millimetresToDots(p.resY, 300);
    topoffset = kRX5TopRows;
  } else if (std::strstr(name, "Tattoo")) {
    to.height = millimetresToDots(p.resY, 297);
    if (!pointsToDots(p.pageLength - p.imagingTop, p.resY, topoffset)) {
      error = "cannot place the page: its top margin is not finite";
      return false;
    }
  } else {
    to.shiftRows = -topoffset;
    return true;
  }
  to.place = to.height > height;
  to.row = std::max<int64_t>(static_cast<int64_t>(static_cast<double>(topoffset) - twelveMm), 0);
  return true;
}

// Model 64519 on continuous media: lengthen the page to the sheet, picture at the top.
void lengthenContinuous(PlacementPlan &to, int height, const GeometryParams &p) {
  if (!p.continuousMedia) return;
  if (sameName(p.pageSizeName, "A4")) {
    to.height = millimetresToDots(p.resY, 297);
  } else if (sameName(p.pageSizeName, "Letter")) {
    to.height = int64_t{p.resY} * 11;
  }
  to.place = to.height > height;
}

// The page length in dots, or false with a reason when it is not a number.
bool pageLengthDots(const GeometryParams &p, int64_t &tmph, std::string &error) {
  if (pointsToDots(p.pageLength, p.resY, tmph)) return true;
  error = "cannot place the page: its length is not finite";
  return false;
}

// Model 590314: the page as long as the page length, picture lowered by a top margin.
bool placeBelowTopMargin(PlacementPlan &to, const GeometryParams &p, std::string &error) {
  if (!pageLengthDots(p, to.height, error)) return false;
  to.row = millimetresToDots(p.resY, 9);
  if (sameName(p.modelName, "HQ31") || sameName(p.modelName, "HQ32")) {
    to.row = millimetresToDots(p.resY, 8);
  } else if (sameName(p.modelName, "VN2W") && !sameName(p.pageSizeName, "Tattoo-A4") &&
             !sameName(p.pageSizeName, "Tattoo-letter")) {
    if (!pointsToDots(p.pageLength - p.imagingTop, p.resY, to.row)) {
      error = "cannot place the page: its top margin is not finite";
      return false;
    }
  }
  to.place = true;
  return true;
}

// Model 613207: the page as long as the page length, picture at the top.
bool sizeToPageLength(PlacementPlan &to, const GeometryParams &p, std::string &error) {
  if (!pageLengthDots(p, to.height, error)) return false;
  to.place = true;
  return true;
}

// The placement of a width x height page (after the width limit and the offsets) by model and
// page size; false with a reason when the page's geometry has no number.
bool planPlacement(const GeometryParams &p, int width, int height, PlacementPlan &to,
                   std::string &error) {
  to = PlacementPlan{};
  to.width = width;
  to.height = height;
  switch (modelFacts(p.model).placement) {
    case Placement::WidenToPaper:
      widenToPaper(to, width, p);
      return true;
    case Placement::FitToPaper:
      fitToPaper(to, width, height, p);
      return true;
    case Placement::OnSheet:
      return placeOnSheet(to, height, p, error);
    case Placement::ContinuousLength:
      lengthenContinuous(to, height, p);
      return true;
    case Placement::BelowTopMargin:
      return placeBelowTopMargin(to, p, error);
    case Placement::PageLength:
      return sizeToPageLength(to, p, error);
    case Placement::None:
      break;
  }
  return true;
}

int widthAfterLimit(const GeometryParams &p, int width) {
  const int limit = modelFacts(p.model).widthLimit;
  return limit > 0 && width > limit ? limit : width;
}

}  // namespace

bool applyGeometry(DotBuffer &page, int &width, int &height, const GeometryParams &p, Log &log,
                   int &paperCode, std::string &error) {
  paperCode = -1;
  log.message("process gray end and width is %d and height is %d and rotate is %d\n", width, height,
              p.rotate);
  uint64_t count = 0;
  if (width < 0 || height < 0 ||
      !checkedMul(static_cast<uint64_t>(width), static_cast<uint64_t>(height), count) ||
      (count > 0 && !page)) {
    error = "cannot place a page without dots";
    return false;
  }

  if (p.rotate == 1 && count > 0) std::reverse(page.get(), page.get() + count);
  log.message("\nprocess rotate end\n");

  if (const int limit = widthAfterLimit(p, width); limit < width) {
    // Keep the leftmost columns; rows move towards the start, so in place is safe.
    for (int64_t y = 1; y < height; y++)
      std::memmove(page.get() + y * limit, page.get() + y * width, static_cast<size_t>(limit));
    width = limit;
  }

  shiftPage(page.get(), width, height, p.hOffset, p.vOffset);
  log.message("width: %d, height: %d\n", width, height);

  PlacementPlan to;
  if (!planPlacement(p, width, height, to, error)) return false;
  paperCode = to.paperCode;
  shiftPage(page.get(), width, height, 0, to.shiftRows);
  if (!to.place) return true;
  return placePicture(page, width, height, to.width, to.height, to.row, to.col, error);
}

bool finishedPageSize(const GeometryParams &p, int width, int height, int64_t &finishedWidth,
                      int64_t &finishedHeight, std::string &error) {
  width = widthAfterLimit(p, width);
  PlacementPlan to;
  if (!planPlacement(p, width, height, to, error)) return false;
  finishedWidth = to.place ? to.width : width;
  finishedHeight = to.place ? to.height : height;
  return true;
}
