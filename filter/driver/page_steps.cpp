// Per-page steps dispatched by model family: thermal set-up and packing, or label languages.
#include "driver/page_steps.h"

#include "driver/job.h"
#include "io/printer_stream.h"
#include "labels/labels.h"
#include "monitor/status.h"
#include "pipeline/packing.h"
#include "thermal/page_setup.h"

unsigned char *sendBuf = nullptr;

void StartPage(ppd_file_t *ppd, cups_page_header2_t *header) {
  logPageHeader(header);
  if (isThermalModel(ModelNumber))
    thermalStartPage(ppd, header);
  else if (isLabelModel(ModelNumber))
    labelStartPage(ppd, header);
  allocateRowBuffer(header->cupsBytesPerLine);
}

void OutputLine(ppd_file_t *ppd, cups_page_header2_t *header, int y) {
  if (isThermalModel(ModelNumber)) {
    // A cancelled page leaves its rows blank; it is dropped before transmission anyway.
    if (Canceled.load()) return;
    const size_t bytewidth = (static_cast<size_t>(header->cupsWidth) + 7) / 8;
    packRow(Buffer, static_cast<int>(header->cupsWidth), sendBuf + bytewidth * y);
  } else if (isLabelModel(ModelNumber)) {
    labelOutputLine(ppd, header, y);
  }
}

void EndPage(ppd_file_t *ppd, cups_page_header2_t *header) {
  if (isLabelModel(ModelNumber)) {
    labelEndPage(ppd, header);
    return;
  }
  // These models find the next sheet by its paper report; forget the last one.
  if (ModelNumber == 21 || ModelNumber == 831 || ModelNumber == 613207 || ModelNumber == 590314)
    mymon.paperstatus = 0;
  prnFlush();
}
