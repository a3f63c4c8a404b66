// A PAPPL job on the filter's core: its seams over the job's device, log and cancel state.
#include "raster_job.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "device_fault.h"
#include "driver/job.h"
#include "emulator_device.h"
#include "page_header.h"
#include "pdf_job.h"
#include "pipeline/page_check.h"
#include "ppd_catalog.h"
#include "printer_model.h"
#include "server_stop.h"

namespace app {

namespace {

// Longest time between two looks at a cancel from the client.
constexpr double kCancelPollSeconds = 0.2;
// Why a job that the server's stop interrupted was aborted.
constexpr const char *kStoppedMessage = "The server stopped before the job was printed.";
// The printer-state reason of a device that failed a job.
constexpr pappl_preason_t kDeviceFailure = PAPPL_PREASON_OFFLINE;
// Time between two reads of a device while a back-channel read waits (device reads do not wait).
constexpr double kReadPollSeconds = 0.02;

// The printer-state reason PAPPL knows for a condition the core reports.
pappl_preason_t reasonOf(PrinterReason reason) {
  switch (reason) {
    case kReasonMediaEmpty:
      return PAPPL_PREASON_MEDIA_EMPTY;
    case kReasonCoverOpen:
      return PAPPL_PREASON_COVER_OPEN;
    case kReasonOverheat:
      break;
  }
  return PAPPL_PREASON_OTHER;
}

// The core's events as the job's log and message and the printer's state reasons; its debug
// text as the job's debug log.
class JobLog : public LogSink {
 public:
  explicit JobLog(pappl_job_t *job) : job_(job) {}
  void write(std::string_view text) override {
    while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    // PAPPL's log formats no precisions: every text goes as a whole string.
    papplLogJob(job_, PAPPL_LOGLEVEL_DEBUG, "%s", std::string(text).c_str());
  }
  void message(MessageLevel level, std::string_view text) override {
    const std::string message(text);
    switch (level) {
      case MessageLevel::Error:
        papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
        papplJobSetMessage(job_, "%s", message.c_str());
        failed_ = true;
        break;
      case MessageLevel::Warning:
        papplLogJob(job_, PAPPL_LOGLEVEL_WARN, "%s", message.c_str());
        break;
      case MessageLevel::Info:
        papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "%s", message.c_str());
        // The job's message stays the reason it failed.
        if (!message.empty() && !failed_) papplJobSetMessage(job_, "%s", message.c_str());
        break;
    }
  }
  void printerReason(PrinterReason reason, bool on) override {
    const pappl_preason_t none = PAPPL_PREASON_NONE, changed = reasonOf(reason);
    papplPrinterSetReasons(papplJobGetPrinter(job_), on ? changed : none, on ? none : changed);
  }

 private:
  pappl_job_t *job_;
  bool failed_ = false;
};

// The real clock, whose waits also end when the client cancels the job.
class JobClock : public Clock {
 public:
  explicit JobClock(pappl_job_t *job) : job_(job) {}
  void watch(JobBase &core) { core_ = &core; }
  void sleepMs(unsigned ms) override {
    waitFor(ms / 1000.0, [this] { return core_ && core_->canceled(); });
  }
  bool waitFor(double seconds, const std::function<bool()> &ready) override {
    const double deadline = monotonicSeconds() + seconds;
    for (;;) {
      checkCancel();
      if (ready()) return true;
      const double left = deadline - monotonicSeconds();
      if (left <= 0) return false;
      if (inner_.waitFor(std::min(left, kCancelPollSeconds), ready)) return true;
    }
  }
  void notifyAll() override { inner_.notifyAll(); }
  // A cancel from the client, or the server stopping: no wait may hold its exit.
  void checkCancel() {
    if (!core_ || core_->canceled()) return;
    if (papplJobIsCanceled(job_)) {
      core_->cancel();
    } else if (serverStopping()) {
      papplLogJob(job_, PAPPL_LOGLEVEL_WARN, "%s", kStoppedMessage);
      papplJobSetMessage(job_, "%s", kStoppedMessage);
      core_->cancel();
    }
  }

