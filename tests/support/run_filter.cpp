// Runs the emulator (which runs the filter) with posix_spawn, then reads back what it wrote.
#include "support/run_filter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "emulated_printer.h"
#include "emulator_job.h"
#include "emulator_options.h"
#include "job_runner.h"
#include "page_png.h"

extern char **environ;

namespace runtest {

namespace {

std::string currentTestName() {
  const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "run";
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

// A folder per test, named after it and emptied first; kept afterwards for inspection.
std::string outputFolder(const std::string &name) {
  // Tests run filters from several threads at once.
  static std::mutex lock;
  static std::map<std::string, int> runsPerTest;
  std::string base = name.empty() ? currentTestName() : name;
  int n;
  {
    std::lock_guard<std::mutex> hold(lock);
    n = ++runsPerTest[base];
  }
  if (n > 1) base += "-" + std::to_string(n);
  std::string dir = std::string(RX5K_BUILD_DIR) + "/test-runs/" + base;
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
    if (!(f >> page.number >> page.width >> page.height >> page.encoding >> page.frames)) continue;
    emu::GrayImage image;
    std::string error;
    if (f >> page.png && emu::readGrayPng(page.png, image, error)) {
      page.dots = std::move(image.dots);
    } else if (!page.png.empty() && run.error.empty()) {
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

std::vector<std::string> FilterRun::logLines(const std::string &name) const {
  std::vector<std::string> lines;
  std::istringstream in(printerLog);
  std::string line;
  while (std::getline(in, line)) {
    // "[    t] offset  name   bytes   text": the name starts after the offset's two spaces.
    size_t close = line.find(']');
    if (close == std::string::npos) continue;
    size_t offsetStart = line.find_first_not_of(' ', close + 1);
    size_t nameStart = line.find("  ", offsetStart);
    if (nameStart == std::string::npos) continue;
    nameStart += 2;
    if (line.compare(nameStart, name.size(), name) == 0 &&
        (line.size() == nameStart + name.size() || line[nameStart + name.size()] == ' ')) {
      lines.push_back(line);
    }
  }
  return lines;
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
    run.pages.push_back(DecodedPage{p.number, p.image.width, p.image.height, p.encoding, p.frames,
                                    "", std::move(p.image.dots)});
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
  std::string stdoutFile = run.outDir + "/emulator-stdout.txt";
  std::string stderrFile = run.outDir + "/emulator-stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    run.error = "cannot start " + args[0] + ": " + std::strerror(rc);
    return run;
  }

  // The emulator enforces the time limit on the filter; this guards against the emulator.
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::duration<double>(o.timeoutSeconds > 0 ? o.timeoutSeconds + 30 : 600);
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (r < 0) {
      run.error = "waitpid failed";
      return run;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      run.error = "the emulator hung and was killed";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) {
    run.exitStatus = WEXITSTATUS(status);
  } else if (run.error.empty()) {
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
