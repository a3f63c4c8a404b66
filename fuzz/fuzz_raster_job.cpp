// Fuzzes a whole filter run in-process: the fuzz input chooses the model, the PPD's ModelName,
// the job options and the page headers, and supplies the raster rows. The printer answers
// every query at once (paper present, cover closed, idle), so no wait costs time; the printer
// stream and the scheduler messages are captured and checked after the run.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <cups/raster.h>

#include "driver/job.h"
#include "fuzz_support.h"
#include "io/channel.h"
#include "io/log.h"
#include "io/printer_stream.h"
#include "labels/labels.h"
#include "monitor/status.h"
#include "thermal/commands.h"
#include "thermal/page_setup.h"

#if __has_include("thermal_parser.h")
#include "thermal_parser.h"
#define RX5K_FUZZ_HAVE_THERMAL_PARSER 1
#endif
#if __has_include("label_decoders.h")
#include "label_decoders.h"
#define RX5K_FUZZ_HAVE_LABEL_DECODERS 1
#endif

namespace {

// A printer that is always ready. The main thread's reads (the page set-up's queries) are
// answered at once and its sleeps cost nothing; the monitor thread is slowed to a real 0.2 ms
// per read or sleep, so that its poll loop does not spin on a shared core.
class ReadyPrinter : public Channel {
 public:
  std::thread::id mainThread = std::this_thread::get_id();

  ssize_t backRead(unsigned char *buf, size_t n, double) override {
    static const unsigned char ready[] = {0x1A, 0x06, 0x89, 0x1A, 0x05, 0x98, 0x1A, 0x0F, 0x0C};
    if (std::this_thread::get_id() != mainThread) pause();
    const size_t k = n < sizeof ready ? n : sizeof ready;
    std::memcpy(buf, ready, k);
    return static_cast<ssize_t>(k);
  }
  void drain(double) override {}
  void sleepMs(unsigned) override {
    if (std::this_thread::get_id() != mainThread)
      pause();
    else
      std::this_thread::yield();
  }

 private:
  static void pause() { std::this_thread::sleep_for(std::chrono::microseconds(200)); }
};

const int kModels[] = {21, 22, 23, 302, 400, 831, 64519, 590314, 613207,  // thermal
                       0,  16, 17, 18,  19,  20,  32,                     // label
                       7};                                                // neither
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

std::string ppdText(int model, const char *modelName) {
  std::string t =
      "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
      "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"FUZZ.PPD\"\n"
      "*Manufacturer: \"Fuzz\"\n*Product: \"(Fuzz)\"\n*ModelName: \"";
  t += modelName;
  t += "\"\n*ShortNickName: \"Fuzz\"\n*NickName: \"Fuzz\"\n*cupsModelNumber: ";
  t += std::to_string(model) + "\n";
  for (const Option &o : kOptions) {
    const std::string k = o.keyword;
    t += "*OpenUI *" + k + "/" + k + ": PickOne\n";
    t += "*Default" + k + ": Unlisted\n";  // names no choice: unmarked
    for (const char *c : o.choices) t += "*" + k + " " + c + "/" + c + ": \"\"\n";
    t += "*CloseUI: *" + k + "\n";
  }
  return t;
}

// Marks a choice, or nothing, for every option; sometimes announces the page count.
std::string jobOptions(FuzzInput &in) {
  std::string s;
  for (const Option &o : kOptions) {
    const size_t c = in.byte() % (o.choices.size() + 1);  // the last: leave it unmarked
    if (c < o.choices.size()) s += std::string(o.keyword) + "=" + o.choices[c] + " ";
  }
  static const char *const totals[] = {nullptr, "2", "0", "abc", "99999999999"};
  if (const char *t = in.pick(totals))
    s += std::string("com.apple.print.PrintSettings.PMTotalSidesImaged..n.=") + t;
  return s;
}

// A page header: a 24-bit RGB page of a sane size, or (hostile) fields straight from the input.
cups_page_header2_t pageHeader(FuzzInput &in, bool hostile) {
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  static const unsigned resolutions[] = {203, 203, 203, 300, 200, 96};
  h.HWResolution[0] = hostile ? hostileResolution(in.u32()) : in.pick(resolutions);
  h.HWResolution[1] = hostile ? hostileResolution(in.u32()) : in.pick(resolutions);
  h.cupsWidth = hostile ? in.u32() : 1 + in.u16() % 320;
  h.cupsHeight = hostile ? in.u32() : 1 + in.u16() % 320;
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
    if (in.byte() & 1) h.cupsBytesPerLine = in.u32();
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

// The raster file: a sync word, then for every page its header and its rows. Rows of every
// page but the last are padded with white when the input runs short; the last page may stop
// short (the filter treats the missing rows as white).
std::string rasterFile(FuzzInput &in, int pages) {
  static const char *const syncs[] = {"RaS3", "RaS3", "RaS3", "RaS2"};
  const std::string sync = in.pick(syncs);
  const bool hostile = (in.byte() & 7) == 0;
  std::vector<cups_page_header2_t> headers;
  for (int p = 0; p < pages; p++) headers.push_back(pageHeader(in, hostile));
  std::string file = sync;
  for (int p = 0; p < pages; p++) {
    file.append(reinterpret_cast<const char *>(&headers[p]), sizeof headers[p]);
    // Compressed rows have no length known in advance: the rest of the input is the page.
    if (sync == "RaS2" || p == pages - 1) {
      file += in.bytes(in.remaining());
      break;
    }
    const uint64_t need =
        static_cast<uint64_t>(headers[p].cupsBytesPerLine) * headers[p].cupsHeight;
    const size_t take = need < in.remaining() ? static_cast<size_t>(need) : in.remaining();
    file += in.bytes(take);
    if (need > take) file.append(std::min<uint64_t>(need - take, 1u << 20), '\xFF');
  }
  return file;
}

void rewrite(int fd, const std::string &content) {
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, content.data(), content.size(), 0) != static_cast<ssize_t>(content.size()))
    fuzzFail("cannot write an in-memory file");
}

