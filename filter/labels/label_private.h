// What the label dispatch shares with the language files: the row buffers, choices and the
// header helpers of the formats.
#pragma once

#include <cups/raster.h>

#include <cstddef>
#include <cstring>

#include "base/choices.h"
#include "base/header_fields.h"
#include "base/job.h"
#include "base/page.h"
#include "labels/labels.h"

bool isBlankRow(const unsigned char *row, size_t n);
// CompBuffer (2n + 1 bytes) and LastBuffer (n bytes) for the ZPL and PCL coders; LastSet = 0.
void allocateRowCoderBuffers(JobBase &job, Page &page, size_t n);

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

// The languages.
void dymoStartPage(JobBase &job, const Page &page);
void dymoOutputLine(JobBase &job, Page &page, const unsigned char *row, size_t n);
void eplLineStartPage(JobBase &job, const Page &page);
void eplLineOutputLine(JobBase &job, const unsigned char *row, size_t n);
void eplPageStartPage(JobBase &job, const Page &page);
void eplPageOutputLine(JobBase &job, unsigned char *row, size_t n, int y);
void zplStartPage(JobBase &job, Page &page);
void zplOutputLine(JobBase &job, Page &page, const unsigned char *row, size_t n);
void zplEndPage(JobBase &job, const Page &page);
void cpclStartPage(JobBase &job, const Page &page);
void cpclOutputLine(JobBase &job, const unsigned char *row, size_t n, int y);
void cpclEndPage(JobBase &job, const Page &page);
void model20OutputLine(JobBase &job, unsigned char *row, size_t n);
void pclStartPage(JobBase &job, Page &page);
void pclOutputLine(JobBase &job, Page &page, const unsigned char *row, size_t n);
