// The page image pipeline: capture, effects, tone conversion and geometry of one page, leaving
// the finished black-and-white page (one byte per dot, 0 black, 255 white).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <cups/ppd.h>
#include <cups/raster.h>

// Reads one raster row like cupsRasterReadPixels: returns the bytes read, 0 at the end.
using RowReader = std::function<unsigned(unsigned char *row, unsigned length)>;

struct FreeDeleter {
  void operator()(unsigned char *p) const;
};
using DotBuffer = std::unique_ptr<unsigned char[], FreeDeleter>;

// The finished page: header->cupsWidth × header->cupsHeight dots, row-major.
struct FinishedPage {
  DotBuffer dots;
  int width = 0;
  int height = 0;
};

// Runs the pipeline on the page whose header was read; reads its rows through read into the
// row buffer Buffer, which it then releases. Settings come from the job and page globals.
// Rewrites header->cupsWidth and header->cupsHeight with the finished size. Returns false, with
// a reason for the scheduler, when a page buffer cannot be had.
bool runPagePipeline(const RowReader &read, cups_page_header2_t *header, const char *modelName,
                     FinishedPage &page, std::string &error);

// The size runPagePipeline will give the page whose header was read, with gapMode the
// media-tracking byte its set-up leaves; false with a reason when its geometry has no number.
bool finishedPageSizeOf(const cups_page_header2_t &header, const char *modelName,
                        unsigned char gapMode, int64_t &width, int64_t &height, std::string &error);
