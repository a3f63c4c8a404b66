// The thermal printers' language: one bitmap per page after a set-up that waits for a ready
// printer and sends the page's options. The printer owns the command bytes, patched from page to
// page, the tracking mode and paper code they carry, and the compressor's scratch.
#pragma once

#include <cstdint>
#include <string>

#include "base/page.h"
#include "base/page_memory.h"
#include "base/printer_language.h"
#include "monitor/status.h"
#include "thermal/commands.h"

class ThermalPrinter : public PrinterLanguage, public ThermalCommands {
 public:
  explicit ThermalPrinter(MonitorJob &job) : job(job) {}

  void beforePage() override;
  bool pageFits(const Page &page, std::string &reason) const override;
  bool continuousMedia(const Page &page) const override;
  void startPage(Page &page) override;
  bool startRows(Page &page, std::string &reason) override;
  void row(Page &page, int y) override;
  PageResult endPage(Page &page) override;
  void endJob() override;
  void waitJobDone() override;

  // The media-tracking byte (bCmdGap[2]) as the page's set-up leaves it, without sending
  // anything.
  unsigned char gapModeForPage(const cups_page_header2_t &header) const;
  // Sends the page bitmap sendBuf ((header.cupsWidth + 7) / 8 bytes per row, header.cupsHeight
  // rows, sendBufSize bytes in all) and releases it; the wait after the page where the model
  // needs it.
  PageResult transmitBitmap(const Page &page);

  MonitorJob &job;
  // The page bitmap the rows are packed into, allocated by startRows and released once sent.
  DotBuffer sendBuf;
  size_t sendBufSize = 0;
  DotBuffer compressWork;  // kept from page to page: fresh memory would cost its page faults

 private:
  void feed(unsigned char code);   // bCmdAfter with its feed code, flushed
  bool afterFeedPending_ = false;  // a custom page was fed out; the job's end feeds back
};
