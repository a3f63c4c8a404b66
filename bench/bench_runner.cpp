// Whole jobs in-process on the virtual clock: jobs per second of the runner that the tests and
// the fuzzer use, for a thermal model without waits, one that waits for paper before every page
// (the waits cost no time), and a label language.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "job_runner.h"
#include "support/raster_file.h"

namespace {

// A one-page raster of width x height dots with a pattern.
std::string raster(unsigned width, unsigned height, const char *sizeName) {
  cups_page_header2_t h =
      rastertest::rasterHeader(width, height, 203, rastertest::RasterColor::Rgb, sizeName);
  rastertest::RasterPage page = rastertest::pageFromGenerator(h, [](unsigned x, unsigned y) {
    return static_cast<unsigned char>((x ^ y) & 0x80 ? 0 : 255);
  });
  const std::string path = "/tmp/rx5k-bench-runner-" + std::to_string(width) + ".ras";
  rastertest::writeRasterFile(path, {page});
  FILE *f = std::fopen(path.c_str(), "rb");
  std::string bytes;
  char buf[65536];
  for (size_t n; f && (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
  if (f) std::fclose(f);
  return bytes;
}

void runJobs(benchmark::State &state, const char *ppd, unsigned width, unsigned height,
             const char *sizeName) {
  runner::JobSpec spec;
  spec.ppd = std::string(RX5K_BUILD_DIR) + "/ppd/" + ppd;
  spec.raster = raster(width, height, sizeName);
  spec.keepImages = false;
  spec.keepStream = false;
  for (auto _ : state) {
    runner::JobResult result = runner::runJob(spec);
    if (result.exitStatus != 0) state.SkipWithError("the job failed");
  }
  state.SetItemsProcessed(state.iterations());
}

void Model22SmallPage(benchmark::State &s) {
  runJobs(s, "rx5k-22.ppd", 200, 100, "w1");
}
void Model21WaitsForPaper(benchmark::State &s) {
  runJobs(s, "rx5k-21.ppd", 200, 100, "w1");
}
void Label18SmallLabel(benchmark::State &s) {
  runJobs(s, "rx5k-label-18.ppd", 200, 100, "w1");
}
void Model22A4Page(benchmark::State &s) {
  runJobs(s, "rx5k-22.ppd", 1678, 2374, "A4");
}
BENCHMARK(Model22SmallPage)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(Model21WaitsForPaper)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(Label18SmallLabel)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(Model22A4Page)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
