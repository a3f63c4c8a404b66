// Thermal page set-up: per model the wait for a ready printer, the page options read from the
// choices and the set-up commands they ask for.
#include "thermal/page_setup.h"

#include "thermal/thermal_printer.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/choices.h"
#include "base/header_fields.h"
#include "monitor/queries.h"

namespace {

bool isStandardPageSize(const cups_page_header2_t &header) {
  return headerStringIs(header.cupsPageSizeName, "A4") ||
         headerStringIs(header.cupsPageSizeName, "Letter");
}

int clampedDots(double dots) {
  constexpr double kLimit = 1e6;
  if (dots < -kLimit) return static_cast<int>(-kLimit);
  if (dots > kLimit) return static_cast<int>(kLimit);
  return static_cast<int>(dots);
}

// The form of the 64519 printers: the integer product first, then the division.
int millimetresToDotsProductFirst(int mm, unsigned dpi) {
  long long product = static_cast<long long>(dpi) * mm;  // fits: 2^32 * 2^31 < 2^63
  return clampedDots(static_cast<double>(product) / 25.4);
}

// A pause of a ready wait; none once the job is cancelled, so that a cancel ends the set-up
// within the current query or pause instead of after every pause still to come.
void pauseUnlessCanceled(MonitorJob &job, unsigned ms) {
  if (!job.canceled()) mysleep(job, ms);
}

// ---- Ready waits. Each returns false when the job was cancelled and the set-up must stop. ----

// Asks for the paper until the printer reports it loaded, one second between tries.
void pollUntilPaperLoaded(MonitorJob &job) {
  while (GetPaperStatus(job) != 1) {
    if (job.canceled()) return;
    sleepSeconds(job, 1);
  }
}

// Paper loaded on two checks 1.1 s apart.
bool waitPaperTwice(MonitorJob &job) {
  if (job.canceled()) return false;
  job.log.message("mytest：entry RX5K start page\n");
  pollUntilPaperLoaded(job);
  pauseUnlessCanceled(job, 1100);
  pollUntilPaperLoaded(job);
  if (job.canceled()) return false;
  mysleep(job, 1500);
  return true;
}

// Idle, the previous sheet gone (unless the cover was opened meanwhile), then paper loaded with
// the cover closed.
bool waitSheetGoneAndReady(MonitorJob &job) {
  if (job.canceled()) return false;
  job.mymon.nonePaper = 0;
  waitFree(job);
  if (job.Page > 1 && job.mymon.Exception == 0) {
    // An out-of-paper report after the idle report means the last sheet has left.
    for (;;) {
      GetPaperStatus(job);
      if (job.mymon.nonePaper != 0 || job.canceled()) break;
      mysleep(job, 500);
    }
    pauseUnlessCanceled(job, 1000);
  }
  for (;;) {
    if (GetPaperStatus(job) == 1) {
      if (GetCoverStatus(job) == 0) break;
      // The cover was open: wait for it to close, then check the paper again.
      do {
        sleepSeconds(job, 1);
      } while (GetCoverStatus(job) != 0);
    }
    if (job.canceled()) break;
    sleepSeconds(job, 1);
  }
  pauseUnlessCanceled(job, 2000);
  return !job.canceled();
}

// Paper loaded and cover closed, the paper confirmed 1.1 s later.
bool waitPaperAndCover(MonitorJob &job) {
  for (;;) {
    int paper = GetPaperStatus(job);
    if (job.canceled()) break;
    if (paper == 1 && GetCoverStatus(job) == 0) {
      pauseUnlessCanceled(job, 1100);
      if (GetPaperStatus(job) == 1) break;
    }
    pauseUnlessCanceled(job, 1000);
  }
  if (job.canceled()) return false;
  mysleep(job, 1800);
  return true;
}

// Idle, then cover closed and paper loaded on two one-second polls in a row. Cancellation only
// ends the polling; the options still follow.
bool waitIdleThenReadyTwice(MonitorJob &job) {
  waitFree(job);
  bool paperCheck = false;
  int loopCount = 0;
  while (!job.canceled()) {
    if (GetCoverStatus(job) != 0) {
      paperCheck = false;
      continue;
    }
    if (GetPaperStatus(job) == 0 || job.mymon.Coverstatus != 0) {
      paperCheck = false;
    } else if (paperCheck) {
      break;
    } else {
      paperCheck = true;
    }
    loopCount++;
    sleepSeconds(job, 1);
  }
  if (loopCount > 1) pauseUnlessCanceled(job, 3000);
  return true;
}

// The model's wait; false when the set-up must stop because the job was cancelled.
bool waitUntilReady(MonitorJob &job) {
  switch (job.model->readyWait) {
    case ReadyWait::PaperTwice:
      return waitPaperTwice(job);
    case ReadyWait::SheetGoneAndReady:
      return waitSheetGoneAndReady(job);
    case ReadyWait::PaperAndCover:
      return !job.modelNameIs("JT64") || waitPaperAndCover(job);
    case ReadyWait::IdleThenReadyTwice:
      return waitIdleThenReadyTwice(job);
    case ReadyWait::None:
      break;
  }
  return true;
}

// ---- Option steps. ----

void stepOffsets(MonitorJob &job, Page &page) {
  page.Rotate = 0;
  page.vOffset = 0;
  page.hOffset = 0;
  const unsigned resX = page.header.HWResolution[0], resY = page.header.HWResolution[1];
  const char *h = job.markedChoice("AdjustHoriaontal");
  const char *v = job.markedChoice("AdjustVertical");
  if (job.model->offsetsProductFirst) {
    if (h) page.hOffset = millimetresToDotsProductFirst(choiceInt(h), resX);
    if (v) page.vOffset = millimetresToDotsProductFirst(choiceInt(v), resY);
    return;
  }
  if (h) {
    page.hOffset = choiceInt(h);
    job.log.message("DEBUG: AdjustHoriaontal = %d\n", page.hOffset);
  }
  if (v) {
    page.vOffset = choiceInt(v);
    job.log.message("vOffset is %d\n", page.vOffset);
  }
  page.hOffset = millimetresToDots(page.hOffset, resX);
  page.vOffset = millimetresToDots(page.vOffset, resY);
}

void stepAntiwrinkling(ThermalPrinter &printer) {
  MonitorJob &job = printer.job;
  const char *c = job.markedChoice("Antiwrinkling");
  if (!c) return;
  static const unsigned char kLevel[3] = {0x02, 0x01, 0x03};
  int a = choiceInt(c);
  if (a < 0 || a > 2) return;
  printer.bCmdAntiwrinkling[3] = kLevel[a];
  job.prn.write(printer.bCmdAntiwrinkling, sizeof printer.bCmdAntiwrinkling);
}

void stepDensity(ThermalPrinter &printer) {
  MonitorJob &job = printer.job;
  const char *c = job.markedChoice("Darkness");
  if (!c || std::strcmp(c, "Default") == 0) return;
  static const unsigned char kDensity[3] = {0x01, 0x02, 0x04};
  const DensityVariant variant = job.model->density;
  int d = choiceInt(c);
  if (d >= 0 && d <= 2) {
    printer.bCmdDensity[3] = kDensity[d];
    job.prn.write(printer.bCmdDensity, sizeof printer.bCmdDensity);
  } else if (d == 3 && variant != DensityVariant::NoSpecial) {
    job.prn.write(printer.bCmdSpecial, sizeof printer.bCmdSpecial);
  }
  if (variant == DensityVariant::SpecialDrained) SendNow(job);
  if (variant == DensityVariant::SpecialUndrained)
    job.log.message("density is %d\n", d);
  else
    job.log.message("density dis %d\n", d);
}

// The media-tracking byte the page's set-up sends, or -1 when it sends none. Where the
// tracking goes first (64519), a page size other than A4 or Letter always means continuous
// media, whatever the choice.
int mediaTrackingMode(const ThermalPrinter &printer, const cups_page_header2_t &header) {
  const MonitorJob &job = printer.job;
  const char *c = job.markedChoice("zeMediaTracking");
  if (!c) return -1;
  const bool standardSize = isStandardPageSize(header);
  int mode = printer.bCmdGap[2];
  if (!(job.model->mediaTrackingFirst && !standardSize)) {
    if (std::strcmp(c, "Default") == 0) return -1;
    if (std::strcmp(c, "Gap") == 0)
      mode = 0x0A;
    else if (std::strcmp(c, "Continuous") == 0)
      mode = kContinuousMedia;
    else if (std::strcmp(c, "BLine") == 0)
      mode = 0x26;
  }
  if (!standardSize) mode = kContinuousMedia;
  return mode;
}

void stepMediaTracking(ThermalPrinter &printer, const Page &page) {
  MonitorJob &job = printer.job;
  const int mode = mediaTrackingMode(printer, page.header);
  if (mode < 0) return;
  printer.bCmdGap[2] = static_cast<unsigned char>(mode);
  job.prn.write(printer.bCmdGap, sizeof printer.bCmdGap);
}

void stepPrintMode(ThermalPrinter &printer) {
  MonitorJob &job = printer.job;
  const char *c = job.markedChoice("PrintMode");
  if (!c) return;
  printer.bCmdMode[12] = static_cast<unsigned char>(choiceInt(c));
  job.prn.write(printer.bCmdMode, sizeof printer.bCmdMode);
  job.log.message("PrintMode is %d\n", printer.bCmdMode[12]);
}

void stepColour(MonitorJob &job, Page &page) {
  page.gray = choiceIs(job.markedChoice("ColorOption"), "GrayScale") ? 1 : 0;
}

void stepRotation(MonitorJob &job, Page &page) {
  if (const char *c = job.markedChoice("Rotate")) page.Rotate = choiceInt(c);
}

}  // namespace

unsigned char ThermalPrinter::gapModeForPage(const cups_page_header2_t &header) const {
  const int mode = job.model->mediaTracking ? mediaTrackingMode(*this, header) : -1;
  return mode < 0 ? bCmdGap[2] : static_cast<unsigned char>(mode);
}

int millimetresToDots(int mm, unsigned dpi) {
  return clampedDots(mm / 25.4 * dpi);
}

void ThermalPrinter::startPage(Page &page) {
  if (!waitUntilReady(job)) return;
  const ModelFacts &m = *job.model;
  stepOffsets(job, page);
  if (m.antiwrinkle) stepAntiwrinkling(*this);
  if (m.mediaTrackingFirst) stepMediaTracking(*this, page);
  stepDensity(*this);
  if (m.mediaTracking && !m.mediaTrackingFirst) stepMediaTracking(*this, page);
  if (m.printMode) stepPrintMode(*this);
  stepColour(job, page);
  stepRotation(job, page);
  if (m.flushAfterSetup) job.prn.flush();
}
