// End to end under a real scheduler: a private cupsd per test (its own configuration, spool and
// ServerBin under the build tree, listening on a local socket there), lpadmin with the project's
// PPDs and the emulator as backend, lp of a PDF through pdftopdf, a rasterizer and rastertoRX5K,
// the decoded pages, the scheduler's log of the filter's messages, the printer's state reasons,
// the reason of a job without pages, and a queue on the printer application.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/app_server.h"
#include "page_png.h"
#include "support/command.h"

namespace fs = std::filesystem;

namespace {

using apptest::CommandResult;
using apptest::onlyPage;
using apptest::readFile;
using apptest::shellQuote;
using apptest::waitUntil;

// ServerBin: links to the system's PDF filters and helper folders, copies of our programs.
void buildServerBin(const fs::path &bin) {
  std::string serverbin = apptest::commandOutput("cups-config --serverbin").output;
  serverbin = serverbin.substr(0, serverbin.find('\n'));
  std::error_code ec;
  // The scheduler may choose either rasterizer for a PPD that asks for RGB raster; texttopdf
  // turns text into PDF; the ipp backend serves the queue on the printer application.
  for (const char *f :
       {"filter/pdftopdf", "filter/pdftoraster", "filter/gstoraster", "filter/texttopdf", "cgi-bin",
        "daemon", "notifier", "monitor", "backend/ipp"}) {
    if (fs::exists(fs::path(serverbin) / f))
      fs::create_symlink(fs::path(serverbin) / f, bin / f, ec);
  }
  // Copies, not links: the scheduler checks the programs it runs as they are installed (owned
  // by root, not writable by others when it runs as root). Installed as rx5k-emu, the emulator
  // runs as a backend.
  for (const auto &[from, to] :
       {std::pair{"rastertoRX5K", "filter/rastertoRX5K"}, {"rx5k-emulator", "backend/rx5k-emu"}}) {
    fs::copy_file(fs::path(RX5K_BIN_DIR) / from, bin / to, fs::copy_options::overwrite_existing,
                  ec);
    chmod((bin / to).c_str(), 0755);
  }
}

void writeConfiguration(const fs::path &dir, const std::string &server) {
  std::ofstream conf(dir / "conf" / "cupsd.conf");
  conf << "Listen " << server << "\n"
       << "LogLevel debug\nMaxLogSize 0\nBrowsing No\nWebInterface No\nDefaultPolicy open\n"
       << "JobRetryLimit 0\n<Policy open>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n"
       << "</Policy>\n";

  std::ofstream files(dir / "conf" / "cups-files.conf");
  files << "DataDir "
        << apptest::commandOutput("cups-config --datadir").output;  // ends with a line feed
  std::istringstream paths(
      "ServerRoot conf ServerBin bin RequestRoot spool TempDir spool/tmp StateDir state CacheDir "
      "cache ErrorLog log/error_log AccessLog log/access_log PageLog log/page_log");
  for (std::string key, path; paths >> key >> path;)
    files << key << " " << (dir / path).string() << "\n";
  // As root, cupsd runs filters and a 0755 backend as the unprivileged User; it will not run
  // them as root. The test folders they write to are made writable for that user.
  if (geteuid() == 0) files << "User lp\nGroup lp\nSystemGroup root\n";
}

// A rectangle in millimetres of the decoded page (left, top, right, bottom).
struct Box {
  double x0, y0, x1, y1;
};

Box inset(const Box &b, double mm) {
  return {b.x0 + mm, b.y0 + mm, b.x1 - mm, b.y1 - mm};
}

// The share of black dots of the 203 dpi image inside the box (-1 for an empty box).
double blackShare(const emu::GrayImage &img, const Box &b) {
  auto dots = [](double mm) { return static_cast<int>(mm * 203 / 25.4); };
  return apptest::blackShare(img, dots(b.x0), dots(b.y0), dots(b.x1), dots(b.y1));
}

// Writes a one-page PDF of the given size (points) with black boxes given in millimetres from
// the top left corner of the paper.
fs::path makePdf(const fs::path &file, int widthPt, int heightPt, const std::vector<Box> &boxes) {
  const std::string height = std::to_string(heightPt);
  std::string ps = "/mm { 72 mul 25.4 div } def";
  for (const Box &b : boxes)
    ps += " " + std::to_string(b.x0) + " mm " + height + " " + std::to_string(b.y1) + " mm sub " +
          std::to_string(b.x1 - b.x0) + " mm " + std::to_string(b.y1 - b.y0) + " mm rectfill";
  fs::create_directories(file.parent_path());
  return apptest::pdfOf(file, widthPt, heightPt, {ps}) ? file : fs::path();
}

class Scheduler : public testing::Test {
 protected:
  // Prepares the scheduler's folder (under the build tree, or under /tmp when running as root)
  // and starts cupsd in the foreground; it listens once lpstat finds it running.
  void SetUp() override {
    const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    // As root the filters and the backend run as lp, which must reach every file they use: a
    // folder under /tmp is reachable wherever the build tree lies.
    dir_ = geteuid() == 0
               ? fs::temp_directory_path() / ("rx5k-cupsd-" + name + "-" + std::to_string(getpid()))
               : fs::path(RX5K_BUILD_DIR) / "test-cupsd" / name;
    fs::remove_all(dir_);
    for (const char *d :
         {"conf", "bin/filter", "bin/backend", "spool/tmp", "state", "cache", "log"})
      fs::create_directories(dir_ / d);
    chmod(dir_.c_str(), 0755);
    server_ = (dir_ / "cupsd.sock").string();
    buildServerBin(dir_ / "bin");
    writeConfiguration(dir_, server_);

    pid_ = fork();
    ASSERT_GE(pid_, 0) << "fork failed";
    if (pid_ == 0) {
      // The scheduler must not outlive a test that is killed (ctest time-out, crash).
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      int fd = open((dir_ / "log" / "cupsd.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      execlp("cupsd", "cupsd", "-f", "-c", (dir_ / "conf" / "cupsd.conf").c_str(), "-s",
             (dir_ / "conf" / "cups-files.conf").c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    bool exited = false;
    const bool up = waitUntil(20, [&] {
      exited = waitpid(pid_, nullptr, WNOHANG) == pid_;
      return exited || client("lpstat -r").output.find("scheduler is running") == 0;
    });
    if (exited) pid_ = -1;
    ASSERT_FALSE(exited) << "cupsd exited at start (is cups-daemon installed?): "
                         << readFile(dir_ / "log" / "cupsd.out")
                         << readFile(dir_ / "log" / "error_log");
    ASSERT_TRUE(up) << "cupsd did not listen on " << server_ << " within 20 s";
  }

  // Stops cupsd (killed if it does not stop within 10 s); the folder stays when the test failed.
  void TearDown() override {
    if (pid_ > 0) apptest::stopProcess(pid_, SIGTERM, 10);
    std::error_code ec;
    if (!HasFailure()) fs::remove_all(dir_, ec);
  }

  // A client command (lpadmin, lp, lpstat, cancel) run against this scheduler.
  CommandResult client(const std::string &args) const {
    return apptest::commandOutput("CUPS_SERVER=" + server_ + " " + args);
  }

  // Adds a printer whose device is the emulator writing to out_ (with its script in `query`)
  // and prints `pdf` on it with lp and its `options`; the job id, 0 on failure.
  int addPrinterAndPrint(const std::string &printer, const std::string &ppd, const fs::path &pdf,
                         const std::string &query = "", const std::string &options = "") {
    EXPECT_FALSE(pdf.empty()) << "gs made no PDF";
    // The backend runs as the scheduler's unprivileged user and accepts only a folder of its own.
    out_ = dir_ / ("out-" + printer);
    fs::create_directories(out_);
    if (const passwd *lp = geteuid() == 0 ? getpwnam("lp") : nullptr) {
      EXPECT_EQ(chown(out_.c_str(), lp->pw_uid, lp->pw_gid), 0);
    }
    const std::string uri = "rx5k-emu:/?out=" + out_.string() + (query.empty() ? "" : "&" + query);
    // "-E" after "-p" enables the printer and accepts jobs.
    CommandResult r =
        client("lpadmin -p " + shellQuote(printer) + " -E -v " + shellQuote(uri) + " -P " +
               shellQuote((fs::path(RX5K_BUILD_DIR) / "ppd" / ppd).string()));
    EXPECT_EQ(r.status, 0) << "lpadmin: " << r.output;
    r = client("lp -d " + shellQuote(printer) + " " + options + " " + shellQuote(pdf.string()));
    // "request id is PRINTER-ID (1 file(s))"
    std::smatch id;
    const bool queued =
        r.status == 0 && std::regex_search(r.output, id, std::regex("request id is \\S*-([0-9]+)"));
    EXPECT_TRUE(queued) << "lp: " << r.output;
    if (!queued) return 0;
    out_ /= "job-" + std::string(id[1]);  // each job's files go to a folder of its own
    return std::stoi(id[1]);
  }

  // Waits for the job to be completed; false if it is not within `limit` seconds.
  bool completed(int job, double limit) const {
    return waitUntil(limit, [&] {
      return client("lpstat -W completed -o").output.find("-" + std::to_string(job) + " ") !=
             std::string::npos;
    });
  }

  // The scheduler's error_log (LogLevel debug), with the filters' and backends' lines.
  std::string errorLog() const { return readFile(dir_ / "log" / "error_log"); }

  fs::path dir_;
  std::string server_;
  pid_t pid_ = -1;
  fs::path out_;  // the emulator's folder of the job printed last
};

// Model 21 waits for paper before the page; the first two paper queries find none.
TEST_F(Scheduler, ThermalJobWaitsForPaperAndPrintsTheBoxes) {
  const Box top = {20, 30, 80, 60}, bottom = {130, 200, 190, 260};
  const fs::path pdf = makePdf(dir_ / "doc" / "a4.pdf", 595, 842, {top, bottom});
  const int job = addPrinterAndPrint("rx5k21", "rx5k-21.ppd", pdf, "paper-missing=2");
  ASSERT_GT(job, 0);
  // The printer's alerts (printer-state-reasons) tell that the paper is out while the filter
  // waits, and no more once the paper is back, while the job still prints.
  std::string status;
  auto alerted = [&] {
    status = client("lpstat -l -p rx5k21").output;
    return status.find("Alerts: media-empty-error") != std::string::npos;
  };
  EXPECT_TRUE(waitUntil(20, alerted)) << status;
  EXPECT_TRUE(waitUntil(20, [&] { return !alerted(); })) << status;
  EXPECT_NE(status.find("now printing"), std::string::npos) << status;
  ASSERT_TRUE(completed(job, 35)) << errorLog();

  // The filter's lines reach the scheduler; the paper message becomes the state message.
  const std::string log = errorLog();
  EXPECT_NE(log.find("printer-state-message to \"The printer is out of paper.\""),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("printer-state-message to \"1/1\""), std::string::npos) << log;
  EXPECT_NE(log.find("Printed data has been sent"), std::string::npos) << log;
  EXPECT_NE(log.find("rx5k-emu: 1 page(s), stream ok"), std::string::npos) << log;

  // The page starts 12 mm below the paper's top edge (the printer's first row).
  const emu::GrayImage img = onlyPage(out_);
  auto onPage = [](Box b) { return Box{b.x0, b.y0 - 12, b.x1, b.y1 - 12}; };
  EXPECT_GT(blackShare(img, inset(onPage(top), 1.5)), 0.98);
  EXPECT_GT(blackShare(img, inset(onPage(bottom), 1.5)), 0.98);
  EXPECT_LT(blackShare(img, onPage({90, 20, 200, 190})), 0.001);
  EXPECT_LT(blackShare(img, onPage({5, 70, 120, 280})), 0.001);
}

// Label printers: the page arrives in their language and decodes to the same picture, on a
// queue of the project's PPD (model 20's stream has no row length: the virtual printer takes it
// from the PPD and the job) and on an IPP Everywhere queue (lpadmin -m everywhere) of the
// printer application, to which the scheduler sends the PDF as PDF: nothing but the packages
// the project installs.
TEST_F(Scheduler, LabelQueuesPrintTheBox) {
  const Box box = {10, 20, 50, 40};
  const fs::path pdf = makePdf(dir_ / "doc" / "label.pdf", 288, 432, {box});
  apptest::AppServer app;
  ASSERT_TRUE(app.add("label", "rx5k-label-18"));
  CommandResult r = client("lpadmin -p Q -E -v " + app.uri("label") + " -m everywhere");
  ASSERT_EQ(r.status, 0) << r.output;
  r = client("lp -d Q " + shellQuote(pdf.string()));
  EXPECT_EQ(r.status, 0) << r.output;
  // Text too: the scheduler turns it into PDF.
  std::ofstream(dir_ / "doc" / "note.txt") << "Shipping label\n";
  r = client("lp -d Q " + shellQuote((dir_ / "doc" / "note.txt").string()));
  EXPECT_EQ(r.status, 0) << r.output;
  const int job = addPrinterAndPrint("label20", "rx5k-label-20.ppd", pdf);
  ASSERT_GT(job, 0);
  ASSERT_TRUE(completed(job, 25)) << errorLog();
  EXPECT_TRUE(waitUntil(40, [&] { return client("lpstat -o").output.empty(); }))
      << errorLog().substr(0, 20000);
  EXPECT_NE(readFile(app.file("rx5k-printer-app.log")).find("format \"application/pdf\""),
            std::string::npos);
  // The queue is done once the app has the jobs; their pages are there once the app is done.
  ASSERT_TRUE(waitUntil(60, [&] {
    return app.jobState("label", 1) == "completed" && app.jobState("label", 2) == "completed";
  })) << errorLog().substr(0, 20000);
  const emu::GrayImage text = onlyPage(app.file("label/job-2"));
  EXPECT_GT(blackShare(text, {0, 0, 100, 40}), 0.001);
  for (const fs::path &folder : {out_, fs::path(app.file("label/job-1"))}) {
    SCOPED_TRACE(folder);
    const emu::GrayImage img = onlyPage(folder);
    EXPECT_GE(img.height, 1218 - 2);
    EXPECT_GT(blackShare(img, inset(box, 1.5)), 0.98);
    EXPECT_LT(blackShare(img, {60, 5, 100, 140}), 0.001);
    EXPECT_LT(blackShare(img, {5, 50, 100, 140}), 0.001);
  }
}

// A page range beyond the document's end leaves no page: the filter's reason becomes the job's
// state message.
TEST_F(Scheduler, JobWithoutPagesSaysWhy) {
  const fs::path pdf = makePdf(dir_ / "doc" / "a4.pdf", 595, 842, {});
  ASSERT_GT(addPrinterAndPrint("rx5k22", "rx5k-22.ppd", pdf, "", "-P 5"), 0);
  std::string jobs;
  EXPECT_TRUE(waitUntil(20, [&] {
    jobs = client("lpstat -l -o rx5k22").output;
    return jobs.find("Status: The document has no pages to print (") != std::string::npos;
  })) << jobs;
}

}  // namespace