// Job-wide state that the driver takes as it finds it.
void resetProcessState() {
  TotalPage = 1;
  ModelNumber = 0;
  blacklevel = 4;
  graylevel = 7;
  mirrorPrint = sketchPrint = lightOffset = 0;
  hOffset = vOffset = Rotate = gray = Feed = 0;
  resetThermalCommands();
  labelReleasePageBuffers();
}

struct Harness {
  int ppdFd = memfd_create("fuzz.ppd", 0);
  int rasterFd = memfd_create("fuzz.ras", 0);
  std::string rasterPath = "/proc/self/fd/" + std::to_string(rasterFd);
  ReadyPrinter printer;
  StringSink sink;
  std::string log;

  Harness() {
    if (ppdFd < 0 || rasterFd < 0) fuzzFail("memfd_create failed");
    setenv("PPD", ("/proc/self/fd/" + std::to_string(ppdFd)).c_str(), 1);
    limitPageMemory();
    setChannel(&printer);
    prnSetSink(&sink);
    logSetCapture([this](std::string_view s) { log.append(s); });
  }
};

void checkRun(int status, int model, const Harness &h) {
  const std::string tail = h.log.size() > 2000 ? h.log.substr(h.log.size() - 2000) : h.log;
  FUZZ_CHECK(status == 0 || status == 1, tail);
  FUZZ_CHECK(!Canceled.load(), tail);  // nothing here cancels the job
  FUZZ_CHECK(mymon.end == 1, tail);    // the monitor thread has finished
  FUZZ_CHECK(h.log.size() >= 6 && h.log.compare(h.log.size() - 6, 6, "INFO:\n") == 0, tail);
  if (status != 0) return;
    // A job that went through is a stream the printer can read.
#ifdef RX5K_FUZZ_HAVE_THERMAL_PARSER
  if (isThermalModel(model)) {
    emu::ThermalStream parsed = emu::parseThermalStream(h.sink.bytes);
    FUZZ_CHECK(parsed.ok, parsed.error);
    int bitmaps = 0;
    for (const auto &e : parsed.events) bitmaps += e.command == emu::ThermalCommand::BitmapData;
    FUZZ_CHECK(bitmaps == Page, "bitmaps " + std::to_string(bitmaps));
  }
#endif
#ifdef RX5K_FUZZ_HAVE_LABEL_DECODERS
  if (isLabelModel(model) && model != 20) {  // model 20's rows carry no length
    emu::LabelDecodeResult decoded = emu::decodeLabelStream(model, h.sink.bytes);
    FUZZ_CHECK(decoded.ok, decoded.error);
  }
#endif
  (void)model;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Harness *h = new Harness;

  FuzzInput in(data, size);
  const int model = in.pick(kModels);
  const char *modelName = in.pick(kModelNames);
  std::string options = jobOptions(in);
  const int pages = 1 + in.byte() % 3;
  rewrite(h->ppdFd, ppdText(model, modelName));
  rewrite(h->rasterFd, rasterFile(in, pages));

  resetProcessState();
  h->sink.bytes.clear();
  h->log.clear();
  char arg0[] = "rastertoRX5K", job[] = "1", user[] = "fuzz", title[] = "fuzz", copies[] = "1";
  char *argv[] = {arg0, job, user, title, copies, options.data(), h->rasterPath.data(), nullptr};
  struct sigaction term;
  sigaction(SIGTERM, nullptr, &term);
  const int status = rastertoRX5K(7, argv);
  sigaction(SIGTERM, &term, nullptr);  // the driver installed its own handler
  prnFlush();
  checkRun(status, model, *h);
  return 0;
}
