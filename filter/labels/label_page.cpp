// The page road of the label languages and their row buffers: the packed row that the
// languages send and the row coders' work buffers; the choice of the job's language.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "labels/label_private.h"
#include "pipeline/packing.h"

namespace {

// Rows longer than this cannot be had: their dot count would not fit the packer's int width.
constexpr size_t kMaxLabelRowBytes = INT_MAX / 8;

DotBuffer allocateRow(size_t n) {
  return DotBuffer(static_cast<unsigned char *>(std::malloc(n ? n : 1)));
}

}  // namespace

unsigned labelRowBytes(const cups_page_header2_t &header) {
  return static_cast<unsigned>((static_cast<uint64_t>(header.cupsWidth) + 7) / 8);
}

long long heldSetting(JobBase &job, const SettingRange &setting, long long value) {
  const long long held = std::clamp(value, setting.low, setting.high);
  if (held != value && job.firstWarningAbout(&setting))
    job.log.warning("Page %d: %s%lld%s asked for; the printer is sent at %s %lld", job.Page.load(),
                    setting.before, value, setting.after, held < value ? "most" : "least", held);
  return held;
}

bool rowsFit(const cups_page_header2_t &header, uint64_t most, std::string &reason) {
  const uint64_t n = labelRowBytes(header);
  if (n <= most) return true;
  char text[160];
  std::snprintf(text, sizeof text,
                "rows of %llu bytes do not fit the printer's row length (at most %llu bytes)",
                static_cast<unsigned long long>(n), static_cast<unsigned long long>(most));
  reason = text;
  return false;
}

bool isBlankRow(const unsigned char *row, size_t n) {
  return n == 0 || (row[0] == 0 && std::memcmp(row, row + 1, n - 1) == 0);
}

const char *markedChoiceOtherThan(const JobBase &job, const char *option, const char *except) {
  const char *choice = job.markedChoice(option);
  return choice && !choiceIs(choice, except) ? choice : nullptr;
}

void releaseRowCoderBuffers(RowCoderState &coder) {
  coder.CompBuffer.reset();
  coder.LastBuffer.reset();
  coder.LastSet = 0;
}

void allocateRowCoderBuffers(JobBase &job, RowCoderState &coder, size_t n) {
  releaseRowCoderBuffers(coder);
  if (n <= kMaxLabelRowBytes) {
    coder.CompBuffer = allocateRow(2 * n + 1);
    coder.LastBuffer = allocateRow(n);
  }
  if (!coder.CompBuffer || !coder.LastBuffer) {
    releaseRowCoderBuffers(coder);
    job.log.message(
        "DEBUG: No memory for the row coder of %zu bytes; the page's rows are dropped.\n", n);
  }
  coder.rowBytes = n;
}

void LabelPrinter::allocatePackedRow(size_t n) {
  rowBytes = 0;
  if (n <= kMaxLabelRowBytes) packedRow = allocateRow(n);
  if (!packedRow) {
    job.log.message("DEBUG: No memory for a label row of %zu bytes; the page's rows are dropped.\n",
                    n);
    return;
  }
  rowBytes = n;
}

unsigned char *LabelPrinter::packLabelRow(const Page &page, int y) {
  if (rowBytes == 0 || !page.dots) return nullptr;
  uint64_t width = page.header.cupsWidth;
  if (width > 8 * rowBytes) width = 8 * rowBytes;
  packRow(page.finishedRow(static_cast<unsigned>(y)), static_cast<int>(width), packedRow.get());
  return packedRow.get();
}

void LabelPrinter::startPage(Page &page) {
  cups_page_header2_t &header = page.header;
  // The copy count every language with a copy field sends: held once for them all.
  static const SettingRange kCopies = {"", " copies", 0, kMaxLabelCopies};
  if (sendsCopies())
    header.NumCopies = static_cast<unsigned>(heldSetting(job, kCopies, header.NumCopies));
  allocatePackedRow(labelRowBytes(header));
  prologue(page);
}

void LabelPrinter::row(Page &page, int y) {
  if (unsigned char *packed = packLabelRow(page, y)) codeRow(packed, rowBytes, y);
}

PageResult LabelPrinter::endPage(Page &page) {
  pageEnd(page);
  packedRow.reset();
  rowBytes = 0;
  job.prn.flush();
  return PageResult::Sent;
}

std::unique_ptr<PrinterLanguage> makeLabelPrinter(JobBase &job) {
  switch (job.model->language) {
    case LabelLanguage::Dymo:
      return makeDymoPrinter(job);
    case LabelLanguage::EplLine:
      return makeEplLinePrinter(job);
    case LabelLanguage::EplPage:
      return makeEplPagePrinter(job);
    case LabelLanguage::Zpl:
      return makeZplPrinter(job);
    case LabelLanguage::Cpcl:
      return makeCpclPrinter(job);
    case LabelLanguage::PrintRows:
      return makeRowsPrinter(job);
    case LabelLanguage::Pcl:
      return makePclPrinter(job);
    case LabelLanguage::None:
      break;
  }
  return nullptr;
}
