// The page road of the label languages and the page's row buffers: the packed row that the
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

// The packed-row scratch of n bytes for the page, allocated once per page and never per row.
void allocatePackedRow(JobBase &job, Page &page, size_t n) {
  page.rowBytes = 0;
  if (n <= kMaxLabelRowBytes) page.packedRow = allocateRow(n);
  if (!page.packedRow) {
    job.log.message("DEBUG: No memory for a label row of %zu bytes; the page's rows are dropped.\n",
                    n);
    return;
  }
  page.rowBytes = n;
}

// Packs row y of the finished page into the page's scratch; n receives its length. Returns
// nullptr when there is no row to code.
unsigned char *packLabelRow(const Page &page, int y, size_t &n) {
  n = page.rowBytes;
  if (n == 0 || !page.dots) return nullptr;
  uint64_t width = page.header.cupsWidth;
  if (width > 8 * n) width = 8 * n;
  packRow(page.finishedRow(static_cast<unsigned>(y)), static_cast<int>(width),
          page.packedRow.get());
  return page.packedRow.get();
}

void releaseRowCoderBuffers(Page &page) {
  page.CompBuffer.reset();
  page.LastBuffer.reset();
  page.LastSet = 0;
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

void allocateRowCoderBuffers(JobBase &job, Page &page, size_t n) {
  releaseRowCoderBuffers(page);
  if (n <= kMaxLabelRowBytes) {
    page.CompBuffer = allocateRow(2 * n + 1);
    page.LastBuffer = allocateRow(n);
  }
  if (!page.CompBuffer || !page.LastBuffer) {
    releaseRowCoderBuffers(page);
    job.log.message(
        "DEBUG: No memory for the row coder of %zu bytes; the page's rows are dropped.\n", n);
  }
}

void LabelPrinter::startPage(Page &page) {
  cups_page_header2_t &header = page.header;
  // The copy count every language with a copy field sends: held once for them all.
  static const SettingRange kCopies = {"", " copies", 0, kMaxLabelCopies};
  if (sendsCopies())
    header.NumCopies = static_cast<unsigned>(heldSetting(job, kCopies, header.NumCopies));
  allocatePackedRow(job, page, labelRowBytes(header));
  prologue(page);
}

void LabelPrinter::row(Page &page, int y) {
  size_t n;
  unsigned char *packed = packLabelRow(page, y, n);
  if (packed) codeRow(page, packed, n, y);
}

PageResult LabelPrinter::endPage(Page &page) {
  pageEnd(page);
  releaseRowCoderBuffers(page);
  page.packedRow.reset();
  page.rowBytes = 0;
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
