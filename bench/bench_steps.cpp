// Output-side steps on whole A4 pages at 203 dpi (1678 × 2374 dots) and 300 dpi (2480 × 3508):
// the geometry placements of the thermal models, the LZO framing of the page bitmap, the whole
// bitmap transmission, and every label language's row output from the finished page.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/models.h"
#include "base/page_memory.h"
#include "driver/job.h"
#include "labels/labels.h"
#include "pipeline/geometry.h"
#include "pipeline/packing.h"
#include "thermal/thermal_printer.h"
#include "thermal/transmission.h"

namespace {

// The raster of an A4 page; the pipeline pads its rows to whole bytes, so the finished page is
// `width` dots wide.
struct A4 {
  int rasterWidth, height;
  unsigned dpi;
  int width;
};
constexpr A4 kSizes[] = {{1678, 2374, 203, 1680}, {2480, 3508, 300, 2480}};

enum PageKind { kDocument, kText };  // text above a photo; text only

// The filter allocates every page buffer once per page in a short-lived process, so each one is
// fresh memory that pays its first-touch page faults. A fixed mmap threshold keeps it so here:
// glibc's sliding threshold would otherwise recycle the freed pages between iterations for some
// sizes and not for others.
[[maybe_unused]] const bool freshPageBuffers = mallopt(M_MMAP_THRESHOLD, 1 << 20) == 1;

// ---- Test pages ----

// A finished page (0 black, 255 white) that looks like what the pipeline leaves of a printed
// document: lines of text-like glyph strokes, and (for kDocument) a photo below them whose
// gradient, rings and noise are dithered with a carried error, so that its dots have the
// entropy of a dithered photo rather than of flat areas.
std::vector<unsigned char> finishedPage(const A4 &size, PageKind kind) {
  const int w = size.width, h = size.height;
  const double mm = size.dpi / 25.4;
  std::vector<unsigned char> page(static_cast<size_t>(w) * h, 255);
  std::mt19937 rng(7);
  auto dot = [&](int x, int y) -> unsigned char & { return page[static_cast<size_t>(y) * w + x]; };
  const int margin = static_cast<int>(15 * mm);
  const int textEnd = kind == kText ? h - margin : static_cast<int>(h * 0.5);

  // Text: 11-point lines, glyphs of stems and bars, words and ragged line ends.
  const int pitch = static_cast<int>(size.dpi * 14 / 72.0), xHeight = pitch * 45 / 100;
  const int stem = std::max(2, static_cast<int>(size.dpi / 110));
  for (int base = margin + pitch; base < textEnd; base += pitch) {
    int lineEnd = w - margin - static_cast<int>(rng() % static_cast<unsigned>(40 * mm));
    for (int x = margin; x < lineEnd;) {
      int letters = 2 + static_cast<int>(rng() % 8);
      for (int l = 0; l < letters && x < lineEnd; l++) {
        int gw = xHeight * (50 + static_cast<int>(rng() % 40)) / 100;
        bool ascender = rng() % 3 == 0;
        int top = base - (ascender ? xHeight * 3 / 2 : xHeight);
        for (int y = top; y < base; y++)
          for (int s = 0; s < stem; s++) {
            dot(std::min(x + s, w - 1), y) = 0;
            if (rng() % 2) dot(std::min(x + gw - stem + s, w - 1), y) = 0;
          }
        int bars = static_cast<int>(rng() % 3);
        for (int b = 0; b < bars; b++) {
          int y = base - 1 - static_cast<int>(rng() % static_cast<unsigned>(xHeight));
          for (int t = 0; t < stem; t++)
            for (int xx = x; xx < std::min(x + gw, w); xx++) dot(xx, std::max(y - t, 0)) = 0;
        }
        x += gw + stem * 2;
      }
      x += xHeight;  // word space
    }
  }
  if (kind == kText) return page;

  // Photo: a picture 18 cm wide below the text, dithered row by row.
  const int px0 = margin, px1 = w - margin, py0 = textEnd + pitch, py1 = h - margin;
  const double cx = (px0 + px1) / 2.0, cy = (py0 + py1) / 2.0;
  std::normal_distribution<double> noise(0, 12);
  for (int y = py0; y < py1; y++) {
    double carry = 0;
    for (int x = px0; x < px1; x++) {
      double r = std::hypot(x - cx, y - cy) / (20 * mm);
      double v = 255.0 * (x - px0) / (px1 - px0) * 0.6 + 60 * std::sin(r * 3) + 60 + noise(rng);
      v = std::clamp(v, 0.0, 255.0) + carry;
      unsigned char out = v > 127 ? 255 : 0;
      carry = (v - out) * 0.5;
      dot(x, y) = out;
    }
  }
  return page;
}

// The page packed one bit per dot, as the row output leaves it for the transmission.
std::vector<unsigned char> packedPage(const A4 &size, PageKind kind) {
  std::vector<unsigned char> dots = finishedPage(size, kind);
  const size_t bytewidth = (static_cast<size_t>(size.width) + 7) / 8;
  std::vector<unsigned char> bitmap(bytewidth * size.height);
  for (int y = 0; y < size.height; y++)
    packRow(dots.data() + static_cast<size_t>(y) * size.width, size.width,
            bitmap.data() + bytewidth * y);
  return bitmap;
}

const std::vector<unsigned char> &cachedPage(int sizeIndex, PageKind kind) {
  static std::vector<unsigned char> pages[2][2];
  std::vector<unsigned char> &page = pages[sizeIndex][kind];
  if (page.empty()) page = finishedPage(kSizes[sizeIndex], kind);
  return page;
}

const std::vector<unsigned char> &cachedBitmap(int sizeIndex, PageKind kind) {
  static std::vector<unsigned char> bitmaps[2][2];
  std::vector<unsigned char> &bitmap = bitmaps[sizeIndex][kind];
  if (bitmap.empty()) bitmap = packedPage(kSizes[sizeIndex], kind);
  return bitmap;
}

// ---- The filter's surroundings ----

// The printer stream's destination: counts the bytes and keeps none.
class CountingSink : public PrinterSink {
 public:
  bool write(const void *, size_t n) override {
    bytes += n;
    writes++;
    return true;
  }
  size_t bytes = 0, writes = 0;
};

// A backend that answers every drain at once and never reports anything.
class InstantChannel : public Channel {
 public:
  ssize_t backRead(unsigned char *, size_t, double, bool) override { return -1; }
  void drain(double, const std::function<bool()> &) override {}
  void interruptRead() override {}
};

// Waits that cost nothing.
class NoWaitClock : public Clock {
 public:
  void sleepMs(unsigned) override {}
  bool waitFor(double, const std::function<bool()> &ready) override { return ready(); }
  void notifyAll() override {}
};

// A job of one model on its first page, with no option marked; its stream goes to a counting
// sink (a string would grow with every page the benchmark sends).
struct BenchJob {
  explicit BenchJob(int model) {
    job.choices = &choices;
    job.setModel(model);
    job.printer = choosePrinter(job);
    job.Page = 1;
  }
  CountingSink sink;
  StringLogSink log;
  InstantChannel channel;
  NoWaitClock clock;
  ChoiceMap choices;
  Job job{JobSeams{sink, log, channel, clock}};
};

void describePage(benchmark::State &state, int sizeIndex, const std::string &what) {
  const A4 &size = kSizes[sizeIndex];
  state.SetLabel(std::to_string(size.dpi) + "dpi " + what);
  state.counters["Mdots"] = static_cast<double>(size.width) * size.height / 1e6;
  state.counters["dots/s"] = benchmark::Counter(static_cast<double>(size.width) * size.height,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

// ---- Geometry ----

struct Placement {
  const char *name;
  int model;
  const char *modelName, *pageSizeName;
  int rotate;
  double hOffsetMm, vOffsetMm;
  bool continuousMedia;
};
// The placements of the thermal models as an A4 job meets them.
const Placement kPlacements[] = {
    {"22 A4 as is", 22, "RX5K 22", "A4", 0, 0, 0, false},
    {"22 A4 offsets +3,-2 mm", 22, "RX5K 22", "A4", 0, 3, -2, false},
    {"22 A4 half turn", 22, "RX5K 22", "A4", 1, 0, 0, false},
    {"22 Letter widened", 22, "RX5K 22", "Letter", 0, 0, 0, false},
    {"21 RX5_A4 lowered", 21, "RX5K 21", "RX5_A4", 0, 0, 0, false},
    {"21 custom top cut", 21, "RX5K 21", "Custom.210x297mm", 0, 0, 0, false},
    {"302 A4 fitted", 302, "RX5K 302", "A4", 0, 0, 0, false},
    {"400 width cut", 400, "RX5K 400", "A4", 0, 0, 0, false},
    {"64519 continuous", 64519, "RX5K 64519", "A4", 0, 0, 0, true},
    {"590314 top margin", 590314, "RX5K 590314", "A4", 0, 0, 0, false},
    {"613207 page length", 613207, "RX5K 613207", "A4", 0, 0, 0, false},
};

// Args: size index, placement index.
void BM_Geometry(benchmark::State &state) {
  const int si = static_cast<int>(state.range(0));
  const Placement &pl = kPlacements[state.range(1)];
  const A4 &size = kSizes[si];
  const std::vector<unsigned char> &source = cachedPage(si, kDocument);
  StringLogSink lines;
  Log log(lines);
  GeometryParams p;
  p.model = pl.model;
  p.modelName = pl.modelName;
  p.pageSizeName = pl.pageSizeName;
  p.resX = p.resY = size.dpi;
  p.pageLength = 842;
  p.imagingTop = 842;
  p.rotate = pl.rotate;
  p.hOffset = static_cast<int>(pl.hOffsetMm * size.dpi / 25.4);
  p.vOffset = static_cast<int>(pl.vOffsetMm * size.dpi / 25.4);
  p.tofill = size.width - size.rasterWidth;
  p.continuousMedia = pl.continuousMedia;
  int finishedWidth = 0, finishedHeight = 0;
  DotBuffer page;
  for (auto _ : state) {
    state.PauseTiming();
    page.reset();  // the previous page is released outside the timing
    page = allocateDots(source.size());
    std::memcpy(page.get(), source.data(), source.size());
    int width = size.width, height = size.height, paperCode = -1;
    std::string error;
    state.ResumeTiming();
    if (!applyGeometry(page, width, height, p, log, paperCode, error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    benchmark::DoNotOptimize(page.get());
    finishedWidth = width;
    finishedHeight = height;
  }
  describePage(state, si, pl.name);
  state.counters["out_w"] = finishedWidth;
  state.counters["out_h"] = finishedHeight;
}

void geometryArgs(benchmark::internal::Benchmark *b) {
  // A fixed count: most placements take microseconds against milliseconds of untimed page
  // set-up, which would make the automatic count grow without end.
  b->ArgNames({"dpi", "placement"})->Unit(benchmark::kMillisecond)->Iterations(50);
  for (int si : {0, 1})
    for (int i = 0; i < static_cast<int>(std::size(kPlacements)); i++) b->Args({si, i});
}

// ---- Thermal transmission ----

// Args: size index, page kind.
void BM_CompressBitmap(benchmark::State &state) {
  const int si = static_cast<int>(state.range(0));
  const PageKind kind = static_cast<PageKind>(state.range(1));
  const std::vector<unsigned char> &bitmap = cachedBitmap(si, kind);
  std::vector<unsigned char> out(compressedCapacity(bitmap.size()));
  int compressed = 0;
  for (auto _ : state) {
    compressed = compressBitmap(bitmap.data(), out.data(), static_cast<int>(bitmap.size()));
    benchmark::DoNotOptimize(out.data());
  }
  describePage(state, si, kind == kText ? "text" : "text and photo");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bitmap.size()));
  state.counters["ratio"] = static_cast<double>(compressed) / static_cast<double>(bitmap.size());
}

// The whole transmission of one page (filler, commands, framing, 1024-byte pieces with their
// flushes and drains) into a counting sink. Args: size index, page kind, model.
void BM_TransmitBitmap(benchmark::State &state) {
  const int si = static_cast<int>(state.range(0));
  const PageKind kind = static_cast<PageKind>(state.range(1));
  const A4 &size = kSizes[si];
  const std::vector<unsigned char> &bitmap = cachedBitmap(si, kind);
  const int model = static_cast<int>(state.range(2));
  BenchJob bench(model);
  ThermalPrinter &printer = static_cast<ThermalPrinter &>(*bench.job.printer);
  Page page;
  page.header.cupsWidth = static_cast<unsigned>(size.width);
  page.header.cupsHeight = static_cast<unsigned>(size.height);
  for (auto _ : state) {
    // The transmission takes the bitmap and releases it, as the page's own.
    state.PauseTiming();
    printer.sendBuf = allocateDots(bitmap.size());
    std::memcpy(printer.sendBuf.get(), bitmap.data(), bitmap.size());
    printer.sendBufSize = bitmap.size();
    state.ResumeTiming();
    if (printer.transmitBitmap(page) != PageResult::Sent) {
      state.SkipWithError("the bitmap was not sent");
      break;
    }
  }
  const size_t pages = std::max<size_t>(state.iterations(), 1);
  describePage(state, si,
               std::string("model ") + std::to_string(model) +
                   (kind == kText ? " text" : " text and photo"));
  state.counters["bytes_out"] = static_cast<double>(bench.sink.bytes / pages);
  state.counters["writes"] = static_cast<double>(bench.sink.writes / pages);
}

void transmitArgs(benchmark::internal::Benchmark *b) {
  b->ArgNames({"dpi", "kind", "model"})->Unit(benchmark::kMillisecond);
  for (int si : {0, 1})
    for (int kind : {kDocument, kText})
      for (int model : {22, 21}) b->Args({si, kind, model});
}

// ---- Label languages ----

// One page of a label model from the finished page: prologue, every row (packing, coding,
// stream), page end. Args: size index, model.
void BM_LabelPage(benchmark::State &state) {
  const int si = static_cast<int>(state.range(0));
  const A4 &size = kSizes[si];
  const std::vector<unsigned char> &source = cachedPage(si, kDocument);
  const int model = static_cast<int>(state.range(1));
  BenchJob bench(model);
  cups_page_header2_t header;
  std::memset(&header, 0, sizeof header);
  header.cupsWidth = static_cast<unsigned>(size.width);
  header.cupsHeight = static_cast<unsigned>(size.height);
  header.cupsBytesPerLine = header.cupsWidth;
  header.HWResolution[0] = header.HWResolution[1] = size.dpi;
  header.PageSize[0] = 595;
  header.PageSize[1] = 842;
  header.NumCopies = 1;
  header.cupsCompression = 50;
  header.cupsRowStep = 200;
  header.AdvanceDistance = 1000;
  // The finished page; model 20 and EPL page mode invert the packed row in place, never the
  // page itself.
  Page page;
  page.dots = allocateDots(source.size());
  std::memcpy(page.dots.get(), source.data(), source.size());
  for (auto _ : state) {
    page.header = header;
    bench.job.printer->startPage(page);
    for (int y = 0; y < size.height; y++) bench.job.printer->row(page, y);
    bench.job.printer->endPage(page);
  }
  const size_t pages = std::max<size_t>(state.iterations(), 1);
  // In the order of LabelLanguage, after None.
  static const char *const kLanguages[] = {"Dymo", "EPL line", "EPL page", "ZPL",
                                           "CPCL", "model 20", "PCL"};
  const int languageIndex = static_cast<int>(modelFacts(model).language) - 1;
  describePage(state, si,
               std::string("model ") + std::to_string(model) + " " + kLanguages[languageIndex]);
  state.counters["bytes_out"] = static_cast<double>(bench.sink.bytes / pages);
  state.counters["writes"] = static_cast<double>(bench.sink.writes / pages);
}

void labelArgs(benchmark::internal::Benchmark *b) {
  b->ArgNames({"dpi", "model"})->Unit(benchmark::kMillisecond);
  for (int si : {0, 1})
    for (const ModelFacts &f : modelTable())
      if (f.family == ModelFamily::Label) b->Args({si, f.number});
}

// The two row coders alone, over every row of the page (ZPL hexadecimal runs; PCL delta rows
// against the previous row). Args: size index, coder (0 ZPL, 1 PCL).
void BM_LabelRowCoder(benchmark::State &state) {
  const int si = static_cast<int>(state.range(0));
  const bool pcl = state.range(1) == 1;
  const A4 &size = kSizes[si];
  const std::vector<unsigned char> &bitmap = cachedBitmap(si, kDocument);
  const size_t n = (static_cast<size_t>(size.width) + 7) / 8;
  std::vector<unsigned char> work(2 * n + 1);
  size_t coded = 0;
  for (auto _ : state) {
    coded = 0;
    for (int y = 0; y < size.height; y++) {
      const unsigned char *row = bitmap.data() + n * y;
      coded += pcl ? pclCodeDeltaRow(row, y ? row - n : nullptr, n, work.data())
                   : zplCodeRow(row, n, work.data());
    }
    benchmark::DoNotOptimize(work.data());
  }
  describePage(state, si, pcl ? "PCL delta rows" : "ZPL hexadecimal runs");
  state.counters["bytes_out"] = static_cast<double>(coded);
}

void coderArgs(benchmark::internal::Benchmark *b) {
  b->ArgNames({"dpi", "coder"})->Unit(benchmark::kMillisecond);
  for (int si : {0, 1})
    for (int coder : {0, 1}) b->Args({si, coder});
}

void pageKindArgs(benchmark::internal::Benchmark *b) {
  b->ArgNames({"dpi", "kind"})->Unit(benchmark::kMillisecond);
  for (int si : {0, 1})
    for (int kind : {kDocument, kText}) b->Args({si, kind});
}

}  // namespace

BENCHMARK(BM_Geometry)->Apply(geometryArgs);
BENCHMARK(BM_CompressBitmap)->Apply(pageKindArgs);
BENCHMARK(BM_TransmitBitmap)->Apply(transmitArgs);
BENCHMARK(BM_LabelPage)->Apply(labelArgs);
BENCHMARK(BM_LabelRowCoder)->Apply(coderArgs);

BENCHMARK_MAIN();
