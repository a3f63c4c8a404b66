// Page image pipeline. (Placeholder until the pipeline lands: reads and drops the rows.)
#include "pipeline/pipeline.h"

#include <cstdlib>
#include <vector>

#include "thermal/page_setup.h"

void FreeDeleter::operator()(unsigned char *p) const {
  std::free(p);
}

bool runPagePipeline(const RowReader &read, cups_page_header2_t *header, const char *,
                     FinishedPage &page, std::string &) {
  std::vector<unsigned char> row(header->cupsBytesPerLine);
  for (unsigned y = 0; y < header->cupsHeight; y++)
    if (read(row.data(), header->cupsBytesPerLine) == 0) break;
  releaseRowBuffer();
  page.dots.reset();
  page.width = 0;
  page.height = 0;
  header->cupsHeight = 0;
  return true;
}
