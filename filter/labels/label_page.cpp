// The three page steps of the label models, dispatched by model number, and the page's row
// buffers: the packed row that the languages send and the row coders' work buffers.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/job.h"
#include "io/log.h"
#include "io/printer_stream.h"
#include "labels/label_private.h"
#include "labels/labels.h"
#include "monitor/status.h"
#include "pipeline/packing.h"
#include "thermal/page_setup.h"

unsigned char *CompBuffer = nullptr;
unsigned char *LastBuffer = nullptr;
int LastSet = 0;
size_t labelPageRowBytes = 0;

namespace {

// Rows longer than this cannot be had: their dot count would not fit the packer's int width.
constexpr size_t kMaxLabelRowBytes = INT_MAX / 8;

unsigned char *packedRow = nullptr;  // the page's packed row, labelPageRowBytes bytes
bool pageRowsReady = false;

void releasePackedRow() {
  std::free(packedRow);
  packedRow = nullptr;
  labelPageRowBytes = 0;
  pageRowsReady = false;
}

// A packed-row scratch of n bytes for the page, allocated once per page and never per row.
void allocatePackedRow(size_t n) {
  releasePackedRow();
  if (n <= kMaxLabelRowBytes) packedRow = static_cast<unsigned char *>(std::malloc(n ? n : 1));
  if (!packedRow) {
    logMessage("DEBUG: No memory for a label row of %zu bytes; the page's rows are dropped.\n", n);
    return;
  }
  labelPageRowBytes = n;
  pageRowsReady = true;
}

}  // namespace

unsigned labelRowBytes(const cups_page_header2_t *header) {
  return static_cast<unsigned>((static_cast<uint64_t>(header->cupsWidth) + 7) / 8);
}

void releaseRowCoderBuffers() {
  std::free(CompBuffer);
  std::free(LastBuffer);
  CompBuffer = nullptr;
  LastBuffer = nullptr;
  LastSet = 0;
}

void labelReleasePageBuffers() {
  releaseRowCoderBuffers();
  releasePackedRow();
}

void allocateRowCoderBuffers(size_t n) {
  releaseRowCoderBuffers();
  if (n <= kMaxLabelRowBytes) {
    CompBuffer = static_cast<unsigned char *>(std::malloc(2 * n + 1));
    LastBuffer = static_cast<unsigned char *>(std::malloc(n ? n : 1));
  }
  if (!CompBuffer || !LastBuffer) {
    releaseRowCoderBuffers();
    logMessage("DEBUG: No memory for the row coder of %zu bytes; the page's rows are dropped.\n",
               n);
  }
}

unsigned char *packLabelRow(const cups_page_header2_t *header, size_t &n) {
  n = 0;
  if (!pageRowsReady || !Buffer) return nullptr;
  n = labelRowBytes(header);
  if (n > labelPageRowBytes) n = labelPageRowBytes;
  uint64_t width = header->cupsWidth;
  if (width > 8 * n) width = 8 * n;
  packRow(Buffer, static_cast<int>(width), packedRow);
  return packedRow;
}

bool isBlankRow(const unsigned char *row, size_t n) {
  return n == 0 || (row[0] == 0 && std::memcmp(row, row + 1, n - 1) == 0);
}

bool choiceIs(const char *choice, const char *name) {
  return choice && std::strcmp(choice, name) == 0;
}

bool markedChoiceOtherThan(ppd_file_t *ppd, const char *option, const char *except,
                           const char **choice) {
  *choice = markedChoice(ppd, option);
  return *choice && !choiceIs(*choice, except);
}

bool headerStringIs(const char (&field)[64], const char *text) {
  size_t length = std::strlen(text);
  return strnlen(field, sizeof field) == length && std::memcmp(field, text, length) == 0;
}

unsigned labelCopies(const cups_page_header2_t *header) {
  return header->NumCopies < kMaxLabelCopies ? header->NumCopies : kMaxLabelCopies;
}

