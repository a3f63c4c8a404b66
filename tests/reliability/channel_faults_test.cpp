// Faults of the printer and of the channels around the filter: no back channel, a back channel
// at end of file, a printer that stops answering, and a backend that goes away mid-job. The
// filter is run directly with hand-made descriptors, as the scheduler would start it. (A long job
// without any channel is in the long-job test; reports split or mixed with garbage are the
// report parser's, in tests/monitor.)
#include <gtest/gtest.h>

#include <cstdlib>

#include "reliability_support.h"

using namespace reliability;

namespace {

// Ended by itself (no signal, no time-out), with the trailer and no sanitizer report.
void expectOrderlyEnd(const DirectRunResult &r) {
  EXPECT_EQ(r.signal, 0) << "(9: killed at the time-out)";
  EXPECT_EQ(endProblem(r.err), "") << r.err;
}

// A model that waits for paper keeps waiting, at no cost, on a printer it cannot hear; a SIGTERM
// after sigtermAfterMs ends the job by itself (not the SIGKILL of the time-out) however the
// silence comes about.
DirectRunResult unheardWaitEndsOnSigterm(BackChannel back, bool side, int sigtermAfterMs) {
  DirectRunOptions o;
  o.ppd = modelPpd(21);
  o.raster = rasterFile(std::vector(2, blackPage(64, 24)), "job-2.ras");
  o.back = back;
  o.sideChannel = side;
  o.sigtermAfterMs = sigtermAfterMs;
  o.timeoutSeconds = sigtermAfterMs / 1000 + 30;
  DirectRunResult r = runDirect(o);
  expectOrderlyEnd(r);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.signal, 0) << "killed at the time-out: the wait outlasted SIGTERM";
  EXPECT_LT(r.cpuSeconds, 0.25 * r.seconds) << "the wait must not spin";
  EXPECT_EQ(emu::parseThermalStream(r.out).error, "");
  EXPECT_EQ(r.out.find(std::string("\x1D\x76\x30", 3)), std::string::npos)
      << "no page may be printed without the paper report";
  return r;
}

TEST(ChannelFaults, WaitOnAnUnheardPrinterEndsOnSigterm) {
  const std::pair<const char *, BackChannel> faults[] = {
      {"no back channel", BackChannel::None},
      {"back channel at end of file", BackChannel::AtEnd},
      {"silent printer", BackChannel::Silent},
  };
  for (const auto &[name, back] : faults) {
    SCOPED_TRACE(name);
    unheardWaitEndsOnSigterm(back, false, 2500);
  }
}

// The backend goes away (standard output closed) in the middle of a job: the filter notices the
// failed write, ends the job by itself (also from a wait) with an "ERROR:" line, its trailer and
// status 1.
TEST(ChannelFaults, BackendGoneEndsTheJob) {
  struct Moment {
    const char *name;
    int model;
    long closeAfter;
  };
  const Moment moments[] = {
      {"before any output", 400, 0}, {"inside the first bitmap", 400, 3000},
      {"between pages", 400, 40000}, {"while waiting for paper", 21, 0},
      {"label rows", 18, 2000},
  };
  for (const Moment &m : moments) {
    SCOPED_TRACE(m.name);
    DirectRunOptions o;
    o.ppd = modelPpd(m.model);
    // Pages of dots that hardly compress: the job's stream, far beyond the pipe's buffer, is
    // still being written when the output is closed.
    o.raster = rasterFile(std::vector(20, e2e::testCard(600, 400, "A4")), "cards.ras");
    o.back = BackChannel::Silent;
    o.closeOutputAfter = m.closeAfter;
    o.timeoutSeconds = 30;
    DirectRunResult r = runDirect(o);
    expectOrderlyEnd(r);
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_NE(r.err.find("ERROR:"), std::string::npos) << r.err;
    ASSERT_GE(r.out.size(), static_cast<size_t>(m.closeAfter)) << "the output was never closed";
    EXPECT_EQ(r.signal, 0) << "killed at the time-out: the job outlasted its backend";
    EXPECT_EQ(r.err.find("PAGE: 20 1"), std::string::npos) << "the job went on to its end";
  }
}

// While it waits for a silent printer that never answers its drains either, the filter sleeps:
// well under 2 % of one core. The suite measures 5 s; scripts/reliability sets
// RX5K_SILENT_WAIT_SECONDS=60 for the README.
TEST(ChannelFaults, WaitingOnASilentPrinterCostsAlmostNoCpu) {
  int seconds = 5;
  if (const char *s = std::getenv("RX5K_SILENT_WAIT_SECONDS")) seconds = std::max(1, std::atoi(s));
  DirectRunResult r = unheardWaitEndsOnSigterm(BackChannel::Silent, true, seconds * 1000);
  double share = r.cpuSeconds / r.seconds;
  std::printf("silent-printer wait: %.1f s, CPU %.3f s = %.2f %% of one core\n", r.seconds,
              r.cpuSeconds, 100 * share);
  RecordProperty("cpu_percent", std::to_string(100 * share));
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  EXPECT_LT(share, 0.02);
#endif
}

}  // namespace
