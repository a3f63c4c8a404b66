// Thermal page set-up. (Placeholder until the page set-up lands.)
#include "thermal/page_setup.h"

#include <cstdlib>

int hOffset = 0;
int vOffset = 0;
int Rotate = 0;
int gray = 0;
unsigned char *Buffer = nullptr;
int Feed = 0;

namespace {
unsigned char *ownedRow = nullptr;
}

void logPageHeader(const cups_page_header2_t *) {}
void thermalStartPage(ppd_file_t *, cups_page_header2_t *) {}

bool allocateRowBuffer(size_t bytesPerLine) {
  releaseRowBuffer();
  ownedRow = static_cast<unsigned char *>(std::malloc(bytesPerLine ? bytesPerLine : 1));
  Buffer = ownedRow;
  Feed = 0;
  return ownedRow != nullptr;
}

void releaseRowBuffer() {
  std::free(ownedRow);
  ownedRow = nullptr;
}
