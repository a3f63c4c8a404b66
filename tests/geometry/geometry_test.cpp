// Page geometry: the filter's steps against a plain two-buffer version of them, dot by dot, on
// random small pages for every model, page size, model name, turn and offset (worked examples
// of the placements are the pipeline's, the log lines the reference jobs'); hostile parameters
// that fail with a reason or drop the picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "pipeline/geometry.h"

namespace {

using Dots = std::vector<unsigned char>;

struct Placed {
  Dots dots;
  int64_t w = 0, h = 0;
  int paperCode = -1;
};

// The filter's geometry of a page of w x h dots; false with the reason when it fails.
bool applied(const Dots &input, int w, int h, const GeometryParams &p, Placed &out,
             std::string &error) {
  StringLogSink sink;
  Log log(sink);
  DotBuffer page = allocateDots(input.size() + 1);
  std::copy(input.begin(), input.end(), page.get());
  if (!applyGeometry(page, w, h, p, log, out.paperCode, error)) return false;
  out.dots.assign(page.get(), page.get() + size_t(w) * size_t(h));
  out.w = w;
  out.h = h;
  return true;
}

// ---- The plain steps: each one writes a new page, dot by dot ----

// A white page of w x h with the old page's dot (0, 0) at (col, row); dots outside are dropped.
Placed refPlace(const Placed &old, int64_t w, int64_t h, int64_t row, int64_t col) {
  Placed out{Dots(static_cast<size_t>(w * h), 255), w, h, old.paperCode};
  for (int64_t i = 0; i < old.h; i++)
    for (int64_t j = 0; j < old.w; j++) {
      int64_t y = row + i, x = col + j;
      if (y >= 0 && y < h && x >= 0 && x < w) out.dots[y * w + x] = old.dots[i * old.w + j];
    }
  return out;
}

// Paper widths of models 22 and 23 (and 302), lengths of model 302, and the paper code.
struct RefPaper {
  const char *name;
  double across22, across, along302;
  int code;
};
const RefPaper kRefPapers[] = {{"A4", 210, 210, 295, 0},
                               {"Letter", 216, 216, 279.4, 4},
                               {"EnvISOB5", 174, 176, 250, 2},
                               {"A5", 148, 148, 210, 3},
                               {"A5_Lanspace", 210, 210, 0, 1}};

Placed referenceGeometry(const Dots &input, int64_t W, int64_t H, const GeometryParams &p) {
  Placed rs{input, W, H};
  if (p.rotate == 1)
    for (int64_t i = 0; i < W * H; i++) rs.dots[i] = input[W * H - 1 - i];
  if (p.model == 400 && W > 1280) rs = refPlace(rs, 1280, H, 0, 0), W = 1280;
  Placed page = refPlace(rs, W, H, p.vOffset, p.hOffset);
  const unsigned Rx = p.resX, Ry = p.resY;
  const std::string_view size = p.pageSizeName, name = p.modelName;
  const float L = p.pageLength, T = p.imagingTop;
  if (p.model == 22 || p.model == 23 || p.model == 302) {
    int64_t tmpw = W, tmph = H;
    for (const RefPaper &paper : kRefPapers) {
      if (size != paper.name || (p.model == 302 && paper.along302 == 0)) continue;
      tmpw = (int)(Rx * (p.model == 22 ? paper.across22 : paper.across) / 25.4);
      if (p.model == 302) tmph = std::max<int64_t>((int)(Ry * paper.along302 / 25.4), H);
      page.paperCode = paper.code;
    }
    if (tmpw > W || tmph > H) page = refPlace(page, tmpw, tmph, 0, p.tofill + (tmpw - W) / 2);
  } else if (p.model == 831 || p.model == 21) {
    const std::pair<const char *, double> sheets[] = {
        {"A4", 297}, {"A5", 210}, {"B5JIS", 257}, {"EnvISOB5", 250}, {"RX5_A4", 300}};
    int topoffset = size == "RX5_A4" ? 160 : (int)(Ry * 12 / 25.4);
    int64_t tmph = size == "Letter" ? int64_t{Ry} * 11 : -1;
    for (const auto &[sheet, mm] : sheets)
      if (size == sheet) tmph = (int)(Ry * mm / 25.4);
    if (tmph < 0 && size.find("Tattoo") != size.npos)
      tmph = (int)(Ry * 297 / 25.4), topoffset = (int)((L - T) * Ry / 72);
    if (tmph < 0) {
      page = refPlace(page, W, H, -topoffset, 0);
    } else if (tmph > H) {
      int topspank = (int)(topoffset - Ry * 12 / 25.4);
      page = refPlace(page, W, tmph, topspank < 0 ? 0 : topspank, 0);
    }
  } else if (p.model == 64519 && p.gapMode == 0x0B) {
    int64_t tmph = size == "A4" ? (int)(Ry * 297 / 25.4) : size == "Letter" ? Ry * 11 : H;
    if (tmph > H) page = refPlace(page, W, tmph, 0, 0);
  } else if (p.model == 590314) {
    int topspank = (int)(Ry * 9 / 25.4);
    if (name == "HQ31" || name == "HQ32")
      topspank = (int)(Ry * 8 / 25.4);
    else if (name == "VN2W" && size != "Tattoo-A4" && size != "Tattoo-letter")
      topspank = (int)((L - T) * Ry / 72);
    page = refPlace(page, W, (int)(L * Ry / 72), topspank, 0);
  } else if (p.model == 613207) {
    page = refPlace(page, W, (int)(Ry * L / 72), 0, 0);
  }
  return page;
}

const int kModels[] = {21, 22, 23, 302, 400, 831, 64519, 590314, 613207, 0, 18};
const char *const kSizes[] = {
    "A4",     "Letter",    "EnvISOB5",      "A5",       "A5_Lanspace", "B5JIS",
    "RX5_A4", "Tattoo-A4", "Tattoo-letter", "MyTattoo", "a4",          "Custom.60x40mm"};
const char *const kModelNames[] = {"HQ31", "HQ32", "VN2W", "JT64", "hq31", ""};
const int kRotates[] = {0, 1, 2, 90};
const unsigned char kGaps[] = {0x0A, 0x0B, 0x26};

// The finished size without the dots agrees with the page the steps make.
TEST(GeometryReference, RandomSmallPagesMatchThePlainSteps) {
  std::mt19937 rng(20240611);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int model : kModels)
    for (const char *size : kSizes)
      for (int round = 0; round < 24; round++) {
        int W = pick(0, 9) == 0 ? pick(1, 7) : 8 * pick(1, 16), H = pick(0, 240);
        if (model == 400 && round % 4 == 0) W = 1272 + 8 * pick(0, 3), H = pick(0, 4);
        auto offset = [&] {
          return pick(0, 7) == 0 ? (pick(0, 1) ? INT_MIN : INT_MAX) : pick(-W - H, W + H);
        };
        // Resolutions so low that the paper sizes stay small pages.
        auto res = [&] { return static_cast<unsigned>(pick(3, 20)); };
        const float length = static_cast<float>(pick(0, 12000)) / 13.0f;
        const float top = length - static_cast<float>(pick(-50, 400)) / 7.0f;
        const GeometryParams p{
            model, kModelNames[pick(0, 5)], size,     res(),    res(),      length,
            top,   kRotates[pick(0, 3)],    offset(), offset(), pick(0, 7), kGaps[pick(0, 2)]};
        Dots input(static_cast<size_t>(W) * H);
        for (auto &dot : input) dot = pick(0, 2) ? 255 : 0;

        SCOPED_TRACE(testing::Message() << "model " << model << " " << size << " " << p.modelName
                                        << " round " << round);
        const Placed want = referenceGeometry(input, W, H, p);
        Placed got;
        std::string error;
        ASSERT_TRUE(applied(input, W, H, p, got, error)) << error;
        ASSERT_EQ(std::tie(got.w, got.h, got.paperCode), std::tie(want.w, want.h, want.paperCode));
        ASSERT_TRUE(got.dots == want.dots);
        int64_t finishedW = 0, finishedH = 0;
        ASSERT_TRUE(finishedPageSize(p, W, H, finishedW, finishedH, error)) << error;
        ASSERT_EQ(std::tie(finishedW, finishedH), std::tie(want.w, want.h));
      }
}

