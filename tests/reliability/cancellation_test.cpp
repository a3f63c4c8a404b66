// SIGTERM at random moments of multi-page jobs, thermal and label models, under the printer
// emulator: every run ends within 2 s of the signal with its trailer, the expected exit status
// and a printer stream that parses to its end (a bitmap once started is always complete).
#include <gtest/gtest.h>

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
  int latestMs;  // SIGTERM moments are drawn from 60 ms to this
};

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
    rastertest::RasterPage checkers = rastertest::pageFromGenerator(
        rastertest::rasterHeader(m.width, m.height), [](unsigned x, unsigned y) {
          return static_cast<unsigned char>((x / 8 + y / 8) % 2 ? 0 : 255);
        });
    rasters.push_back(reliability::rasterFile(std::vector(static_cast<size_t>(m.pages), checkers),
                                              "job-" + std::to_string(rasters.size()) + ".ras"));
  }
  std::mt19937 random(seed);
  std::vector<FilterRunOptions> jobs;
  for (int i = 0; i < trials; i++) {
    size_t k = static_cast<size_t>(i) % models.size();
    int moment = std::uniform_int_distribution<int>(60, models[k].latestMs)(random);
    FilterRunOptions o;
    o.ppd = ppds[k];
    o.raster = rasters[k];
    o.emulatorArgs = {"--sigterm-after-ms", std::to_string(moment)};
    o.process = true;  // a real signal at a real moment
    o.timeoutSeconds = 60;
    o.name = "cancel-" + std::to_string(seed) + "-" + std::to_string(i);
    jobs.push_back(o);
  }
  std::vector<FilterRun> runs = reliability::runInParallel(jobs);
  int signalled = 0, notStarted = 0;
  for (size_t i = 0; i < runs.size(); i++) {
    const FilterRun &run = runs[i];
    SCOPED_TRACE(jobs[i].ppd + ", SIGTERM after " + jobs[i].emulatorArgs[1] + " ms (" +
                 jobs[i].name + ")");
    EXPECT_TRUE(run.error.empty()) << run.error;
    EXPECT_EQ(reliability::sanitizerReport(run.filterStderr), "");
    if (run.filterStderr.find("entry main") == std::string::npos) {
      // The signal came before the program ran its first line: the process dies as any would.
      notStarted++;
      EXPECT_EQ(run.exitStatus, 128 + SIGTERM);
      continue;
    }
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
    ASSERT_GE(ended, 0) << run.printerLog;
    if (sent >= 0) {
      signalled++;
      EXPECT_LT(ended - sent, 2.0) << run.printerLog;
    }
  }
  std::printf("cancellation: %d trials, %d signalled while running, %d before start\n", trials,
              signalled, notStarted);
  // Many moments must fall inside the jobs, or the trials test little (a loaded machine makes
  // the jobs slower, an idle one faster).
  EXPECT_GE(signalled, trials / 2);
}

TEST(Cancellation, ThermalWithoutWaits) {
  runTrials({{400, 6, 1678, 1500, 400}, {400, 3, 1678, 3000, 400}}, 25, 400);
}

TEST(Cancellation, ThermalWithWaitsAndPauses) {
  // Model 22 pauses 3 s between pages; model 21 waits for paper twice per page; model 302
  // waits for the idle report after every page.
  runTrials({{22, 3, 400, 200, 6500}, {21, 2, 400, 200, 6000}, {302, 2, 400, 200, 3000}}, 25, 22);
}

TEST(Cancellation, LabelLanguagesPartOne) {
  runTrials({{18, 12, 800, 1200, 400}, {17, 12, 800, 1200, 400}, {16, 12, 800, 1200, 400}}, 25, 18);
}

TEST(Cancellation, LabelLanguagesPartTwo) {
  runTrials({{0, 12, 800, 1200, 400},
             {19, 12, 800, 1200, 400},
             {32, 12, 800, 1200, 400},
             {20, 12, 800, 1200, 400}},
            25, 32);
}

}  // namespace
