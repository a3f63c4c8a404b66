// Helpers of the label tests: a PPD with the label options marked as a job would mark them,
// page headers, and a driver-like run of the label page steps that captures the printer bytes.
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/job.h"
#include "labels/labels.h"
#include "support/raster_file.h"
#include "support/test_ppd.h"
#include "thermal/page_setup.h"

using Ppd = std::unique_ptr<ppd_file_t, void (*)(ppd_file_t *)>;

// The label options with "Default" chosen; the job options string (e.g. "zePrintRate=4
// zeMediaTracking=Web") marks choices after the defaults.
inline Ppd labelPpd(const std::string &jobOptions = "") {
  ppdtest::TestPpd definition;
  definition.modelNumber = 18;
  definition.options = {
      {"zePrintRate", {"Default", "2", "2.5", "3", "4"}, "Default"},
      {"inPrintMode", {"Default", "Standard", "Tear", "Peel"}, "Default"},
      {"zeMediaTracking", {"Default", "Continuous", "Web", "Mark"}, "Default"},
      {"zePrintMode", {"Default", "Saved", "Tear", "Peel", "Rewind", "Applicator"}, "Default"},
      {"zeErrorReprint", {"Default", "Always", "Never"}, "Default"},
  };
  const std::string text = ppdtest::ppdText(definition);
  FILE *file = tmpfile();  // the PPD reader wants a file with a descriptor
  if (file) fputs(text.c_str(), file), rewind(file);
  Ppd ppd(file ? ppdOpen(file) : nullptr, ppdClose);
  if (file) fclose(file);
  EXPECT_NE(ppd, nullptr);
  if (!ppd) return ppd;
  ppdMarkDefaults(ppd.get());
  cups_option_t *options = nullptr;
  int count = cupsParseOptions(jobOptions.c_str(), 0, &options);
  cupsMarkOptions(ppd.get(), count, options);
  cupsFreeOptions(count, options);
  return ppd;
}

// A header as the raster gives it for a label page of width × height dots (RGB rows), with a
// row step and an advance that only the options that ask for them may use.
inline cups_page_header2_t labelHeader(unsigned width, unsigned height) {
  cups_page_header2_t h = rastertest::rasterHeader(width, height);
  h.cupsRowStep = 200;
  h.AdvanceDistance = 1000;
  return h;
}

// A finished page: one byte per dot, 0 black, 255 white.
struct DotPage {
  unsigned width = 0;
  unsigned height = 0;
  std::vector<unsigned char> dots;
};

// One page as the driver runs it: labelStartPage with the raster header, then every row with
// the header after the pipeline (width rounded up to a multiple of 8, the new columns white),
// labelEndPage. Writes to the current printer stream.
inline void runLabelPage(ppd_file_t *ppd, cups_page_header2_t header, const DotPage &page) {
  labelStartPage(ppd, &header);
  ASSERT_TRUE(allocateRowBuffer(header.cupsBytesPerLine));
  header.cupsWidth = (page.width + 7) & ~7u;
  header.cupsHeight = page.height;
  std::vector<unsigned char> row(header.cupsWidth, 255);
  for (unsigned y = 0; y < page.height; y++) {
    std::memcpy(row.data(), &page.dots[size_t(y) * page.width], page.width);
    Buffer = row.data();
    labelOutputLine(ppd, &header, static_cast<int>(y));
  }
  Buffer = nullptr;
  releaseRowBuffer();
  labelEndPage(ppd, &header);
}

// The job-level bytes of the driver's job set-up for models 0 and 32.
inline std::string jobLevelBytes(int model) {
  if (model == 0) return std::string(100, '\033') + "\033@";
  return model == 32 ? "\033E" : "";
}
