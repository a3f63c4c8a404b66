// What the label languages share: the page road around their commands, the row buffers,
// choices and the header helpers of the formats.
#pragma once

#include <cups/raster.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "base/choices.h"
#include "base/header_fields.h"
#include "base/job.h"
#include "base/page.h"
#include "base/printer_language.h"
#include "labels/labels.h"

bool isBlankRow(const unsigned char *row, size_t n);
// The coder's CompBuffer (2n + 1 bytes) and LastBuffer (n bytes) for rows of n bytes; LastSet = 0.
void allocateRowCoderBuffers(JobBase &job, RowCoderState &coder, size_t n);
void releaseRowCoderBuffers(RowCoderState &coder);

// The marked choice of option when it is not except (else null).
const char *markedChoiceOtherThan(const JobBase &job, const char *option, const char *except);
// Writes a command text (no NUL inside) to the printer stream.
inline void writeText(JobBase &job, const char *text) {
  job.prn.write(text, std::strlen(text));
}
// Unsigned header arithmetic written with "%d", as the formats do.
inline int asSigned(unsigned value) {
  return static_cast<int>(value);
}
// A number that only sets something on the printer (darkness, label top, tear-off position,
// feeds, copies) and the range its command takes; the warning reads "<before><value><after>
// asked for".
struct SettingRange {
  const char *before, *after;
  long long low, high;
};
// The value held to the setting's range. The first time in the job that a value of this setting
// is held, one "WARNING:" line names the value and the limit the printer is sent instead.
long long heldSetting(JobBase &job, const SettingRange &setting, long long value);
// PCL value fields take at most this.
inline constexpr long long kPclMaxValue = 32767;
// The darkness range of the EPL and ZPL commands; outside it they send nothing.
inline bool darknessGiven(unsigned darkness) {
  return darkness >= 1 && darkness <= 100;
}

// The page road every label language shares: the copy count held once for the languages that
// send it, the packed row, its release and the flush at the page end. Each language adds its
// prologue, its row coding with the row state it keeps, and its page end.
class LabelPrinter : public PrinterLanguage {
 public:
  explicit LabelPrinter(JobBase &job) : job(job) {}
  void startPage(Page &page) final;
  void row(Page &page, int y) final;
  PageResult endPage(Page &page) final;

 protected:
  virtual bool sendsCopies() const { return false; }
  // The page's prologue, with the header as read from the raster; it sets up the language's
  // row state.
  virtual void prologue(Page &) {}
  // Row y packed into n bytes (row may be changed in place).
  virtual void codeRow(unsigned char *row, size_t n, int y) = 0;
  // The page's end; it releases the language's row buffers.
  virtual void pageEnd(Page &page) = 0;

  JobBase &job;

 private:
  // The packed row of n bytes for the page, allocated once per page and never per row.
  void allocatePackedRow(size_t n);
  // Packs row y of the finished page into packedRow; nullptr when there is no row to code.
  unsigned char *packLabelRow(const Page &page, int y);

  DotBuffer packedRow;  // the row as the languages send it, rowBytes bytes
  size_t rowBytes = 0;  // when the packed row could be had (else 0: rows are dropped)
};

// The languages.
std::unique_ptr<PrinterLanguage> makeDymoPrinter(JobBase &job);
std::unique_ptr<PrinterLanguage> makeEplLinePrinter(JobBase &job);
std::unique_ptr<PrinterLanguage> makeEplPagePrinter(JobBase &job);
std::unique_ptr<PrinterLanguage> makeZplPrinter(JobBase &job);
std::unique_ptr<PrinterLanguage> makeCpclPrinter(JobBase &job);
std::unique_ptr<PrinterLanguage> makeRowsPrinter(JobBase &job);
std::unique_ptr<PrinterLanguage> makePclPrinter(JobBase &job);
// A row length beyond most bytes refuses the page: the row command carries it in a fixed field,
// and what does not fit would make the printer read the rest of the row as commands.
bool rowsFit(const cups_page_header2_t &header, uint64_t most, std::string &reason);
