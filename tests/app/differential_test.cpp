// Random jobs through the app and through the filter: every driver, its page sizes and custom
// sizes, its resolutions, random page content and the job attributes each printer offers. The
// app gets the page as PWG raster; the filter gets the same dots as the CUPS raster pdftoraster
// makes for the PPD options the app logged; the printer streams must be the same bytes.
// RX5K_DIFFERENTIAL_JOBS (default 24, 8 under the thread sanitizer) and RX5K_DIFFERENTIAL_SEED
// set the run (scripts/differential runs a long one).
#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/client_pages.h"
#include "support/e2e_support.h"

namespace fs = std::filesystem;
using apptest::AppServer;
using apptest::split;

namespace {

unsigned envNumber(const char *name, unsigned fallback) {
  const char *value = std::getenv(name);
  return value && *value ? static_cast<unsigned>(std::strtoul(value, nullptr, 10)) : fallback;
}

// A random job: its driver, page and IPP attributes (ipptool ATTR lines).
struct RandomJob {
  std::string driver;
  apptest::GrayPage page;
  std::string attributes;
  int copies = 1;
};

// The attributes a printer offers, read once.
struct Offer {
  std::vector<std::string> media, colorModes, tracking, vendor;
  std::map<std::string, std::vector<std::string>> vendorValues;
  bool darkness = false;
  std::string speed;  // "low-high", or empty
};

Offer offerOf(AppServer &server, const std::string &printer) {
  auto get = [&](const char *name) {
    return server.value(IPP_OP_GET_PRINTER_ATTRIBUTES, printer, name);
  };
  Offer offer;
  for (const std::string &name : split(get("media-supported")))
    if (name.rfind("custom_", 0) != 0) offer.media.push_back(name);
  offer.colorModes = split(get("print-color-mode-supported"));
  offer.tracking = split(get("media-tracking-supported"));
  offer.darkness = !get("print-darkness-supported").empty();
  offer.speed = get("print-speed-supported");
  // Attributes of IPP itself; the rest are the driver's own options.
  const std::string standard =
      " copies document-format document-name ipp-attribute-fidelity job-hold-until "
      "job-hold-until-time job-name job-priority media media-col multiple-document-handling "
      "orientation-requested output-bin print-color-mode print-content-optimize print-quality "
      "printer-resolution sides page-ranges print-darkness print-speed print-scaling ";
  for (const std::string &name : split(get("job-creation-attributes-supported"))) {
    if (standard.find(" " + name + " ") != std::string::npos) continue;
    const std::vector<std::string> values = split(get((name + "-supported").c_str()));
    if (values.empty()) continue;
    offer.vendor.push_back(name);
    offer.vendorValues[name] = values;
  }
  return offer;
}

RandomJob randomJob(const std::string &driver, const Offer &offer, unsigned seed) {
  std::mt19937 random(seed);
  auto pick = [&](const std::vector<std::string> &values) {
    return values[random() % values.size()];
  };
  auto coin = [&] { return random() % 2 == 0; };
  RandomJob job;
  job.driver = driver;
  ppd_file_t *ppd = ppdOpenFile(apptest::ppdPath(driver).c_str());
  std::vector<int> resolutions;
  if (ppd_option_t *o = ppdFindOption(ppd, "Resolution"))
    for (int i = 0; i < o->num_choices; i++) resolutions.push_back(std::atoi(o->choices[i].choice));
  const unsigned dpi = static_cast<unsigned>(resolutions[random() % resolutions.size()]);
  // A size the printer lists (by name), or a custom size in its range with hundredths of a
  // millimetre. Model 20's printer knows one row length: its labels keep the default size.
  std::string media;
  double width = 0, length = 0;
  if (driver == "rx5k-label-20") {
    std::tie(width, length) = apptest::pageSizeOf(driver, "");
    width = width * 2540 / 72, length = length * 2540 / 72;
  } else if (ppd->variable_sizes && random() % 3 == 0) {
    auto within = [&](int axis) {
      const double low = ppd->custom_min[axis] * 2540 / 72,
                   high = ppd->custom_max[axis] * 2540 / 72;
      return std::floor(low + 1 + (high - low - 2) * (random() % 10000) / 10000.0);
    };
    width = within(0);
    length = within(1);
  } else {
    media = pick(offer.media);
    const pwg_media_t *size = pwgMediaForPWG(media.c_str());
    width = size->width;
    length = size->length;
  }
  ppdClose(ppd);
  job.page = apptest::testPage(width * 72 / 2540, length * 72 / 2540, dpi, seed,
                               static_cast<int>(random() % 30));

  std::string members;
  if (media.empty())
    members = "MEMBER collection media-size { MEMBER integer x-dimension " +
              std::to_string(std::lround(width)) + " MEMBER integer y-dimension " +
              std::to_string(std::lround(length)) + " }";
  else
    members = "MEMBER keyword media-size-name " + media;
  if (!offer.tracking.empty() && coin())
    members += " MEMBER keyword media-tracking " + pick(offer.tracking);
  if (coin()) members += " MEMBER integer media-top-offset " + std::to_string(random() % 5 * 100);
  std::string &a = job.attributes;
  a = "ATTR collection media-col { " + members + " }\nATTR resolution printer-resolution " +
      std::to_string(dpi) + "dpi";
  if (!offer.colorModes.empty() && coin())
    a += "\nATTR keyword print-color-mode " + pick(offer.colorModes);
  if (offer.darkness && coin())
    a += "\nATTR integer print-darkness " + std::to_string(random() % 101);
  if (const size_t dash = offer.speed.find('-'); dash != std::string::npos && coin()) {
    const int high = std::atoi(offer.speed.c_str() + dash + 1);
    a += "\nATTR integer print-speed " + std::to_string(random() % (high / 2540 + 1) * 2540);
  }
  for (const std::string &name : offer.vendor)
    if (coin()) a += "\nATTR keyword " + name + " " + pick(offer.vendorValues.at(name));
  // Models 22 and 23 pause 3 s between pages: copies only on label printers.
  if (driver.find("label") != std::string::npos && coin()) job.copies = 2;
  a += "\nATTR integer copies " + std::to_string(job.copies);
  return job;
}

TEST(App, RandomJobsPrintTheFilterStream) {
#ifdef __SANITIZE_THREAD__
  const unsigned shortRun = 8;  // the server and the filter run many times slower
#else
  const unsigned shortRun = 24;
#endif
  const unsigned jobs = envNumber("RX5K_DIFFERENTIAL_JOBS", shortRun);
  const unsigned runSeed = envNumber("RX5K_DIFFERENTIAL_SEED", 20261206);
  AppServer server;
  std::vector<std::string> drivers;
  for (const auto &entry : fs::directory_iterator(std::string(RX5K_BUILD_DIR) + "/ppd"))
    drivers.push_back(entry.path().stem().string());
  std::sort(drivers.begin(), drivers.end());
  std::map<std::string, Offer> offers;
  std::map<std::string, int> jobsOf;  // jobs printed by each printer
  std::mt19937 random(runSeed);
  const auto start = std::chrono::steady_clock::now();
  unsigned fallbacks = 0;
  for (unsigned j = 0; j < jobs; j++) {
    const unsigned seed = random();
    const std::string driver = drivers[seed % drivers.size()];
    if (!offers.count(driver)) {
      // Model 20's printer takes its row length from its labels: the default size's.
      const long width = std::lround(apptest::pageSizeOf(driver, "").first * 203 / 72);
      ASSERT_TRUE(
          server.add(driver, driver,
                     "&label-row-bytes=" + std::to_string((width + 7) / 8) +
                         "&idle-report-ms=" + std::to_string(apptest::idleReportMs(driver))));
      offers[driver] = offerOf(server, driver);
    }
    const RandomJob job = randomJob(driver, offers[driver], seed);
    const std::string what = "job " + std::to_string(j) + " (seed " + std::to_string(seed) + ", " +
                             driver + ", " + std::to_string(job.page.width) + "x" +
                             std::to_string(job.page.height) + " dots at " +
                             std::to_string(job.page.dpi) + " dpi):\n" + job.attributes;
    ASSERT_TRUE(apptest::ipptoolPrint(server, driver,
                                      apptest::rasterOf(job.page, {}, CUPS_RASTER_WRITE_PWG),
                                      job.attributes, "image/pwg-raster"))
        << what;
    const int id = ++jobsOf[driver];
    ASSERT_EQ(server.jobState(driver, id), "completed") << what;
    const std::string options = apptest::loggedOptions(server);
    const cups_page_header2_t header =
        apptest::rasterizerHeaderFor(driver, options, server.file("cups"));
    // pdftoraster takes some narrow custom sizes for the document's own size cut to whole
    // points (a 51.76 pt label is 51 pt wide): no page of the size the job asks for to compare.
    if (options.find("PageSize=Custom.") != std::string::npos &&
        std::strcmp(header.cupsPageSizeName, "Custom") != 0) {
      fallbacks++;
      continue;
    }
    const std::string app = server.stream(driver, id);
    const std::string filter =
        apptest::filterStream(driver, options, apptest::cupsRasterOf(header, job.page, job.copies));
    // Kept beside the app's job folder for a look when they differ.
    if (app != filter) std::ofstream(server.file("filter-" + std::to_string(j) + ".bin")) << filter;
    EXPECT_EQ(e2e::firstDifference(app, filter), "") << what << "\nPPD options: " << options;
  }
  std::printf(
      "%u random jobs (seed %u) in %.1f s; %u not compared: the rasterizer did not take their "
      "custom size\n",
      jobs, runSeed,
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), fallbacks);
}

}  // namespace
