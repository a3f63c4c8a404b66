// The job from the filter arguments to the exit status: raster stream, options, PPD, job
// set-up, monitor thread, page loop, trailer, clean-up.
#include "driver/job.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/format.h"
#include "base/header_fields.h"
#include "driver/page_steps.h"
#include "labels/labels.h"
#include "monitor/queries.h"
#include "pipeline/page_check.h"
#include "thermal/thermal_printer.h"

namespace {

// The one process-wide mutable: set by the SIGTERM handler, observed by the process's jobs.
std::atomic<int> sigterm{0};

const char kTotalPagesOption[] = "com.apple.print.PrintSettings.PMTotalSidesImaged..n.";

void readJobOptions(Job &job, const char *text) {
  job.num_options = cupsParseOptions(text, 0, &job.options);
  for (int i = 0; i < job.num_options; i++) {
    const cups_option_t &o = job.options[i];
    job.log.message("mytest: %s is %s\n", neutralised(o.name).c_str(),
                    neutralised(o.value).c_str());
    if (std::strcmp(o.name, kTotalPagesOption) == 0) job.TotalPage = choiceInt(o.value);
  }
  job.log.message("mytest:TotalPage: %d\n", job.TotalPage.load());
}

void readJobChoices(Job &job) {
  if (const char *c = job.markedChoice("DegreeOfBlackRecognition")) job.blacklevel = choiceInt(c);
  if (const char *c = job.markedChoice("DegreeOfGrayRecognition")) job.graylevel = choiceInt(c);
  job.mirrorPrint = 0;
  if (const char *c = job.markedChoice("OemMirror")) job.mirrorPrint = choiceInt(c);
  job.sketchPrint = 0;
  if (const char *c = job.markedChoice("Sketch")) job.sketchPrint = choiceInt(c);
}

// The brightness offset of the page, after its set-up has decided gray or black-and-white.
void readPageLight(Job &job, const Page &page) {
  const char *c = job.markedChoice("AdjustLight");
  if (!c) return;
  job.lightOffset = choiceInt(c);
  if (page.gray && headerStringIs(page.header.cupsPageSizeName, "RX5_A4"))
    job.lightOffset = job.lightOffset > INT32_MAX - 10 ? INT32_MAX : job.lightOffset + 10;
}

GeometryParams pageGeometry(const Job &job, const Page &page) {
  return geometryParams(page.header, job.ModelNumber, job.modelName.c_str(),
                        job.printer->continuousMedia(page));
}

// Refuses the page: one "ERROR:" line, and the job ends with status 1.
PageEnd refusePage(Job &job, const std::string &reason) {
  job.log.error("Page %d: %s", job.Page.load(), reason.c_str());
  job.failed = true;
  return PageEnd::Stop;
}

// The page image pipeline, leaving the finished page in page.dots and its size in the header.
bool runPipeline(Job &job, Page &page, const RowReader &read, std::string &error) {
  PageSettings settings;
  settings.image.lightOffset = job.lightOffset;
  settings.image.gray = page.gray;
  settings.image.blacklevel = job.blacklevel;
  settings.image.graylevel = job.graylevel;
  settings.image.mirrorPrint = job.mirrorPrint;
  settings.image.sketchPrint = job.sketchPrint;
  settings.geometry = pageGeometry(job, page);
  settings.geometry.rotate = page.Rotate;
  settings.geometry.hOffset = page.hOffset;
  settings.geometry.vOffset = page.vOffset;
  FinishedPage finished;
  bool ok =
      runPagePipeline(read, page.header, settings, page.Buffer.get(), job.log, finished, error);
  page.Buffer.reset();
  if (!ok) return false;
  page.paperCode = finished.paperCode;
  page.dots = std::move(finished.dots);
  page.header.cupsWidth = static_cast<unsigned>(finished.width);
  page.header.cupsHeight = static_cast<unsigned>(finished.height);
  return true;
}

// Steps 5 to 13 of a page whose header has been read and checked.
PageEnd setUpAndSendPage(Job &job, Page &page, const RowReader &read) {
  setMonitorStatus(job, 1);
  StartPage(job, page);
  setMonitorStatus(job, 2);
  if (!page.Buffer) {
    return refusePage(job, "cannot allocate the row buffer of " +
                               std::to_string(page.header.cupsBytesPerLine) + " bytes");
  }
  readPageLight(job, page);
  job.log.info("%d/%d", job.Page.load(), job.TotalPage.load());

  std::string error;
  if (!runPipeline(job, page, read, error)) return refusePage(job, error);

  if (!job.printer->startRows(page, error)) return refusePage(job, error);
  const cups_page_header2_t &header = page.header;
  for (unsigned y = 0; y < header.cupsHeight && !job.canceled(); y++) {
    if (y % 16 == 0)
      job.log.pageProgress(
          static_cast<unsigned>(static_cast<uint64_t>(y) * 100 / header.cupsHeight));
    OutputLine(job, page, static_cast<int>(y));
  }
  if (job.canceled()) return PageEnd::Stop;

  switch (EndPage(job, page)) {
    case PageResult::Sent:
      break;
    case PageResult::Canceled:
      return PageEnd::Stop;
    case PageResult::Failed:
      job.failed = true;
      return PageEnd::Stop;
  }
  page.dots.reset();
  job.pagesSent++;
  return job.canceled() ? PageEnd::Stop : PageEnd::Next;
}

// The raster stream as the library reads it, counted: a job that ends without a page must say
// whether its stream was empty or its first header was refused.
ssize_t readRaster(void *ctx, unsigned char *buffer, size_t length) {
  Job &job = *static_cast<Job *>(ctx);
  for (;;) {
    ssize_t got = read(job.fd, buffer, length);
    if (got < 0 && errno == EINTR) continue;
    if (got > 0) job.rasterBytes += static_cast<uint64_t>(got);
    return got;
  }
}

// Sync word of a raster stream, the bytes before its first page header.
constexpr uint64_t kRasterSyncBytes = 4;

// Why a job that read no page printed nothing, for the scheduler's log. A stream too short or
// wrong for a sync word opened no raster at all.
void explainNoPage(Job &job) {
  unsigned char more;
  if (job.canceled()) {
    job.log.error("The job was cancelled before its first page");
  } else if (job.rasterBytes > kRasterSyncBytes || (!job.ras && job.rasterBytes > 0) ||
             read(job.fd, &more, 1) > 0) {
    job.log.error(
        "The raster stream's first page header was refused by the raster library (its "
        "format or sizes are invalid); nothing was printed");
  } else {
    job.log.error(
        "The document has no pages to print (an empty document, or pages chosen beyond "
        "its end)");
  }
}

void closeJob(Job &job) {
  job.prn.flush();
  if (job.ras) cupsRasterClose(job.ras);
  if (job.ownsFd) close(job.fd);
  if (job.ppd) ppdClose(job.ppd);
  cupsFreeOptions(job.num_options, job.options);
  job.ras = nullptr;
  job.ownsFd = false;
  job.ppd = nullptr;
  job.num_options = 0;
  job.options = nullptr;
}

}  // namespace

