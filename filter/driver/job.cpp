// The job from the filter arguments to the exit status: raster stream, options, PPD, job
// set-up, monitor thread, page loop, trailer, clean-up.
#include "driver/job.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/choices.h"
#include "driver/page_steps.h"
#include "io/channel.h"
#include "io/format.h"
#include "io/log.h"
#include "io/printer_stream.h"
#include "labels/labels.h"
#include "monitor/queries.h"
#include "monitor/status.h"
#include "pipeline/page_check.h"
#include "pipeline/page_memory.h"
#include "pipeline/pipeline.h"
#include "thermal/commands.h"
#include "thermal/page_setup.h"
#include "thermal/transmission.h"

// The localised error printer of libcups (exported, not in the public headers).
extern "C" void _cupsLangPrintError(const char *prefix, const char *message);

std::atomic<int> Canceled{0};
std::atomic<int> Page{0};
std::atomic<int> TotalPage{1};
int ModelNumber = 0;
int blacklevel = 4;
int graylevel = 7;
int mirrorPrint = 0;
int sketchPrint = 0;
int lightOffset = 0;

namespace {

const char kTotalPagesOption[] = "com.apple.print.PrintSettings.PMTotalSidesImaged..n.";

// Everything the job holds, released in one place.
struct Job {
  int fd = 0;
  cups_raster_t *ras = nullptr;
  ppd_file_t *ppd = nullptr;
  int num_options = 0;
  cups_option_t *options = nullptr;
  pthread_t pid{};
  bool afterFeedPending = false;
  bool failed = false;  // a page could not be printed: exit status 1
};

void onPrinterGone() {
  Canceled.store(1);
}

bool jobCanceled() {
  return Canceled.load() != 0;
}

void readJobOptions(Job &job, const char *text) {
  job.num_options = cupsParseOptions(text, 0, &job.options);
  for (int i = 0; i < job.num_options; i++) {
    const cups_option_t &o = job.options[i];
    logMessage("mytest: %s is %s\n", neutralised(o.name).c_str(), neutralised(o.value).c_str());
    if (std::strcmp(o.name, kTotalPagesOption) == 0) TotalPage = choiceInt(o.value);
  }
  logMessage("mytest:TotalPage: %d\n", TotalPage.load());
}

void readJobChoices(ppd_file_t *ppd) {
  if (const char *c = markedChoice(ppd, "DegreeOfBlackRecognition")) blacklevel = choiceInt(c);
  if (const char *c = markedChoice(ppd, "DegreeOfGrayRecognition")) graylevel = choiceInt(c);
  mirrorPrint = 0;
  if (const char *c = markedChoice(ppd, "OemMirror")) mirrorPrint = choiceInt(c);
  sketchPrint = 0;
  if (const char *c = markedChoice(ppd, "Sketch")) sketchPrint = choiceInt(c);
}

// The brightness offset of the page, after its set-up has decided gray or black-and-white.
void readPageLight(ppd_file_t *ppd, const cups_page_header2_t &header) {
  const char *c = markedChoice(ppd, "AdjustLight");
  if (!c) return;
  lightOffset = choiceInt(c);
  if (gray && std::strncmp(header.cupsPageSizeName, "RX5_A4", sizeof header.cupsPageSizeName) == 0)
    lightOffset = lightOffset > INT32_MAX - 10 ? INT32_MAX : lightOffset + 10;
}

// Pauses models 22 and 23 take between pages, a second at a time so a cancel ends them.
void pauseBetweenPages() {
  for (int i = 0; i < 3; i++) {
    if (Canceled.load()) return;
    sleepSeconds(1);
  }
}

// The largest bitmap the thermal printers' bitmap command can announce: its row width in bytes
// and its row count are 16-bit fields.
constexpr int64_t kMaxBitmapRowBytes = 65535;
constexpr int64_t kMaxBitmapRows = 65535;

// True when the numbers of the page fit the fields of the commands that will carry them; checked
// before anything of the page reaches the printer, so a hostile size cannot turn pixels into
// commands.
bool pageFitsCommands(const Job &job, const cups_page_header2_t &header, std::string &reason) {
  if (isLabelModel(ModelNumber)) return labelPageFits(ModelNumber, header, reason);
  if (!isThermalModel(ModelNumber)) return true;
  int64_t width = 0, height = 0;
  if (!finishedPageSizeOf(header, job.ppd->modelname, gapModeForPage(job.ppd, &header), width,
                          height, reason))
    return false;
  if ((width + 7) / 8 <= kMaxBitmapRowBytes && height <= kMaxBitmapRows) return true;
  char text[200];
  std::snprintf(text, sizeof text,
                "a page of %lld x %lld dots does not fit the printer's bitmap command (at most "
                "%lld bytes per row and %lld rows)",
                static_cast<long long>(width), static_cast<long long>(height),
                static_cast<long long>(kMaxBitmapRowBytes), static_cast<long long>(kMaxBitmapRows));
  reason = text;
  return false;
}

enum class PageEnd { Next, Stop };

// Steps 5 to 13 of one page whose header has been read and checked.
PageEnd printPage(Job &job, cups_page_header2_t &header) {
  mymon.status = 1;
  StartPage(job.ppd, &header);
  mymon.status = 2;
  if (!Buffer) {
    logMessage("ERROR: Page %d: cannot allocate the row buffer of %u bytes\n", Page.load(),
               header.cupsBytesPerLine);
    job.failed = true;
    return PageEnd::Stop;
  }
  readPageLight(job.ppd, header);
  logMessage("INFO: %d/%d\n", Page.load(), TotalPage.load());

  FinishedPage page;
  std::string error;
  RowReader read = [&job](unsigned char *row, unsigned length) {
    return cupsRasterReadPixels(job.ras, row, length);
  };
  if (!runPagePipeline(read, &header, job.ppd->modelname, page, error)) {
    releaseRowBuffer();
    logMessage("ERROR: Page %d: %s\n", Page.load(), error.c_str());
    job.failed = true;
    return PageEnd::Stop;
  }

  const bool thermal = isThermalModel(ModelNumber);
  const uint64_t bytewidth = (static_cast<uint64_t>(header.cupsWidth) + 7) / 8;
  uint64_t buffersize = 0;
  DotBuffer bitmap;
  if (thermal) {
    if (!checkedMul(bytewidth, header.cupsHeight, buffersize) ||
        !(bitmap = allocateDots(buffersize))) {
      logMessage("ERROR: Page %d: cannot allocate the page bitmap of %llu bytes\n", Page.load(),
                 static_cast<unsigned long long>(buffersize));
      job.failed = true;
      return PageEnd::Stop;
    }
    std::memset(bitmap.get(), 0, buffersize);
  }
  sendBuf = bitmap.get();
  for (unsigned y = 0; y < header.cupsHeight && !Canceled.load(); y++) {
    if (y % 16 == 0)
      logMessage("ATTR: job-media-progress=%u\n",
                 static_cast<unsigned>(static_cast<uint64_t>(y) * 100 / header.cupsHeight));
    Buffer = page.dots.get() + static_cast<size_t>(y) * header.cupsWidth;
    OutputLine(job.ppd, &header, static_cast<int>(y));
  }
  Buffer = nullptr;
  sendBuf = nullptr;
  if (Canceled.load()) return PageEnd::Stop;

  if (thermal) {
    switch (transmitBitmap(job.ppd, &header, bitmap.get(), buffersize)) {
      case TransmitResult::Sent:
        break;
      case TransmitResult::Canceled:
        return PageEnd::Stop;
      case TransmitResult::Failed:
        job.failed = true;
        return PageEnd::Stop;
    }
  }
  bitmap.reset();
  page.dots.reset();

  EndPage(job.ppd, &header);

  if (ModelNumber == 64519 && bCmdGap[2] == 0x0B &&
      std::strcmp(header.cupsPageSizeName, "A4") != 0 &&
      std::strcmp(header.cupsPageSizeName, "Letter") != 0) {
    bCmdAfter[2] = 0x01;
    prnWrite(bCmdAfter, sizeof bCmdAfter);
    prnFlush();
    job.afterFeedPending = true;
  }
  return Canceled.load() ? PageEnd::Stop : PageEnd::Next;
}

void runPages(Job &job) {
  cups_page_header2_t header;
  while (cupsRasterReadHeader2(job.ras, &header)) {
    Page++;
    logMessage("PAGE: %d 1\n", Page.load());
    if (Page > 1 && (ModelNumber == 22 || ModelNumber == 23)) pauseBetweenPages();
    if (Canceled.load()) break;
    std::string reason;
    if (!checkPageHeader(header, reason) || !pageFitsCommands(job, header, reason)) {
      logMessage("ERROR: Page %d: %s\n", Page.load(), reason.c_str());
      job.failed = true;
      break;
    }
    if (printPage(job, header) == PageEnd::Stop) break;
  }
  if (prnFailed()) {
    logMessage("ERROR: The printer connection was lost; the job was not printed completely\n");
    job.failed = true;
  }
}

// Job end: trailer, idle wait, monitor stop.
void endJob(Job &job) {
  if (ModelNumber == 400) {
    prnPut(0x1B);
    prnPut(0x64);
    prnPut(0x02);
    prnFlush();
  }
  if (job.afterFeedPending) {
    bCmdAfter[2] = 0x02;
    prnWrite(bCmdAfter, sizeof bCmdAfter);
    prnFlush();
  }
  logMessage(mymon.language ? "INFO: 数据已发送\n" : "INFO: Printed data has been sent\n");
  if (ModelNumber == 64519 || ModelNumber == 831) {
    mymon.status = 1;
    waitFree();
  }
  mymon.status = 0;
  while (!Canceled.load() && !mymon.end) sleepSeconds(1);
  // The thread has finished once end is set; otherwise (cancelled) it ends by itself within a
  // second and must not hold up the exit.
  if (mymon.end)
    pthread_join(job.pid, nullptr);
  else
    pthread_detach(job.pid);
  logMessage("INFO:\n");
}

void closeJob(Job &job) {
  prnFlush();
  // A cancelled page skips its page end, which would have released these.
  releaseRowBuffer();
  labelReleasePageBuffers();
  if (job.ras) cupsRasterClose(job.ras);
  if (job.fd != 0) close(job.fd);
  if (job.ppd) ppdClose(job.ppd);
  cupsFreeOptions(job.num_options, job.options);
}

}  // namespace

