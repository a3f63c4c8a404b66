// Helpers of the label tests: PPD files with chosen options, page headers, and a driver-like
// run of the label page steps over a page of dots that captures the printer bytes.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <cups/ppd.h>
#include <cups/raster.h>

// A PPD with the label options, each with the choices the tests use; the job options string
// (e.g. "zePrintRate=4 zeMediaTracking=Web") marks choices after the defaults ("Default").
class TestPpd {
 public:
  explicit TestPpd(const std::string &jobOptions = "");
  ~TestPpd();
  TestPpd(const TestPpd &) = delete;
  TestPpd &operator=(const TestPpd &) = delete;
  ppd_file_t *get() const { return ppd_; }

 private:
  ppd_file_t *ppd_ = nullptr;
};

// A header as the raster gives it for a label page of width × height dots (RGB rows).
cups_page_header2_t labelHeader(unsigned width, unsigned height);

// A finished page: one byte per dot, 0 black, 255 white.
struct DotPage {
  unsigned width = 0;
  unsigned height = 0;
  std::vector<unsigned char> dots;
};

// Runs one page as the driver does: labelStartPage with the raster header, the common end,
// every row with the header after the pipeline (width rounded up to a multiple of 8, the new
// columns white), labelEndPage. Writes to the current printer stream.
void runLabelPage(ppd_file_t *ppd, cups_page_header2_t header, const DotPage &page);

// The job-level bytes of the driver's job set-up for models 0 and 32.
std::string jobLevelBytes(int model);