void CancelJob(int) {
  sigterm.store(1);
}

const std::atomic<int> &sigtermFlag() {
  return sigterm;
}

std::unique_ptr<PrinterLanguage> choosePrinter(Job &job) {
  std::unique_ptr<PrinterLanguage> printer;
  if (job.model->family == ModelFamily::Thermal) printer = std::make_unique<ThermalPrinter>(job);
  if (job.model->family == ModelFamily::Label) printer = makeLabelPrinter(job);
  return printer ? std::move(printer) : std::make_unique<PrinterLanguage>();
}

void Setup(Job &job, ppd_file_t *ppd) {
  if (ppd) job.setModel(ppd->model_number);
  job.printer = choosePrinter(job);
  job.printer->startJob();
}

bool startJob(Job &job, const char *language) {
  if (!language) language = cupsLangDefault()->language;
  job.log.message("mytest：language is %s\n", neutralised(language).c_str());
  job.mymon.language = std::strcmp(language, "zh_CN") == 0 ? 1 : 0;

  job.Page = 0;
  readJobChoices(job);

  mymonInit(job);
  int err = 0;
  if (!startMonitor(job, err)) {
    job.log.message("mytest：create mon thread fail and errno is %d\n", err);
    return false;
  }
  return true;
}

PageEnd printPage(Job &job, Page &page, const RowReader &read) {
  job.Page++;
  job.log.pageBegins(job.Page.load());
  job.printer->beforePage();
  if (job.canceled()) return PageEnd::Stop;
  std::string reason;
  if (!checkPageHeader(page.header, reason) || !job.printer->pageFits(page, reason))
    return refusePage(job, reason);
  return setUpAndSendPage(job, page, read);
}