bool isThermalModel(int model) {
  switch (model) {
    case 21:
    case 22:
    case 23:
    case 302:
    case 400:
    case 831:
    case 64519:
    case 590314:
    case 613207:
      return true;
    default:
      return false;
  }
}

bool isLabelModel(int model) {
  switch (model) {
    case 0:
    case 16:
    case 17:
    case 18:
    case 19:
    case 20:
    case 32:
      return true;
    default:
      return false;
  }
}

void CancelJob(int) {
  Canceled.store(1);
}

void Setup(ppd_file_t *ppd) {
  if (ppd) ModelNumber = ppd->model_number;
  if (ModelNumber == 0) {
    unsigned char escapes[100];
    std::memset(escapes, 0x1B, sizeof escapes);
    prnWrite(escapes, sizeof escapes);
    prnWrite("\x1B@", 2);
  } else if (ModelNumber == 32) {
    prnWrite(
        "\x1B"
        "E",
        2);
  }
}

int rastertoRX5K(int argc, char *argv[]) {
  // The handler goes in first, so that a cancel arriving during the start is not lost.
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  sigemptyset(&action.sa_mask);
  action.sa_handler = CancelJob;
  sigaction(SIGTERM, &action, nullptr);

  setbuf(stderr, nullptr);
  logMessage("DEBUG:mytest：entry main\n");
  if (argc != 6 && argc != 7) return 1;

  // Before the raster file is opened, which must not take the channels' descriptors.
  prepareBackChannel();
  Job job;
  if (argc == 7) {
    job.fd = open(argv[6], O_RDONLY);
    if (job.fd < 0) {
      _cupsLangPrintError("ERROR", "Unable to open raster file");
      sleep(1);
      return 1;
    }
  }
  // A backend that goes away must end the job, not kill the filter.
  signal(SIGPIPE, SIG_IGN);
  prnSetFailureHandler(onPrinterGone);
  setChannelCancelCheck(jobCanceled);
  job.ras = cupsRasterOpen(job.fd, CUPS_RASTER_READ);

  readJobOptions(job, argv[5]);

  const char *ppdPath = getenv("PPD");
  job.ppd = ppdPath ? ppdOpenFile(ppdPath) : nullptr;
  if (!job.ppd) {
    int linenum = 0;
    ppd_status_t status = ppdLastError(&linenum);
    logMessage("DEBUG: %s on line %d.\n", ppdErrorString(status), linenum);
    return 1;
  }
  ppdMarkDefaults(job.ppd);
  cupsMarkOptions(job.ppd, job.num_options, job.options);

  Setup(job.ppd);

  cups_lang_t *language = cupsLangDefault();
  logMessage("mytest：language is %s\n", neutralised(language->language).c_str());
  mymon.language = std::strcmp(language->language, "zh_CN") == 0 ? 1 : 0;

  Page = 0;
  readJobChoices(job.ppd);

  mymonInit();
  if (int err = pthread_create(&job.pid, nullptr, mon, nullptr)) {
    logMessage("mytest：create mon thread fail and errno is %d\n", err);
    closeJob(job);
    return 1;
  }

  runPages(job);
  endJob(job);
  closeJob(job);
  return (Page == 0 || job.failed) ? 1 : 0;
}
