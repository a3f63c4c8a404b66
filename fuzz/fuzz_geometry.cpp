// Fuzzes the page geometry (half turn, width limit, offsets, placement by model and page size)
// on small black-and-white pages with arbitrary parameters, including hostile resolutions,
// offsets and page lengths.
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/models.h"
#include "fuzz_support.h"
#include "pipeline/geometry.h"

namespace {

const char *const kModelNames[] = {"RX5K", "HQ31", "HQ32", "VN2W", "JT64"};
const char *const kPageSizes[] = {
    "A4",     "Letter",    "EnvISOB5",      "A5",       "A5_Lanspace", "B5JIS",
    "RX5_A4", "Tattoo-A4", "Tattoo-letter", "Tattoo-x", "w288h432",    ""};

float anyFloat(FuzzInput &in) {
  const uint32_t bits = in.u32();
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

int smallOrAny(FuzzInput &in) {
  const uint8_t kind = in.byte();
  if (kind < 240) return static_cast<int8_t>(in.byte());
  return static_cast<int>(in.u32());
}

// Counts of black and white dots; kept out of the coverage feedback (it would cost more than
// the code under test, and its branches say nothing new).
__attribute__((noinline, no_sanitize("coverage"))) size_t countDots(const unsigned char *dots,
                                                                    size_t n, unsigned char value) {
  size_t count = 0;
  for (size_t i = 0; i < n; i++) count += dots[i] == value;
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool once = [] {
    limitPageMemory();
    return true;
  }();
  (void)once;
  StringLogSink lines;  // the scheduler lines of one run
  Log log(lines);

  FuzzInput in(data, size);
  GeometryParams p;
  p.model = pickModel(in, ModelFamily::Other);
  p.modelName = in.pick(kModelNames);
  std::string rawName;
  if (in.byte() < 240) {
    p.pageSizeName = in.pick(kPageSizes);
  } else {
    rawName = in.bytes(in.byte() % 70);
    p.pageSizeName = rawName.c_str();
  }
  static const unsigned resolutions[] = {203, 300, 200, 600, 96, 1, 0};
  const bool hostile = in.byte() >= 240;
  p.resX = hostile ? hostileResolution(in.u32()) : in.pick(resolutions);
  p.resY = hostile ? hostileResolution(in.u32()) : in.pick(resolutions);
  static const float lengths[] = {842, 792, 709, 595, 850, 432, 0, -50};
  p.pageLength = hostile ? anyFloat(in) : in.pick(lengths);
  p.imagingTop = hostile ? anyFloat(in) : p.pageLength - in.byte() % 64;
  static const int rotations[] = {0, 1, 2, 90, -1};
  p.rotate = in.pick(rotations);
  p.hOffset = smallOrAny(in);
  p.vOffset = smallOrAny(in);
  p.tofill = in.byte() % 8;
  p.continuousMedia = in.byte() % 2 == 0;

  // The capture hands over rows padded to whole bytes, the pad columns white on the right.
  int width = 8 * (1 + in.byte() % 16);
  int height = 1 + in.byte() % 64;
  const size_t dots = static_cast<size_t>(width) * height;
  DotBuffer page = allocateDots(dots);
  FUZZ_CHECK(page, "");
  std::memset(page.get(), 255, dots);
  for (size_t i = 0; i < dots && in.remaining() > 0; i += 8) {
    const uint8_t bits = in.byte();
    for (size_t j = 0; j < 8 && i + j < dots; j++) {
      const size_t x = (i + j) % width;
      if (x < static_cast<size_t>(width - p.tofill) && (bits & (0x80 >> j))) page[i + j] = 0;
    }
  }
  const size_t blackBefore = countDots(page.get(), dots, 0);
  std::string original(reinterpret_cast<const char *>(page.get()), dots);
  const int widthBefore = width, heightBefore = height;

  std::string error;
  int paperCode = 0;
  if (!applyGeometry(page, width, height, p, log, paperCode, error)) {
    FUZZ_CHECK(!error.empty(), "");
    return 0;
  }
  const std::string detail = "model " + std::to_string(p.model) + " size " + std::to_string(width) +
                             "x" + std::to_string(height);
  FUZZ_CHECK(width >= 0 && height >= 0, detail);
  const size_t after = static_cast<size_t>(width) * height;
  FUZZ_CHECK(after == 0 || page, detail);
  // Every dot is readable, still black or white, and no black dot appears from nowhere: the
  // steps move, turn and drop the picture but never draw.
  const size_t blackAfter = countDots(page.get(), after, 0);
  FUZZ_CHECK(blackAfter + countDots(page.get(), after, 255) == after, detail);
  FUZZ_CHECK(blackAfter <= blackBefore, detail);
  // The size known before the page is made is the size it gets.
  int64_t finishedWidth = 0, finishedHeight = 0;
  FUZZ_CHECK(finishedPageSize(p, widthBefore, heightBefore, finishedWidth, finishedHeight, error),
             detail + ": " + error);
  FUZZ_CHECK(finishedWidth == width && finishedHeight == height, detail);
  // Only the models that size the page to a paper name its paper.
  const ModelFacts &facts = modelFacts(p.model);
  const bool sizesToPaper =
      facts.placement == Placement::WidenToPaper || facts.placement == Placement::FitToPaper;
  FUZZ_CHECK(paperCode == -1 || (sizesToPaper && paperCode >= 0 && paperCode <= 4), detail);
  // Without a turn, offsets or a placement, the page comes back as it was.
  const bool placing = facts.placement != Placement::None ||
                       (facts.widthLimit > 0 && widthBefore > facts.widthLimit);
  if (p.rotate != 1 && p.hOffset == 0 && p.vOffset == 0 && !placing) {
    FUZZ_CHECK(width == widthBefore && height == heightBefore, detail);
    FUZZ_CHECK(std::memcmp(page.get(), original.data(), dots) == 0, detail);
  }
  // A half turn alone keeps every black dot.
  if (p.rotate == 1 && p.hOffset == 0 && p.vOffset == 0 && !placing)
    FUZZ_CHECK(blackAfter == blackBefore, detail);
  return 0;
}