void endJob(Job &job) {
  if (job.prn.failed()) {
    job.log.error("The printer connection was lost; the job was not printed completely");
    job.failed = true;
  }
  job.printer->endJob();
  job.log.info("%s", job.mymon.language ? "数据已发送" : "Printed data has been sent");
  job.printer->waitJobDone();
  stopMonitor(job);
  clearPrinterReasons(job);
  job.log.info("%s", "");
}

int jobExitStatus(const Job &job) {
  return (job.Page == 0 || job.failed) ? 1 : 0;
}

int rastertoRX5K(int argc, char *argv[], const FilterEnvironment &environment) {
  Job job(environment.seams);
  job.processCanceled = environment.canceled;
  job.log.message("DEBUG:mytest：entry main\n");
  if (argc != 6 && argc != 7) return 1;

  job.fd = environment.inputFd;
  if (argc == 7) {
    job.fd = open(argv[6], O_RDONLY | O_CLOEXEC);
    job.ownsFd = job.fd >= 0;
    if (job.fd < 0) {
      job.log.localisedError("ERROR", "Unable to open raster file");
      job.clock.sleepMs(1000);
      return 1;
    }
  }
  // A backend that goes away ends the job.
  job.prn.onFailure = [&job] { job.cancel(); };
  job.ras = cupsRasterOpenIO(readRaster, &job, CUPS_RASTER_READ);

  readJobOptions(job, argv[5]);

  job.ppd = environment.ppdPath ? ppdOpenFile(environment.ppdPath) : nullptr;
  if (!job.ppd) {
    int linenum = 0;
    ppd_status_t status = ppdLastError(&linenum);
    job.log.message("DEBUG: %s on line %d.\n", ppdErrorString(status), linenum);
    closeJob(job);
    return 1;
  }
  ppdMarkDefaults(job.ppd);
  cupsMarkOptions(job.ppd, job.num_options, job.options);
  job.ppdChoices = PpdChoices(job.ppd);
  job.choices = &job.ppdChoices;
  job.modelName = job.ppd->modelname ? job.ppd->modelname : "";

  Setup(job, job.ppd);
  if (!startJob(job, environment.language)) {
    closeJob(job);
    return 1;
  }

  cups_page_header2_t header;
  RowReader read = [&job](unsigned char *row, unsigned length) {
    return cupsRasterReadPixels(job.ras, row, length);
  };
  while (cupsRasterReadHeader2(job.ras, &header)) {
    Page page;
    page.header = header;
    if (printPage(job, page, read) == PageEnd::Stop) break;
  }
  if (job.Page == 0) explainNoPage(job);
  endJob(job);
  closeJob(job);
  if (environment.pagesSent) *environment.pagesSent = job.pagesSent;
  return jobExitStatus(job);
}