 private:
  pappl_job_t *job_;
  JobBase *core_ = nullptr;
  RealClock inner_;
};

// The printer stream and the back channel over the job's device. The job's thread writes while
// its monitor thread reads, and PAPPL's device read first sends the output PAPPL has buffered:
// every call on the device holds the one lock, and the reads poll devices whose reads do not
// wait (the emulator, rx5k-socket; PAPPL's socket device waits up to 10 s per read).
class DeviceLink : public PrinterSink, public Channel {
 public:
  explicit DeviceLink(pappl_device_t *device) : device_(device) {}
  bool write(const void *data, size_t n) override {
    std::lock_guard<std::mutex> guard(deviceLock_);
    if (papplDeviceWrite(device_, data, n) >= 0) return true;
    writeFailed_ = true;
    return false;
  }
  // Why the device failed the job, or empty: its fault, else a write that failed.
  std::string fault() {
    std::string why = deviceFault(device_);
    std::lock_guard<std::mutex> guard(deviceLock_);
    return why.empty() && writeFailed_ ? "Unable to write to the printer." : why;
  }
  ssize_t backRead(unsigned char *buf, size_t n, double timeout, bool interruptible) override {
    const double deadline = monotonicSeconds() + timeout;
    for (;;) {
      ssize_t got;
      {
        std::lock_guard<std::mutex> guard(deviceLock_);
        got = papplDeviceRead(device_, buf, n);
      }
      std::unique_lock<std::mutex> wait(waitLock_);
      const bool interrupted = interruptible && interrupted_;
      if (interruptible) interrupted_ = false;
      const double left = deadline - monotonicSeconds();
      if (got > 0 || interrupted || left <= 0) return std::max<ssize_t>(got, 0);
      woken_.wait_for(wait, std::chrono::duration<double>(std::min(left, kReadPollSeconds)),
                      [&] { return interruptible && interrupted_; });
    }
  }
  void drain(double, const std::function<bool()> &) override {
    {
      std::lock_guard<std::mutex> guard(deviceLock_);
      papplDeviceFlush(device_);
    }
    drainEmulator(device_);
  }
  void interruptRead() override {
    {
      std::lock_guard<std::mutex> guard(waitLock_);
      interrupted_ = true;
    }
    woken_.notify_all();
  }

 private:
  pappl_device_t *device_;
  std::mutex deviceLock_;
  std::mutex waitLock_;
  std::condition_variable woken_;
  bool interrupted_ = false;
  bool writeFailed_ = false;
};

// Jobs that print at once. Each keeps a page and the core's buffers for it, so their number
// bounds the memory of all printers together; a job beyond it waits for one to end.
class JobSlots {
 public:
  void setCount(int count) { free_ = count; }
  bool take(pappl_job_t *job) {
    std::unique_lock<std::mutex> lock(lock_);
    if (free_ <= 0) papplJobSetMessage(job, "Waiting for another printer's job to end.");
    while (free_ <= 0) {
      if (papplJobIsCanceled(job)) return false;
      freed_.wait_for(lock, std::chrono::duration<double>(kCancelPollSeconds));
    }
    free_--;
    return true;
  }
  void give() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      free_++;
    }
    freed_.notify_one();
  }

 private:
  std::mutex lock_;
  std::condition_variable freed_;
  int free_ = 1;
};

JobSlots &jobSlots() {
  static JobSlots slots;
  return slots;
}

// A job's slot, given back when the job ends.
struct JobSlot {
  JobSlot() = default;
  JobSlot(const JobSlot &) = delete;
  JobSlot &operator=(const JobSlot &) = delete;
  ~JobSlot() {
    if (held) jobSlots().give();
  }
  bool held = false;
};

