// Fuzzes whole filter jobs in-process, on the virtual clock against the emulated printer: the
// fuzz input chooses the model, the PPD's ModelName, the job options, the printer's behaviour
// (paper, cover, silence, firmware, reports during a page) and the page headers, and supplies
// the raster rows. Every job must end in a defined way, write no scheduler line that starts with
// a prefix the filter did not choose (job text is neutralised), and send a printer stream that
// parses to exactly the pages the filter sent.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <cups/raster.h>

#include "base/models.h"
#include "fuzz_support.h"
#include "job_runner.h"
#include "scheduler_lines.h"

namespace {

const char *const kModelNames[] = {"RX5K", "HQ31", "HQ32", "VN2W", "JT64"};

// Every option the filter reads, with the choice names its readers know and a few they do not
// (a small PPD: libcups parses it once per run).
struct Option {
  const char *keyword;
  std::vector<const char *> choices;
};
const Option kOptions[] = {
    {"DegreeOfBlackRecognition", {"1", "4", "7", "0", "9"}},
    {"DegreeOfGrayRecognition", {"1", "4", "7", "0", "9"}},
    {"OemMirror", {"0", "1", "True"}},
    {"Sketch", {"0", "1"}},
    {"AdjustLight", {"-100", "-5", "0", "12", "100", "Default"}},
    {"AdjustHoriaontal", {"-5", "0", "3", "2147483647", "-2147483648"}},
    {"AdjustVertical", {"-5", "0", "3", "2147483647", "-2147483648"}},
    {"Darkness", {"0", "1", "3", "9", "15", "Default"}},
    {"Antiwrinkling", {"0", "1", "2", "3"}},
    {"zeMediaTracking", {"Default", "Gap", "Continuous", "BLine", "Web", "Mark"}},
    {"PrintMode", {"0", "1", "3", "Default"}},
    {"ColorOption", {"GrayScale", "BlackWhite"}},
    {"Rotate", {"0", "1", "2"}},
    {"zePrintRate", {"Default", "1", "1.5", "4", "12"}},
    {"inPrintMode", {"Default", "Standard", "Tear", "abc"}},
    {"zePrintMode", {"Saved", "Default", "Tear", "Peel", "Rewind", "Applicator"}},
    {"zeErrorReprint", {"Default", "Always", "Never"}},
};

struct PageSize {
  const char *name;
  float width, length;  // points
};
const PageSize kPageSizes[] = {
    {"A4", 595, 842},       {"Letter", 612, 792},      {"EnvISOB5", 499, 709},
    {"A5", 420, 595},       {"A5_Lanspace", 595, 420}, {"B5JIS", 516, 729},
    {"RX5_A4", 595, 850},   {"Tattoo-A4", 595, 842},   {"Tattoo-letter", 612, 792},
    {"Tattoo-x", 200, 300}, {"w288h432", 288, 432},    {"", 100, 50}};

// The choices the job marks: a choice, or nothing, for every option.
using Marked = std::vector<std::pair<const char *, const char *>>;
Marked markedChoices(FuzzInput &in) {
  Marked marked;
  for (const Option &o : kOptions) {
    const size_t c = in.byte() % (o.choices.size() + 1);  // the last: leave it unmarked
    if (c < o.choices.size()) marked.push_back({o.keyword, o.choices[c]});
  }
  return marked;
}

// A PPD with just the marked options, each with its choice as the default (an option left out
// reads as unmarked): small, so that parsing it costs little of a run.
std::string ppdText(int model, const char *modelName, const Marked &marked) {
  std::string t =
      "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
      "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"FUZZ.PPD\"\n"
      "*Manufacturer: \"Fuzz\"\n*Product: \"(Fuzz)\"\n*ModelName: \"";
  t += modelName;
  t += "\"\n*ShortNickName: \"Fuzz\"\n*NickName: \"Fuzz\"\n*cupsModelNumber: ";
  t += std::to_string(model) + "\n";
  for (const auto &[keyword, choice] : marked) {
    const std::string k = keyword, c = choice;
    t += "*OpenUI *" + k + "/" + k + ": PickOne\n*Default" + k + ": " + c + "\n";
    t += "*" + k + " " + c + "/" + c + ": \"\"\n*CloseUI: *" + k + "\n";
  }
  return t;
}

// The job's options: sometimes the page count, sometimes text with control bytes.
std::string jobOptions(FuzzInput &in) {
  static const char *const options[] = {
      "", "com.apple.print.PrintSettings.PMTotalSidesImaged..n.=2",
      "com.apple.print.PrintSettings.PMTotalSidesImaged..n.=abc",
      "com.apple.print.PrintSettings.PMTotalSidesImaged..n.=99999999999",
      "'evil\nPPD: x=y'='v\rSTATE: +x'"};
  return in.pick(options);
}

// Rows just past the bitmap command's 16 bits are in reach; rows of more than 64 KiB are not.
constexpr uint32_t kHostileRows = uint32_t{1} << 17;
constexpr uint32_t kHostileRowBytes = uint32_t{1} << 16;

// A page header: a 24-bit RGB page of a sane size, or (hostile) fields straight from the input.
cups_page_header2_t pageHeader(FuzzInput &in, bool hostile) {
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  // Low resolutions keep the placed pages small: each run stays in the milliseconds.
  static const unsigned resolutions[] = {20, 36, 50, 50, 72, 203};
  h.HWResolution[0] = hostile ? hostileResolution(in.u32()) : in.pick(resolutions);
  h.HWResolution[1] = hostile ? hostileResolution(in.u32()) : in.pick(resolutions);
  // Hostile sizes stay small: libcups allocates (and zeroes) a row of cupsBytesPerLine bytes for
  // every header it reads, which would make each run slow; the absurd sizes beyond are the unit
  // tests' and the recorded jobs' business.
  h.cupsWidth = hostile ? in.u32() % (kHostileRowBytes / 3) : 1 + in.u16() % 320;
  h.cupsHeight = hostile ? in.u32() % kHostileRows : 1 + in.u16() % 320;
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = 24;
  h.cupsColorSpace = CUPS_CSPACE_RGB;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsBytesPerLine = h.cupsWidth * 3;
  if (hostile) {
    static const unsigned bits[] = {1, 2, 4, 8, 16};
    static const unsigned pixels[] = {1, 8, 24, 32, 48};
    static const cups_cspace_t spaces[] = {CUPS_CSPACE_RGB, CUPS_CSPACE_W, CUPS_CSPACE_K,
                                           CUPS_CSPACE_CMYK};
    h.cupsBitsPerColor = in.pick(bits);
    h.cupsBitsPerPixel = in.pick(pixels);
    h.cupsColorSpace = in.pick(spaces);
    if (in.byte() & 1) h.cupsBytesPerLine = in.u32() % kHostileRowBytes;
  }
  const PageSize &size = in.pick(kPageSizes);
  std::strncpy(h.cupsPageSizeName, size.name, sizeof h.cupsPageSizeName - 1);
  h.cupsPageSize[0] = size.width;
  h.cupsPageSize[1] = size.length;
  h.PageSize[0] = static_cast<unsigned>(size.width);
  h.PageSize[1] = static_cast<unsigned>(size.length);
  h.cupsImagingBBox[2] = size.width;
  h.cupsImagingBBox[3] = size.length - (in.byte() % 40);
  static const char *const media[] = {"", "Direct", "Thermal", "Saved"};
  std::strncpy(h.MediaType, in.pick(media), sizeof h.MediaType - 1);
  h.NumCopies = in.byte() % 4;
  h.cupsCompression = static_cast<int>(in.byte()) - 20;
  h.cupsRowCount = in.u16() % 400;
  h.cupsRowFeed = in.u16() % 400;
  h.cupsRowStep = in.u16() % 400;
  if (hostile) {
    // Unterminated names and any float at all (infinities and NaNs included).
    if (in.byte() & 1) {
      std::string name = in.bytes(sizeof h.cupsPageSizeName);
      std::memcpy(h.cupsPageSizeName, name.data(), name.size());
    }
    if (in.byte() & 1) {
      std::string media = in.bytes(sizeof h.MediaType);
      std::memcpy(h.MediaType, media.data(), media.size());
    }
    for (float *f : {&h.cupsPageSize[1], &h.cupsImagingBBox[3]}) {
      if (in.byte() & 1) {
        uint32_t bits = in.u32();
        std::memcpy(f, &bits, sizeof *f);
      }
    }
    h.NumCopies = in.u32();
    h.cupsCompression = static_cast<int>(in.u32());
    h.cupsRowCount = in.u32();
    h.cupsRowFeed = in.u32();
    h.cupsRowStep = in.u32();
  }
  return h;
}

// The raster file: a sync word, then for every page its header and its rows. Nothing follows
// the last page's rows, and a page whose rows the input cannot supply (or pad with white within
// 64 KiB) is the last: libcups allocates a row for every header it reads, so it must never take
// row bytes for a header with an absurd row length. (Compressed rasters are libcups's own
// business; the filter reads the same rows from both.)
std::string rasterFile(FuzzInput &in, int pages) {
  const bool hostile = (in.byte() & 7) == 0;
  std::vector<cups_page_header2_t> headers;
  for (int p = 0; p < pages; p++) headers.push_back(pageHeader(in, hostile));
  std::string file = "RaS3";
  for (const cups_page_header2_t &header : headers) {
    file.append(reinterpret_cast<const char *>(&header), sizeof header);
    const uint64_t need = static_cast<uint64_t>(header.cupsBytesPerLine) * header.cupsHeight;
    const size_t take = need < in.remaining() ? static_cast<size_t>(need) : in.remaining();
    file += in.bytes(take);
    if (need - take > (uint64_t{1} << 16)) break;
    file.append(static_cast<size_t>(need - take), '\xFF');
  }
  return file;
}

// The printer's behaviour.
emu::PrinterSettings printerScript(FuzzInput &in) {
  emu::PrinterSettings p;
  const uint8_t b = in.byte();
  p.paperMissing = b & 3;
  p.coverOpen = (b >> 2) & 3;
  p.silent = (b >> 4) == 15;  // rarely: the time limit ends the waits
  if (b & 0x40)
    p.hardVer = std::array<unsigned char, 3>{1, 0, static_cast<unsigned char>(in.byte() % 8)};
  const uint8_t r = in.byte();
  p.cancelAtPage = r % 8 == 1 ? 1 + r / 8 % 3 : 0;
  p.overheatAtPage = r % 8 == 2 ? 1 + r / 8 % 3 : 0;
  if (r % 8 == 3) p.idleReportMs = -1;
  return p;
}

struct Files {
  int ppd = memfd_create("fuzz.ppd", MFD_CLOEXEC);
  std::string ppdPath = "/proc/self/fd/" + std::to_string(ppd);
  Files() {
    if (ppd < 0) fuzzFail("memfd_create failed");
    limitPageMemory();
  }
};

void rewrite(int fd, const std::string &content) {
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, content.data(), content.size(), 0) != static_cast<ssize_t>(content.size()))
    fuzzFail("cannot write an in-memory file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Files *files = new Files;

  FuzzInput in(data, size);
  const int model = pickModel(in, ModelFamily::Other);
  const char *modelName = in.pick(kModelNames);
  rewrite(files->ppd, ppdText(model, modelName, markedChoices(in)));
  runner::JobSpec spec;
  spec.ppd = files->ppdPath;
  spec.model = model;
  spec.jobOptions = jobOptions(in);
  spec.printer = printerScript(in);
  const int pages = 1 + in.byte() % 3;
  spec.rasterAsFile = in.byte() & 1;
  spec.raster = rasterFile(in, pages);
  spec.timeLimit = 200;  // virtual seconds: a silent printer's waits end here
  spec.keepImages = false;
  spec.keepStream = false;
  spec.keepWire = false;
  const runner::JobResult job = runner::runJob(spec);

  const std::string tail = job.log.size() > 2000 ? job.log.substr(job.log.size() - 2000) : job.log;
  FUZZ_CHECK(job.exitStatus == 0 || job.exitStatus == 1, tail);
  FUZZ_CHECK(job.log.size() >= 6 && job.log.compare(job.log.size() - 6, 6, "INFO:\n") == 0, tail);
  const std::string stray = runner::lineTheFilterDidNotChoose(job.log);
  FUZZ_CHECK(stray.empty(), "a line the filter did not choose: " + stray);
  // The printer reads what the filter sent, and exactly the pages it sent (model 20's rows carry
  // no length: its printer knows only the first page's).
  if (model == 20 && pages > 1) return 0;
  FUZZ_CHECK(job.streamOk, job.streamError + "\n" + tail);
  FUZZ_CHECK(static_cast<int>(job.pages.size()) == job.pagesSent,
             std::to_string(job.pages.size()) + " pages printed, " + std::to_string(job.pagesSent) +
                 " sent\n" + tail);
  return 0;
}
