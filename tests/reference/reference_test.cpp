// Recorded jobs: every PPD under a spread of options with the demo pages, and hostile, cancelled
// and printer-fault jobs, each run as the scheduler runs it (the filter program under the
// emulator). The printer stream, the scheduler lines and the exit status of every job must stay
// as recorded in recorded.tsv, byte for byte.
//
// RX5K_RECORD_REFERENCE=FILE appends each job's line to FILE instead of comparing (sort it into
// recorded.tsv); RX5K_REFERENCE_OUT=DIR keeps each job's stream and scheduler lines there.
#include <cups/ppd.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "page_png.h"
#include "scheduler_lines.h"
#include "support/e2e_support.h"

namespace {

using rastertest::RasterPage;
using HeaderChange = std::function<void(cups_page_header2_t &)>;

struct PageSpec {
  std::string image;           // a demo page under pages/
  HeaderChange change = {};    // applied to the header the PPD gives (hostile values)
  unsigned rowsToWrite = ~0u;  // rows of pixels written (fewer: a truncated raster)
};

struct ReferenceJob {
  std::string id;
  std::string ppd;           // file name under build/ppd
  std::string options = {};  // the filter's job options
  std::vector<PageSpec> pages = {};
  std::vector<std::string> emulatorArgs = {};
  std::vector<std::string> env = {};
  bool viaStdin = false;
};

void PrintTo(const ReferenceJob &job, std::ostream *os) {
  *os << job.id;
}

std::string sourceDir() {
  return std::string(RX5K_SOURCE_DIR) + "/tests/reference/";
}

// 64-bit FNV-1a: a regression digest, not a cryptographic one.
std::string digest(const std::string &bytes) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  char text[40];
  std::snprintf(text, sizeof text, "%zu:%016llx", bytes.size(), static_cast<unsigned long long>(h));
  return text;
}

const emu::GrayImage &demoPage(const std::string &name) {
  static std::map<std::string, emu::GrayImage> cache;
  auto found = cache.find(name);
  if (found != cache.end()) return found->second;
  emu::GrayImage image;
  std::string error;
  EXPECT_TRUE(emu::readGrayPng(sourceDir() + "pages/" + name + ".png", image, error)) << error;
  return cache[name] = image;
}

// The header a rasterizer makes for the PPD with these options marked, and the demo page
// stretched over it (nearest dot) in the header's colour layout.
RasterPage rasterPage(ppd_file_t *ppd, const std::string &options, const PageSpec &spec) {
  cups_option_t *parsed = nullptr;
  int count = cupsParseOptions(options.c_str(), 0, &parsed);
  ppdMarkDefaults(ppd);
  cupsMarkOptions(ppd, count, parsed);
  RasterPage page;
  EXPECT_EQ(cupsRasterInterpretPPD(&page.header, ppd, count, parsed, nullptr), 0) << options;
  cupsFreeOptions(count, parsed);
  if (spec.change) spec.change(page.header);
  const emu::GrayImage &image = demoPage(spec.image);
  const cups_page_header2_t h = page.header;
  page = rastertest::pageFromGenerator(h, [&](unsigned x, unsigned y) {
    const unsigned char v =
        image.dots[size_t(uint64_t{y} * image.height / h.cupsHeight) * image.width +
                   uint64_t{x} * image.width / h.cupsWidth];
    return h.cupsColorSpace == CUPS_CSPACE_K ? static_cast<unsigned char>(255 - v) : v;
  });
  if (spec.rowsToWrite != ~0u) page.rowsToWrite = static_cast<int>(spec.rowsToWrite);
  return page;
}

// ---- The jobs. ----

// Choices the PPDs gained after the jobs were recorded (offsets of 7 and 9 mm, brightness in odd
// tens): left out, so that every job marks the options it was recorded with.
bool addedAfterRecording(const char *keyword, const char *choice) {
  const int n = std::abs(std::atoi(choice));
  if (std::strcmp(keyword, "AdjustLight") == 0) return n > 10 && n % 20 != 0;
  const bool offset =
      std::strcmp(keyword, "AdjustHoriaontal") == 0 || std::strcmp(keyword, "AdjustVertical") == 0;
  return offset && (n == 7 || n == 9);
}

