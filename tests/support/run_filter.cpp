// Runs the emulator (which runs the filter) with posix_spawn, then reads back what it wrote.
#include "support/run_filter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "emulated_printer.h"
#include "emulator_job.h"
#include "emulator_options.h"
#include "job_runner.h"
#include "page_png.h"

namespace runtest {

namespace {

std::string currentTestName() {
  const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "run";
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

// A folder per run, named after it (or the test) and emptied first; kept for inspection.
std::string outputFolder(const std::string &name) {
  static std::atomic<int> runs{0};  // tests run filters from several threads at once
  const std::string dir = std::string(RX5K_BUILD_DIR) + "/test-runs/" +
                          (name.empty() ? currentTestName() : name) + "-" + std::to_string(++runs);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  std::filesystem::create_directories(dir, ec);
  return dir;
}

// The emulator's page list: number, width, height, encoding, frames and image file per line.
void readPages(FilterRun &run) {
  std::istringstream list(readFile(run.outDir + "/" + emu::kPageListFile));
  std::string line;
  while (std::getline(list, line)) {
    DecodedPage page;
    std::istringstream f(line);
    std::string encoding, frames, png, error;
    if (!(f >> page.number >> page.width >> page.height >> encoding >> frames)) continue;
    emu::GrayImage image;
    if (f >> png && emu::readGrayPng(png, image, error)) {
      page.dots = std::move(image.dots);
    } else if (!png.empty() && run.error.empty()) {
      run.error = error;
    }
    run.pages.push_back(std::move(page));
  }
}

}  // namespace

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

long peakResidentKiB(int pid) {
  const std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
  const size_t at = status.find("VmHWM:");
  return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
}

std::string testFilePath(const std::string &name) {
  std::string dir = std::string(RX5K_BUILD_DIR) + "/test-runs/files/" + currentTestName();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return dir + "/" + name;
}

std::string filterPath() {
  return std::string(RX5K_BIN_DIR) + "/rastertoRX5K";
}
std::string emulatorPath() {
  return std::string(RX5K_BIN_DIR) + "/rx5k-emulator";
}

unsigned char DecodedPage::at(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return 255;
  size_t i = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
  return i < dots.size() ? dots[i] : 255;
}

namespace {

// The job in-process: the emulator's printer script from the same arguments, the raster read
// into memory.
FilterRun runInProcess(const FilterRunOptions &o) {
  FilterRun run;
  runner::JobSpec spec;
  spec.ppd = o.ppd;
  spec.jobOptions = o.jobOptions;
  spec.raster = readFile(o.raster);
  spec.rasterAsFile = !o.viaStdin && !o.raster.empty();
  emu::EmulatorOptions script;
  std::vector<std::string> args = o.emulatorArgs;
  args.insert(args.begin(), {"--ppd", o.ppd});
  if (!emu::parseEmulatorArgs(args, script, run.error)) return run;
  spec.printer = script.printer;
  spec.labelRowBytes = script.labelRowBytes;
  spec.cancelAtPage = script.sigtermAtPage;
  if (script.sigtermAtByte > 0) {
    run.error = "--sigterm-at-byte needs a process run";
    return run;
  }
  if (script.sigtermAfterMs >= 0) spec.cancelAfter = script.sigtermAfterMs / 1000.0;
  if (o.timeoutSeconds > 0) spec.timeLimit = o.timeoutSeconds;
  for (const std::string &e : o.env) {
    if (e.rfind("LANG=zh_CN", 0) == 0) {
      spec.language = "zh_CN";
    } else if (e.rfind("LANG=", 0) != 0) {
      run.error = "in-process runs take no environment: " + e;
      return run;
    }
  }
  runner::JobResult job = runner::runJob(spec);
  run.exitStatus = job.timedOut ? 124 : job.exitStatus;
  if (job.exitStatus == 0 && !job.streamOk) run.exitStatus = 3;
  run.filterStderr = job.log;
  run.printerStream = job.stream;
  for (const std::string &line : job.wire) run.printerLog += line + "\n";
  if (!job.streamOk) run.emulatorStderr = "printer stream error: " + job.streamError;
  run.seconds = job.seconds;
  for (emu::PrintedPage &p : job.pages) {
    run.pages.push_back(
        DecodedPage{p.number, p.image.width, p.image.height, std::move(p.image.dots)});
  }
  return run;
}

}  // namespace

FilterRun runFilter(const FilterRunOptions &o) {
  if (!o.process) return runInProcess(o);
  FilterRun run;
  run.outDir = outputFolder(o.name);
  std::vector<std::string> args = {emulatorPath(), "--ppd", o.ppd, "--out", run.outDir};
  args.insert(args.end(), {"--filter", o.filter.empty() ? filterPath() : o.filter});
  if (o.timeoutSeconds > 0)
    args.insert(args.end(), {"--timeout", std::to_string(o.timeoutSeconds)});
  if (o.viaStdin) args.push_back("--stdin");
  for (const std::string &e : o.env) args.insert(args.end(), {"--env", e});
  args.insert(args.end(), o.emulatorArgs.begin(), o.emulatorArgs.end());
  args.insert(args.end(), {"--", o.jobOptions});
  if (!o.raster.empty()) args.push_back(o.raster);

  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string stdoutFile = run.outDir + "/emulator-stdout.txt";
  const std::string stderrFile = run.outDir + "/emulator-stderr.txt";
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), 0);
    dup2(open(stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644), 1);
    dup2(open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644), 2);
    // The emulator holds the filter to its time limit; the alarm ends an emulator that hangs.
    alarm(o.timeoutSeconds > 0 ? static_cast<unsigned>(o.timeoutSeconds) + 30 : 600);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) {
    run.error = "cannot run " + args[0];
    return run;
  }
  if (WIFEXITED(status)) {
    run.exitStatus = WEXITSTATUS(status);
  } else {
    run.error = "the emulator died by signal " + std::to_string(WTERMSIG(status));
  }

  run.filterStderr = readFile(run.outDir + "/" + emu::kFilterStderrFile);
  run.printerLog = readFile(run.outDir + "/" + emu::kCommandLogFile);
  run.printerStream = readFile(run.outDir + "/" + emu::kRawStreamFile);
  run.emulatorStdout = readFile(stdoutFile);
  run.emulatorStderr = readFile(stderrFile);
  readPages(run);
  return run;
}

}  // namespace runtest
