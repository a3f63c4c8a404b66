// The page geometry against a plain two-buffer version of its steps, dot by dot, on random
// small pages for every model, page size, model name and turn.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "pipeline/geometry.h"
#include "support/capture.h"
#include "thermal/commands.h"

namespace {

using Dots = std::vector<unsigned char>;

struct RefPage {
  Dots dots;
  int64_t w = 0, h = 0;
};

// tempbuf of w × h, white, with the old page copied so that its dot (0, 0) lands on
// (col, row); dots outside the new page are dropped.
RefPage refPlace(const RefPage &old, int64_t w, int64_t h, int64_t row, int64_t col) {
  RefPage out{Dots(static_cast<size_t>(w * h), 255), w, h};
  for (int64_t i = 0; i < old.h; i++)
    for (int64_t j = 0; j < old.w; j++) {
      int64_t y = row + i, x = col + j;
      if (y >= 0 && y < h && x >= 0 && x < w) out.dots[y * w + x] = old.dots[i * old.w + j];
    }
  return out;
}

bool is(const char *a, const char *b) {
  return std::strcmp(a, b) == 0;
}

// The steps exactly as written: rs and tmp, per-dot loops.
RefPage referenceGeometry(const Dots &input, int64_t W, int64_t H, const GeometryParams &p) {
  Dots tmp = input, rs = input;
  if (p.rotate == 1)
    for (int64_t y = 0; y < H; y++)
      for (int64_t x = 0; x < W; x++) rs[y * W + x] = tmp[(H - 1 - y) * W + (W - 1 - x)];
  if (p.model == 400 && W > 1280) {
    Dots nb(static_cast<size_t>(1280 * H));
    for (int64_t y = 0; y < H; y++)
      for (int64_t x = 0; x < 1280; x++) nb[y * 1280 + x] = rs[y * W + x];
    W = 1280;
    rs = nb;
    tmp.assign(static_cast<size_t>(W * H), 0);
  }
  std::fill(tmp.begin(), tmp.end(), 255);
  for (int64_t i = 0; i < H; i++) {
    int64_t ni = i + p.vOffset;
    if (ni < 0 || ni >= H) continue;
    for (int64_t j = 0; j < W; j++) {
      int64_t nj = j + p.hOffset;
      if (nj < 0 || nj >= W) continue;
      tmp[ni * W + nj] = rs[i * W + j];
    }
  }
  RefPage page{tmp, W, H};
  const unsigned Rx = p.resX, Ry = p.resY;
  const char *size = p.pageSizeName;
  const float L = p.pageLength, T = p.imagingTop;
  switch (p.model) {
    case 22:
    case 23: {
      int64_t tmpw = W;
      if (is(size, "A4"))
        tmpw = (int)(Rx * 210 / 25.4), bCmdPaper[3] = 0;
      else if (is(size, "Letter"))
        tmpw = (int)(Rx * 216 / 25.4), bCmdPaper[3] = 4;
      else if (is(size, "EnvISOB5"))
        tmpw = (int)(Rx * (p.model == 23 ? 176 : 174) / 25.4), bCmdPaper[3] = 2;
      else if (is(size, "A5"))
        tmpw = (int)(Rx * 148 / 25.4), bCmdPaper[3] = 3;
      else if (is(size, "A5_Lanspace"))
        tmpw = (int)(Rx * 210 / 25.4), bCmdPaper[3] = 1;
      if (tmpw > W) page = refPlace(page, tmpw, H, 0, p.tofill + (tmpw - W) / 2);
      break;
    }
    case 302: {
      int64_t tmpw = W, tmph = H;
      if (is(size, "A4"))
        tmpw = (int)(Rx * 210 / 25.4), tmph = (int)(Ry * 295 / 25.4), bCmdPaper[3] = 0;
      else if (is(size, "Letter"))
        tmpw = (int)(Rx * 216 / 25.4), tmph = (int)(Ry * 279.4 / 25.4), bCmdPaper[3] = 4;
      else if (is(size, "EnvISOB5"))
        tmpw = (int)(Rx * 176 / 25.4), tmph = (int)(Ry * 250 / 25.4), bCmdPaper[3] = 2;
      else if (is(size, "A5"))
        tmpw = (int)(Rx * 148 / 25.4), tmph = (int)(Ry * 210 / 25.4), bCmdPaper[3] = 3;
      if (tmph < H) tmph = H;
      if (tmpw > W || tmph > H) page = refPlace(page, tmpw, tmph, 0, p.tofill + (tmpw - W) / 2);
      break;
    }
    case 831:
    case 21: {
      int topoffset = (int)(Ry * 12 / 25.4);
      int64_t tmph = -1;
      if (is(size, "A4"))
        tmph = (int)(Ry * 297 / 25.4);
      else if (is(size, "Letter"))
        tmph = Ry * 11;
      else if (is(size, "A5"))
        tmph = (int)(Ry * 210 / 25.4);
      else if (is(size, "B5JIS"))
        tmph = (int)(Ry * 257 / 25.4);
      else if (is(size, "EnvISOB5"))
        tmph = (int)(Ry * 250 / 25.4);
      else if (is(size, "RX5_A4"))
        tmph = (int)(Ry * 300 / 25.4), topoffset = 160;
      else if (std::strstr(size, "Tattoo"))
        tmph = (int)(Ry * 297 / 25.4), topoffset = (int)((L - T) * Ry / 72);
      if (tmph < 0) {
        for (int64_t i = 0; i < H; i++)
          for (int64_t j = 0; j < W; j++)
            page.dots[i * W + j] = topoffset + i < H ? page.dots[(topoffset + i) * W + j] : 255;
      } else if (tmph > H) {
        int topspank = (int)(topoffset - Ry * 12 / 25.4);
        page = refPlace(page, W, tmph, topspank < 0 ? 0 : topspank, 0);
      }
      break;
    }
    case 64519: {
      if (p.gapMode != 0x0B) break;
      int64_t tmph = H;
      if (is(size, "A4"))
        tmph = (int)(Ry * 297 / 25.4);
      else if (is(size, "Letter"))
        tmph = Ry * 11;
      if (tmph > H) page = refPlace(page, W, tmph, 0, 0);
      break;
    }
    case 590314: {
      int tmph = (int)(L * Ry / 72);
      int topspank = (int)(Ry * 9 / 25.4);
      if (is(p.modelName, "HQ31") || is(p.modelName, "HQ32"))
        topspank = (int)(Ry * 8 / 25.4);
      else if (is(p.modelName, "VN2W") && !is(size, "Tattoo-A4") && !is(size, "Tattoo-letter"))
        topspank = (int)((L - T) * Ry / 72);
      page = refPlace(page, W, tmph, topspank, 0);
      break;
    }
    case 613207:
      page = refPlace(page, W, (int)(Ry * L / 72), 0, 0);
      break;
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

TEST(GeometryReference, RandomSmallPagesMatchTheStraightforwardSteps) {
  CapturedIO io;  // keeps the log lines off standard error
  std::mt19937 rng(20240611);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  int cases = 0;
  for (int model : kModels)
    for (const char *size : kSizes)
      for (int round = 0; round < 24; round++) {
        GeometryParams p;
        p.model = model;
        p.pageSizeName = size;
        p.modelName = kModelNames[pick(0, 5)];
        p.rotate = kRotates[pick(0, 3)];
        p.gapMode = kGaps[pick(0, 2)];
        // Resolutions so low that the paper sizes stay small pages.
        p.resX = static_cast<unsigned>(pick(3, 20));
        p.resY = static_cast<unsigned>(pick(3, 20));
        int64_t W = pick(0, 9) == 0 ? pick(1, 7) : 8 * pick(1, 16);
        int64_t H = pick(0, 240);
        if (model == 400 && round % 4 == 0) {
          W = 1272 + 8 * pick(0, 3);
          H = pick(0, 4);
        }
        p.tofill = pick(0, 7);
        p.pageLength = static_cast<float>(pick(0, 12000)) / 13.0f;
        p.imagingTop = p.pageLength - static_cast<float>(pick(-50, 400)) / 7.0f;
        const int spread = static_cast<int>(W + H);
        p.hOffset = pick(0, 7) == 0 ? (pick(0, 1) ? INT_MIN : INT_MAX) : pick(-spread, spread);
        p.vOffset = pick(0, 7) == 0 ? (pick(0, 1) ? INT_MIN : INT_MAX) : pick(-spread, spread);

        Dots input(static_cast<size_t>(W * H));
        for (auto &dot : input) dot = pick(0, 2) ? 255 : 0;
        const unsigned char priorCode = static_cast<unsigned char>(pick(0, 4));

        bCmdPaper[3] = priorCode;
        RefPage want = referenceGeometry(input, W, H, p);
        const unsigned char wantCode = bCmdPaper[3];

        bCmdPaper[3] = priorCode;
        DotBuffer page(static_cast<unsigned char *>(std::malloc(input.size() + 1)));
        if (!input.empty()) std::memcpy(page.get(), input.data(), input.size());
        int width = static_cast<int>(W), height = static_cast<int>(H);
        std::string error;
        ASSERT_TRUE(applyGeometry(page, width, height, p, error)) << error;

        SCOPED_TRACE(testing::Message() << "model " << model << " " << size << " " << p.modelName
                                        << " round " << round);
        ASSERT_EQ(width, want.w);
        ASSERT_EQ(height, want.h);
        ASSERT_EQ(bCmdPaper[3], wantCode);
        ASSERT_TRUE(want.dots.empty() ||
                    std::memcmp(page.get(), want.dots.data(), want.dots.size()) == 0);
        cases++;
      }
  resetThermalCommands();
  EXPECT_EQ(cases, 11 * 12 * 24);
}

}  // namespace
