// Label jobs for the tests: a job of one model whose printer stream and scheduler lines are kept,
// with its choices as a map, and one page run as the driver runs it.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "driver/job.h"
#include "labels/labels.h"
#include "support/raster_file.h"

// No printer answers: the label languages neither read nor drain.
class NoChannel : public Channel {
 public:
  ssize_t backRead(unsigned char *, size_t, double, bool) override { return -1; }
  void drain(double, const std::function<bool()> &) override {}
  void interruptRead() override {}
};

// A job of model on its first page, its options marked as given ({"zePrintRate", "4"}, ...),
// its stream begun with the job set-up's bytes.
struct LabelJob {
  explicit LabelJob(int model, std::map<std::string, std::string> marked = {}) {
    choices.choices = std::move(marked);
    job.choices = &choices;
    job.setModel(model);
    job.Page = 1;
    Setup(job, nullptr);
  }
  std::string stream() { return job.prn.flush(), printer.bytes; }

  StringSink printer;
  StringLogSink log;
  NoChannel channel;
  RealClock clock;
  ChoiceMap choices;
  Job job{JobSeams{printer, log, channel, clock}};
};

// What one page sent: its prologue, its rows and its end.
struct LabelRun {
  std::string prologue, rows, end;
};

// One page as the driver runs it: the prologue with the raster's header, every row of the
// finished page (dots: header.cupsWidth x header.cupsHeight, 0 black, 255 white), the page end.
// The rows keep the raster's width rather than the pipeline's pad to whole bytes, so that the
// packing of a last, partial byte is part of what the rows show.
inline LabelRun runLabel(LabelJob &lj, const cups_page_header2_t &header,
                         const std::vector<unsigned char> &dots) {
  const size_t before = lj.stream().size();
  Page page;
  page.header = header;
  labelStartPage(lj.job, page);
  page.dots = allocateDots(dots.size() + 1);
  std::copy(dots.begin(), dots.end(), page.dots.get());
  const size_t prologueEnd = lj.stream().size();
  for (unsigned y = 0; y < header.cupsHeight; y++)
    labelOutputLine(lj.job, page, static_cast<int>(y));
  const size_t rowsEnd = lj.stream().size();
  labelEndPage(lj.job, page);
  const std::string all = lj.stream();
  return {all.substr(before, prologueEnd - before), all.substr(prologueEnd, rowsEnd - prologueEnd),
          all.substr(rowsEnd)};
}

// A page whose rows are given as packed bytes (bit 7 the leftmost dot, 1 black), 8n dots wide.
inline LabelRun runPackedRows(LabelJob &lj, const std::vector<std::string> &rows) {
  const size_t n = rows.empty() ? 1 : rows[0].size();
  std::vector<unsigned char> dots(8 * n * rows.size(), 255);
  for (size_t y = 0; y < rows.size(); y++)
    for (size_t x = 0; x < 8 * n; x++)
      if (static_cast<unsigned char>(rows[y][x / 8]) & (0x80 >> (x % 8))) dots[y * 8 * n + x] = 0;
  return runLabel(lj, rastertest::rasterHeader(unsigned(8 * n), unsigned(rows.size())), dots);
}
