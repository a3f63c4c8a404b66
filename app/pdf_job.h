// PDF documents, rendered with poppler in 8-bit gray at the printer's resolution and handed page
// by page to the printer's raster callbacks (and so to the filter's core): page-ranges, copies
// (collated), orientation-requested and print-scaling as IPP defines them.
#pragma once

#include <pappl/pappl.h>

#include "printer_model.h"

namespace app {

inline constexpr const char *kPdfFormat = "application/pdf";

// What PAPPL calls a document whose format it cannot tell from the request or its first bytes.
inline constexpr const char *kUnknownFormat = "application/octet-stream";

// Whether the printer takes documents of this format: the formats its document-format-supported
// lists (PAPPL's rasters and images, PDF, and octet-stream, told by the document's first bytes).
bool documentFormatTaken(const char *format);

// A document of unknown format fails with document-format-error and a message that names the
// formats the printer takes (PAPPL would otherwise look for a filter that does not exist).
void setUnknownDocumentCallback(pappl_pr_driver_data_t &data);

// Registers the PDF filter with the system.
void addPdfFilter(pappl_system_t *system);

// The resolution a job prints at: its printer-resolution when the printer offers it, else the
// PPD's default; print-quality never changes it.
int jobResolution(pappl_job_t *job, const PrinterModel &model);

}  // namespace app
