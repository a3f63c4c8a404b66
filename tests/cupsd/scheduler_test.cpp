// End to end under a real scheduler: lpadmin with the project's PPDs and the emulator backend,
// lp of a PDF through pdftopdf, a rasterizer and rastertoRX5K, the decoded pages, the
// scheduler's log of the filter's messages, and a job cancelled while the filter waits.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "private_scheduler.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const fs::path kPpdDir = fs::path(RX5K_BUILD_DIR) / "ppd";

// A page as the emulator decoded it: 8-bit gray, 0 black.
struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> gray;
};

bool readPng(const fs::path &file, Image &img) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, file.c_str())) return false;
  png.format = PNG_FORMAT_GRAY;
  img.width = static_cast<int>(png.width);
  img.height = static_cast<int>(png.height);
  img.gray.assign(PNG_IMAGE_SIZE(png), 255);
  const bool ok = png_image_finish_read(&png, nullptr, img.gray.data(), 0, nullptr) != 0;
  png_image_free(&png);
  return ok;
}

// A rectangle in millimetres of the decoded page (left, top, right, bottom).
struct Box {
  double x0, y0, x1, y1;
};

// The share of black dots of the image inside the box, at `dpi`.
double blackShare(const Image &img, const Box &b, int dpi) {
  auto dots = [dpi](double mm) { return static_cast<int>(mm * dpi / 25.4); };
  const int x0 = std::max(0, dots(b.x0)), x1 = std::min(img.width, dots(b.x1));
  const int y0 = std::max(0, dots(b.y0)), y1 = std::min(img.height, dots(b.y1));
  if (x1 <= x0 || y1 <= y0) return -1;
  long black = 0;
  for (int y = y0; y < y1; y++) {
    for (int x = x0; x < x1; x++) black += img.gray[static_cast<size_t>(y) * img.width + x] < 128;
  }
  return static_cast<double>(black) / ((x1 - x0) * static_cast<double>(y1 - y0));
}

Box inset(const Box &b, double mm) {
  return {b.x0 + mm, b.y0 + mm, b.x1 - mm, b.y1 - mm};
}

// Writes a PDF of `pages` pages of the given size (points), each with black boxes given in
// millimetres from the top left corner of the paper.
fs::path makePdf(const fs::path &file, int widthPt, int heightPt, const std::vector<Box> &boxes,
                 int pages = 1) {
  fs::create_directories(file.parent_path());
  std::string page;
  for (const Box &b : boxes) {
    page += std::to_string(b.x0) + " mm " + std::to_string(heightPt) + " " + std::to_string(b.y1) +
            " mm sub " + std::to_string(b.x1 - b.x0) + " mm " + std::to_string(b.y1 - b.y0) +
            " mm rectfill\n";
  }
  page += "showpage\n";
  std::string ps = "%!PS\n<< /PageSize [" + std::to_string(widthPt) + " " +
                   std::to_string(heightPt) + "] >> setpagedevice\n/mm { 72 mul 25.4 div } def\n";
  for (int i = 0; i < pages; i++) ps += page;
  const fs::path source = file.string() + ".ps";
  FILE *f = fopen(source.c_str(), "w");
  if (!f) return {};
  fputs(ps.c_str(), f);
  fclose(f);
  CommandResult r = runCommand("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile=" +
                               shellQuote(file.string()) + " " + shellQuote(source.string()));
  return r.status == 0 ? file : fs::path();
}

