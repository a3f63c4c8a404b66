// The thermal printers' page road around the set-up and the transmission: the pause between
// pages, the page's fit in the bitmap command, the page bitmap the rows are packed into, the
// page end and the job's trailer.
#include "thermal/thermal_printer.h"

#include <cstring>

#include "base/header_fields.h"
#include "monitor/queries.h"
#include "pipeline/packing.h"
#include "pipeline/pipeline.h"
#include "thermal/transmission.h"

void ThermalPrinter::beforePage() {
  if (job.Page <= 1 || !job.model->pauseBetweenPages) return;
  // A second at a time, so that a cancel ends it.
  for (int i = 0; i < 3; i++) {
    if (job.canceled()) return;
    sleepSeconds(job, 1);
  }
}

bool ThermalPrinter::continuousMedia(const Page &page) const {
  return gapModeForPage(page.header) == kContinuousMedia;
}

bool ThermalPrinter::pageFits(const Page &page, std::string &reason) const {
  const GeometryParams p =
      geometryParams(page.header, job.ModelNumber, job.modelName.c_str(), continuousMedia(page));
  int64_t width = 0, height = 0;
  return finishedPageSizeOf(page.header, p, width, height, reason) &&
         bitmapCommandFits(width, height, reason);
}

bool ThermalPrinter::startRows(Page &page, std::string &reason) {
  if (page.paperCode >= 0) bCmdPaper[3] = static_cast<unsigned char>(page.paperCode);
  const uint64_t bytewidth = (static_cast<uint64_t>(page.header.cupsWidth) + 7) / 8;
  uint64_t buffersize = 0;
  if (!checkedMul(bytewidth, page.header.cupsHeight, buffersize) ||
      !(sendBuf = allocateDots(buffersize))) {
    reason = "cannot allocate the page bitmap of " + std::to_string(buffersize) + " bytes";
    return false;
  }
  std::memset(sendBuf.get(), 0, buffersize);
  sendBufSize = buffersize;
  return true;
}

void ThermalPrinter::row(Page &page, int y) {
  // A cancelled page leaves its rows blank; it is dropped before transmission anyway.
  if (job.canceled()) return;
  const size_t bytewidth = (static_cast<size_t>(page.header.cupsWidth) + 7) / 8;
  packRow(page.finishedRow(static_cast<unsigned>(y)), static_cast<int>(page.header.cupsWidth),
          sendBuf.get() + bytewidth * static_cast<size_t>(y));
}

PageResult ThermalPrinter::endPage(Page &page) {
  const PageResult sent = transmitBitmap(page);
  if (sent != PageResult::Sent) return sent;
  // These printers report the paper state anew for every sheet: forget the last one.
  if (job.model->paperResetAtPageEnd) job.mymon.paperstatus = 0;
  job.prn.flush();
  if (job.model->feedAfterCustomPage && bCmdGap[2] == kContinuousMedia &&
      !headerStringIs(page.header.cupsPageSizeName, "A4") &&
      !headerStringIs(page.header.cupsPageSizeName, "Letter")) {
    feed(0x01);
    afterFeedPending_ = true;
  }
  return PageResult::Sent;
}

void ThermalPrinter::endJob() {
  // A page cut short (cancelled, or its transmission failed) kept its bitmap: it goes before the
  // waits.
  sendBuf.reset();
  if (job.model->feedAtJobEnd) feed(0x02);
  if (afterFeedPending_) feed(0x02);
}

void ThermalPrinter::feed(unsigned char code) {
  bCmdAfter[2] = code;
  job.prn.write(bCmdAfter, sizeof bCmdAfter);
  job.prn.flush();
}

void ThermalPrinter::waitJobDone() {
  if (!job.model->idleWaitAtJobEnd) return;
  setMonitorStatus(job, 1);
  waitFree(job);
}
