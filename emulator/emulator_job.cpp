// The emulator's run of one filter job, from options to exit status.
#include "emulator_job.h"

#include <cups/ppd.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "base/models.h"
#include "emulated_printer.h"
#include "filter_harness.h"

namespace emu {

namespace {

// Model 20 prints rows of a fixed length that its stream does not carry.
bool rowsWithoutLength(int model) {
  return modelFacts(model).language == LabelLanguage::PrintRows;
}

// Whole bytes of a row of `width` dots, as the filter packs them; 0 for no width or an absurd one.
int rowBytesOfWidth(unsigned width) {
  return width <= (1u << 24) ? static_cast<int>((width + 7) / 8) : 0;
}

// The row length of the first page of the raster that the job prints, when the emulator has that
// file: exact, where the PPD only tells what a rasterizer would make.
int rowBytesFromRaster(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return 0;
  const int rowBytes = rowBytesOfFirstPage(fd);
  close(fd);
  return rowBytes;
}

// rastertoRX5K beside the emulator (the build folder), else the installed one.
std::string defaultFilter(const std::string &programPath) {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) self = std::filesystem::absolute(programPath, ec);
  const std::filesystem::path beside = self.parent_path() / "rastertoRX5K";
  return std::filesystem::exists(beside, ec) ? beside.string()
                                             : std::string(RX5K_FILTER_DIR "/rastertoRX5K");
}

}  // namespace

int rowBytesOfFirstPage(int fd) {
  lseek(fd, 0, SEEK_SET);
  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t header;
  int rowBytes = 0;
  if (ras && cupsRasterReadHeader2(ras, &header)) rowBytes = rowBytesOfWidth(header.cupsWidth);
  if (ras) cupsRasterClose(ras);
  lseek(fd, 0, SEEK_SET);
  return rowBytes;
}

bool readPpdSetup(const std::string &path, const std::string &jobOptions, PrinterSetup &setup,
                  std::string &error) {
  ppd_file_t *ppd = ppdOpenFile(path.c_str());
  if (!ppd) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    error = path + ": " + ppdErrorString(status) + " on line " + std::to_string(line);
    return false;
  }
  setup.model = ppd->model_number;
  setup.modelName = ppd->modelname ? ppd->modelname : "";
  if (rowsWithoutLength(setup.model) && setup.labelRowBytes <= 0) {
    cups_option_t *options = nullptr;
    const int n = cupsParseOptions(jobOptions.c_str(), 0, &options);
    ppdMarkDefaults(ppd);
    cupsMarkOptions(ppd, n, options);
    cups_page_header2_t header;
    if (cupsRasterInterpretPPD(&header, ppd, n, options, nullptr) == 0)
      setup.labelRowBytes = rowBytesOfWidth(header.cupsWidth);
    cupsFreeOptions(n, options);
  }
  ppdClose(ppd);
  return true;
}

int runEmulatorJob(const EmulatorOptions &o, const std::string &programPath) {
  PrinterSetup setup;
  setup.outDir = o.outDir;
  setup.script = o.printer;
  setup.labelRowBytes = o.labelRowBytes;
  setup.limits = o.limits;
  std::string error;
  if (!readPpdSetup(o.ppd, o.jobOptions, setup, error)) {
    // The filter still runs: how it handles a bad PPD is part of what is being tested.
    std::fprintf(stderr, "rx5k-emulator: %s; parsing the stream as thermal\n", error.c_str());
    setup.model = -1;
  }
  if (rowsWithoutLength(setup.model) && o.labelRowBytes <= 0 && !o.rasterFile.empty()) {
    if (const int rowBytes = rowBytesFromRaster(o.rasterFile)) setup.labelRowBytes = rowBytes;
  }
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
  command.sigtermAtByte = o.sigtermAtByte;
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