// Parameters of a placement: page length L and imaging top T in points.
GeometryParams at(int model, const char *size, unsigned res, float L = 0, float T = 0,
                  const char *modelName = "") {
  return {model, modelName, size, res, res, L, T};
}

TEST(Geometry, HostileParametersFailWithAReasonOrDropThePicture) {
  const float inf = INFINITY, nan = NAN;
  const struct {
    GeometryParams p;
    int W;
    const char *reason;  // nullptr: succeeds with a white page of W x wantH
    int wantH = 0;
  } cases[] = {
      {at(590314, "A4", 203, 1e30f), 8, "cannot place the page on 8 x 1099511627776 dots"},
      {at(613207, "A4", 203, inf), 8, "cannot place the page: its length is not finite"},
      {at(590314, "A4", 203, nan), 8, "cannot place the page: its length is not finite"},
      {at(613207, "A4", 203, -100), 8, "cannot place the page on 8 x -281 dots"},
      {at(613207, "A4", 203), 8, nullptr, 0},
      {at(613207, "A4", 72, 2e6f), 1000, "cannot allocate 2000000000 bytes for the placed page"},
      {at(831, "A4", UINT_MAX), 8, "cannot place the page on 8 x 50220680575 dots"},
      {at(302, "Letter", UINT_MAX), 8, "cannot place the page on 36524131327 x 47244640245 dots"},
      {at(831, "Tattoo-A4", 10, 100, nan), 8,
       "cannot place the page: its top margin is not finite"},
      {at(831, "Tattoo-A4", 10, 100, -1e30f), 8, nullptr, 116},
      {at(590314, "A4", 10, 100, 1e30f, "VN2W"), 8, nullptr, 13}};
  for (const auto &c : cases) {
    Placed page;
    std::string error;
    const bool ok = applied(Dots(size_t(c.W) * 4, 0), c.W, 4, c.p, page, error);
    if (c.reason) {
      EXPECT_FALSE(ok) << c.reason;
      EXPECT_EQ(error.rfind(c.reason, 0), 0u) << error;
      continue;
    }
    ASSERT_TRUE(ok) << &c - cases << ": " << error;
    EXPECT_EQ(page.w, c.W);
    EXPECT_EQ(page.h, c.wantH);
    EXPECT_EQ(std::count(page.dots.begin(), page.dots.end(), 0), 0);
  }
  StringLogSink sink;
  Log log(sink);
  int width = 8, height = 4, code = 0;
  std::string error;
  DotBuffer none;
  EXPECT_FALSE(applyGeometry(none, width, height, GeometryParams{}, log, code, error));
  EXPECT_EQ(error, "cannot place a page without dots");
}

}  // namespace
