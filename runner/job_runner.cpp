// The in-process job: the printer stream into the emulated printer, its reports back through an
// in-memory back channel, drains answered at once, every wait on the virtual clock.
#include "job_runner.h"

#include <cups/ppd.h>
#include <cups/raster.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "driver/job.h"
#include "emulator_job.h"
#include "virtual_clock.h"

namespace runner {

namespace {

// The raster as a descriptor the filter reads like standard input (or names as a file).
int rasterDescriptor(const std::string &raster) {
  int fd = memfd_create("raster", MFD_CLOEXEC);
  if (fd < 0) return -1;
  size_t done = 0;
  while (done < raster.size()) {
    ssize_t w = ::write(fd, raster.data() + done, raster.size() - done);
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
  lseek(fd, 0, SEEK_SET);
  return fd;
}

}  // namespace

EmulatedSeams::EmulatedSeams(const emu::PrinterSetup &setup, bool keepImages, bool keepStream,
                             bool keepWire)
    : keepImages_(keepImages),
      keepStream_(keepStream),
      printer_(setup, *this, keepWire ? this : nullptr) {
  printer_.sendReport = [this](const std::string &bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    reports_ += bytes;
  };
}

bool EmulatedSeams::write(const void *data, size_t n) {
  printer_.receive(static_cast<const unsigned char *>(data), n, clock.now());
  return true;
}

ssize_t EmulatedSeams::backRead(unsigned char *buf, size_t n, double timeout, bool interruptible) {
  clock.waitFor(timeout, [this, interruptible] {
    std::lock_guard<std::mutex> guard(lock_);
    return !reports_.empty() || (interruptible && interrupted_);
  });
  std::lock_guard<std::mutex> guard(lock_);
  if (interruptible) interrupted_ = false;
  const size_t got = std::min(n, reports_.size());
  std::memcpy(buf, reports_.data(), got);
  reports_.erase(0, got);
  return static_cast<ssize_t>(got);
}

void EmulatedSeams::drain(double, const std::function<bool()> &) {
  printer_.drain(clock.now());
  // A real drain waits for the backend's answer, and the monitor thread reads meanwhile.
  clock.yield();
}

void EmulatedSeams::interruptRead() {
  std::lock_guard<std::mutex> guard(lock_);
  interrupted_ = true;
}

emu::SinkStatus EmulatedSeams::page(emu::PrintedPage &page, std::string &) {
  if (!keepImages_) page.image = emu::GrayImage{page.image.width, page.image.height, {}};
  pages.push_back(std::move(page));
  return emu::SinkStatus::Ok;
}

emu::SinkStatus EmulatedSeams::stream(const unsigned char *data, size_t n, std::string &) {
  if (keepStream_) bytes.append(reinterpret_cast<const char *>(data), n);
  return emu::SinkStatus::Ok;
}

emu::SinkStatus EmulatedSeams::line(std::string_view text, std::string &) {
  wire.emplace_back(text);
  return emu::SinkStatus::Ok;
}

JobResult runJob(const JobSpec &spec) {
  const int fd = rasterDescriptor(spec.raster);
  emu::PrinterSetup setup;
  setup.script = spec.printer;
  setup.labelRowBytes = spec.labelRowBytes;
  std::string error;
  if (spec.model >= 0)
    setup.model = spec.model;
  else if (!emu::readPpdSetup(spec.ppd, spec.jobOptions, setup, error))
    setup.model = -1;
  // Model 20's stream does not carry its row length: its printer knows it from its labels, here
  // the raster's first page.
  if (modelFacts(setup.model).language == LabelLanguage::PrintRows && spec.labelRowBytes <= 0 &&
      fd >= 0) {
    if (const int rowBytes = emu::rowBytesOfFirstPage(fd)) setup.labelRowBytes = rowBytes;
  }

  EmulatedSeams link(setup, spec.keepImages, spec.keepStream, spec.keepWire);
  VirtualClock &clock = link.clock;
  std::atomic<int> canceled{0};
  int bitmapsStarted = 0;
  link.printer().pageStarted = [&](int page) {
    bitmapsStarted = page;
    if (page == spec.cancelAtPage) canceled = 1;
  };
  bool timedOut = false;
  clock.nextEvent = [&] {
    double next = link.printer().nextWakeup();
    for (double t : {spec.cancelAfter, spec.timeLimit})
      if (t >= 0 && !canceled && (next < 0 || t < next)) next = t;
    return next;
  };
  clock.fireEvents = [&](double t) {
    link.printer().tick(t);
    if (spec.cancelAfter >= 0 && t >= spec.cancelAfter) canceled = 1;
    if (t >= spec.timeLimit && !canceled) {
      canceled = 1;
      timedOut = true;
    }
  };

  FilterEnvironment environment{link.seams()};
  environment.ppdPath = spec.ppd.c_str();
  environment.language = spec.language;
  environment.canceled = &canceled;
  int pagesSent = 0;
  environment.pagesSent = &pagesSent;
  environment.inputFd = fd;
  std::string path = "/proc/self/fd/" + std::to_string(fd);
  std::vector<std::string> args = {"rx5k-emu", "1", "user", "title", "1", spec.jobOptions};
  if (spec.rasterAsFile) args.push_back(path);
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  clock.enter();
  const int status = rastertoRX5K(static_cast<int>(args.size()), argv.data(), environment);
  clock.leave();
  if (fd >= 0) close(fd);

  JobResult result;
  result.streamOk = link.printer().finish(clock.now());
  result.stream = std::move(link.bytes);
  result.wire = std::move(link.wire);
  result.pages = std::move(link.pages);
  result.streamError = link.printer().streamError();
  result.exitStatus = status;
  result.pagesSent = pagesSent;
  result.log = link.log.text();
  result.timedOut = timedOut;
  result.seconds = clock.now();
  result.switches = clock.switches();
  return result;
}

}  // namespace runner
