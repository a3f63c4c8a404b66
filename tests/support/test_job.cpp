// The scripted printer of step tests: queries are answered at the drain that follows them.
#include "support/test_job.h"

#include <algorithm>
#include <cstring>

#include "support/raster_file.h"
#include "support/reports.h"

TestJob::TestJob(int model, const std::vector<std::pair<std::string, std::string>> &marked,
                 const std::string &modelName)
    : job({*this, logSink, *this, *this}) {
  for (const auto &[keyword, choice] : marked) choices.choices[keyword] = choice;
  job.choices = &choices;
  job.modelName = modelName;
  job.setModel(model);
  job.printer = choosePrinter(job);
  job.Page = 1;
  mymonInit(job);
  script(0x11, {report::paperIn});
  script(0x12, {report::coverClosed});
  script(0x43, {report::idle});
}

void TestJob::script(unsigned char code, std::vector<std::string> replies) {
  replies_[code] = std::move(replies);
  used_[code] = 0;
}

Page TestJob::page(unsigned width, unsigned height, const char *pageSize, unsigned dpi) const {
  Page p;
  p.header = rastertest::rasterHeader(width, height, dpi, rastertest::RasterColor::Rgb, pageSize);
  return p;
}

std::string TestJob::stream() {
  job.prn.flush();
  return received_;
}

bool TestJob::write(const void *data, size_t n) {
  received_.append(static_cast<const char *>(data), n);
  return true;
}

ssize_t TestJob::backRead(unsigned char *buf, size_t n, double timeout, bool) {
  if (readable_.empty()) {
    now += timeout;
    return 0;
  }
  const size_t k = std::min(n, readable_.size());
  std::memcpy(buf, readable_.data(), k);
  readable_.erase(0, k);
  return static_cast<ssize_t>(k);
}

void TestJob::drain(double, const std::function<bool()> &) {
  drains++;
  const size_t end = received_.size();
  drainedAt.push_back(end);
  // A query is the three bytes just before a drain, sent since the drain before.
  const size_t since = drainedAt.size() > 1 ? drainedAt[drainedAt.size() - 2] : 0;
  if (end < since + 3 || received_[end - 3] != '\x1F' || received_[end - 2] != '\x11') return;
  const unsigned char code = static_cast<unsigned char>(received_[end - 1]);
  if (code != 0x11 && code != 0x12 && code != 0x43) return;
  queries.push_back(code);
  std::string reply;
  if (!(answerer && answerer(code, static_cast<int>(queries.size()), reply))) {
    const std::vector<std::string> &list = replies_[code];
    if (!list.empty()) reply = list[std::min(used_[code]++, list.size() - 1)];
  }
  readable_ += reply;
}

void TestJob::sleepMs(unsigned ms) {
  if (onWait) onWait();
  now += ms / 1000.0;
  // A wait that never ends would hang the suite: after a virtual hour the job is cancelled,
  // and the test fails on what it expected instead.
  if (now > 3600) job.Canceled = 1;
}

bool TestJob::waitFor(double seconds, const std::function<bool()> &ready) {
  if (ready()) return true;
  if (onWait) onWait();
  now += seconds;
  return ready();
}
