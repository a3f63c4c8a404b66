// Fuzzes the label row coders through the filter's own page steps: random pages of random rows
// (blank, repeated, nearly repeated, black, arbitrary) go through the page set-up, rows and
// page end of the printer language of every label model; the emulator's decoder must
// give back exactly those dots.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/job.h"
#include "fuzz_support.h"
#include "label_decoders.h"
#include "labels/labels.h"

namespace {

constexpr int kMaxRows = 400;
constexpr int kMaxPages = 3;
constexpr unsigned kResolution = 203;

// One page as the driver hands it to the row output: width dots per row, 0 black, 255 white.
struct SentPage {
  std::vector<std::vector<unsigned char>> rows;
};

std::vector<SentPage> readPages(FuzzInput &in, int width) {
  std::vector<SentPage> pages(1);
  const size_t packed = (static_cast<size_t>(width) + 7) / 8;
  std::vector<unsigned char> last(width, 255);
  int total = 0;
  while (in.remaining() > 0 && total < kMaxRows) {
    std::vector<unsigned char> row(width, 255);
    switch (in.byte() % 8) {
      case 0:  // blank
        break;
      case 1:  // the previous row again
        row = last;
        break;
      case 2: {  // the previous row with one dot changed
        row = last;
        const size_t x = in.u16() % width;
        row[x] = row[x] ? 0 : 255;
        break;
      }
      case 3:  // black
        std::fill(row.begin(), row.end(), 0);
        break;
      case 4:  // a new page
        if (pages.size() < kMaxPages && !pages.back().rows.empty()) {
          pages.emplace_back();
          continue;
        }
        [[fallthrough]];
      default: {
        const std::string bits = in.bytes(packed);
        for (size_t x = 0; x < static_cast<size_t>(width) && x / 8 < bits.size(); x++)
          if (static_cast<unsigned char>(bits[x / 8]) & (0x80 >> (x % 8))) row[x] = 0;
      }
    }
    pages.back().rows.push_back(row);
    last = row;
    total++;
  }
  if (pages.back().rows.empty()) pages.back().rows.emplace_back(width, 255);
  return pages;
}

// The header of a raster page of that size at 203 dpi, as the raster would bring it.
cups_page_header2_t pageHeader(int width, int height, FuzzInput &in) {
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  h.HWResolution[0] = h.HWResolution[1] = kResolution;
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = 24;
  h.cupsBytesPerLine = 3 * width;
  h.cupsColorSpace = CUPS_CSPACE_RGB;
  h.PageSize[0] = (width * 72 + kResolution - 1) / kResolution;
  h.PageSize[1] = (height * 72 + kResolution - 1) / kResolution;
  h.cupsPageSize[0] = h.PageSize[0];
  h.cupsPageSize[1] = h.PageSize[1];
  h.NumCopies = 1 + in.byte() % 2;
  h.cupsCompression = in.byte() % 31;  // darkness
  h.cupsRowCount = in.byte() % 16;
  h.cupsRowFeed = in.byte() % 16;
  h.cupsRowStep = in.byte() % 16;
  static const char *const media[] = {"", "Direct", "Thermal"};
  std::strncpy(h.MediaType, in.pick(media), sizeof h.MediaType - 1);
  return h;
}

std::string describe(int model, int width, size_t page, int y, int x) {
  return "model " + std::to_string(model) + " width " + std::to_string(width) + " page " +
         std::to_string(page) + " dot (" + std::to_string(x) + ", " + std::to_string(y) + ")";
}

// Decoded dots equal the rows sent; the printer may show more white around them (a label
// larger than the rows, or blank rows at the end that were never sent).
void compare(int model, int width, size_t index, const SentPage &sent, const emu::LabelPage &got) {
  const int height = static_cast<int>(sent.rows.size());
  FUZZ_CHECK(got.dots.size() == static_cast<size_t>(got.width) * got.height,
             describe(model, width, index, 0, 0));
  const int rows = std::max(height, got.height), cols = std::max(width, got.width);
  for (int y = 0; y < rows; y++)
    for (int x = 0; x < cols; x++) {
      const unsigned char want = y < height && x < width ? sent.rows[y][x] : 255;
      const unsigned char have =
          y < got.height && x < got.width ? got.dots[static_cast<size_t>(y) * got.width + x] : 255;
      if (want != have) fuzzFail("decoded dot differs", describe(model, width, index, y, x));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput in(data, size);
  const int model = pickModel(in, ModelFamily::Label);
  const int width = 1 + in.u16() % 320;
  cups_page_header2_t header = pageHeader(width, 1, in);
  const std::vector<SentPage> pages = readPages(in, width);

  StringSink printer;
  StringLogSink log;
  SilentChannel channel;
  RealClock clock;
  ChoiceMap choices;
  Job job(JobSeams{printer, log, channel, clock});
  job.choices = &choices;
  job.setModel(model);
  Setup(job, nullptr);
  for (const SentPage &sent : pages) {
    job.Page++;
    Page page;
    page.header = header;
    page.header.cupsHeight = static_cast<unsigned>(sent.rows.size());
    page.header.PageSize[1] = (page.header.cupsHeight * 72 + kResolution - 1) / kResolution;
    page.header.cupsPageSize[1] = page.header.PageSize[1];
    job.printer->startPage(page);
    // The finished page as the pipeline leaves it, in a buffer of exactly its size: a coder that
    // reads past it is caught.
    page.dots = allocateDots(static_cast<uint64_t>(width) * sent.rows.size());
    for (size_t y = 0; y < sent.rows.size(); y++)
      std::memcpy(page.dots.get() + y * width, sent.rows[y].data(), width);
    for (size_t y = 0; y < sent.rows.size(); y++) job.printer->row(page, static_cast<int>(y));
    job.printer->endPage(page);
  }
  job.prn.flush();

  emu::LabelDecodeOptions options;
  options.rowBytes = (width + 7) / 8;
  const emu::LabelDecodeResult decoded = emu::decodeLabelStream(model, printer.bytes, options);
  FUZZ_CHECK(decoded.ok, "model " + std::to_string(model) + ": " + decoded.error);
  FUZZ_CHECK(decoded.pages.size() == pages.size(),
             "model " + std::to_string(model) + ": " + std::to_string(decoded.pages.size()) +
                 " pages decoded, " + std::to_string(pages.size()) + " sent");
  for (size_t i = 0; i < pages.size(); i++) compare(model, width, i, pages[i], decoded.pages[i]);
  return 0;
}
