// The three page steps of the label models, dispatched by language, and the page's row buffers:
// the packed row that the languages send and the row coders' work buffers.
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
    job.log.message("WARNING: Page %d: %s%lld%s asked for; the printer is sent at %s %lld\n",
                    job.Page.load(), setting.before, value, setting.after,
                    held < value ? "most" : "least", held);
  return held;
}

bool labelPageFits(int model, const cups_page_header2_t &header, std::string &reason) {
  const uint64_t n = labelRowBytes(header);
  char text[160];
  // The row commands that carry the row length in a fixed field: what does not fit it would
  // make the printer read the rest of the row as commands.
  auto rowsFit = [&](uint64_t most) {
    if (n <= most) return true;
    std::snprintf(text, sizeof text,
                  "rows of %llu bytes do not fit the printer's row length (at most %llu bytes)",
                  static_cast<unsigned long long>(n), static_cast<unsigned long long>(most));
    return false;
  };
  switch (modelFacts(model).language) {
    case LabelLanguage::Dymo: {
      // ESC D carries the row length in one byte, ESC L the label length in two.
      const uint64_t length = uint64_t{header.PageSize[1]} * header.HWResolution[1] / 72;
      if (!rowsFit(255)) break;
      if (length <= 65535) return true;
      std::snprintf(text, sizeof text,
                    "a label length of %llu dots does not fit the printer's length field "
                    "(at most 65535 dots)",
                    static_cast<unsigned long long>(length));
      break;
    }
    case LabelLanguage::EplLine:
      // ESC g takes three digits.
      if (rowsFit(999)) return true;
      break;
    case LabelLanguage::Zpl:
      if (n * header.cupsHeight <= static_cast<uint64_t>(INT_MAX)) return true;
      std::snprintf(text, sizeof text,
                    "a graphic of %llu bytes does not fit the printer's download command",
                    static_cast<unsigned long long>(n * header.cupsHeight));
      break;
    case LabelLanguage::Pcl:
      // The raster area's commands take values up to kPclMaxValue. Such a width also bounds a
      // coded row (at most n + n / 8 + 1 bytes) and a row skip within the field.
      if (header.cupsWidth <= kPclMaxValue && header.cupsHeight <= kPclMaxValue) return true;
      std::snprintf(text, sizeof text,
                    "a raster of %u x %u dots does not fit the printer's raster commands (at "
                    "most %lld dots each way)",
                    header.cupsWidth, header.cupsHeight, kPclMaxValue);
      break;
    default:
      return true;
  }
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

void labelStartPage(JobBase &job, Page &page) {
  const LabelLanguage language = job.model->language;
  if (language == LabelLanguage::None) return;
  cups_page_header2_t &header = page.header;
  // The copy count every language with a copy field sends: held once for them all.
  static const SettingRange kCopies = {"", " copies", 0, kMaxLabelCopies};
  if (language == LabelLanguage::Zpl || language == LabelLanguage::Cpcl ||
      language == LabelLanguage::Pcl)
    header.NumCopies = static_cast<unsigned>(heldSetting(job, kCopies, header.NumCopies));
  allocatePackedRow(job, page, labelRowBytes(header));
  switch (language) {
    case LabelLanguage::Dymo:
      dymoStartPage(job, page);
      break;
    case LabelLanguage::EplLine:
      eplLineStartPage(job, page);
      break;
    case LabelLanguage::EplPage:
      eplPageStartPage(job, page);
      break;
    case LabelLanguage::Zpl:
      zplStartPage(job, page);
      break;
    case LabelLanguage::Cpcl:
      cpclStartPage(job, page);
      break;
    case LabelLanguage::Pcl:
      pclStartPage(job, page);
      break;
    case LabelLanguage::PrintRows:  // no prologue
    case LabelLanguage::None:
      break;
  }
}

void labelOutputLine(JobBase &job, Page &page, int y) {
  size_t n;
  unsigned char *row = packLabelRow(page, y, n);
  if (!row) return;
  switch (job.model->language) {
    case LabelLanguage::Dymo:
      dymoOutputLine(job, page, row, n);
      break;
    case LabelLanguage::EplLine:
      eplLineOutputLine(job, row, n);
      break;
    case LabelLanguage::EplPage:
      eplPageOutputLine(job, row, n, y);
      break;
    case LabelLanguage::Zpl:
      zplOutputLine(job, page, row, n);
      break;
    case LabelLanguage::Cpcl:
      cpclOutputLine(job, row, n, y);
      break;
    case LabelLanguage::PrintRows:
      model20OutputLine(job, row, n);
      break;
    case LabelLanguage::Pcl:
      pclOutputLine(job, page, row, n);
      break;
    case LabelLanguage::None:
      break;
  }
}

void labelEndPage(JobBase &job, Page &page) {
  switch (job.model->language) {
    case LabelLanguage::Dymo:
      writeText(job, "\033E");
      break;
    case LabelLanguage::EplLine:
      writeText(job, "\033E\f");
      break;
    case LabelLanguage::EplPage:
      writeText(job, "P1\n");
      break;
    case LabelLanguage::Zpl:
      zplEndPage(job, page);
      break;
    case LabelLanguage::Cpcl:
      cpclEndPage(job, page);
      break;
    case LabelLanguage::PrintRows:
      writeText(job, "\nPRINT 1,1\n");
      break;
    case LabelLanguage::Pcl:
      writeText(job, "\033*rB\f");
      break;
    case LabelLanguage::None:
      break;
  }
  releaseRowCoderBuffers(page);
  page.packedRow.reset();
  page.rowBytes = 0;
}