// One PAPPL job on the core.
struct AppJob {
  AppJob(pappl_job_t *job, pappl_device_t *device, const PrinterModel &printerModel,
         PpdFile ppdFile, const PpdOptions &options)
      : model(&printerModel),
        ppd(std::move(ppdFile)),
        choices(coreChoices(printerModel, options)),
        log(job),
        clock(job),
        link(device),
        core({link, log, link, clock}) {
    jobEntered();
  }
  ~AppJob() { jobLeft(); }
  AppJob(const AppJob &) = delete;
  AppJob &operator=(const AppJob &) = delete;

  JobSlot slot;
  const PrinterModel *model;
  PpdFile ppd;        // marked with the job's options, for its page headers
  ChoiceMap choices;  // what the core reads
  JobLog log;
  JobClock clock;
  DeviceLink link;
  Job core;
  std::vector<unsigned char> rows;  // the page's rows received so far
  size_t rowBytes = 0;
  unsigned rowCount = 0;
  bool stopped = false;   // no more pages: cancelled or failed
  unsigned imageDpi = 0;  // the resolution image pages are brought to (0: as they come)
  bool pageStarted = false;
};

AppJob *appJob(pappl_job_t *job) {
  return static_cast<AppJob *>(papplJobGetData(job));
}

const PrinterModel &modelOf(pappl_job_t *job) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
  return *static_cast<const PrinterModel *>(data.extension);
}

// The printer's name as a folder name.
std::string folderName(pappl_job_t *job) {
  std::string name = papplPrinterGetName(papplJobGetPrinter(job));
  for (char &c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
  return name;
}

// PAPPL 1.3 hands a job only the vendor attributes the job names: the printer's saved defaults
// fill in the others.
struct JobOptions {
  pappl_pr_options_t all;
  int count = 0;
  cups_option_t *vendor = nullptr;  // sorted, as cupsGetOption expects
  ~JobOptions() { cupsFreeOptions(count, vendor); }
};

void withVendorDefaults(pappl_job_t *job, const pappl_pr_options_t &options, JobOptions &out) {
  for (int i = 0; i < options.num_vendor; i++)
    out.count =
        cupsAddOption(options.vendor[i].name, options.vendor[i].value, out.count, &out.vendor);
  pappl_printer_t *printer = papplJobGetPrinter(job);
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  ipp_t *attrs = papplPrinterGetDriverAttributes(printer);
  for (int i = 0; i < data.num_vendor; i++) {
    const std::string name = std::string(data.vendor[i]) + "-default";
    ipp_attribute_t *saved = ippFindAttribute(attrs, name.c_str(), IPP_TAG_ZERO);
    if (!saved || cupsGetOption(data.vendor[i], out.count, out.vendor)) continue;
    char value[256];
    ippAttributeString(saved, value, sizeof value);
    out.count = cupsAddOption(data.vendor[i], value, out.count, &out.vendor);
  }
  ippDelete(attrs);
  out.all = options;
  out.all.num_vendor = out.count;
  out.all.vendor = out.vendor;
}

// Marks the PPD as a CUPS queue marks it for these options: its defaults, then the options.
void markPpd(ppd_file_t *ppd, const PpdOptions &options) {
  cups_option_t *marks = nullptr;
  int count = 0;
  for (const auto &[keyword, choice] : options)
    count = cupsAddOption(keyword.c_str(), choice.c_str(), count, &marks);
  ppdMarkDefaults(ppd);
  cupsMarkOptions(ppd, count, marks);
  cupsFreeOptions(count, marks);
}

bool startRasterJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device) {
  watchServerStop();
  if (serverStopping()) parkUntilExit();
  const PrinterModel &model = modelOf(job);
  PpdFile ppd = openEmbeddedPpd(model.driver);
  if (!ppd) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The PPD of driver %s cannot be read.",
                model.driver.c_str());
    return false;
  }
  // The pages come at the header's resolution (PAPPL's choice by print-quality is not the head's).
  // PAPPL renders images at the resolution print-quality picks: their pages are brought to the
  // job's own.
  const char *format = papplJobGetFormat(job);
  const bool image =
      format && (!std::strcmp(format, "image/jpeg") || !std::strcmp(format, "image/png"));
  const unsigned imageDpi = image ? static_cast<unsigned>(jobResolution(job, model)) : 0;
  if (imageDpi > 0) {
    options->printer_resolution[0] = options->printer_resolution[1] = static_cast<int>(imageDpi);
  } else if (options->header.HWResolution[0] > 0) {
    options->printer_resolution[0] = static_cast<int>(options->header.HWResolution[0]);
    options->printer_resolution[1] = static_cast<int>(options->header.HWResolution[1]);
  }
  JobOptions jobOptions;
  withVendorDefaults(job, *options, jobOptions);
  const PpdOptions ppdOptions = ppdOptionsFor(model, jobOptions.all);
  // What the job asked, as a CUPS queue's options, for the administrator.
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "PPD options: %s", optionText(ppdOptions).c_str());
  markPpd(ppd.get(), ppdOptions);
  setEmulatorJob(device, {folderName(job), papplJobGetID(job), model.modelNumber, model.modelName});
  forgetDeviceFault(device);  // PAPPL may keep a device open from job to job

  auto *session = new AppJob(job, device, model, std::move(ppd), ppdOptions);
  if (!(session->slot.held = jobSlots().take(job))) {
    delete session;
    return false;
  }
  session->imageDpi = imageDpi;
  papplJobSetData(job, session);
  Job &core = session->core;
  core.choices = &session->choices;
  core.modelName = model.modelName;
  core.setModel(model.modelNumber);
  if (options->num_pages > 0) core.TotalPage = static_cast<int>(options->num_pages);
  core.prn.onFailure = [&core] { core.cancel(); };
  session->clock.watch(core);
  Setup(core, nullptr);  // the model is set
  if (!startJob(core, nullptr)) {
    papplJobSetData(job, nullptr);
    delete session;
    return false;
  }
  return true;
}

