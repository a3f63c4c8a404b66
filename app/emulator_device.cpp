// The emulated printer behind a PAPPL device: one session per opened device, its printer and job
// folder made at the first byte, so that a device opened only for status leaves no folder.
#include "emulator_device.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "backend_mode.h"
#include "device_fault.h"
#include "emulated_printer.h"
#include "emulator_options.h"

namespace app {

namespace {

class Session {
 public:
  // out: the URI's folder, or empty for the app's preview folder.
  Session(const emu::PrinterSetup &setup, std::string out, std::string previews)
      : setup_(setup), uriOut_(std::move(out)), previews_(std::move(previews)) {}

  // A job that is not the one printing ends that one first: every job gets its own folder even
  // when PAPPL sends several over one opening, and plays its own printer's model.
  void setJob(pappl_device_t *device, const EmulatorJob &job) {
    std::lock_guard<std::mutex> guard(lock_);
    if (job.id != jobId_) finishJob(device);
    out_ = uriOut_.empty() ? previews_ + "/" + job.printer : uriOut_;
    jobId_ = job.id;
    setup_.model = job.model;
    setup_.modelName = job.modelName;
  }
  ssize_t write(pappl_device_t *device, const void *data, size_t n) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!start(device)) return -1;
    printer_->receive(static_cast<const unsigned char *>(data), n, now());
    if (!printer_->stopped()) return static_cast<ssize_t>(n);
    reportDeviceFault(device, printer_->streamError());
    return -1;
  }
  // Never waits: the job's back channel polls.
  ssize_t read(void *data, size_t n) {
    std::lock_guard<std::mutex> guard(lock_);
    if (printer_) printer_->tick(now());
    const size_t got = std::min(n, reports_.size());
    std::memcpy(data, reports_.data(), got);
    reports_.erase(0, got);
    return static_cast<ssize_t>(got);
  }
  void drain() {
    std::lock_guard<std::mutex> guard(lock_);
    if (printer_) printer_->drain(now());
  }
  bool endJob(pappl_device_t *device) {
    std::lock_guard<std::mutex> guard(lock_);
    return finishJob(device);
  }

 private:
  double now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  bool start(pappl_device_t *device) {
    if (printer_) return true;
    if (failed_) return false;
    std::string error;
    if (out_.empty()) out_ = previews_ + "/unknown";
    folder_ = emu::OutputFolder::job(out_, std::to_string(jobId_), setup_.limits, nullptr, error);
    if (!folder_) {
      reportDeviceFault(device, error);
      failed_ = true;
      return false;
    }
    start_ = std::chrono::steady_clock::now();
    printer_ = std::make_unique<emu::EmulatedPrinter>(setup_, *folder_, folder_.get());
    printer_->sendReport = [this](const std::string &bytes) { reports_ += bytes; };
    return true;
  }
  // The emulated printer decodes the rest of the job's stream; false (the device's fault set)
  // when it was no printable job for its model.
  bool finishJob(pappl_device_t *device) {
    const bool ok = !failed_ && (!printer_ || printer_->finish(now()));
    if (printer_ && !ok) reportDeviceFault(device, printer_->streamError());
    printer_.reset();
    folder_.reset();
    reports_.clear();
    failed_ = false;
    return ok;
  }

  emu::PrinterSetup setup_;
  const std::string uriOut_;
  std::string out_;
  std::string previews_;
  std::mutex lock_;  // the job's thread writes, its monitor thread reads
  int jobId_ = 0;
  std::string reports_;
  std::unique_ptr<emu::OutputFolder> folder_;
  std::unique_ptr<emu::EmulatedPrinter> printer_;
  bool failed_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

struct Registry {
  std::mutex lock;
  std::string defaultOut;
  std::set<Session *> sessions;
};

Registry &registry() {
  static Registry r;
  return r;
}

Session *sessionOf(pappl_device_t *device) {
  Registry &r = registry();
  void *data = papplDeviceGetData(device);
  std::lock_guard<std::mutex> guard(r.lock);
  auto found = r.sessions.find(static_cast<Session *>(data));
  return found == r.sessions.end() ? nullptr : *found;
}

bool listDevices(pappl_device_cb_t cb, void *data, pappl_deverror_cb_t, void *) {
  std::string uri = std::string(kEmulatorScheme) + ":/";
  return cb("RX5K printer emulator", uri.c_str(), "MFG:RX5K;MDL:Emulator;CMD:RX5K;", data);
}

bool openDevice(pappl_device_t *device, const char *uri, const char *) {
  std::vector<std::string> args;
  std::string error;
  emu::EmulatorOptions options;
  options.outDir.clear();
  if (!emu::backendArgsFromUri(uri, args, error)) {
    reportDeviceFault(device, error);
    return false;
  }
  args.push_back("--backend");
  if (!emu::parseEmulatorArgs(args, options, error)) {
    reportDeviceFault(device, "device URI: " + error);
    return false;
  }
  Registry &r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  emu::PrinterSetup setup;
  setup.script = options.printer;
  setup.labelRowBytes = options.labelRowBytes;
  setup.limits = options.limits;
  setup.model = -1;  // the job's printer tells it (setEmulatorJob)
  auto *session = new Session(setup, options.outDir, r.defaultOut);
  r.sessions.insert(session);
  papplDeviceSetData(device, session);
  return true;
}

void closeDevice(pappl_device_t *device) {
  Session *session = sessionOf(device);
  if (!session) return;
  session->endJob(device);
  forgetDeviceFault(device);
  Registry &r = registry();
  {
    std::lock_guard<std::mutex> guard(r.lock);
    r.sessions.erase(session);
  }
  delete session;
}

ssize_t readDevice(pappl_device_t *device, void *buffer, size_t n) {
  Session *session = sessionOf(device);
  return session ? session->read(buffer, n) : -1;
}

ssize_t writeDevice(pappl_device_t *device, const void *buffer, size_t n) {
  Session *session = sessionOf(device);
  return session ? session->write(device, buffer, n) : -1;
}

pappl_preason_t deviceStatus(pappl_device_t *) {
  return PAPPL_PREASON_NONE;
}

char *deviceId(pappl_device_t *, char *buffer, size_t size) {
  std::snprintf(buffer, size, "MFG:RX5K;MDL:Emulator;CMD:RX5K;");
  return buffer;
}

}  // namespace

void registerEmulatorScheme(const std::string &defaultOut) {
  registry().defaultOut = defaultOut;
  // PAPPL adds its own schemes (usb, socket, ...) on first use of its scheme list unless a scheme
  // is already there: a first look makes it add them before ours.
  papplDeviceIsSupported("socket://localhost");
  papplDeviceAddScheme(kEmulatorScheme, PAPPL_DEVTYPE_CUSTOM_LOCAL, listDevices, openDevice,
                       closeDevice, readDevice, writeDevice, deviceStatus, deviceId);
}

void setEmulatorJob(pappl_device_t *device, const EmulatorJob &job) {
  if (Session *session = sessionOf(device)) session->setJob(device, job);
}

bool endEmulatorJob(pappl_device_t *device) {
  Session *session = sessionOf(device);
  return !session || session->endJob(device);
}

void drainEmulator(pappl_device_t *device) {
  if (Session *session = sessionOf(device)) session->drain();
}

}  // namespace app