// The PPD's options (but the page region and the resolution, which follow the page size and
// stay at the default) with their choices.
std::vector<std::pair<std::string, std::vector<std::string>>> ppdOptions(ppd_file_t *ppd) {
  std::vector<std::pair<std::string, std::vector<std::string>>> out;
  for (int g = 0; g < ppd->num_groups; g++) {
    for (int o = 0; o < ppd->groups[g].num_options; o++) {
      const ppd_option_t &option = ppd->groups[g].options[o];
      if (std::strcmp(option.keyword, "PageRegion") == 0) continue;
      std::vector<std::string> choices;
      // (A custom size needs its dimensions, which no choice name carries.)
      for (int c = 0; c < option.num_choices; c++)
        if (std::strcmp(option.choices[c].choice, "Custom") != 0 &&
            !addedAfterRecording(option.keyword, option.choices[c].choice))
          choices.push_back(option.choices[c].choice);
      out.push_back({option.keyword, choices});
    }
  }
  return out;
}

const char *const kPpds[] = {
    "rx5k-21.ppd",       "rx5k-22.ppd",          "rx5k-23.ppd",          "rx5k-302.ppd",
    "rx5k-302-jt64.ppd", "rx5k-400.ppd",         "rx5k-831.ppd",         "rx5k-64519.ppd",
    "rx5k-590314.ppd",   "rx5k-590314-hq31.ppd", "rx5k-590314-hq32.ppd", "rx5k-590314-vn2w.ppd",
    "rx5k-613207.ppd",   "rx5k-label-0.ppd",     "rx5k-label-16.ppd",    "rx5k-label-17.ppd",
    "rx5k-label-18.ppd", "rx5k-label-19.ppd",    "rx5k-label-20.ppd",    "rx5k-label-32.ppd",
};
const char *const kImages[] = {"text", "lines", "photo", "label"};
constexpr int kOptionJobsPerPpd = 6;

// Job j of a PPD marks, for its k-th option, choice (j * (k + 1) + k) modulo the choice count:
// every job a different mix, every option through several of its choices. Job 0 has the PPD's
// defaults and all four demo pages; the others one page each.
std::vector<ReferenceJob> optionJobs() {
  std::vector<ReferenceJob> jobs;
  for (const char *name : kPpds) {
    ppd_file_t *ppd = ppdOpenFile(e2e::projectPpd(name).c_str());
    if (!ppd) continue;  // reported by the test of the job
    auto options = ppdOptions(ppd);
    ppdClose(ppd);
    for (int j = 0; j < kOptionJobsPerPpd; j++) {
      ReferenceJob job{
          std::string(name).substr(0, std::strlen(name) - 4) + "-options-" + std::to_string(j),
          name};
      if (j == 0) {
        for (const char *image : kImages) job.pages.push_back({image});
      } else {
        for (size_t k = 0; k < options.size(); k++) {
          const auto &[keyword, choices] = options[k];
          if (keyword == "Resolution" && j % 2) continue;
          const std::string &choice = choices[(j * (k + 1) + k) % choices.size()];
          job.options += (job.options.empty() ? "" : " ") + keyword + "=" + choice;
        }
        job.pages.push_back({kImages[j % 4]});
      }
      jobs.push_back(job);
    }
  }
  return jobs;
}

void setString(char (&field)[64], const char *text) {
  std::memset(field, 0, sizeof field);
  std::strncpy(field, text, sizeof field - 1);
}