// The decoded pages the emulator wrote, in page order.
std::vector<fs::path> pagePngs(const fs::path &dir) {
  std::vector<fs::path> files;
  if (fs::is_directory(dir)) {
    for (const auto &e : fs::directory_iterator(dir)) {
      if (e.path().extension() == ".png") files.push_back(e.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// A folder the backend, which runs as the scheduler's unprivileged user, may write to.
fs::path backendOutput(const fs::path &dir) {
  fs::create_directories(dir);
  chmod(dir.c_str(), 0777);
  return dir;
}

class Scheduler : public testing::Test {
 protected:
  void SetUp() override {
    const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    cupsd_ = std::make_unique<PrivateScheduler>(name);
    if (!emulatorRunsAsBackend()) {
      GTEST_SKIP() << "rx5k-emulator does not run as the backend rx5k-emu in this build";
    }
    std::string error;
    ASSERT_TRUE(cupsd_->start(error)) << error;
  }
  void TearDown() override {
    if (!cupsd_) return;
    if (HasFailure()) {
      std::cerr << "scheduler folder kept: " << cupsd_->dir() << " (log/error_log)\n";
    } else {
      cupsd_->discard();
    }
    cupsd_.reset();
  }

  // Adds a printer whose device is the emulator writing to `out`, with its script in `query`.
  void addPrinter(const std::string &name, const std::string &ppd, const fs::path &out,
                  const std::string &query = "") {
    std::string error;
    const std::string uri = "rx5k-emu:/?out=" + out.string() + (query.empty() ? "" : "&" + query);
    ASSERT_TRUE(cupsd_->addPrinter(name, kPpdDir / ppd, uri, error)) << error;
  }

  // Started as the scheduler starts a backend (argv[0] the device URI, an empty job on its
  // standard input), the emulator must not answer with its command-line usage.
  bool emulatorRunsAsBackend() const {
    const fs::path out = backendOutput(cupsd_->dir() / "probe");
    const std::string uri = "rx5k-emu:/?out=" + out.string();
    const std::string backend = (cupsd_->dir() / "bin" / "backend" / "rx5k-emu").string();
    CommandResult r = runCommand(
        "DEVICE_URI=" + shellQuote(uri) + " bash -c " +
        shellQuote("exec -a \"$DEVICE_URI\" " + shellQuote(backend) + " 1 probe probe 1 ''") +
        " </dev/null");
    return r.output.find("Usage: rx5k-emulator") == std::string::npos;
  }

  std::unique_ptr<PrivateScheduler> cupsd_;
};

// Model 21 waits for paper before the page; the first two paper queries find none.
TEST_F(Scheduler, ThermalJobWaitsForPaperAndPrintsTheBoxes) {
  const Box top = {20, 30, 80, 60}, bottom = {130, 200, 190, 260};
  const fs::path pdf = makePdf(cupsd_->dir() / "doc" / "a4.pdf", 595, 842, {top, bottom});
  ASSERT_FALSE(pdf.empty());
  const fs::path out = backendOutput(cupsd_->dir() / "out-21");
  addPrinter("rx5k21", "rx5k-21.ppd", out, "paper-missing=2");

  std::string error;
  const int job = cupsd_->print("rx5k21", pdf, "", error);
  ASSERT_GT(job, 0) << error;
  ASSERT_TRUE(cupsd_->waitForIdleQueue("rx5k21", 35s)) << cupsd_->jobLog(job);
  EXPECT_EQ(cupsd_->jobState(job), IPP_JSTATE_COMPLETED) << cupsd_->jobLog(job);

  // The filter's lines reach the scheduler; the paper message becomes the state message.
  const std::string log = cupsd_->jobLog(job);
  EXPECT_NE(
      log.find("Started filter " + (cupsd_->dir() / "bin" / "filter" / "rastertoRX5K").string()),
      std::string::npos);
  EXPECT_NE(log.find("printer-state-message to \"The printer is out of paper.\""),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("printer-state-message to \"1/1\""), std::string::npos) << log;
  EXPECT_NE(log.find("Printed data has been sent"), std::string::npos) << log;

  // The page starts 12 mm below the paper's top edge (the printer's first row).
  const std::vector<fs::path> pages = pagePngs(out);
  ASSERT_EQ(pages.size(), 1u) << out;
  Image img;
  ASSERT_TRUE(readPng(pages[0], img)) << pages[0];
  auto onPage = [](Box b) { return Box{b.x0, b.y0 - 12, b.x1, b.y1 - 12}; };
  EXPECT_GT(blackShare(img, inset(onPage(top), 1.5), 203), 0.98);
  EXPECT_GT(blackShare(img, inset(onPage(bottom), 1.5), 203), 0.98);
  EXPECT_LT(blackShare(img, onPage({90, 20, 200, 190}), 203), 0.001);
  EXPECT_LT(blackShare(img, onPage({5, 70, 120, 280}), 203), 0.001);
}

// A label printer: the page arrives in its language and decodes to the same picture.
TEST_F(Scheduler, LabelJobPrintsTheBox) {
  const Box box = {10, 20, 50, 40};
  const fs::path pdf = makePdf(cupsd_->dir() / "doc" / "label.pdf", 288, 432, {box});
  ASSERT_FALSE(pdf.empty());
  const fs::path out = backendOutput(cupsd_->dir() / "out-18");
  addPrinter("label18", "rx5k-label-18.ppd", out);

  std::string error;
  const int job = cupsd_->print("label18", pdf, "Darkness=15", error);
  ASSERT_GT(job, 0) << error;
  ASSERT_TRUE(cupsd_->waitForIdleQueue("label18", 25s)) << cupsd_->jobLog(job);
  EXPECT_EQ(cupsd_->jobState(job), IPP_JSTATE_COMPLETED) << cupsd_->jobLog(job);
  EXPECT_NE(cupsd_->jobLog(job).find("Printed data has been sent"), std::string::npos);

  const std::vector<fs::path> pages = pagePngs(out);
  ASSERT_EQ(pages.size(), 1u) << out;
  Image img;
  ASSERT_TRUE(readPng(pages[0], img)) << pages[0];
  EXPECT_GE(img.height, 1218 - 2);
  EXPECT_GT(blackShare(img, inset(box, 1.5), 203), 0.98);
  EXPECT_LT(blackShare(img, {60, 5, 100, 140}, 203), 0.001);
  EXPECT_LT(blackShare(img, {5, 50, 100, 140}, 203), 0.001);
}

// Model 21 waits for paper before each page; after the first page the paper never comes back.
// Cancelled in that wait, the job ends cancelled, the filter still writes its trailer, and the
// printer holds exactly the first page, whole, and nothing of the second.
TEST_F(Scheduler, CancelWhileWaitingForTheNextSheet) {
  const fs::path pdf = makePdf(cupsd_->dir() / "doc" / "a4.pdf", 595, 842, {{20, 30, 80, 60}}, 2);
  ASSERT_FALSE(pdf.empty());
  const fs::path out = backendOutput(cupsd_->dir() / "out-21");
  addPrinter("rx5k21", "rx5k-21.ppd", out, "sheet-gap=1000000");

  std::string error;
  const int job = cupsd_->print("rx5k21", pdf, "", error);
  ASSERT_GT(job, 0) << error;
  ASSERT_TRUE(cupsd_->waitForJobLog(job, "The printer is out of paper.", 20s, "PAGE: 2 1"))
      << cupsd_->jobLog(job);
  ASSERT_TRUE(cupsd_->cancel(job, error)) << error;
  ASSERT_TRUE(cupsd_->waitForIdleQueue("rx5k21", 15s)) << cupsd_->jobLog(job);
  EXPECT_EQ(cupsd_->jobState(job), IPP_JSTATE_CANCELED);
  EXPECT_TRUE(cupsd_->waitForJobLog(job, "Printed data has been sent", 5s)) << cupsd_->jobLog(job);

  const std::string log = cupsd_->jobLog(job);
  EXPECT_EQ(log.find("stream error"), std::string::npos) << log;
  const std::vector<fs::path> pages = pagePngs(out);
  ASSERT_EQ(pages.size(), 1u) << out;
  Image img;
  ASSERT_TRUE(readPng(pages[0], img)) << pages[0];
  EXPECT_GT(blackShare(img, inset({20, 30 - 12, 80, 60 - 12}, 1.5), 203), 0.98);
  // The queue stays usable: the printer is not stopped by the cancelled job.
  EXPECT_EQ(cupsd_->client("lpstat -p rx5k21").output.find("disabled"), std::string::npos);
}

}  // namespace