bool labelPageFits(int model, const cups_page_header2_t &header, std::string &reason) {
  const uint64_t n = labelRowBytes(&header);
  char text[160];
  if (model == 0) {
    // ESC D carries the row length in one byte, ESC L the label length in two.
    const uint64_t length = uint64_t{header.PageSize[1]} * header.HWResolution[1] / 72;
    if (n > 255) {
      std::snprintf(text, sizeof text,
                    "rows of %llu bytes do not fit the printer's row length (at most 255 bytes)",
                    static_cast<unsigned long long>(n));
    } else if (length > 65535) {
      std::snprintf(text, sizeof text,
                    "a label length of %llu dots does not fit the printer's length field "
                    "(at most 65535 dots)",
                    static_cast<unsigned long long>(length));
    } else {
      return true;
    }
  } else if (model == 18 && n * header.cupsHeight > static_cast<uint64_t>(INT_MAX)) {
    std::snprintf(text, sizeof text,
                  "a graphic of %llu bytes does not fit the printer's download command",
                  static_cast<unsigned long long>(n * header.cupsHeight));
  } else {
    return true;
  }
  reason = text;
  return false;
}

void labelStartPage(ppd_file_t *ppd, cups_page_header2_t *header) {
  if (!isLabelModel(ModelNumber)) return;
  if ((ModelNumber == 18 || ModelNumber == 19 || ModelNumber == 32) &&
      header->NumCopies > kMaxLabelCopies)
    logMessage("WARNING: Page %d: %u copies asked for; the printer is sent at most %u\n",
               Page.load(), header->NumCopies, kMaxLabelCopies);
  // A page dropped on cancellation never reached its end; its coder buffers go now.
  releaseRowCoderBuffers();
  allocatePackedRow(labelRowBytes(header));
  switch (ModelNumber) {
    case 0:
      dymoStartPage(header);
      break;
    case 16:
      eplLineStartPage(ppd, header);
      break;
    case 17:
      eplPageStartPage(ppd, header);
      break;
    case 18:
      zplStartPage(header);
      break;
    case 19:
      cpclStartPage(header);
      break;
    case 32:
      pclStartPage(ppd, header);
      break;
    default:  // model 20 has no prologue
      break;
  }
}

void labelOutputLine(ppd_file_t *, cups_page_header2_t *header, int y) {
  if (!isLabelModel(ModelNumber)) return;
  size_t n;
  unsigned char *row = packLabelRow(header, n);
  if (!row) return;
  switch (ModelNumber) {
    case 0:
      dymoOutputLine(row, n);
      break;
    case 16:
      eplLineOutputLine(row, n);
      break;
    case 17:
      eplPageOutputLine(row, n, y);
      break;
    case 18:
      zplOutputLine(row, n);
      break;
    case 19:
      cpclOutputLine(row, n, y);
      break;
    case 20:
      model20OutputLine(row, n);
      break;
    case 32:
      pclOutputLine(row, n);
      break;
  }
}

void labelEndPage(ppd_file_t *ppd, cups_page_header2_t *header) {
  switch (ModelNumber) {
    case 0:
      writeText("\033E");
      break;
    case 16:
      writeText("\033E\f");
      break;
    case 17:
      writeText("P1\n");
      break;
    case 18:
      zplEndPage(ppd, header);
      releaseRowCoderBuffers();
      break;
    case 19:
      cpclEndPage(ppd, header);
      break;
    case 20:
      writeText("\nPRINT 1,1\n");
      break;
    case 32:
      writeText("\033*rB\f");
      releaseRowCoderBuffers();
      break;
    case 21:
    case 831:
    case 613207:
    case 590314:
      // These printers report the paper state anew for every sheet.
      mymon.paperstatus = 0;
      break;
    default:
      break;
  }
  if (isLabelModel(ModelNumber)) releasePackedRow();
  prnFlush();
}
