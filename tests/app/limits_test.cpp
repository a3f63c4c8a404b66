// What one document may take from the printer application: pages whose headers announce more
// than the page ceiling are refused before any of it is kept, and copies are made once whatever
// the document's format.
#include <cups/raster.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>

#include "app/client_pages.h"
#include "page_png.h"

namespace fs = std::filesystem;
using apptest::AppServer;
using apptest::ipptoolPrint;
using apptest::pwgPage;

namespace {

struct Document {
  const char *format;
  std::string data;
};

// Prints the documents on printer "p" as jobs 1, 2, ..., each ending in state; then check(job).
void printEach(AppServer &server, const std::vector<Document> &documents,
               const std::string &attributes, const std::string &state,
               const std::function<void(int)> &check) {
  int job = 0;
  for (const Document &d : documents) {
    SCOPED_TRACE(d.format);
    ASSERT_TRUE(ipptoolPrint(server, "p", d.data, attributes, d.format));
    job++;
    EXPECT_EQ(server.jobState("p", job), state);
    check(job);
  }
}

// The page ceiling holds whatever the header announces: 32768 x 32768 dots (1 GiB) with one row
// is refused with the core's reason, the server stays small and serves the next job.
TEST(AppLimits, HugePageHeadersAreRefusedBeforeMemoryIsTaken) {
  AppServer server;
  ASSERT_TRUE(server.add("p", "rx5k-label-18"));
  printEach(server,
            {{"image/pwg-raster", pwgPage(32768, 32768, 1)},
             // An Apple raster of one run of dots (47 bytes).
             {"image/urf", apptest::urfHeader(32768, 32768, 203) + std::string("\x00\x7f\x00", 3)}},
            "", "aborted", [&](int job) {
              EXPECT_NE(server.jobMessage("p", job).find("Page 1: "), std::string::npos);
            });
  EXPECT_LT(server.peakMemoryKiB(), 256 * 1024);
  ASSERT_TRUE(ipptoolPrint(server, "p", pwgPage(812, 1218, 1218), ""));
  EXPECT_EQ(server.jobState("p", 3), "completed");
}

// The ceiling is the app's own (64 MiB by default, page-memory-limit): a page needing exactly the
// ceiling prints, one byte less refuses it.
TEST(AppLimits, PageMemoryLimitBoundary) {
  AppServer probe({"page-memory-limit=1K"});
  ASSERT_TRUE(probe.add("p", "rx5k-label-18"));
  ASSERT_TRUE(ipptoolPrint(probe, "p", pwgPage(812, 1218, 1218), ""));
  // The refusal names the page's need: "... needs N bytes ...".
  const std::string message = probe.jobMessage("p", 1);
  const size_t at = message.find_first_of("0123456789", message.find("needs "));
  ASSERT_NE(at, std::string::npos) << message;
  const long need = std::atol(message.c_str() + at);
  for (const long limit : {need, need - 1}) {
    AppServer server({"page-memory-limit=" + std::to_string(limit)});
    ASSERT_TRUE(server.add("p", "rx5k-label-18"));
    ASSERT_TRUE(ipptoolPrint(server, "p", pwgPage(812, 1218, 1218), ""));
    EXPECT_EQ(server.jobState("p", 1), limit == need ? "completed" : "aborted") << limit;
  }
}

// Jobs print at once up to max-jobs (4 by default: 0 below), all printers together: with one, a
// second printer's job waits (and says so) until the first ends; with two, it prints while the
// first waits for paper. (That the streams of jobs printed at once are the filter's:
// App.PwgRasterPrintsTheFilterStream.)
TEST(AppLimits, JobsAtOnce) {
  for (const int jobs : {1, 2, 0}) {
    SCOPED_TRACE(jobs);
    AppServer server(jobs ? std::vector<std::string>{"max-jobs=" + std::to_string(jobs)}
                          : std::vector<std::string>{});
    ASSERT_TRUE(server.add("waiting", "rx5k-21", "&paper-missing=1000"));
    ASSERT_TRUE(server.add("p", "rx5k-label-18"));
    auto first = std::async(std::launch::async, [&] {
      return ipptoolPrint(server, "waiting", pwgPage(812, 1218, 1218), "");
    });
    ASSERT_TRUE(apptest::waitUntil(20, [&] { return server.hasReason("waiting", "media-empty"); }));
    auto second = std::async(std::launch::async, [&] {
      return ipptoolPrint(server, "p", pwgPage(812, 1218, 1218), "");
    });
    if (jobs == 1) {
      EXPECT_TRUE(apptest::waitUntil(20, [&] {
        return server.jobMessage("p", 1).find("Waiting for another") != std::string::npos;
      }));
      EXPECT_EQ(server.jobState("p", 1), "processing");
    } else {
      EXPECT_TRUE(second.get());
      EXPECT_EQ(server.jobState("p", 1), "completed");
    }
    server.value(IPP_OP_CANCEL_JOB, "waiting", "job-state", 1);
    EXPECT_TRUE(first.get());
    if (jobs == 1) {
      EXPECT_TRUE(second.get());
      EXPECT_EQ(server.jobState("p", 1), "completed");
    }
  }
}

// PAPPL 1.3 hangs rotating a log it writes to standard error; the app's log is never rotated.
TEST(AppLimits, LogToAFileOnStandardErrorBeyondOneMiB) {
  AppServer server({"log-file=-"});
  ASSERT_TRUE(server.add("p", "rx5k-label-18"));
  for (int i = 0; i < 20000 && fs::file_size(server.file("stderr.txt")) < (1200 << 10); i++)
    ASSERT_EQ(server.value(IPP_OP_GET_PRINTER_ATTRIBUTES, "p", "printer-state"), "idle");
  EXPECT_GE(fs::file_size(server.file("stderr.txt")), 1200u << 10);
  EXPECT_FALSE(fs::exists(server.file("stderr.txt.O")));
}

// Copies are made once: PAPPL repeats the pages of images, the app those of raster documents.
TEST(AppLimits, CopiesPrintOnceForEveryFormat) {
  AppServer server;
  ASSERT_TRUE(server.add("p", "rx5k-label-18"));
  emu::GrayImage image{400, 600, std::vector<unsigned char>(400 * 600, 255)};
  std::fill_n(image.dots.begin(), 400 * 100, 0);
  const std::string png = apptest::pngFile(server.file("label.png"), image);
  printEach(server,
            {{"image/png", apptest::readFile(png)}, {"image/pwg-raster", pwgPage(812, 1218, 1218)}},
            "ATTR integer copies 3", "completed", [&](int job) {
              int pages = 0;
              for (const auto &entry :
                   fs::directory_iterator(server.file("p/job-" + std::to_string(job))))
                pages += entry.path().extension() == ".png";
              EXPECT_EQ(pages, 3);
            });
}

}  // namespace
