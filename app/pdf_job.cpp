// PDF jobs: poppler renders each page onto the job's media in 8-bit gray, and the printer's
// raster callbacks print it as they print a client's raster page.
//
// poppler is the renderer the PDF rasterizers of CUPS queues use, so a PDF looks the same
// through the app as through a CUPS queue; its C++ interface renders straight to 8-bit gray at
// any resolution and any region of the page, so the app renders only what lands on the media.
#include "pdf_job.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

namespace app {

namespace {

// Points of a page that count as the media's size (no scaling).
constexpr double kSizeSlackPoints = 1.0;
// The most dots a rendered page may span on either axis (a page scaled beyond is refused) and
// the most dots of the media: both far beyond the printers' sizes.
constexpr double kMostPageDots = 1e6;
constexpr uint64_t kMostMediaDots = uint64_t{1} << 28;

// How the page lands on the media: its scale and the rotation poppler renders it with.
struct Placement {
  double scale = 1;  // the page's size on the media over its own size
  poppler::rotation_enum rotation = poppler::rotate_0;
};

bool turned(poppler::rotation_enum r) {
  return r == poppler::rotate_90 || r == poppler::rotate_270;
}

// orientation-requested turns the page's content; without it (or with none) a landscape page
// on portrait media (or the reverse) is turned to fit, as print dialogs do.
poppler::rotation_enum rotationFor(pappl_job_t *job, ipp_orient_t orientation, double pageWidth,
                                   double pageLength, double mediaWidth, double mediaLength) {
  if (papplJobGetAttribute(job, "orientation-requested") && orientation != IPP_ORIENT_NONE) {
    switch (orientation) {
      case IPP_ORIENT_LANDSCAPE:
        return poppler::rotate_270;
      case IPP_ORIENT_REVERSE_LANDSCAPE:
        return poppler::rotate_90;
      case IPP_ORIENT_REVERSE_PORTRAIT:
        return poppler::rotate_180;
      default:
        return poppler::rotate_0;
    }
  }
  const bool pageWide = pageWidth > pageLength, mediaWide = mediaWidth > mediaLength;
  return pageWide != mediaWide && pageWidth != pageLength ? poppler::rotate_270 : poppler::rotate_0;
}

// print-scaling: fit and fill keep the page's proportions; auto and auto-fit fit a page larger
// than the media and leave a smaller one at its size; none never scales. Pages not scaled are
// centred, and what falls off the media is cut.
double scaleFor(pappl_scaling_t scaling, double width, double length, double mediaWidth,
                double mediaLength, double slack) {
  const double fit = std::min(mediaWidth / width, mediaLength / length);
  const double fill = std::max(mediaWidth / width, mediaLength / length);
  const bool larger = width > mediaWidth + slack || length > mediaLength + slack;
  if (scaling & PAPPL_SCALING_FILL) return fill;
  if (scaling & PAPPL_SCALING_FIT) return fit;
  if (scaling & PAPPL_SCALING_NONE) return 1;
  return larger ? fit : 1;
}

// The media at the job's resolution, as the page the client would have sent.
struct Canvas {
  unsigned width = 0, height = 0, dpi = 0;
  std::vector<unsigned char> dots;
};

// Renders page onto the canvas (white where the page does not reach).
bool renderPage(pappl_job_t *job, const pappl_pr_options_t &options, const poppler::page &page,
                Canvas &canvas) {
  std::fill(canvas.dots.begin(), canvas.dots.end(), 0xFF);
  const poppler::rectf box = page.page_rect(poppler::crop_box);
  double width = box.width(), length = box.height();  // points
  if (!(width > 0 && length > 0)) return false;
  // poppler turns the page by its own /Rotate before ours.
  if (page.orientation() == poppler::page::landscape ||
      page.orientation() == poppler::page::seascape)
    std::swap(width, length);
  const double dpi = canvas.dpi;
  const double mediaWidth = canvas.width * 72.0 / dpi, mediaLength = canvas.height * 72.0 / dpi;
  Placement place;
  place.rotation =
      rotationFor(job, options.orientation_requested, width, length, mediaWidth, mediaLength);
  if (turned(place.rotation)) std::swap(width, length);
  place.scale =
      scaleFor(options.print_scaling, width, length, mediaWidth, mediaLength, kSizeSlackPoints);
  if (!(place.scale > 0) || !std::isfinite(place.scale)) return false;

  // The page's dots at the scaled resolution, centred on the media: render only the part that
  // lands on it.
  const double res = dpi * place.scale;
  if (!(width * res / 72 <= kMostPageDots && length * res / 72 <= kMostPageDots)) return false;
  const long pageDotsX = std::lround(width * res / 72), pageDotsY = std::lround(length * res / 72);
  const long offsetX = (static_cast<long>(canvas.width) - pageDotsX) / 2;
  const long offsetY = (static_cast<long>(canvas.height) - pageDotsY) / 2;
  const long x0 = std::max(0L, -offsetX), y0 = std::max(0L, -offsetY);
  const long w = std::min<long>(pageDotsX - x0, canvas.width - std::max(0L, offsetX));
  const long h = std::min<long>(pageDotsY - y0, canvas.height - std::max(0L, offsetY));
  if (w <= 0 || h <= 0) return true;
  poppler::page_renderer renderer;
  renderer.set_image_format(poppler::image::format_gray8);
  renderer.set_render_hints(poppler::page_renderer::antialiasing |
                            poppler::page_renderer::text_antialiasing);
  const poppler::image image =
      renderer.render_page(&page, res, res, static_cast<int>(x0), static_cast<int>(y0),
                           static_cast<int>(w), static_cast<int>(h), place.rotation);
  if (!image.is_valid() || image.format() != poppler::image::format_gray8) return false;
  const long rows = std::min<long>(h, image.height()), cols = std::min<long>(w, image.width());
  for (long y = 0; y < rows; y++)
    std::memcpy(
        canvas.dots.data() + (y + std::max(0L, offsetY)) * canvas.width + std::max(0L, offsetX),
        image.const_data() + y * image.bytes_per_row(), static_cast<size_t>(cols));
  return true;
}

// The page header a client's 8-bit gray raster of the canvas would carry.
void describeCanvas(const Canvas &canvas, cups_page_header2_t &header) {
  std::memset(&header, 0, sizeof header);
  header.HWResolution[0] = header.HWResolution[1] = canvas.dpi;
  header.cupsWidth = canvas.width;
  header.cupsHeight = canvas.height;
  header.cupsBitsPerColor = header.cupsBitsPerPixel = 8;
  header.cupsBytesPerLine = canvas.width;
  header.cupsColorOrder = CUPS_ORDER_CHUNKED;
  header.cupsColorSpace = CUPS_CSPACE_SW;
  header.cupsNumColors = 1;
  header.NumCopies = 1;
  header.PageSize[0] = static_cast<unsigned>(std::lround(canvas.width * 72.0 / canvas.dpi));
  header.PageSize[1] = static_cast<unsigned>(std::lround(canvas.height * 72.0 / canvas.dpi));
}

const PrinterModel &modelOf(pappl_printer_t *printer) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  return *static_cast<const PrinterModel *>(data.extension);
}

struct OptionsDeleter {
  void operator()(pappl_pr_options_t *options) const { papplJobDeletePrintOptions(options); }
};

bool printPdf(pappl_job_t *job, pappl_device_t *device, void *) {
  std::unique_ptr<poppler::document> doc(
      poppler::document::load_from_file(papplJobGetFilename(job)));
  if (!doc || doc->is_locked() || doc->pages() < 1) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The PDF document cannot be read.");
    papplJobSetMessage(job, "%s",
                       doc && doc->is_locked() ? "The PDF document is encrypted."
                                               : "The PDF document cannot be read.");
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
  }
  const int count = doc->pages();
  pappl_printer_t *printer = papplJobGetPrinter(job);
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  const PrinterModel &model = modelOf(printer);
  std::unique_ptr<pappl_pr_options_t, OptionsDeleter> options(
      papplJobCreatePrintOptions(job, static_cast<unsigned>(count), false));
  const int first = std::max(1, static_cast<int>(options->first_page));
  const int last = std::min(count, static_cast<int>(options->last_page));
  if (first > last) {
    papplJobSetMessage(job, "The document has no pages in page-ranges (it has %d).", count);
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, PAPPL_JREASON_NONE);
    return false;
  }
  // Copies of a document are collated: the app renders its pages again for each.
  const int copies = std::max(1, options->copies);
  options->copies = 1;
  const unsigned pages = static_cast<unsigned>((last - first + 1) * copies);
  options->num_pages = pages;
  papplJobSetImpressions(job, static_cast<int>(pages));

  Canvas canvas;
  canvas.dpi = static_cast<unsigned>(jobResolution(job, model));
  options->printer_resolution[0] = options->printer_resolution[1] = static_cast<int>(canvas.dpi);
  canvas.width =
      static_cast<unsigned>(std::lround(options->media.size_width * canvas.dpi / 2540.0));
  canvas.height =
      static_cast<unsigned>(std::lround(options->media.size_length * canvas.dpi / 2540.0));
  uint64_t size = static_cast<uint64_t>(canvas.width) * canvas.height;
  if (canvas.width == 0 || canvas.height == 0 || size > kMostMediaDots) {
    papplJobSetMessage(job, "The media size cannot be printed.");
    return false;
  }
  canvas.dots.resize(size);
  describeCanvas(canvas, options->header);

  if (!data.rstartjob_cb(job, options.get(), device)) return false;
  bool ok = true;
  unsigned printed = 0;
  for (int copy = 0; copy < copies && ok; copy++) {
    for (int p = first; p <= last && ok && !papplJobIsCanceled(job); p++) {
      std::unique_ptr<poppler::page> page(doc->create_page(p - 1));
      if (!page || !renderPage(job, *options, *page, canvas)) {
        papplJobSetMessage(job, "Page %d of the PDF document cannot be rendered.", p);
        ok = false;
        break;
      }
      ok = data.rstartpage_cb(job, options.get(), device, ++printed);
      for (unsigned y = 0; ok && y < canvas.height; y++)
        data.rwriteline_cb(job, options.get(), device, y,
                           canvas.dots.data() + static_cast<size_t>(y) * canvas.width);
      ok = ok && data.rendpage_cb(job, options.get(), device, printed);
      if (ok) papplJobSetImpressionsCompleted(job, 1);
    }
  }
  ok = data.rendjob_cb(job, options.get(), device) && ok;
  return ok;
}

}  // namespace

