// The per-page steps: the header dump, then the job's printer language.
#include "driver/page_steps.h"

#include <string>

#include "base/format.h"
#include "base/header_fields.h"

namespace {

// The dump of the page header that opens every page set-up.
void logPageHeader(Job &job, const cups_page_header2_t *h) {
  // The strings come from the job: a line break in one must not start a scheduler line.
  const std::string mediaClass = neutralised(headerString(h->MediaClass));
  const std::string mediaColor = neutralised(headerString(h->MediaColor));
  const std::string mediaType = neutralised(headerString(h->MediaType));
  const std::string outputType = neutralised(headerString(h->OutputType));
  const std::string pageSizeName = neutralised(headerString(h->cupsPageSizeName));
  // The fields are unsigned or enums in the header; the log has always shown them as int.
  auto i = [](const auto &field) { return static_cast<int>(headerFieldValue(field)); };
  Log &log = job.log;
  log.message("DEBUG: StartPage...\n");
  log.message("DEBUG: MediaClass = \"%s\"\n", mediaClass.c_str());
  log.message("DEBUG: MediaColor = \"%s\"\n", mediaColor.c_str());
  log.message("DEBUG: MediaType = \"%s\"\n", mediaType.c_str());
  log.message("DEBUG: OutputType = \"%s\"\n", outputType.c_str());
  log.message("DEBUG: AdvanceDistance = %d\n", i(h->AdvanceDistance));
  log.message("DEBUG: AdvanceMedia = %d\n", i(h->AdvanceMedia));
  log.message("DEBUG: Collate = %d\n", i(h->Collate));
  log.message("DEBUG: CutMedia = %d\n", i(h->CutMedia));
  log.message("DEBUG: Duplex = %d\n", i(h->Duplex));
  log.message("DEBUG: HWResolution = [ %d %d ]\n", i(h->HWResolution[0]), i(h->HWResolution[1]));
  log.message("DEBUG: ImagingBoundingBox = [ %d %d %d %d ]\n", i(h->ImagingBoundingBox[0]),
              i(h->ImagingBoundingBox[1]), i(h->ImagingBoundingBox[2]),
              i(h->ImagingBoundingBox[3]));
  log.message("DEBUG: InsertSheet = %d\n", i(h->InsertSheet));
  log.message("DEBUG: Jog = %d\n", i(h->Jog));
  log.message("DEBUG: LeadingEdge = %d\n", i(h->LeadingEdge));
  log.message("DEBUG: Margins = [ %d %d ]\n", i(h->Margins[0]), i(h->Margins[1]));
  log.message("DEBUG: ManualFeed = %d\n", i(h->ManualFeed));
  log.message("DEBUG: MediaPosition = %d\n", i(h->MediaPosition));
  log.message("DEBUG: MediaWeight = %d\n", i(h->MediaWeight));
  log.message("DEBUG: MirrorPrint = %d\n", i(h->MirrorPrint));
  log.message("DEBUG: NegativePrint = %d\n", i(h->NegativePrint));
  log.message("DEBUG: NumCopies = %d\n", i(h->NumCopies));
  log.message("DEBUG: Orientation = %d\n", i(h->Orientation));
  log.message("DEBUG: OutputFaceUp = %d\n", i(h->OutputFaceUp));
  log.message("DEBUG: PageSize = [ %d %d ]\n", i(h->PageSize[0]), i(h->PageSize[1]));
  log.message("DEBUG: Separations = %d\n", i(h->Separations));
  log.message("DEBUG: TraySwitch = %d\n", i(h->TraySwitch));
  log.message("DEBUG: Tumble = %d\n", i(h->Tumble));
  log.message("DEBUG: cupsWidth = %d\n", i(h->cupsWidth));
  log.message("DEBUG: cupsHeight = %d\n", i(h->cupsHeight));
  log.message("DEBUG: cupsMediaType = %d\n", i(h->cupsMediaType));
  log.message("DEBUG: cupsBitsPerColor = %d\n", i(h->cupsBitsPerColor));
  log.message("DEBUG: cupsBitsPerPixel = %d\n", i(h->cupsBitsPerPixel));
  log.message("DEBUG: cupsBytesPerLine = %d\n", i(h->cupsBytesPerLine));
  log.message("DEBUG: cupsColorOrder = %d\n", i(h->cupsColorOrder));
  log.message("DEBUG: cupsColorSpace = %d\n", i(h->cupsColorSpace));
  log.message("DEBUG: cupsCompression = %d\n", i(h->cupsCompression));
  log.message("DEBUG: cupsRowCount = %d\n", i(h->cupsRowCount));
  log.message("DEBUG: cupsRowFeed = %d\n", i(h->cupsRowFeed));
  log.message("DEBUG: cupsRowStep = %d\n", i(h->cupsRowStep));
  log.message("DEBUG: ModelNumber = %d\n", job.ModelNumber);
  log.message("DEBUG: cupsPageSizeName = %s\n", pageSizeName.c_str());
}

}  // namespace

void StartPage(Job &job, Page &page) {
  logPageHeader(job, &page.header);
  job.printer->startPage(page);
  const size_t bytesPerLine = page.header.cupsBytesPerLine;
  page.Buffer =
      DotBuffer(static_cast<unsigned char *>(std::malloc(bytesPerLine ? bytesPerLine : 1)));
}

void OutputLine(Job &job, Page &page, int y) {
  job.printer->row(page, y);
}

PageResult EndPage(Job &job, Page &page) {
  const PageResult result = job.printer->endPage(page);
  if (result == PageResult::Sent) job.prn.flush();
  return result;
}
