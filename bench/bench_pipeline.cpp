// Page pipeline steps on whole A4 pages at 203 dpi (1678 × 2374 raster, 1680 dots with the pad)
// and 300 dpi (2480 × 3508), on a document page (white, black text blocks, some gray) and a
// photo page (gradients and noise), each step beside its plain form.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "base/log.h"
#include "pipeline/capture.h"
#include "pipeline/effects.h"
#include "pipeline/packing.h"
#include "pipeline/tone.h"
#include "pipeline/toned_page.h"
#include "reference.h"

namespace {

struct A4 {
  int width, height;
};
constexpr A4 kSizes[] = {{1678, 2374}, {2480, 3508}};
constexpr int kDistinctRows = 97;  // the raster cycles through these rows

// RGB raster rows of one page kind: 0 document, 1 photo.
const std::vector<Dots> &rasterRows(int sizeIndex, int kind) {
  static std::vector<Dots> cache[2][2];
  std::vector<Dots> &rows = cache[sizeIndex][kind];
  if (!rows.empty()) return rows;
  const int width = kSizes[sizeIndex].width;
  std::mt19937 rng(11);
  for (int y = 0; y < kDistinctRows; y++) {
    Dots row(3 * static_cast<size_t>(width), 255);
    for (int x = 0; x < width; x++) {
      int v;
      if (kind == 0) {
        int cell = (x / 9 + y / 13) % 11;
        v = cell == 0 ? 0 : (cell == 5 && y % 7 < 3 ? 140 : 255);
        if ((x / 40 + y) % 17 == 0) v = 255;  // gaps between words
      } else {
        v = (x * 255 / width + y * 2) % 256 + static_cast<int>(rng() % 31) - 15;
        v = std::clamp(v, 0, 255);
      }
      for (int c = 0; c < 3; c++) row[3 * x + c] = static_cast<unsigned char>(v);
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<Dots> wholeRaster(int sizeIndex, int kind) {
  const std::vector<Dots> &distinct = rasterRows(sizeIndex, kind);
  std::vector<Dots> rows;
  for (int y = 0; y < kSizes[sizeIndex].height; y++) rows.push_back(distinct[y % kDistinctRows]);
  return rows;
}

RowReader cyclingReader(int sizeIndex, int kind) {
  const std::vector<Dots> &rows = rasterRows(sizeIndex, kind);
  auto next = std::make_shared<size_t>(0);
  return [&rows, next](unsigned char *row, unsigned length) -> unsigned {
    std::memcpy(row, rows[(*next)++ % rows.size()].data(), length);
    return length;
  };
}

cups_page_header2_t header(int sizeIndex) {
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  h.cupsWidth = static_cast<unsigned>(kSizes[sizeIndex].width);
  h.cupsHeight = static_cast<unsigned>(kSizes[sizeIndex].height);
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = 24;
  h.cupsBytesPerLine = 3 * h.cupsWidth;
  h.cupsColorSpace = CUPS_CSPACE_RGB;
  return h;
}

// The luminance page of a kind, nw × height.
Dots luminancePage(int sizeIndex, int kind) {
  const std::vector<Dots> &rows = rasterRows(sizeIndex, kind);
  int width = kSizes[sizeIndex].width, nw = paddedWidth(width);
  unsigned char map[256];
  buildLightMap(0, map);
  Dots page(static_cast<size_t>(nw) * kSizes[sizeIndex].height);
  for (int y = 0; y < kSizes[sizeIndex].height; y++)
    captureRow(rows[y % kDistinctRows].data(), RasterLayout::Rgb24, width, nw, map,
               page.data() + static_cast<size_t>(y) * nw);
  return page;
}

ImageSettings settingsOf(int mode) {  // 0 black and white, 1 gray, 2 gray and sketch
  ImageSettings s;
  s.gray = mode >= 1;
  s.sketchPrint = mode == 2;
  return s;
}

void label(benchmark::State &state, int sizeIndex, int kind) {
  state.SetLabel(std::string(sizeIndex ? "300dpi " : "203dpi ") + (kind ? "photo" : "document"));
  int nw = paddedWidth(kSizes[sizeIndex].width);
  state.counters["Mdots"] = static_cast<double>(nw) * kSizes[sizeIndex].height / 1e6;
}

// Args: size index, page kind (and mode for the whole-page runs).

void BM_Capture(benchmark::State &state) {
  int si = static_cast<int>(state.range(0)), kind = static_cast<int>(state.range(1));
  const std::vector<Dots> &rows = rasterRows(si, kind);
  int width = kSizes[si].width, nw = paddedWidth(width);
  unsigned char map[256];
  buildLightMap(0, map);
  Dots page(static_cast<size_t>(nw) * kSizes[si].height);
  for (auto _ : state)
    for (int y = 0; y < kSizes[si].height; y++)
      captureRow(rows[y % kDistinctRows].data(), RasterLayout::Rgb24, width, nw, map,
                 page.data() + static_cast<size_t>(y) * nw);
  label(state, si, kind);
}

void BM_Threshold(benchmark::State &state) {
  int si = static_cast<int>(state.range(0)), kind = static_cast<int>(state.range(1));
  Dots source = luminancePage(si, kind), page(source.size());
  unsigned char map[256];
  buildThresholdMap(128, map);
  for (auto _ : state) {
    state.PauseTiming();
    page = source;
    state.ResumeTiming();
    mapDots(page.data(), page.size(), map);
  }
  label(state, si, kind);
}

void BM_Stucki(benchmark::State &state) {
  int si = static_cast<int>(state.range(0)), kind = static_cast<int>(state.range(1));
  Dots source = luminancePage(si, kind), page;
  int nw = paddedWidth(kSizes[si].width);
  for (auto _ : state) {
    state.PauseTiming();
    page = source;
    state.ResumeTiming();
    StuckiDiffusion diffusion(nw);
    for (int y = 0; y < kSizes[si].height; y++)
      diffusion.diffuseRow(page.data() + static_cast<size_t>(y) * nw);
  }
  label(state, si, kind);
}

void BM_StuckiReference(benchmark::State &state) {
  int si = static_cast<int>(state.range(0)), kind = static_cast<int>(state.range(1));
  Dots source = luminancePage(si, kind), page;
  int nw = paddedWidth(kSizes[si].width);
  for (auto _ : state) {
    state.PauseTiming();
    page = source;
    state.ResumeTiming();
    referenceTone(page, nw, kSizes[si].height, settingsOf(1));
  }
  label(state, si, kind);
}

void BM_Mirror(benchmark::State &state) {
  int si = static_cast<int>(state.range(0)), kind = static_cast<int>(state.range(1));
  Dots page = luminancePage(si, kind);
  int nw = paddedWidth(kSizes[si].width);
  for (auto _ : state) mirror(page.data(), page.data(), nw, kSizes[si].height);
  label(state, si, kind);
}

void BM_Sketch(benchmark::State &state) {
  int si = static_cast<int>(state.range(0)), kind = static_cast<int>(state.range(1));
  Dots page = luminancePage(si, kind), out(page.size());
  int nw = paddedWidth(kSizes[si].width);
  for (auto _ : state) sketch(page.data(), out.data(), nw, kSizes[si].height);
  label(state, si, kind);
}

void BM_SketchReference(benchmark::State &state) {
  int si = static_cast<int>(state.range(0)), kind = static_cast<int>(state.range(1));
  Dots page = luminancePage(si, kind), out(page.size());
  int nw = paddedWidth(kSizes[si].width);
  for (auto _ : state) referenceSketch(page.data(), out.data(), nw, kSizes[si].height);
  label(state, si, kind);
}

void BM_Packing(benchmark::State &state) {
  int si = static_cast<int>(state.range(0)), kind = static_cast<int>(state.range(1));
  Dots page = luminancePage(si, kind);
  int nw = paddedWidth(kSizes[si].width);
  std::vector<unsigned char> bitmap(static_cast<size_t>(nw / 8) * kSizes[si].height);
  for (auto _ : state)
    for (int y = 0; y < kSizes[si].height; y++)
      packRow(page.data() + static_cast<size_t>(y) * nw, nw,
              bitmap.data() + static_cast<size_t>(y) * (nw / 8));
  label(state, si, kind);
}

// The whole toned page as the filter makes it: capture through the tone conversion.
void BM_TonedPage(benchmark::State &state) {
  StringLogSink lines;
  Log log(lines);
  int si = static_cast<int>(state.range(0)), kind = static_cast<int>(state.range(1));
  ImageSettings s = settingsOf(static_cast<int>(state.range(2)));
  cups_page_header2_t h = header(si);
  std::vector<unsigned char> row(h.cupsBytesPerLine);
  for (auto _ : state) {
    DotBuffer page;
    std::string error;
    renderTonedPage(cyclingReader(si, kind), h, s, row.data(), log, page, error);
    benchmark::DoNotOptimize(page.get());
  }
  label(state, si, kind);
}

void BM_TonedPageReference(benchmark::State &state) {
  int si = static_cast<int>(state.range(0)), kind = static_cast<int>(state.range(1));
  ImageSettings s = settingsOf(static_cast<int>(state.range(2)));
  std::vector<Dots> rows = wholeRaster(si, kind);
  for (auto _ : state) {
    Dots page = referenceTonedPage(rows, kSizes[si].width, kSizes[si].height, s);
    benchmark::DoNotOptimize(page.data());
  }
  label(state, si, kind);
}

void stepArgs(benchmark::internal::Benchmark *b) {
  b->ArgNames({"size", "kind"})->Unit(benchmark::kMillisecond);
  for (int si : {0, 1})
    for (int kind : {0, 1}) b->Args({si, kind});
}

void pageArgs(benchmark::internal::Benchmark *b) {
  b->ArgNames({"size", "kind", "mode"})->Unit(benchmark::kMillisecond);
  for (int si : {0, 1})
    for (int kind : {0, 1})
      for (int mode : {0, 1, 2}) b->Args({si, kind, mode});
}

}  // namespace

BENCHMARK(BM_Capture)->Apply(stepArgs);
BENCHMARK(BM_Threshold)->Apply(stepArgs);
BENCHMARK(BM_Stucki)->Apply(stepArgs);
BENCHMARK(BM_StuckiReference)->Apply(stepArgs);
BENCHMARK(BM_Mirror)->Apply(stepArgs);
BENCHMARK(BM_Sketch)->Apply(stepArgs);
BENCHMARK(BM_SketchReference)->Apply(stepArgs);
BENCHMARK(BM_Packing)->Apply(stepArgs);
BENCHMARK(BM_TonedPage)->Apply(pageArgs);
BENCHMARK(BM_TonedPageReference)->Apply(pageArgs);

BENCHMARK_MAIN();
