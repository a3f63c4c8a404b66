// Thermal page set-up: the header dump of every page, then per model the wait for a ready
// printer, the page options read from the PPD and the set-up commands they ask for.
#include "thermal/page_setup.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "driver/choices.h"
#include "driver/header_fields.h"
#include "driver/job.h"
#include "io/format.h"
#include "io/log.h"
#include "io/printer_stream.h"
#include "monitor/queries.h"
#include "monitor/status.h"
#include "thermal/commands.h"

int hOffset = 0;
int vOffset = 0;
int Rotate = 0;
int gray = 0;
unsigned char *Buffer = nullptr;
int Feed = 0;

namespace {

unsigned char *ownedRow = nullptr;

// Header strings come from the raster stream and need not be terminated: never read past the
// field.
template <size_t N>
std::string_view headerString(const char (&field)[N]) {
  return std::string_view(field, strnlen(field, N));
}

bool pageSizeIs(const cups_page_header2_t *header, std::string_view name) {
  return headerString(header->cupsPageSizeName) == name;
}

bool isStandardPageSize(const cups_page_header2_t *header) {
  return pageSizeIs(header, "A4") || pageSizeIs(header, "Letter");
}

bool canceled() {
  return Canceled.load() != 0;
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
void pauseUnlessCanceled(unsigned ms) {
  if (!canceled()) mysleep(ms);
}

// ---- Ready waits. Each returns false when the job was cancelled and the set-up must stop. ----

// Asks for the paper until the printer reports it loaded, one second between tries.
void pollUntilPaperLoaded() {
  while (GetPaperStatus() != 1) {
    if (canceled()) return;
    sleepSeconds(1);
  }
}

// Models 21, 613207, 590314: paper loaded on two checks 1.1 s apart.
bool waitPaperTwice() {
  if (canceled()) return false;
  logMessage("mytest：entry RX5K start page\n");
  pollUntilPaperLoaded();
  pauseUnlessCanceled(1100);
  pollUntilPaperLoaded();
  if (canceled()) return false;
  mysleep(1500);
  return true;
}

// Model 831: idle, the previous sheet gone (unless the cover was opened meanwhile), then paper
// loaded with the cover closed.
bool waitSheetGoneAndReady() {
  if (canceled()) return false;
  mymon.nonePaper = 0;
  waitFree();
  if (Page > 1 && mymon.Exception == 0) {
    // An out-of-paper report after the idle report means the last sheet has left.
    for (;;) {
      GetPaperStatus();
      if (mymon.nonePaper != 0 || canceled()) break;
      mysleep(500);
    }
    pauseUnlessCanceled(1000);
  }
  for (;;) {
    if (GetPaperStatus() == 1) {
      if (GetCoverStatus() == 0) break;
      // The cover was open: wait for it to close, then check the paper again.
      do {
        sleepSeconds(1);
      } while (GetCoverStatus() != 0);
    }
    if (canceled()) break;
    sleepSeconds(1);
  }
  pauseUnlessCanceled(2000);
  return !canceled();
}

// Model 302 "JT64": paper loaded and cover closed, the paper confirmed 1.1 s later.
bool waitPaperAndCover() {
  for (;;) {
    int paper = GetPaperStatus();
    if (canceled()) break;
    if (paper == 1 && GetCoverStatus() == 0) {
      pauseUnlessCanceled(1100);
      if (GetPaperStatus() == 1) break;
    }
    pauseUnlessCanceled(1000);
  }
  if (canceled()) return false;
  mysleep(1800);
  return true;
}

// Model 64519: idle, then cover closed and paper loaded on two one-second polls in a row.
// Cancellation only ends the polling; the options still follow.
void waitIdleThenReadyTwice() {
  waitFree();
  bool paperCheck = false;
  int loopCount = 0;
  while (!canceled()) {
    if (GetCoverStatus() != 0) {
      paperCheck = false;
      continue;
    }
    if (GetPaperStatus() == 0 || mymon.Coverstatus != 0) {
      paperCheck = false;
    } else if (paperCheck) {
      break;
    } else {
      paperCheck = true;
    }
    loopCount++;
    sleepSeconds(1);
  }
  if (loopCount > 1) pauseUnlessCanceled(3000);
}

// ---- Option steps. ----

void resetPageGlobals() {
  Rotate = 0;
  vOffset = 0;
  hOffset = 0;
}

void stepOffsets(ppd_file_t *ppd, const cups_page_header2_t *header) {
  resetPageGlobals();
  if (const char *c = markedChoice(ppd, "AdjustHoriaontal")) {
    hOffset = choiceInt(c);
    logMessage("DEBUG: AdjustHoriaontal = %d\n", hOffset);
  }
  if (const char *c = markedChoice(ppd, "AdjustVertical")) {
    vOffset = choiceInt(c);
    logMessage("vOffset is %d\n", vOffset);
  }
  hOffset = millimetresToDots(hOffset, header->HWResolution[0]);
  vOffset = millimetresToDots(vOffset, header->HWResolution[1]);
}

void stepOffsetsProductFirst(ppd_file_t *ppd, const cups_page_header2_t *header) {
  resetPageGlobals();
  if (const char *c = markedChoice(ppd, "AdjustHoriaontal"))
    hOffset = millimetresToDotsProductFirst(choiceInt(c), header->HWResolution[0]);
  if (const char *c = markedChoice(ppd, "AdjustVertical"))
    vOffset = millimetresToDotsProductFirst(choiceInt(c), header->HWResolution[1]);
}

void stepAntiwrinkling(ppd_file_t *ppd) {
  const char *c = markedChoice(ppd, "Antiwrinkling");
  if (!c) return;
  static const unsigned char kLevel[3] = {0x02, 0x01, 0x03};
  int a = choiceInt(c);
  if (a < 0 || a > 2) return;
  bCmdAntiwrinkling[3] = kLevel[a];
  prnWrite(bCmdAntiwrinkling, sizeof bCmdAntiwrinkling);
}

enum class DensityVariant {
  NoSpecial,         // models 22, 23, 302: choice 3 sends nothing
  SpecialDrained,    // models 21, 831, 613207, 590314: choice 3 special, always drained
  SpecialUndrained,  // models 400, 64519
};

void stepDensity(ppd_file_t *ppd, DensityVariant variant) {
  const char *c = markedChoice(ppd, "Darkness");
  if (!c || std::strcmp(c, "Default") == 0) return;
  static const unsigned char kDensity[3] = {0x01, 0x02, 0x04};
  int d = choiceInt(c);
  if (d >= 0 && d <= 2) {
    bCmdDensity[3] = kDensity[d];
    prnWrite(bCmdDensity, sizeof bCmdDensity);
  } else if (d == 3 && variant != DensityVariant::NoSpecial) {
    prnWrite(bCmdSpecial, sizeof bCmdSpecial);
  }
  if (variant == DensityVariant::SpecialDrained) SendNow();
  if (variant == DensityVariant::SpecialUndrained)
    logMessage("density is %d\n", d);
  else
    logMessage("density dis %d\n", d);
}

// The media-tracking byte a page of the set-up sends, or -1 when it sends none; current is the
// byte as the job last patched it. On the 64519 a page size other than A4 or Letter always
// means continuous media, whatever the choice.
int mediaTrackingMode(ppd_file_t *ppd, const cups_page_header2_t *header, bool customSizeAlwaysSent,
                      unsigned char current) {
  const char *c = markedChoice(ppd, "zeMediaTracking");
  if (!c) return -1;
  bool standardSize = isStandardPageSize(header);
  int mode = current;
  if (!(customSizeAlwaysSent && !standardSize)) {
    if (std::strcmp(c, "Default") == 0) return -1;
    if (std::strcmp(c, "Gap") == 0)
      mode = 0x0A;
    else if (std::strcmp(c, "Continuous") == 0)
      mode = 0x0B;
    else if (std::strcmp(c, "BLine") == 0)
      mode = 0x26;
  }
  if (!standardSize) mode = 0x0B;
  return mode;
}

void stepMediaTracking(ppd_file_t *ppd, const cups_page_header2_t *header,
                       bool customSizeAlwaysSent) {
  const int mode = mediaTrackingMode(ppd, header, customSizeAlwaysSent, bCmdGap[2]);
  if (mode < 0) return;
  bCmdGap[2] = static_cast<unsigned char>(mode);
  prnWrite(bCmdGap, sizeof bCmdGap);
}

void stepPrintMode(ppd_file_t *ppd) {
  const char *c = markedChoice(ppd, "PrintMode");
  if (!c) return;
  bCmdMode[12] = static_cast<unsigned char>(choiceInt(c));
  prnWrite(bCmdMode, sizeof bCmdMode);
  logMessage("PrintMode is %d\n", bCmdMode[12]);
}

void stepColour(ppd_file_t *ppd) {
  gray = 0;
  const char *c = markedChoice(ppd, "ColorOption");
  if (c && std::strcmp(c, "GrayScale") == 0) gray = 1;
}

void stepRotation(ppd_file_t *ppd) {
  if (const char *c = markedChoice(ppd, "Rotate")) Rotate = choiceInt(c);
}

// ---- Branches. ----

// Models 21, 831, 613207, 590314, after their wait.
void sheetModelOptions(ppd_file_t *ppd, const cups_page_header2_t *header) {
  stepOffsets(ppd, header);
  stepAntiwrinkling(ppd);
  stepDensity(ppd, DensityVariant::SpecialDrained);
  stepColour(ppd);
  stepRotation(ppd);
}

// Models 22 and 400: density only.
void densityModelOptions(ppd_file_t *ppd, const cups_page_header2_t *header,
                         DensityVariant variant) {
  stepOffsets(ppd, header);
  stepDensity(ppd, variant);
  stepColour(ppd);
  stepRotation(ppd);
  prnFlush();
}

// Models 23 and 302.
void mediaModelOptions(ppd_file_t *ppd, const cups_page_header2_t *header) {
  stepOffsets(ppd, header);
  stepDensity(ppd, DensityVariant::NoSpecial);
  stepMediaTracking(ppd, header, false);
  stepPrintMode(ppd);
  stepColour(ppd);
  stepRotation(ppd);
  prnFlush();
}

}  // namespace

unsigned char gapModeForPage(ppd_file_t *ppd, const cups_page_header2_t *header) {
  const int mode = mediaTrackingMode(ppd, header, ModelNumber == 64519, bCmdGap[2]);
  return mode < 0 ? bCmdGap[2] : static_cast<unsigned char>(mode);
}

bool ppdModelNameIs(const ppd_file_t *ppd, const char *name) {
  return ppd && ppd->modelname && std::strcmp(ppd->modelname, name) == 0;
}

int millimetresToDots(int mm, unsigned dpi) {
  return clampedDots(mm / 25.4 * dpi);
}

void logPageHeader(const cups_page_header2_t *h) {
  // The strings come from the job: a line break in one must not start a scheduler line.
  const std::string mediaClass = neutralised(headerString(h->MediaClass));
  const std::string mediaColor = neutralised(headerString(h->MediaColor));
  const std::string mediaType = neutralised(headerString(h->MediaType));
  const std::string outputType = neutralised(headerString(h->OutputType));
  const std::string pageSizeName = neutralised(headerString(h->cupsPageSizeName));
  // The fields are unsigned or enums in the header; the log has always shown them as int.
  auto i = [](const auto &field) { return static_cast<int>(headerFieldValue(field)); };
  logMessage("DEBUG: StartPage...\n");
  logMessage("DEBUG: MediaClass = \"%s\"\n", mediaClass.c_str());
  logMessage("DEBUG: MediaColor = \"%s\"\n", mediaColor.c_str());
  logMessage("DEBUG: MediaType = \"%s\"\n", mediaType.c_str());
  logMessage("DEBUG: OutputType = \"%s\"\n", outputType.c_str());
  logMessage("DEBUG: AdvanceDistance = %d\n", i(h->AdvanceDistance));
  logMessage("DEBUG: AdvanceMedia = %d\n", i(h->AdvanceMedia));
  logMessage("DEBUG: Collate = %d\n", i(h->Collate));
  logMessage("DEBUG: CutMedia = %d\n", i(h->CutMedia));
  logMessage("DEBUG: Duplex = %d\n", i(h->Duplex));
  logMessage("DEBUG: HWResolution = [ %d %d ]\n", i(h->HWResolution[0]), i(h->HWResolution[1]));
  logMessage("DEBUG: ImagingBoundingBox = [ %d %d %d %d ]\n", i(h->ImagingBoundingBox[0]),
             i(h->ImagingBoundingBox[1]), i(h->ImagingBoundingBox[2]), i(h->ImagingBoundingBox[3]));
  logMessage("DEBUG: InsertSheet = %d\n", i(h->InsertSheet));
  logMessage("DEBUG: Jog = %d\n", i(h->Jog));
  logMessage("DEBUG: LeadingEdge = %d\n", i(h->LeadingEdge));
  logMessage("DEBUG: Margins = [ %d %d ]\n", i(h->Margins[0]), i(h->Margins[1]));
  logMessage("DEBUG: ManualFeed = %d\n", i(h->ManualFeed));
  logMessage("DEBUG: MediaPosition = %d\n", i(h->MediaPosition));
  logMessage("DEBUG: MediaWeight = %d\n", i(h->MediaWeight));
  logMessage("DEBUG: MirrorPrint = %d\n", i(h->MirrorPrint));
  logMessage("DEBUG: NegativePrint = %d\n", i(h->NegativePrint));
  logMessage("DEBUG: NumCopies = %d\n", i(h->NumCopies));
  logMessage("DEBUG: Orientation = %d\n", i(h->Orientation));
  logMessage("DEBUG: OutputFaceUp = %d\n", i(h->OutputFaceUp));
  logMessage("DEBUG: PageSize = [ %d %d ]\n", i(h->PageSize[0]), i(h->PageSize[1]));
  logMessage("DEBUG: Separations = %d\n", i(h->Separations));
  logMessage("DEBUG: TraySwitch = %d\n", i(h->TraySwitch));
  logMessage("DEBUG: Tumble = %d\n", i(h->Tumble));
  logMessage("DEBUG: cupsWidth = %d\n", i(h->cupsWidth));
  logMessage("DEBUG: cupsHeight = %d\n", i(h->cupsHeight));
  logMessage("DEBUG: cupsMediaType = %d\n", i(h->cupsMediaType));
  logMessage("DEBUG: cupsBitsPerColor = %d\n", i(h->cupsBitsPerColor));
  logMessage("DEBUG: cupsBitsPerPixel = %d\n", i(h->cupsBitsPerPixel));
  logMessage("DEBUG: cupsBytesPerLine = %d\n", i(h->cupsBytesPerLine));
  logMessage("DEBUG: cupsColorOrder = %d\n", i(h->cupsColorOrder));
  logMessage("DEBUG: cupsColorSpace = %d\n", i(h->cupsColorSpace));
  logMessage("DEBUG: cupsCompression = %d\n", i(h->cupsCompression));
  logMessage("DEBUG: cupsRowCount = %d\n", i(h->cupsRowCount));
  logMessage("DEBUG: cupsRowFeed = %d\n", i(h->cupsRowFeed));
  logMessage("DEBUG: cupsRowStep = %d\n", i(h->cupsRowStep));
  logMessage("DEBUG: ModelNumber = %d\n", ModelNumber);
  logMessage("DEBUG: cupsPageSizeName = %s\n", pageSizeName.c_str());
}

void thermalStartPage(ppd_file_t *ppd, cups_page_header2_t *header) {
  switch (ModelNumber) {
    case 21:
    case 613207:
    case 590314:
      if (waitPaperTwice()) sheetModelOptions(ppd, header);
      break;
    case 831:
      if (waitSheetGoneAndReady()) sheetModelOptions(ppd, header);
      break;
    case 22:
      densityModelOptions(ppd, header, DensityVariant::NoSpecial);
      break;
    case 23:
      mediaModelOptions(ppd, header);
      break;
    case 302:
      if (ppdModelNameIs(ppd, "JT64") && !waitPaperAndCover()) break;
      mediaModelOptions(ppd, header);
      break;
    case 400:
      densityModelOptions(ppd, header, DensityVariant::SpecialUndrained);
      break;
    case 64519:
      waitIdleThenReadyTwice();
      stepOffsetsProductFirst(ppd, header);
      stepMediaTracking(ppd, header, true);
      stepDensity(ppd, DensityVariant::SpecialUndrained);
      stepRotation(ppd);
      stepColour(ppd);
      break;
    default:
      break;
  }
}

bool allocateRowBuffer(size_t bytesPerLine) {
  releaseRowBuffer();
  ownedRow = static_cast<unsigned char *>(std::malloc(bytesPerLine ? bytesPerLine : 1));
  Buffer = ownedRow;
  Feed = 0;
  return ownedRow != nullptr;
}

void releaseRowBuffer() {
  if (Buffer == ownedRow) Buffer = nullptr;
  std::free(ownedRow);
  ownedRow = nullptr;
}