int jobResolution(pappl_job_t *job, const PrinterModel &model) {
  if (ipp_attribute_t *attr = papplJobGetAttribute(job, "printer-resolution")) {
    int y = 0;
    ipp_res_t units;
    const int x = ippGetResolution(attr, 0, &y, &units);
    if (x == y && units == IPP_RES_PER_INCH &&
        std::find(model.resolutions.begin(), model.resolutions.end(), x) != model.resolutions.end())
      return x;
  }
  return model.defaultResolution;
}

bool documentFormatTaken(const char *format) {
  static const std::string_view kTaken[] = {kUnknownFormat, kPdfFormat,   "image/pwg-raster",
                                            "image/urf",    "image/jpeg", "image/png"};
  return format && std::find(std::begin(kTaken), std::end(kTaken), format) != std::end(kTaken);
}

bool refuseUnknownDocument(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The document is of a format the printer does not take.");
  papplJobSetMessage(job,
                     "Unsupported document format: the printer takes PDF, PWG and Apple "
                     "raster, JPEG and PNG.");
  papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
  return false;
}

void setUnknownDocumentCallback(pappl_pr_driver_data_t &data) {
  data.format = kUnknownFormat;
  data.printfile_cb = refuseUnknownDocument;
}

void addPdfFilter(pappl_system_t *system) {
  papplSystemAddMIMEFilter(system, kPdfFormat, "image/pwg-raster", printPdf, nullptr);
}

}  // namespace app