// A page of width x height dots of the header's kind, its page length following the rows; a
// size name not in the PPD keeps the placements from changing its size.
HeaderChange pageOfDots(unsigned width, unsigned height, const char *sizeName = nullptr) {
  return [width, height, sizeName](cups_page_header2_t &h) {
    if (sizeName) setString(h.cupsPageSizeName, sizeName);
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsBytesPerLine = width * (h.cupsBitsPerPixel / 8);
    h.PageSize[1] = height * 72 / h.HWResolution[1];
    h.cupsPageSize[1] = static_cast<float>(height) * 72.0f / static_cast<float>(h.HWResolution[1]);
    h.cupsImagingBBox[3] = h.cupsPageSize[1];
  };
}

std::vector<ReferenceJob> hostileJobs() {
  const char *forged = "A4\nPPD: DefaultPageSize=Letter\nSTATE: +media-empty\nATTR: x=1";
  HeaderChange lineBreaks = [forged](cups_page_header2_t &h) {
    setString(h.MediaClass, forged);
    setString(h.MediaColor, "white\rERROR: forged");
    setString(h.MediaType, "Direct\x1b[2J\x7f");
    setString(h.OutputType, "\nDEBUG: x");
    setString(h.cupsPageSizeName, forged);
  };
  const std::string forgedOptions =
      "Darkness=1 'evil\nPPD: x=y'='v\nSTATE: +x' com.apple.print.PrintSettings."
      "PMTotalSidesImaged..n.='2\nATTR: y'";
  HeaderChange copies = [](cups_page_header2_t &h) { h.NumCopies = 2147483647u; };
  HeaderChange dark = [](cups_page_header2_t &h) { h.cupsCompression = 200; };
  HeaderChange enums = [](cups_page_header2_t &h) {
    unsigned junk = 0xFFFFFFF0u;
    for (void *field : {static_cast<void *>(&h.AdvanceMedia), static_cast<void *>(&h.CutMedia),
                        static_cast<void *>(&h.Orientation), static_cast<void *>(&h.Duplex)})
      std::memcpy(field, &junk, sizeof junk);
    h.cupsRowCount = h.cupsRowFeed = h.cupsRowStep = 0xFFFFFFFFu;
    h.AdvanceDistance = 0xFFFFFFF4u;
  };
  HeaderChange nanSizes = [](cups_page_header2_t &h) { h.cupsPageSize[1] = __builtin_nanf(""); };
  HeaderChange cmyk = [](cups_page_header2_t &h) {
    h.cupsColorSpace = CUPS_CSPACE_CMYK;
    h.cupsBitsPerPixel = 32;
    h.cupsBytesPerLine = h.cupsWidth * 4;
  };
  std::vector<ReferenceJob> jobs = {
      // Text a job controls never starts a scheduler line.
      {"hostile-strings-22", "rx5k-22.ppd", forgedOptions, {{"text", lineBreaks}}},
      {"hostile-strings-18", "rx5k-label-18.ppd", forgedOptions, {{"label", lineBreaks}}},
      // Bitmap command fields: just inside and just past 16 bits of rows and of row bytes.
      {"rows-65535-613207", "rx5k-613207.ppd", "", {{"lines", pageOfDots(16, 65535)}}},
      {"rows-65536-613207", "rx5k-613207.ppd", "", {{"lines"}, {"lines", pageOfDots(16, 65536)}}},
      {"rows-65536-22", "rx5k-22.ppd", "", {{"lines", pageOfDots(64, 65536)}}},
      {"bytes-65536-21", "rx5k-21.ppd", "", {{"lines", pageOfDots(524288, 2, "Custom")}}},
      {"bytes-65535-21", "rx5k-21.ppd", "", {{"lines", pageOfDots(524280, 2, "Custom")}}},
      // Dymo: one-byte row length, two-byte label length, darkness letters.
      {"dymo-255-bytes", "rx5k-label-0.ppd", "", {{"label", pageOfDots(2040, 16)}}},
      {"dymo-256-bytes", "rx5k-label-0.ppd", "", {{"label"}, {"label", pageOfDots(2041, 16)}}},
      {"dymo-length-65536",
       "rx5k-label-0.ppd",
       "",
       {{"label", [](cups_page_header2_t &h) { h.PageSize[1] = 15729; }}}},
      {"dymo-darkness-200", "rx5k-label-0.ppd", "", {{"label", dark}}},
      // Copy counts.
      {"copies-18", "rx5k-label-18.ppd", "", {{"label", copies}}},
      {"copies-19", "rx5k-label-19.ppd", "", {{"label", copies}}},
      {"copies-32", "rx5k-label-32.ppd", "", {{"label", copies}}},
      // Fields no raster producer writes.
      {"enums-22", "rx5k-22.ppd", "", {{"text", enums}}},
      {"enums-17", "rx5k-label-17.ppd", "", {{"label", enums}}},
      {"enums-19", "rx5k-label-19.ppd", "", {{"label", enums}}},
      {"enums-32", "rx5k-label-32.ppd", "", {{"label", enums}}},
      {"nan-length-613207", "rx5k-613207.ppd", "", {{"text"}, {"text", nanSizes}}},
      {"cmyk-400", "rx5k-400.ppd", "", {{"text"}, {"text", cmyk}}},
      {"truncated-400", "rx5k-400.ppd", "", {{"text", {}, 700}}},
      {"empty-22", "rx5k-22.ppd", "", {}},
      {"empty-831", "rx5k-831.ppd", "", {}},
      {"empty-label-0", "rx5k-label-0.ppd", "", {}},
      // Models whose job start and end send bytes of their own, or wait for an idle printer.
      {"empty-400", "rx5k-400.ppd", "", {}},
      {"empty-label-32", "rx5k-label-32.ppd", "", {}},
      {"empty-64519", "rx5k-64519.ppd", "", {}},
      {"stdin-18", "rx5k-label-18.ppd", "", {{"label"}}, {}, {}, true},
  };
  return jobs;
}