bool startRasterPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned) {
  if (!appJob(job) || appJob(job)->stopped) return false;
  AppJob &session = *appJob(job);
  session.pageStarted = true;
  const cups_page_header2_t &header = options->header;
  session.rowBytes = header.cupsBytesPerLine;
  session.rowCount = header.cupsHeight;
  if (!readableRaster(header)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
                "The page's raster type (%u bits, color space %u) "
                "is not one the printer reads.",
                header.cupsBitsPerPixel, header.cupsColorSpace);
    papplJobSetMessage(job, "Unsupported raster type.");
    session.stopped = true;
    return false;
  }
  // The client's header is checked before anything of the page is kept: it may announce any
  // size, and only the rows that arrive take memory.
  std::string reason;
  if (!checkPageHeader(header, reason)) {
    // The core refuses the page with its own reason, as for a page it read itself.
    Page page;
    page.header = header;
    printPage(session.core, page, [](unsigned char *, unsigned) { return 0u; });
    session.stopped = true;
    return false;
  }
  session.rows.clear();
  return true;
}

bool writeRasterLine(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned y,
                     const unsigned char *line) {
  AppJob *session = appJob(job);
  if (!session || y >= session->rowCount) return true;
  const size_t at = static_cast<size_t>(y) * session->rowBytes;
  if (session->rows.size() < at + session->rowBytes)
    session->rows.resize(at + session->rowBytes, 0xFF);
  std::memcpy(session->rows.data() + at, line, session->rowBytes);
  return true;
}

// A device that failed aborts the job with its reason and marks the printer until a job prints
// again; a cancel the printer reports ends the job as cancelled (at the device, not by a user).
bool deviceFailed(pappl_job_t *job, AppJob &session) {
  const std::string fault = session.link.fault();
  if (!fault.empty()) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", fault.c_str());
    papplJobSetMessage(job, "%s", fault.c_str());
    papplPrinterSetReasons(papplJobGetPrinter(job), kDeviceFailure, PAPPL_PREASON_NONE);
    return true;
  }
  if (session.core.canceled() && !papplJobIsCanceled(job) && !serverStopping()) {
    papplJobSetReasons(job, PAPPL_JREASON_JOB_CANCELED_AT_DEVICE, PAPPL_JREASON_NONE);
    papplJobCancel(job);
  }
  return false;
}

