// A long job keeps its memory flat: the peak resident memory of a 500-page job is that of a
// 10-page job, so nothing of a page outlives it. The jobs run without back or side channel: the
// raster file must not take their closed descriptors, where the monitor thread would read raster
// bytes as status reports, so every page prints.
#include <gtest/gtest.h>

#include <cstdio>

#include "reliability_support.h"

namespace {

reliability::DirectRunResult runPages(const std::string &ppd, int pages) {
  reliability::DirectRunOptions o;
  o.ppd = ppd;
  o.raster = reliability::rasterFile(
      std::vector(static_cast<size_t>(pages), reliability::blackPage(96, 32)),
      "pages-" + std::to_string(pages) + ".ras");
  o.timeoutSeconds = 120;
  return reliability::runDirect(o);
}

TEST(LongJob, PeakMemoryDoesNotGrowWithPages) {
  // Model 400 has no waits; tiny pages keep the run short.
  std::string ppd = reliability::modelPpd(400);
  reliability::DirectRunResult shortJob = runPages(ppd, 10);
  reliability::DirectRunResult longJob = runPages(ppd, 500);
  for (const auto *r : {&shortJob, &longJob}) {
    EXPECT_EQ(r->exitStatus, 0) << r->err.substr(0, 2000);
    EXPECT_EQ(reliability::endProblem(r->err), "");
  }
  EXPECT_NE(longJob.err.find("PAGE: 500 1"), std::string::npos);
  EXPECT_EQ(emu::parseThermalStream(longJob.out).error, "");
  const std::string bitmap("\x1D\x76\x30\x00\x0C\x00\x20\x00", 8);  // of a 96 x 32 page
  size_t bitmaps = 0;
  for (size_t at = longJob.out.find(bitmap); at != std::string::npos;
       at = longJob.out.find(bitmap, at + 1))
    bitmaps++;
  EXPECT_EQ(bitmaps, 500u);
  std::printf("peak resident memory: 10 pages %ld KiB, 500 pages %ld KiB\n", shortJob.maxRssKb,
              longJob.maxRssKb);
  RecordProperty("peak_kib_10_pages", std::to_string(shortJob.maxRssKb));
  RecordProperty("peak_kib_500_pages", std::to_string(longJob.maxRssKb));
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // (The sanitizers hold freed memory back on purpose, so the comparison means nothing there.)
  EXPECT_LE(longJob.maxRssKb, shortJob.maxRssKb + 512);
#endif
}

}  // namespace