// (Reports the printer volunteers while a page goes out are left out: when the monitor thread
// read them depended on its timing, so their lines and pages were not the same from run to run.)
std::vector<ReferenceJob> printerJobs() {
  // A job of two pages of the image on rx5k-PPD.ppd under the printer script.
  auto two = [](const char *id, const std::string &ppd, const char *image,
                std::vector<std::string> script, std::vector<std::string> env = {}) {
    return ReferenceJob{id, "rx5k-" + ppd + ".ppd", "", {{image}, {image}}, script, env};
  };
  const std::vector<std::string> chinese = {"LANG=zh_CN.UTF-8"};
  return {
      // Cancelled: by the scheduler while a page goes out, and by the printer.
      two("sigterm-22", "22", "text", {"--sigterm-at-page", "2"}),
      two("sigterm-21", "21", "lines", {"--sigterm-at-page", "1"}),
      two("sigterm-64519", "64519", "lines", {"--sigterm-at-page", "1"}),
      two("cancel-report-302", "302", "lines", {"--cancel-at-page", "2"}),
      // Printer faults: paper, cover, old firmware, a slow sheet.
      two("paper-missing-21", "21", "text", {"--paper-missing", "3"}),
      two("paper-missing-613207", "613207", "text", {"--paper-missing", "2"}),
      two("paper-missing-590314", "590314", "photo", {"--paper-missing", "2"}),
      two("paper-cover-831", "831", "text", {"--paper-missing", "2", "--cover-open", "2"}),
      two("paper-cover-jt64", "302-jt64", "text", {"--paper-missing", "2", "--cover-open", "1"}),
      two("cover-64519", "64519", "text", {"--cover-open", "3"}),
      two("old-firmware-64519", "64519", "text",
          {"--hardver", "1.0.4", "--serial", "RX5K0123456789A"}),
      two("new-firmware-64519", "64519", "text", {"--hardver", "1.0.5"}),
      two("sheet-gap-831", "831", "lines", {"--sheet-gap", "3"}),
      // Chinese messages.
      two("chinese-21", "21", "text", {"--paper-missing", "2"}, chinese),
      {"chinese-label-18", "rx5k-label-18.ppd", "", {{"label"}}, {}, chinese},
  };
}