// PAPPL repeats the pages of the images it decodes itself; raster documents are left to the
// driver.
int copiesToMake(pappl_job_t *job, const pappl_pr_options_t &options) {
  const std::string_view format = papplJobGetFormat(job) ? papplJobGetFormat(job) : "";
  const bool raster = format == "image/pwg-raster" || format == "image/urf";
  return raster ? std::max(1, options.copies) : 1;
}

// Each page goes as many times in a row as copiesToMake says, from the one page the app keeps.
bool endRasterPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned) {
  if (!appJob(job) || appJob(job)->stopped) return false;
  AppJob &session = *appJob(job);
  // Rows that never came are white.
  session.rows.resize(static_cast<size_t>(session.rowCount) * session.rowBytes, 0xFF);
  std::vector<unsigned char> resampledRows;
  ClientPage client = clientPageOf(options->header, session.rows.data());
  if (session.imageDpi && (client.xdpi != session.imageDpi || client.ydpi != session.imageDpi))
    client = resampled(client, session.imageDpi, resampledRows);
  const FilterPage filter = filterPageOf(session.ppd.get(), *session.model, client);
  PageEnd end = PageEnd::Next;
  const int copies = copiesToMake(job, *options);
  for (int copy = 0; copy < copies && end == PageEnd::Next; copy++) {
    Page page;
    page.header = filter.header;
    unsigned y = 0;
    const RowReader read = [&](unsigned char *row, unsigned length) -> unsigned {
      if (y >= filter.header.cupsHeight) return 0;
      filterRow(filter, client, y++, row, length);
      return length;
    };
    end = printPage(session.core, page, read);
  }
  session.rows = {};
  if (end == PageEnd::Next) return true;
  session.stopped = true;
  return !deviceFailed(job, session) && !session.core.failed;
}

bool endRasterJob(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device) {
  AppJob *session = appJob(job);
  if (!session) return false;
  endJob(session->core);
  papplDeviceFlush(device);  // what PAPPL still buffers belongs to this job, and may fail
  endEmulatorJob(device);
  const Job &core = session->core;
  const bool failed = deviceFailed(job, *session);
  const bool ok = !failed && jobExitStatus(core) == 0 && !core.canceled();
  if (ok) papplPrinterSetReasons(papplJobGetPrinter(job), PAPPL_PREASON_NONE, kDeviceFailure);
  // Failed pages and devices have said why; a document of no page has not. PAPPL drops the pages
  // of a client raster whose type differs from the one it asked for.
  const char *format = papplJobGetFormat(job);
  const bool raster =
      format && (!std::strcmp(format, "image/pwg-raster") || !std::strcmp(format, "image/urf"));
  if (!failed && raster && !session->pageStarted)  // PAPPL has aborted the job itself
    papplJobSetMessage(job, "No page printed: the printer takes 8-bit gray raster (sgray_8).");
  else if (!ok && !failed && !core.canceled() && !core.failed && core.pagesSent == 0)
    papplJobSetMessage(job, "No page was printed.");
  papplJobSetData(job, nullptr);
  delete session;
  return ok;
}

}  // namespace

void setJobsAtOnce(int count) {
  jobSlots().setCount(count);
}

void setRasterCallbacks(pappl_pr_driver_data_t &data) {
  data.rstartjob_cb = startRasterJob;
  data.rstartpage_cb = startRasterPage;
  data.rwriteline_cb = writeRasterLine;
  data.rendpage_cb = endRasterPage;
  data.rendjob_cb = endRasterJob;
}

}  // namespace app
