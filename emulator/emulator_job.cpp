// The emulator's run of one filter job, from options to exit status.
#include "emulator_job.h"

#include <cups/ppd.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "emulated_printer.h"
#include "filter_harness.h"

namespace emu {

bool readPpdModel(const std::string &path, int &model, std::string &modelName, std::string &error) {
  ppd_file_t *ppd = ppdOpenFile(path.c_str());
  if (!ppd) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    error = path + ": " + ppdErrorString(status) + " on line " + std::to_string(line);
    return false;
  }
  model = ppd->model_number;
  modelName = ppd->modelname ? ppd->modelname : "";
  ppdClose(ppd);
  return true;
}

namespace {

// A model-20 stream carries no row length: take it from the first page of the raster that the
// job prints, when the emulator has that file.
int rowBytesFromRaster(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return 0;
  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t header;
  int rowBytes = 0;
  if (ras && cupsRasterReadHeader2(ras, &header) && header.cupsWidth <= (1u << 24))
    rowBytes = static_cast<int>((header.cupsWidth + 7) / 8);
  if (ras) cupsRasterClose(ras);
  close(fd);
  return rowBytes;
}

std::string defaultFilter(const std::string &programPath) {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) self = std::filesystem::absolute(programPath, ec);
  return (self.parent_path() / "rastertoRX5K").string();
}

}  // namespace

int runEmulatorJob(const EmulatorOptions &o, const std::string &programPath) {
  PrinterSetup setup;
  setup.outDir = o.outDir;
  setup.script = o.printer;
  setup.labelRowBytes = o.labelRowBytes;
  setup.limits = o.limits;
  std::string error;
  if (!readPpdModel(o.ppd, setup.model, setup.modelName, error)) {
    // The filter still runs: how it handles a bad PPD is part of what is being tested.
    std::fprintf(stderr, "rx5k-emulator: %s; parsing the stream as thermal\n", error.c_str());
    setup.model = -1;
  }
  if (setup.model == 20 && setup.labelRowBytes <= 0 && !o.rasterFile.empty())
    setup.labelRowBytes = rowBytesFromRaster(o.rasterFile);
  EmulatedPrinter printer(setup, stdout);
  std::FILE *filterStderr = nullptr;
  if (!printer.open(error) ||
      !(filterStderr = printer.folder()->create(kFilterStderrFile, error))) {
    std::fprintf(stderr, "rx5k-emulator: %s\n", error.c_str());
    return kExitUsage;
  }

  FilterCommand command;
  command.path = o.filter.empty() ? defaultFilter(programPath) : o.filter;
  command.argv.push_back("rx5k-emu");  // the scheduler passes the queue name as argv[0]
  for (const std::string &a : standardFilterArgs(o)) command.argv.push_back(a);
  command.env = {"PPD=" + o.ppd, "PRINTER=rx5k-emu", "DEVICE_URI=rx5k-emu:/",
                 "CONTENT_TYPE=application/vnd.cups-raster", "FINAL_CONTENT_TYPE=printer/rx5k-emu"};
  command.env.insert(command.env.end(), o.env.begin(), o.env.end());
  if (o.viaStdin) command.stdinFile = o.rasterFile;
  command.stderrCopy = filterStderr;
  command.echoStderr = o.showStderr;
  command.sigtermAfterMs = o.sigtermAfterMs;
  command.sigtermAtPage = o.sigtermAtPage;
  command.timeoutSeconds = o.timeoutSeconds;

  FilterOutcome outcome = runFilterUnderPrinter(command, printer);
  std::fclose(filterStderr);
  if (!outcome.started) {
    std::fprintf(stderr, "rx5k-emulator: %s\n", outcome.error.c_str());
    printer.finish(0);
    return kExitUsage;
  }
  bool ok = printer.finish(outcome.seconds);
  if (!ok) {
    std::fprintf(stderr, "rx5k-emulator: %s: %s\n",
                 printer.stopped() ? "the printer ended the job" : "printer stream error",
                 printer.streamError().c_str());
  }
  int status = emulatorExitStatus(outcome, printer);
  std::string how = outcome.timedOut ? "killed after the time limit"
                    : outcome.signal ? "ended by signal " + std::to_string(outcome.signal)
                                     : "exit status " + std::to_string(outcome.exitStatus);
  std::printf("filter %s, %d page(s), stream %s -> exit %d\n", how.c_str(), printer.pages(),
              ok ? "ok" : "error", status);
  return status;
}

}  // namespace emu
