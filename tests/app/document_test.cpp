// Documents as phones and desktops send them: PDF (rendered by the app) and Apple raster print
// the bytes the filter writes for the page a CUPS queue makes of the same document; a document
// the app cannot read fails with its reason.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/client_pages.h"
#include "page_png.h"

using apptest::AppServer;

namespace {

// A PDF of pages of the size in points, each page with black boxes (x, y, width, height in
// points from the bottom left corner) given as PostScript operands.
std::string makePdf(AppServer &server, const std::string &name, double widthPt, double lengthPt,
                    const std::vector<std::string> &pages) {
  const std::string file = server.file(name + ".pdf");
  EXPECT_TRUE(apptest::pdfOf(file, widthPt, lengthPt, pages)) << name;
  return apptest::readFile(file);
}

// The raster pdftoraster makes of a PDF for the PPD and options (RGB, as a CUPS queue hands it
// to the filter), its pages `times` times over.
std::string rasterizedPdf(const std::string &driver, const std::string &options,
                          const std::string &pdf, const std::string &scratch, int times = 1) {
  std::ofstream(scratch + ".pdf", std::ios::binary) << pdf;
  apptest::pdftoraster(driver, options, scratch + ".pdf", scratch + ".ras");
  const std::string once = apptest::readFile(scratch + ".ras");
  std::string out;
  for (int i = 0; i < times; i++) out += i ? once.substr(4) : once;  // one stream, pages repeated
  return out;
}

// A thermal printer whose imageable area is shorter than its paper and a label printer: PDF
// pages at the printer's resolution whatever the print-quality, a page range with collated
// copies, an Apple raster page; a text document is refused with its reason.
TEST(App, PdfAndAppleRasterPrintTheFilterStream) {
  AppServer server;
  ASSERT_TRUE(server.add("vn2w", "rx5k-590314-vn2w"));
  ASSERT_TRUE(server.add("label", "rx5k-label-18"));

  const std::string a4 = makePdf(server, "a4", 595, 842,
                                 {"100 100 200 200 rectfill 300 780 150 60 rectfill "
                                  "0.5 setgray 50 400 400 100 rectfill"});
  ASSERT_TRUE(
      apptest::ipptoolPrint(server, "vn2w", a4, "ATTR enum print-quality 4", "application/pdf"));
  std::string options = apptest::loggedOptions(server);
  EXPECT_NE(options.find("Resolution=203dpi"), std::string::npos) << options;
  std::string filter =
      apptest::filterStream("rx5k-590314-vn2w", options,
                            rasterizedPdf("rx5k-590314-vn2w", options, a4, server.file("a4-cups")));
  EXPECT_FALSE(filter.empty());
  EXPECT_TRUE(server.stream("vn2w", 1) == filter) << options;

  const std::string labels =
      makePdf(server, "labels", 288, 432, {"20 20 100 100 rectfill", "150 300 100 100 rectfill"});
  const std::string second = makePdf(server, "second", 288, 432, {"150 300 100 100 rectfill"});
  ASSERT_TRUE(apptest::ipptoolPrint(server, "label", labels,
                                    "ATTR rangeOfInteger page-ranges 2-2\nATTR integer copies 2\n"
                                    "ATTR enum print-quality 5",
                                    "application/pdf"));
  options = apptest::loggedOptions(server);
  filter = apptest::filterStream(
      "rx5k-label-18", options,
      rasterizedPdf("rx5k-label-18", options, second, server.file("second-cups"), 2));
  EXPECT_TRUE(server.stream("label", 1) == filter) << options;

  const apptest::GrayPage page = apptest::testPage(595, 842, 203, 7, 20);
  ASSERT_TRUE(apptest::ipptoolPrint(server, "vn2w", apptest::urfOf(page),
                                    "ATTR keyword media iso_a4_210x297mm", "image/urf"));
  options = apptest::loggedOptions(server);
  filter = apptest::filterStream(
      "rx5k-590314-vn2w", options,
      apptest::cupsRasterFor("rx5k-590314-vn2w", options, page, server.file("urf-cups")));
  EXPECT_TRUE(server.stream("vn2w", 2) == filter) << options;

  // PAPPL renders a PNG at the resolution print-quality picks (300 dpi for high): the page comes
  // out at the head's 203 dpi, 1680 dots wide.
  const std::string png = server.file("box.png");
  ASSERT_EQ(std::system(("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r72 -g100x100 -o " +
                         png + " -c '10 10 50 50 rectfill showpage'")
                            .c_str()),
            0);
  ASSERT_TRUE(apptest::ipptoolPrint(server, "vn2w", apptest::readFile(png),
                                    "ATTR enum print-quality 5", "image/png"));
  EXPECT_NE(apptest::readFile(server.file("vn2w/job-3/pages.tsv")).find("\t1680\t"),
            std::string::npos);

  // Documents the printer does not take are refused at submission: an sRGB or CMYK raster on a
  // gray printer (PAPPL would accept it and drop its pages), a format it does not list.
  auto refused = [&](const std::string &printer, const std::string &document, const char *format) {
    return apptest::ipptoolPrint(server, printer, document, "", format,
                                 "client-error-document-format-not-supported");
  };
  for (const auto &[space, components] :
       {std::pair{CUPS_CSPACE_SRGB, 3u}, std::pair{CUPS_CSPACE_CMYK, 4u}})
    EXPECT_TRUE(refused("vn2w",
                        apptest::pwgPage(page.width, page.height, page.height, space, components),
                        "image/pwg-raster"))
        << space;
  EXPECT_TRUE(refused("label", "Hello\n", "text/plain"));
  // One the app must tell from the document's first bytes is aborted with the reason.
  ASSERT_TRUE(apptest::ipptoolPrint(server, "label", "Hello\n", "", "application/octet-stream"));
  EXPECT_EQ(server.jobState("label", 2), "aborted");
  EXPECT_NE(server.jobMessage("label", 2).find("Unsupported document format"), std::string::npos)
      << server.jobMessage("label", 2);
  ASSERT_TRUE(
      apptest::ipptoolPrint(server, "label", "%PDF-1.4\nnot a page\n", "", "application/pdf"));
  EXPECT_EQ(server.jobState("label", 3), "aborted");
  EXPECT_EQ(server.jobMessage("label", 3), "The PDF document cannot be read.");
}

// The share of black dots of a job's one decoded label in the box of dots.
double blackShare(AppServer &server, int job, int x0, int y0, int x1, int y1) {
  return apptest::blackShare(apptest::onlyPage(server.file("label/job-" + std::to_string(job))), x0,
                             y0, x1, y1);
}

// A landscape page of 8 x 6 inches with a black inch square in its top left corner, on a 4 x 6
// inch portrait label at 203 dpi: by default turned to fit (90 degrees counter-clockwise, scaled by
// 2/3 and centred: the square is 48 pt at the left of the bottom edge of the picture, which
// spans 24 to 408 pt); kept upright with print-scaling fit (scaled by 1/2, centred).
TEST(App, PdfPagesTurnAndScaleAsIppSays) {
  AppServer server;
  ASSERT_TRUE(server.add("label", "rx5k-label-18"));
  const std::string pdf = makePdf(server, "wide", 576, 432, {"0 360 72 72 rectfill"});
  ASSERT_TRUE(apptest::ipptoolPrint(server, "label", pdf, "", "application/pdf"));
  auto dots = [](double points) { return static_cast<int>(points * 203 / 72); };
  EXPECT_GT(blackShare(server, 1, 3, dots(360) + 3, dots(48) - 3, dots(408) - 3), 0.98);
  EXPECT_LT(blackShare(server, 1, 0, 0, dots(288), dots(355)), 0.001);
  EXPECT_LT(blackShare(server, 1, dots(52), dots(355), dots(288), dots(432)), 0.001);

  ASSERT_TRUE(apptest::ipptoolPrint(server, "label", pdf,
                                    "ATTR enum orientation-requested 3\n"
                                    "ATTR keyword print-scaling fit",
                                    "application/pdf"));
  EXPECT_GT(blackShare(server, 2, 3, dots(108) + 3, dots(36) - 3, dots(144) - 3), 0.98);
  EXPECT_LT(blackShare(server, 2, dots(40), 0, dots(288), dots(432)), 0.001);
  EXPECT_LT(blackShare(server, 2, 0, dots(148), dots(288), dots(432)), 0.001);

  // A page 1 pt wide filling the label is 288 times as long: 999,978 dots for 1231.5 pt print,
  // 1,000,059 for 1231.6 pt are beyond what the app renders.
  for (const double length : {1231.5, 1231.6}) {
    const std::string thin = makePdf(server, "thin", 1, length, {""});
    ASSERT_TRUE(apptest::ipptoolPrint(server, "label", thin, "ATTR keyword print-scaling fill",
                                      "application/pdf"));
  }
  EXPECT_EQ(server.jobState("label", 3), "completed");
  EXPECT_EQ(server.jobState("label", 4), "aborted");
}

}  // namespace