std::vector<ReferenceJob> allJobs() {
  std::vector<ReferenceJob> jobs = optionJobs();
  for (auto more : {hostileJobs(), printerJobs()})
    jobs.insert(jobs.end(), more.begin(), more.end());
  return jobs;
}

std::map<std::string, std::string> recordedLines() {
  std::map<std::string, std::string> lines;
  std::ifstream in(sourceDir() + "recorded.tsv");
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') lines[line.substr(0, line.find('\t'))] = line;
  return lines;
}

// The job's raster file, made from its pages.
std::string rasterOf(const ReferenceJob &job) {
  static std::mutex lock;  // libcups's PPD reading is not for several threads at once
  std::lock_guard<std::mutex> guard(lock);
  ppd_file_t *ppd = ppdOpenFile(e2e::projectPpd(job.ppd).c_str());
  EXPECT_TRUE(ppd) << job.ppd;
  if (!ppd) return "";
  std::vector<RasterPage> pages;
  for (const PageSpec &spec : job.pages) pages.push_back(rasterPage(ppd, job.options, spec));
  ppdClose(ppd);
  return e2e::rasterFile(pages, job.id + ".ras", true);
}

// The scheduler lines the recording predates: the printer-state reasons and the reason a job
// without a page printed nothing. They are left out before the comparison.
std::string withoutLaterLines(const std::string &log) {
  static const char *const kLater[] = {
      "STATE: ",
      "ERROR: The job was cancelled before its first page\n",
      "ERROR: The raster stream's first page header was refused",
      "ERROR: The document has no pages to print",
  };
  std::string kept;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    end = end == std::string::npos ? log.size() : end + 1;
    const std::string_view line(log.data() + start, end - start);
    bool later = false;
    for (const char *prefix : kLater) later = later || line.rfind(prefix, 0) == 0;
    if (!later) kept.append(line);
    start = end;
  }
  return kept;
}

// Besides its recording, what a hostile job must show: the page refused with "ERROR: Page N:"
// and nothing of it printed (pages just past the 16-bit fields of the bitmap command, the Dymo
// row and label lengths), or bytes its stream must hold (copy counts capped, the Dymo darkness a
// density letter, settings held to their commands' ranges).
const std::map<std::string, std::pair<size_t, std::string>> kHostileOutcomes = {
    {"rows-65535-613207", {0, ""}},
    {"rows-65536-613207", {2, ""}},
    {"rows-65536-22", {1, ""}},
    {"bytes-65536-21", {1, ""}},
    {"dymo-255-bytes", {0, ""}},
    {"dymo-256-bytes", {2, ""}},
    {"dymo-length-65536", {1, ""}},
    {"dymo-darkness-200", {0, "\x1Bg"}},
    {"copies-18", {0, "^PQ999, 0, 0, N\n"}},
    {"copies-19", {0, " 999\r\n"}},
    {"copies-32", {0, "\x1B&l999X"}},
    {"enums-19", {0, "PRESENT-AT 0 1\r\n"}},
    {"enums-32", {0, "\x1B!p32767S"}},
};

