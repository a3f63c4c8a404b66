// Shared set-up of the thermal tests: captured output, a scripted printer on a virtual clock,
// fresh command arrays and status record, page headers and marked PPDs.
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "driver/job.h"
#include "monitor/queries.h"
#include "monitor/status.h"
#include "support/capture.h"
#include "support/raster_file.h"
#include "support/scripted_channel.h"
#include "support/test_ppd.h"
#include "thermal/commands.h"
#include "thermal/page_setup.h"

using rastertest::rasterHeader;

inline std::string bytes(std::initializer_list<unsigned char> b) {
  return std::string(b.begin(), b.end());
}

// The printer stream without the status queries (1F 11 11, 1F 11 12, 1F 11 43).
inline std::string withoutQueries(const std::string &s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    if (i + 2 < s.size() && s[i] == '\x1F' && s[i + 1] == '\x11' &&
        (s[i + 2] == '\x11' || s[i + 2] == '\x12' || s[i + 2] == '\x43')) {
      i += 3;
    } else {
      out += s[i++];
    }
  }
  return out;
}

struct MarkedOption {
  std::string keyword;
  std::string choice;
  bool marked = true;  // false: *Default names no choice, so nothing is marked
};

using Ppd = std::unique_ptr<ppd_file_t, void (*)(ppd_file_t *)>;

// A PPD of the model number, ModelName and options, each with the one choice the test wants
// marked (or left unmarked), opened with its defaults marked.
inline Ppd markedPpd(int modelNumber, const std::string &modelName,
                     const std::vector<MarkedOption> &options) {
  ppdtest::TestPpd definition;
  definition.modelNumber = modelNumber;
  definition.modelName = modelName;
  for (const MarkedOption &o : options)
    definition.options.push_back({o.keyword, {o.choice}, o.marked ? o.choice : "Unlisted"});
  const std::string text = ppdtest::ppdText(definition);
  FILE *file = tmpfile();  // the PPD reader wants a file with a descriptor
  if (file) fputs(text.c_str(), file), rewind(file);
  Ppd ppd(file ? ppdOpen(file) : nullptr, ppdClose);
  if (file) fclose(file);
  EXPECT_NE(ppd, nullptr) << text;
  if (ppd) ppdMarkDefaults(ppd.get());
  return ppd;
}

// The scripted printer, plus where the stream stood at every drain.
class ThermalPrinter : public ScriptedChannel {
 public:
  explicit ThermalPrinter(CapturedIO &io) : ScriptedChannel(io), io_(io) {}
  void drain(double timeout) override {
    ScriptedChannel::drain(timeout);
    drainedAt.push_back(io_.printer().size());
  }
  void sleepMs(unsigned ms) override {
    ScriptedChannel::sleepMs(ms);
    // A wait that never ends would hang the suite: after a virtual hour the job is cancelled,
    // and the test fails on what it expected instead.
    if (now() > 3600) Canceled = 1;
  }
  std::vector<size_t> drainedAt;

 private:
  CapturedIO &io_;
};

class ThermalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetThermalCommands();
    Canceled = 0;
    Page = 1;
    ModelNumber = 22;
    mymonInit();  // paused monitor, nothing reported yet
    mymon.nonePaper = 0;
    mymon.Exception = 0;
    // A printer that is ready at once, for the models that wait.
    printer.script(0x11, {report::paperIn});
    printer.script(0x12, {report::coverClosed});
    printer.script(0x43, {report::idle});
  }
  void TearDown() override {
    Canceled = 0;
    resetThermalCommands();
  }

  // One page set-up of the model with the options; returns the commands it sent (queries left
  // out).
  std::string startPage(int model, const std::vector<MarkedOption> &options,
                        const char *pageSize = "A4", const char *modelName = "RX5K",
                        unsigned dpi = 203) {
    ModelNumber = model;
    Ppd ppd = markedPpd(model, modelName, options);
    cups_page_header2_t header = rasterHeader(8, 1, dpi, rastertest::RasterColor::Rgb, pageSize);
    size_t before = io.printer().size();
    thermalStartPage(ppd.get(), &header);
    return withoutQueries(io.printer().substr(before));
  }

  CapturedIO io;
  ThermalPrinter printer{io};
};
