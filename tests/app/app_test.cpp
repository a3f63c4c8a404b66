// The printer application end to end: a server in a scratch folder with emulated printers, jobs
// from ipptool (several at once), each printer stream compared with the stream the filter writes
// for the same page raster and PPD options.
#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "app/client_pages.h"
#include "support/e2e_support.h"

namespace fs = std::filesystem;
using apptest::AppServer;
using apptest::filterStream;
using apptest::idleReportMs;
using apptest::ipptoolPrint;
using apptest::ppdPath;

namespace {

// The page header a CUPS queue's rasterizer writes for the PPD marked with options.
cups_page_header2_t ppdHeader(const std::string &driver, const std::string &options) {
  ppd_file_t *ppd = apptest::markedPpd(driver, options);
  cups_page_header2_t header{};
  cupsRasterInterpretPPD(&header, ppd, 0, nullptr, nullptr);
  ppdClose(ppd);
  return header;
}

// Pages of the PPD's size for options, as a client's rasterizer makes them.
apptest::GrayPage pageFor(const std::string &driver, const std::string &options) {
  const cups_page_header2_t header = ppdHeader(driver, options);
  return apptest::testPage(header.cupsPageSize[0], header.cupsPageSize[1], header.HWResolution[0]);
}

// Sheets of the driver's default size as PWG raster.
std::string defaultRaster(const char *driver, int pages = 1) {
  return apptest::rasterOf(pageFor(driver, ""), {}, CUPS_RASTER_WRITE_PWG, pages);
}

struct StreamCase {
  std::string driver;
  const char *ipp;         // job attributes as ipptool ATTR lines
  const char *ppdOptions;  // the filter's options for the same settings
  int copies = 1;          // the filter gets the page this many times
};

const StreamCase kStreamCases[] = {
    {"rx5k-22",
     "ATTR integer print-darkness 40\nATTR keyword print-color-mode process-monochrome"
     "\nATTR keyword brightness 20\nATTR keyword media iso_a5_148x210mm",
     "Darkness=0 ColorOption=GrayScale AdjustLight=20 PageSize=A5"},
    {"rx5k-22", "ATTR keyword print-color-mode monochrome", "ColorOption=GrayScale"},
    {"rx5k-23",
     "ATTR collection media-col { MEMBER collection media-size { MEMBER integer x-dimension 21000 "
     "MEMBER integer y-dimension 29700 } MEMBER keyword media-tracking mark "
     "MEMBER integer media-top-offset 300 MEMBER integer media-left-offset -200 }\n"
     "ATTR keyword print-mode 3",
     "zeMediaTracking=BLine AdjustVertical=3 AdjustHoriaontal=-2 PrintMode=3"},
    {"rx5k-21",
     "ATTR keyword media om_rx5-a4_210x300mm\nATTR keyword mirror-image 1\n"
     "ATTR keyword anti-wrinkle 2",
     "PageSize=RX5_A4 OemMirror=1 Antiwrinkling=2"},
    {"rx5k-302-jt64", "ATTR resolution printer-resolution 300x300dpi\nATTR keyword rotate-page 1",
     "Resolution=300dpi Rotate=1"},
    {"rx5k-64519",
     "ATTR collection media-col { MEMBER collection media-size { MEMBER integer x-dimension 10000 "
     "MEMBER integer y-dimension 15000 } }\nATTR keyword pencil-sketch 1",
     "PageSize=Custom.283.46x425.2 Sketch=1"},
    {"rx5k-label-0", "ATTR integer print-darkness 25\nATTR integer copies 2", "Darkness=Dark", 2},
    {"rx5k-label-16", "ATTR integer print-speed 7620\nATTR integer print-darkness 57",
     "zePrintRate=3 Darkness=4"},
    {"rx5k-label-17", "ATTR keyword label-media-type direct\nATTR keyword media na_index-4x6_4x6in",
     "MediaType=Direct PageSize=w288h432"},
    {"rx5k-label-18",
     "ATTR integer print-speed 15240\nATTR keyword label-top 40\nATTR keyword tear-off-position -30"
     "\nATTR keyword label-print-mode peel\nATTR collection media-col { MEMBER keyword "
     "media-tracking web }",
     "zePrintRate=6 zeLabelTop=40 zeTearOffset=-30 zePrintMode=Peel zeMediaTracking=Web"},
    {"rx5k-label-19", "ATTR keyword cut-labels 4\nATTR integer print-darkness 75",
     "CutMedia=4 Darkness=150"},
    {"rx5k-label-32", "ATTR keyword print-mode cut\nATTR keyword media na_letter_8.5x11in",
     "inPrintMode=Cut PageSize=Letter"},
};

// The printer offers its PPD's page sizes (and custom range), default size and resolution.
void expectPpdMedia(AppServer &server, const std::string &printer, const std::string &driver) {
  auto sameSize = [](const pwg_media_t &m, const ppd_size_t &s) {
    return std::abs(m.width - s.width * 2540 / 72) < 100 &&
           std::abs(m.length - s.length * 2540 / 72) < 100;
  };
  ppd_file_t *ppd = ppdOpenFile(ppdPath(driver).c_str());
  ppdMarkDefaults(ppd);
  std::string custom;
  std::vector<pwg_media_t> media;  // copies: libcups parses self-describing names into one buffer
  for (const std::string &name :
       apptest::split(server.value(IPP_OP_GET_PRINTER_ATTRIBUTES, printer, "media-supported"))) {
    if (name.rfind("custom_", 0) == 0)
      custom += name;
    else if (const pwg_media_t *m = pwgMediaForPWG(name.c_str()))
      media.push_back(*m);
    else
      ADD_FAILURE() << "media " << name;
  }
  EXPECT_EQ(media.size(), static_cast<size_t>(ppd->num_sizes - (ppd->variable_sizes ? 1 : 0)));
  for (int i = 0; i < ppd->num_sizes; i++)
    EXPECT_TRUE(std::strcmp(ppd->sizes[i].name, "Custom") == 0 ||
                std::any_of(media.begin(), media.end(),
                            [&](const pwg_media_t &m) { return sameSize(m, ppd->sizes[i]); }))
        << ppd->sizes[i].name;
  EXPECT_EQ(custom.find("custom_min_") == 0, ppd->variable_sizes != 0);
  const std::string byDefault =
      server.value(IPP_OP_GET_PRINTER_ATTRIBUTES, printer, "media-default");
  const pwg_media_t *defaultMedia = pwgMediaForPWG(byDefault.c_str());
  ASSERT_NE(defaultMedia, nullptr) << "media-default " << byDefault;
  EXPECT_TRUE(sameSize(*defaultMedia, *ppdPageSize(ppd, nullptr)));
  EXPECT_EQ(server.value(IPP_OP_GET_PRINTER_ATTRIBUTES, printer, "printer-resolution-default"),
            std::string(ppdFindMarkedChoice(ppd, "Resolution")->choice));
  ppdClose(ppd);
}

// Every driver prints with its defaults and offers its PPD's media; then the IPP attributes that
// stand for PPD options print as those options.
TEST(App, PwgRasterPrintsTheFilterStream) {
  AppServer server;
  std::vector<StreamCase> cases;
  for (const auto &entry : fs::directory_iterator(std::string(RX5K_BUILD_DIR) + "/ppd"))
    cases.push_back({entry.path().stem().string(), "", ""});
  cases.insert(cases.end(), std::begin(kStreamCases), std::end(kStreamCases));
  std::vector<std::future<bool>> printed;
  std::vector<std::string> rasters, pwg;
  for (size_t i = 0; i < cases.size(); i++) {
    const std::string printer = "p" + std::to_string(i);
    const cups_page_header2_t header = ppdHeader(cases[i].driver, cases[i].ppdOptions);
    // Model 20's stream does not say its row length: the printer knows it from its labels.
    const std::string rowBytes = std::to_string((header.cupsWidth + 7) / 8);
    ASSERT_TRUE(server.add(printer, cases[i].driver,
                           "&label-row-bytes=" + rowBytes +
                               "&idle-report-ms=" + std::to_string(idleReportMs(cases[i].driver))));
    // Asked before the jobs start: a server slowed by a sanitizer and busy with them all may
    // answer "Service Unavailable".
    if (!*cases[i].ipp) expectPpdMedia(server, printer, cases[i].driver);
    const apptest::GrayPage page = pageFor(cases[i].driver, cases[i].ppdOptions);
    rasters.push_back(apptest::cupsRasterFor(cases[i].driver, cases[i].ppdOptions, page,
                                             server.file(printer), cases[i].copies));
    pwg.push_back(apptest::rasterOf(page, {}, CUPS_RASTER_WRITE_PWG));
  }
  for (size_t i = 0; i < cases.size(); i++)
    printed.push_back(std::async(std::launch::async, [&, i] {
      return ipptoolPrint(server, "p" + std::to_string(i), pwg[i], cases[i].ipp);
    }));
  for (size_t i = 0; i < cases.size(); i++) {
    SCOPED_TRACE(cases[i].driver + " " + cases[i].ipp);
    ASSERT_TRUE(printed[i].get());
    const std::string app = server.stream("p" + std::to_string(i), 1);
    const std::string filter = filterStream(cases[i].driver, cases[i].ppdOptions, rasters[i]);
    EXPECT_FALSE(app.empty());
    EXPECT_EQ(e2e::firstDifference(app, filter), "") << "app vs filter";
  }
}

// The printer reports out of paper for its first paper queries: the state shows it while the job
// waits, and the job prints once paper comes (the condition withdrawn). A cancel from the printer
// ends its job. (A cancel from the client: AppClients.StopAndCrashDuringAPaperWait.)
TEST(App, MediaEmptyWhileThePrinterIsOutOfPaperAndCancels) {
  AppServer server;
  ASSERT_TRUE(server.add("p", "rx5k-21", "&paper-missing=3"));
  ASSERT_TRUE(server.add("cancelling", "rx5k-22", "&cancel-at-page=1"));
  auto job = std::async(std::launch::async,
                        [&] { return ipptoolPrint(server, "p", defaultRaster("rx5k-21"), ""); });
  EXPECT_TRUE(apptest::waitUntil(10, [&] { return server.hasReason("p", "media-empty"); }));
  EXPECT_TRUE(job.get());
  EXPECT_EQ(server.jobState("p", 1), "completed");
  EXPECT_FALSE(server.hasReason("p", "media-empty"));

  EXPECT_TRUE(ipptoolPrint(server, "cancelling", defaultRaster("rx5k-22", 2), ""));
  EXPECT_EQ(server.jobState("cancelling", 1), "canceled");
}

}  // namespace