// Checks the job's run against its recording, or records it.
void expectAsRecorded(const ReferenceJob &job, const runtest::FilterRun &run) {
  ASSERT_EQ(run.error, "");
  // Text from the job (forged header strings and option names and values) never starts a line.
  EXPECT_EQ(runner::lineTheFilterDidNotChoose(run.filterStderr), "");
  if (auto found = kHostileOutcomes.find(job.id); found != kHostileOutcomes.end()) {
    const auto &[refused, inStream] = found->second;
    EXPECT_EQ(
        run.filterStderr.find("ERROR: Page " + std::to_string(refused) + ": ") != std::string::npos,
        refused > 0);
    EXPECT_EQ(run.pages.size(), refused > 0 ? refused - 1 : job.pages.size());
    EXPECT_NE(run.printerStream.find(inStream), std::string::npos);
  }
  const std::string line = job.id + "\t" + std::to_string(run.exitStatus) + "\t" +
                           digest(run.printerStream) + "\t" +
                           digest(withoutLaterLines(run.filterStderr));
  if (const char *dir = std::getenv("RX5K_REFERENCE_OUT")) {
    std::ofstream(std::string(dir) + "/" + job.id + ".bin", std::ios::binary) << run.printerStream;
    std::ofstream(std::string(dir) + "/" + job.id + ".txt", std::ios::binary) << run.filterStderr;
  }
  if (const char *file = std::getenv("RX5K_RECORD_REFERENCE")) {
    int fd = open(file, O_WRONLY | O_APPEND | O_CREAT, 0644);
    ASSERT_GE(fd, 0) << file;
    std::string record = line + "\n";
    EXPECT_EQ(write(fd, record.data(), record.size()), static_cast<ssize_t>(record.size()));
    close(fd);
    return;
  }
  static const std::map<std::string, std::string> recorded = recordedLines();
  auto found = recorded.find(job.id);
  ASSERT_NE(found, recorded.end()) << "not recorded: " << line;
  // The fields: id, exit status, printer stream and scheduler lines (length:digest each);
  // RX5K_REFERENCE_OUT keeps the bytes for a comparison with a build that still matches.
  EXPECT_EQ(line, found->second) << run.emulatorStderr << run.filterStderr.substr(0, 4000);
}

runtest::FilterRunOptions options(const ReferenceJob &job, bool process) {
  runtest::FilterRunOptions o;
  o.ppd = e2e::projectPpd(job.ppd);
  o.raster = rasterOf(job);
  o.viaStdin = job.viaStdin;
  o.jobOptions = job.options;
  o.emulatorArgs = job.emulatorArgs;
  o.env = job.env;
  o.name = "reference-" + job.id;
  o.timeoutSeconds = 300;
  o.process = process;
  return o;
}

class ReferenceJobs : public testing::TestWithParam<ReferenceJob> {};

TEST_P(ReferenceJobs, AsRecordedWhenRunAsAProcess) {
  expectAsRecorded(GetParam(), runtest::runFilter(options(GetParam(), true)));
}

// In-process the printer must also parse the stream to its end (a process run's exit status
// says so).
TEST_P(ReferenceJobs, AsRecordedWhenRunInProcess) {
  if (std::getenv("RX5K_RECORD_REFERENCE")) GTEST_SKIP() << "recorded from the process runs";
  runtest::FilterRun run = runtest::runFilter(options(GetParam(), false));
  EXPECT_EQ(run.emulatorStderr, "");
  expectAsRecorded(GetParam(), run);
}

// Jobs of different models at the same time in one process (the printer application's case):
// each as recorded, as if it had run alone.
TEST(ReferenceJobsTogether, JobsOfDifferentModelsInOneProcess) {
  if (std::getenv("RX5K_RECORD_REFERENCE")) GTEST_SKIP() << "recorded from the process runs";
  const std::vector<std::string> ids = {"rx5k-22-options-1",  "rx5k-302-options-2",
                                        "rx5k-831-options-3", "rx5k-label-18-options-4",
                                        "paper-cover-jt64",   "rx5k-label-32-options-1"};
  std::vector<ReferenceJob> jobs;
  std::vector<runtest::FilterRunOptions> runs;
  for (const ReferenceJob &job : allJobs()) {
    if (std::find(ids.begin(), ids.end(), job.id) == ids.end()) continue;
    jobs.push_back(job);
    runs.push_back(options(job, false));
  }
  ASSERT_EQ(jobs.size(), ids.size());
  std::vector<runtest::FilterRun> results = e2e::runInParallel(runs, runs.size());
  for (size_t i = 0; i < jobs.size(); i++) expectAsRecorded(jobs[i], results[i]);
}

INSTANTIATE_TEST_SUITE_P(Jobs, ReferenceJobs, testing::ValuesIn(allJobs()),
                         [](const testing::TestParamInfo<ReferenceJob> &info) {
                           std::string name = info.param.id;
                           for (char &c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
