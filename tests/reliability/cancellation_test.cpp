// SIGTERM at random moments of multi-page jobs, thermal and label models, under the printer
// emulator: every run ends by itself with its trailer, the expected exit status and a printer
// stream that parses to its end (a bitmap once started is always complete), and starts no page
// after the signal. The moment is a random byte of the job's printer stream: the signal goes
// when the printer has it, which is inside the job however fast or busy the machine is. How
// long the ends take is printed for scripts/reliability, not held to a limit: a busy machine
// may take seconds to finish a started page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>

#include "reliability_support.h"

using runtest::FilterRun;
using runtest::FilterRunOptions;

namespace {

struct ModelJob {
  int model;
  int pages;
  unsigned width, height;
};

// How far the filter may be ahead of the printer when the signal goes: the emulator's output
// pipe (one memory page at --sigterm-at-byte) and the filter's own stream buffer, with room.
constexpr size_t kFilterLead = 4096 + 64 * 1024 + 4096;

// The time stamp of the first printer-log line that contains text, or -1.
double logTime(const std::string &log, const std::string &text) {
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find(text) == std::string::npos) continue;
    double t = -1;
    if (std::sscanf(line.c_str(), "[ %lf]", &t) == 1) return t;
  }
  return -1;
}

// Runs `trials` jobs over the models in turn, each with a SIGTERM at a random moment, four at a
// time, and checks every run.
void runTrials(const std::vector<ModelJob> &models, int trials, unsigned seed) {
  std::vector<std::string> ppds, rasters;
  for (const ModelJob &m : models) {
    ppds.push_back(reliability::modelPpd(m.model));
    // Dots that hardly compress, so that every job's stream is long beside the filter's lead.
    rastertest::RasterPage noise = rastertest::pageFromGenerator(
        rastertest::rasterHeader(m.width, m.height), [](unsigned x, unsigned y) {
          unsigned h = (x * 73856093u) ^ (y * 19349663u);
          h = (h ^ (h >> 15)) * 0x2c1b3c6du;
          return static_cast<unsigned char>((h ^ (h >> 12)) & 1 ? 0 : 255);
        });
    rasters.push_back(reliability::rasterFile(std::vector(static_cast<size_t>(m.pages), noise),
                                              "job-" + std::to_string(rasters.size()) + ".ras"));
  }
  // The whole stream of each job, in-process (the same bytes as a process run): the signal's
  // byte is drawn from all but its last kFilterLead bytes, so the filter is still running then.
  std::vector<size_t> streamBytes;
  for (size_t k = 0; k < models.size(); k++) {
    FilterRunOptions whole;
    whole.ppd = ppds[k];
    whole.raster = rasters[k];
    streamBytes.push_back(runtest::runFilter(whole).printerStream.size());
    ASSERT_GT(streamBytes.back(), 2 * kFilterLead)
        << "model " << models[k].model << ": too short " << streamBytes.back();
  }
  std::mt19937 random(seed);
  std::vector<FilterRunOptions> jobs;
  for (int i = 0; i < trials; i++) {
    size_t k = static_cast<size_t>(i) % models.size();
    size_t byte = std::uniform_int_distribution<size_t>(1, streamBytes[k] - kFilterLead)(random);
    FilterRunOptions o;
    o.ppd = ppds[k];
    o.raster = rasters[k];
    o.emulatorArgs = {"--sigterm-at-byte", std::to_string(byte)};
    o.process = true;  // a real signal at a real moment
    o.timeoutSeconds = 60;
    o.name = "cancel-" + std::to_string(seed) + "-" + std::to_string(i);
    jobs.push_back(o);
  }
  std::vector<FilterRun> runs = reliability::runInParallel(jobs);
  double slowestEnd = 0;
  for (size_t i = 0; i < runs.size(); i++) {
    const FilterRun &run = runs[i];
    SCOPED_TRACE(jobs[i].ppd + ", SIGTERM at byte " + jobs[i].emulatorArgs[1] + " (" +
                 jobs[i].name + ")");
    EXPECT_TRUE(run.error.empty()) << run.error;
    EXPECT_EQ(reliability::sanitizerReport(run.filterStderr), "");
    bool readPage = run.filterStderr.find("PAGE: 1 1") != std::string::npos;
    // A cancel during a ZPL page's rows leaves its graphic download short: that page never
    // reaches its end, where the download would be dropped.
    const bool zplCutInRows =
        run.emulatorStderr.find("graphic data ends after") != std::string::npos &&
        run.printerLog.find("filter exited with status 0") != std::string::npos &&
        jobs[i].ppd.find("model18") != std::string::npos;
    EXPECT_EQ(zplCutInRows ? 0 : run.exitStatus, readPage ? 0 : 1)
        << "(3: the printer stream was cut)\n"
        << run.emulatorStderr << run.filterStderr;
    EXPECT_EQ(reliability::endProblem(run.filterStderr), "");
    double sent = logTime(run.printerLog, "SIGTERM");
    double ended = logTime(run.printerLog, "filter exited");
    ASSERT_GE(sent, 0) << "no signal sent\n" << run.printerLog;
    ASSERT_GE(ended, sent) << run.printerLog;
    slowestEnd = std::max(slowestEnd, ended - sent);
    // The signal's byte, the filter's lead, the rest of the page it was in (the job's pages are
    // alike) and the trailer: all a job may write that stops at the signal.
    const size_t k = i % models.size();
    const size_t pageBytes = streamBytes[k] / static_cast<size_t>(models[k].pages);
    EXPECT_LE(run.printerStream.size(),
              std::stoul(jobs[i].emulatorArgs[1]) + kFilterLead + pageBytes + 4096)
        << "a page started after the signal (the whole job has " << streamBytes[k] << " bytes)";
  }
  std::printf("cancellation: %d trials, each signalled while the job ran; slowest end (s) %.2f\n",
              trials, slowestEnd);
}

TEST(Cancellation, ThermalWithoutWaits) {
  runTrials({{400, 3, 1678, 1500}, {400, 2, 1678, 2000}}, 25, 400);
}

TEST(Cancellation, ThermalWithWaitsAndPauses) {
  // Model 22 pauses 3 s between pages; model 21 waits for paper twice per page; model 302
  // waits for the idle report after every page.
  runTrials({{22, 3, 1678, 400}, {21, 2, 1678, 400}, {302, 2, 1678, 400}}, 25, 22);
}

TEST(Cancellation, LabelLanguagesPartOne) {
  runTrials({{18, 6, 800, 1200}, {17, 6, 800, 1200}, {16, 6, 800, 1200}}, 25, 18);
}

TEST(Cancellation, LabelLanguagesPartTwo) {
  runTrials({{0, 6, 800, 1200}, {19, 6, 800, 1200}, {32, 6, 800, 1200}, {20, 6, 800, 1200}}, 25,
            32);
}

}  // namespace
