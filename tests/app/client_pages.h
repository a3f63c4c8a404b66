// Pages as clients send them to the printer application (PWG raster, Apple raster, PDF), and
// the same pages as a CUPS queue hands them to the filter: the header the queue's rasterizer
// (pdftoraster) writes for the PPD and options, its imageable area cut from the client's page.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/app_server.h"
#include "job_runner.h"
#include "support/command.h"
#include "support/raster_file.h"

namespace apptest {

inline std::string ppdPath(const std::string &driver) {
  return std::string(RX5K_BUILD_DIR) + "/ppd/" + driver + ".ppd";
}

// The driver's PPD with its defaults and then the options marked; the caller closes it.
inline ppd_file_t *markedPpd(const std::string &driver, const std::string &options) {
  ppd_file_t *ppd = ppdOpenFile(ppdPath(driver).c_str());
  cups_option_t *parsed = nullptr;
  const int count = cupsParseOptions(options.c_str(), 0, &parsed);
  ppdMarkDefaults(ppd);
  cupsMarkOptions(ppd, count, parsed);
  cupsFreeOptions(count, parsed);
  return ppd;
}

// The items of an IPP value list as the server's value() gives it ("a,b,c").
inline std::vector<std::string> split(const std::string &text) {
  std::vector<std::string> items;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');) items.push_back(item);
  return items;
}

// An 8-bit gray page (0 black).
struct GrayPage {
  unsigned width = 0, height = 0, dpi = 0;
  std::vector<unsigned char> dots;
};

// A page of the size in points at dpi, as a client's rasterizer makes it (sizes rounded), with a
// gradient under a chequer board of side `square` dots, a frame, and `boxes` random black boxes.
inline GrayPage testPage(double widthPt, double lengthPt, unsigned dpi, unsigned seed = 0,
                         int boxes = 0) {
  GrayPage page;
  page.dpi = dpi;
  page.width = static_cast<unsigned>(std::lround(widthPt * dpi / 72));
  page.height = static_cast<unsigned>(std::lround(lengthPt * dpi / 72));
  page.dots.resize(static_cast<size_t>(page.width) * page.height);
  std::mt19937 random(seed);
  const unsigned square = 32 + random() % 64;
  for (unsigned y = 0; y < page.height; y++)
    for (unsigned x = 0; x < page.width; x++) {
      const bool frame = x < 8 || y < 8 || x + 8 >= page.width || y + 8 >= page.height;
      const bool dark = (x / square + y / square) % 3 == 0;
      page.dots[static_cast<size_t>(y) * page.width + x] =
          frame || dark ? 0 : static_cast<unsigned char>(x * 255 / page.width);
    }
  for (int b = 0; b < boxes; b++) {
    const unsigned x0 = random() % page.width, y0 = random() % page.height;
    const unsigned x1 = std::min<unsigned>(page.width, x0 + 1 + random() % 200);
    const unsigned y1 = std::min<unsigned>(page.height, y0 + 1 + random() % 200);
    const auto shade = static_cast<unsigned char>(random() % 256);
    for (unsigned y = y0; y < y1; y++)
      std::memset(&page.dots[static_cast<size_t>(y) * page.width + x0], shade, x1 - x0);
  }
  return page;
}

// A PWG raster page of width x height dots at 203 dpi, 8 bits a colour in the colour space, of
// which rows rows (all 0: black in gray) are sent.
inline std::string pwgPage(unsigned width, unsigned height, unsigned rows,
                           cups_cspace_t space = CUPS_CSPACE_SW, unsigned colors = 1) {
  rastertest::RasterPage page;
  page.header =
      rastertest::rasterHeader(width, height, 203, rastertest::RasterColor::Gray, "custom");
  page.header.cupsColorSpace = space;
  page.header.cupsNumColors = colors;
  page.header.cupsBitsPerPixel = 8 * colors;
  page.header.cupsBytesPerLine = width * colors;
  page.pixels.assign(size_t{width} * colors * rows, 0);
  page.rowsToWrite = static_cast<int>(rows);
  return rastertest::rasterStream({page}, CUPS_RASTER_WRITE_PWG);
}

// The page `copies` times as an 8-bit gray raster stream with the header's other fields, rows
// first..first+height of the page (white beyond it).
inline std::string rasterOf(const GrayPage &page, cups_page_header2_t header, cups_mode_t mode,
                            int copies = 1, unsigned first = 0) {
  if (mode == CUPS_RASTER_WRITE_PWG) {
    header.cupsWidth = page.width;
    header.cupsHeight = page.height;
    header.HWResolution[0] = header.HWResolution[1] = page.dpi;
  }
  header.cupsBitsPerColor = header.cupsBitsPerPixel = 8;
  header.cupsBytesPerLine = header.cupsWidth;
  header.cupsColorSpace = CUPS_CSPACE_SW;
  header.cupsColorOrder = CUPS_ORDER_CHUNKED;
  header.cupsNumColors = 1;
  const rastertest::RasterPage sheet =
      rastertest::pageFromGenerator(header, [&](unsigned x, unsigned y) -> unsigned char {
        return first + y < page.height && x < page.width
                   ? page.dots[static_cast<size_t>(first + y) * page.width + x]
                   : 255;
      });
  return rastertest::rasterStream(std::vector(static_cast<size_t>(copies), sheet), mode);
}

// An Apple raster file header with one 8-bit gray, one-sided page of width x height dots.
inline std::string urfHeader(uint32_t width, uint32_t height, uint32_t dpi) {
  std::string urf("UNIRAST\0", 8);
  for (const uint32_t v : {1u, 0x08000104u, 0u, 0u, width, height, dpi, 0u, 0u})
    for (int shift = 24; shift >= 0; shift -= 8) urf += static_cast<char>((v >> shift) & 0xFF);
  return urf;
}

// The page as Apple raster: PWG raster's rows are coded alike, under Apple raster's headers.
inline std::string urfOf(const GrayPage &page) {
  const std::string pwg = rasterOf(page, {}, CUPS_RASTER_WRITE_PWG);
  return urfHeader(page.width, page.height, page.dpi) + pwg.substr(4 + 1796);
}

// Runs the queue's rasterizer, pdftoraster, on the PDF file for the PPD and options.
inline void pdftoraster(const std::string &driver, const std::string &options,
                        const std::string &pdf, const std::string &ras) {
  const std::string command = "PPD=" + ppdPath(driver) +
                              " /usr/lib/cups/filter/pdftoraster 1 u t 1 '" + options + "' " + pdf +
                              " > " + ras + " 2>/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

// The header pdftoraster writes for a page of the size in points on the PPD with options.
inline cups_page_header2_t rasterizerHeader(const std::string &driver, const std::string &options,
                                            double widthPt, double lengthPt,
                                            const std::string &scratch) {
  const std::string pdf = scratch + ".pdf", ras = scratch + ".ras";
  std::ofstream(pdf) << "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
                        "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
                        "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 "
                     << widthPt << " " << lengthPt << "]>>endobj\ntrailer<</Root 1 0 R>>\n%%EOF\n";
  pdftoraster(driver, options, pdf, ras);
  cups_page_header2_t header{};
  const int fd = open(ras.c_str(), O_RDONLY);
  cups_raster_t *raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  EXPECT_TRUE(raster && cupsRasterReadHeader2(raster, &header)) << ras;
  cupsRasterClose(raster);
  close(fd);
  return header;
}

// The size in points of the page the filter's options choose (a PPD size or "Custom.WxH").
inline std::pair<double, double> pageSizeOf(const std::string &driver, const std::string &options) {
  ppd_file_t *ppd = markedPpd(driver, options);
  const ppd_size_t *size = ppdPageSize(ppd, nullptr);
  const std::pair<double, double> points{size ? size->width : 0, size ? size->length : 0};
  ppdClose(ppd);
  return points;
}

// The header pdftoraster writes for a document of the page size the filter's options choose.
inline cups_page_header2_t rasterizerHeaderFor(const std::string &driver,
                                               const std::string &options,
                                               const std::string &scratch) {
  const auto [width, length] = pageSizeOf(driver, options);
  return rasterizerHeader(driver, options, width, length, scratch);
}

// What a CUPS queue's rasterizer hands the filter for the client's page under its header: the
// rows of the imageable area, which starts floor((length - top) * dpi / 72) rows below the
// page's top edge.
inline std::string cupsRasterOf(const cups_page_header2_t &header, const GrayPage &page,
                                int copies = 1) {
  const auto first = static_cast<unsigned>(std::floor(
      (header.cupsPageSize[1] - header.cupsImagingBBox[3]) * header.HWResolution[1] / 72.0));
  return rasterOf(page, header, CUPS_RASTER_WRITE, copies, first);
}

// The same for the client's page printed with options (a document of the page's PPD size).
inline std::string cupsRasterFor(const std::string &driver, const std::string &options,
                                 const GrayPage &page, const std::string &scratch, int copies = 1) {
  return cupsRasterOf(rasterizerHeaderFor(driver, options, scratch), page, copies);
}

// Model 302 waits after each page for the idle report, which its printer volunteers 500 ms after
// the bitmap by default: a loaded machine may send the filler after the report, and the job then
// waits 26 s for the next. Later reports keep the order the virtual clock gives.
inline int idleReportMs(const std::string &driver) {
  return driver.find("302") != std::string::npos ? 5000 : -1;
}

// The stream the filter writes for the raster and options (in-process, against the emulator).
inline std::string filterStream(const std::string &driver, const std::string &options,
                                const std::string &raster) {
  runner::JobSpec spec;
  spec.printer.idleReportMs = idleReportMs(driver);
  spec.ppd = ppdPath(driver);
  spec.jobOptions = options;
  spec.raster = raster;
  spec.keepImages = false;
  return runner::runJob(spec).stream;
}

// Sends a document with ipptool and the job attributes (ipptool ATTR lines), waiting for the
// job's end; false when ipptool reports a failure. With a status other than successful-ok (and
// any EXPECT lines after it), the request must be answered so (no job to wait for).
inline bool ipptoolPrint(AppServer &server, const std::string &printer, const std::string &document,
                         const std::string &attributes, const char *format = "image/pwg-raster",
                         const std::string &status = "successful-ok") {
  const std::string documentFile = server.file(printer + ".doc");
  const std::string testFile = server.file(printer + ".test");
  std::ofstream(documentFile, std::ios::binary) << document;
  const std::string operation =
      "GROUP operation-attributes-tag\nATTR charset attributes-charset utf-8\n"
      "ATTR naturalLanguage attributes-natural-language en\nATTR uri printer-uri $uri\n";
  std::ofstream test(testFile);
  test << "{\nOPERATION Print-Job\n"
       << operation << "ATTR name requesting-user-name test\nATTR mimeMediaType document-format "
       << format << "\nGROUP job-attributes-tag\n"
       << attributes << "\nFILE " << documentFile << "\nSTATUS " << status << "\n";
  if (status == "successful-ok")
    test << "EXPECT job-id OF-TYPE integer\n}\n{\nOPERATION Get-Job-Attributes\n"
         << operation
         << "ATTR integer job-id $job-id\nSTATUS successful-ok\n"
            // The job's end, however slow the machine (ten minutes at most).
            "EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT 6000\nDELAY 0.1\n";
  test << "}\n";
  test.close();
  return run({"/usr/bin/ipptool", "-q", "-T", "60", server.uri(printer), testFile}) == 0;
}

// The PPD options the app logged for its latest job (in the log, or in the one PAPPL moved
// aside when it grew too long).
inline std::string loggedOptions(AppServer &server) {
  const std::string key = "PPD options: ";
  for (const char *name : {"rx5k-printer-app.log", "rx5k-printer-app.log.O"}) {
    const std::string log = readFile(server.file(name));
    const size_t at = log.rfind(key);
    if (at != std::string::npos)
      return log.substr(at + key.size(), log.find('\n', at) - at - key.size());
  }
  return "";
}

}  // namespace apptest
