// The compiled PPD files against what the filter reads from them: exactly the option keywords
// each model reads, with choices the filter can parse and a default among them, the page sizes
// whose names the filter compares, RGB raster at every resolution, and label darkness choices
// that reach the printer as named. (The model numbers, ModelNames and filter lines show in the
// recorded reference jobs and in cupstestppd, run by the install test.)
#include <cups/ppd.h>
#include <cups/raster.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "base/choices.h"

namespace fs = std::filesystem;

namespace {

const fs::path kPpdDir = fs::path(RX5K_BUILD_DIR) / "ppd";

using Names = std::vector<std::string>;

// How the printer's darkness level comes out of the header's cupsCompression.
enum class Darkness { Thermal, Letter, Line, Page, Zpl, Cpcl, Pcl, None };

// The words of a space-separated list.
Names words(const std::string &list) {
  std::istringstream in(list);
  return {std::istream_iterator<std::string>(in), {}};
}

struct Model {
  std::string file;
  int number;
  Darkness darkness;
  std::string reads;  // option keywords beyond those every model of its kind reads
  std::string sizes;  // page-size names the filter compares for this model
};

const std::string kEveryModel = "DegreeOfBlackRecognition AdjustLight OemMirror Sketch";
const std::string kThermal =
    "DegreeOfGrayRecognition AdjustHoriaontal AdjustVertical ColorOption Rotate Darkness";

std::vector<Model> expectedModels() {
  const char *media = "zeMediaTracking PrintMode", *wrinkles = "Antiwrinkling";
  const char *widened = "A4 Letter A5 EnvISOB5 A5_Lanspace", *fitted = "A4 Letter A5 EnvISOB5";
  const char *sheet = "A4 Letter A5 B5JIS RX5_A4 Tattoo-A4 Tattoo-letter";
  const auto T = Darkness::Thermal;
  return {
      {"rx5k-22.ppd", 22, T, "", widened},
      {"rx5k-23.ppd", 23, T, media, widened},
      {"rx5k-302.ppd", 302, T, media, fitted},
      {"rx5k-302-jt64.ppd", 302, T, media, fitted},
      {"rx5k-21.ppd", 21, T, wrinkles, sheet},
      {"rx5k-831.ppd", 831, T, wrinkles, sheet},
      {"rx5k-613207.ppd", 613207, T, wrinkles, ""},
      {"rx5k-590314.ppd", 590314, T, wrinkles, ""},
      {"rx5k-590314-vn2w.ppd", 590314, T, wrinkles, "Tattoo-A4 Tattoo-letter"},
      {"rx5k-590314-hq31.ppd", 590314, T, wrinkles, ""},
      {"rx5k-590314-hq32.ppd", 590314, T, wrinkles, ""},
      {"rx5k-400.ppd", 400, T, "", ""},
      {"rx5k-64519.ppd", 64519, T, "zeMediaTracking", "A4 Letter"},
      {"rx5k-label-0.ppd", 0, Darkness::Letter, "", ""},
      {"rx5k-label-16.ppd", 16, Darkness::Line, "zePrintRate", ""},
      {"rx5k-label-17.ppd", 17, Darkness::Page, "zePrintRate MediaType", ""},
      {"rx5k-label-18.ppd", 18, Darkness::Zpl,
       "zePrintRate zeMediaTracking MediaType zePrintMode zeErrorReprint", ""},
      {"rx5k-label-19.ppd", 19, Darkness::Cpcl, "zePrintRate zeMediaTracking zeErrorReprint", ""},
      {"rx5k-label-20.ppd", 20, Darkness::None, "", ""},
      {"rx5k-label-32.ppd", 32, Darkness::Pcl, "inPrintMode", ""}};
}

// Every keyword the filter reads, and the choices it reads: names it compares and every whole
// number lo..hi (in steps where "/step" follows), each offered; zePrintRate's other choices are
// speeds. The documented ranges: a number outside the PPD's choices is ignored by CUPS.
const std::map<std::string, std::string> kChoices = {
    {"DegreeOfBlackRecognition", "1..7"},
    {"DegreeOfGrayRecognition", "1..7"},
    {"AdjustLight", "-100..100/10"},
    {"AdjustHoriaontal", "-10..10"},
    {"AdjustVertical", "-10..10"},
    {"OemMirror", "0..1"},
    {"Sketch", "0..1"},
    {"Rotate", "0..1"},
    {"Darkness", "Default 0..3"},
    {"Antiwrinkling", "0..2"},
    {"PrintMode", "1..3"},
    {"ColorOption", "BlackWhite GrayScale"},
    {"zeMediaTracking", "Default Gap Continuous BLine"},
    {"zePrintRate", "Default"},
    {"MediaType", "Saved Thermal Direct"},
    {"zePrintMode", "Saved Tear Peel Rewind Applicator"},
    {"zeErrorReprint", "Saved Always Never"},
    {"inPrintMode", "Default Standard Tear Cut"}};

void PrintTo(const Model &m, std::ostream *os) {
  *os << m.file;
}

using PpdPtr = std::unique_ptr<ppd_file_t, decltype(&ppdClose)>;

PpdPtr openPpd(const std::string &file) {
  PpdPtr ppd(ppdOpenFile((kPpdDir / file).c_str()), ppdClose);
  if (ppd) ppdMarkDefaults(ppd.get());
  return ppd;
}

// The page header a rasterizer builds from the marked choices.
cups_page_header2_t headerFor(ppd_file_t *ppd) {
  cups_page_header2_t h{};
  EXPECT_EQ(cupsRasterInterpretPPD(&h, ppd, 0, nullptr, nullptr), 0) << cupsRasterErrorString();
  return h;
}

Names choiceNames(ppd_option_t *o) {
  Names c;
  for (int i = 0; i < o->num_choices; i++) c.push_back(o->choices[i].choice);
  return c;
}

class PpdFile : public testing::TestWithParam<Model> {
 protected:
  void SetUp() override {
    ppd_ = openPpd(GetParam().file);
    ASSERT_TRUE(ppd_) << GetParam().file << " does not open; is ppdc (cups-ppdc) installed?";
  }
  PpdPtr ppd_{nullptr, ppdClose};
};

// Each keyword the filter reads is offered exactly on the models that read it, with choices the
// filter parses (every name it compares or a number in its range), and a default among them.
TEST_P(PpdFile, OffersExactlyTheOptionsItsModelReadsInAFormItParses) {
  const Model &m = GetParam();
  const bool thermal = m.darkness == Darkness::Thermal;
  const Names reads = words(kEveryModel + " " + (thermal ? kThermal : "") + " " + m.reads);
  for (const auto &[keyword, choices] : kChoices) {
    // A label PPD's "Darkness" is no keyword the filter reads: its code sets cupsCompression.
    if (keyword == "Darkness" && !thermal) continue;
    ppd_option_t *o = ppdFindOption(ppd_.get(), keyword.c_str());
    if (std::find(reads.begin(), reads.end(), keyword) == reads.end()) {
      EXPECT_EQ(o, nullptr) << keyword << " is offered but model " << m.number << " never reads it";
      continue;
    }
    ASSERT_NE(o, nullptr) << keyword << " missing";
    std::string names = choices;
    if (keyword == "zeMediaTracking" && !thermal) names = "Default Continuous Web Mark";
    if (keyword == "Darkness" && (m.number == 22 || m.number == 23 || m.number == 302))
      names = "Default 0..2";  // no special darkness 3 on these
    int lo = 1, hi = 0, step = 1;
    std::sscanf(names.substr(names.find_last_of(' ') + 1).c_str(), "%d..%d/%d", &lo, &hi, &step);
    std::set<int> numbers, offered;
    for (int n = lo; n <= hi; n += step) offered.insert(n);
    for (const std::string &c : choiceNames(o)) {
      if ((" " + names + " ").find(" " + c + " ") != std::string::npos) continue;
      const int n = choiceInt(c.c_str());
      if (keyword == "zePrintRate") {
        // The line and page languages read speeds as decimals, the others as integers.
        char *end = nullptr;
        const double speed = std::strtod(c.c_str(), &end);
        EXPECT_TRUE(*end == '\0' && speed >= 0 && speed <= 12 &&
                    (std::to_string(n) == c || m.darkness == Darkness::Line ||
                     m.darkness == Darkness::Page))
            << c;
      } else {
        EXPECT_EQ(std::to_string(n), c) << keyword;
        numbers.insert(n);
      }
    }
    EXPECT_EQ(numbers, offered) << keyword;
    // The default is what the filter reads when the job says nothing.
    EXPECT_NE(PpdChoices(ppd_.get()).marked(keyword.c_str()), nullptr)
        << keyword << " has no default";
    for (int i = 0; i < o->num_choices; i++)
      EXPECT_STRNE(o->choices[i].text, "")
          << keyword << " " << o->choices[i].choice << " has no text";
  }
}

// The sizes whose names the filter compares are offered with their paper's dimensions, and
// every resolution gives the 24-bit chunky RGB raster that the capture reads.
TEST_P(PpdFile, PageSizesAndResolutionsAsTheFilterReadsThem) {
  const std::map<std::string, std::pair<float, float>> paper = {
      {"A4", {595, 842}},          {"Letter", {612, 792}},    {"A5", {420, 595}},
      {"A5_Lanspace", {595, 420}}, {"EnvISOB5", {499, 709}},  {"B5JIS", {516, 729}},
      {"RX5_A4", {595, 850}},      {"Tattoo-A4", {595, 842}}, {"Tattoo-letter", {612, 792}}};
  for (const std::string &name : words(GetParam().sizes)) {
    ppd_size_t *p = ppdPageSize(ppd_.get(), name.c_str());
    ASSERT_NE(p, nullptr) << name;
    EXPECT_NEAR(p->width, paper.at(name).first, 0.01) << name;
    EXPECT_NEAR(p->length, paper.at(name).second, 0.01) << name;
  }
  ppd_option_t *res = ppdFindOption(ppd_.get(), "Resolution");
  ASSERT_NE(res, nullptr);
  for (const std::string &choice : choiceNames(res)) {
    const unsigned dpi = static_cast<unsigned>(choiceInt(choice.c_str()));
    EXPECT_TRUE(choice == std::to_string(dpi) + "dpi" && (dpi == 203 || dpi == 300)) << choice;
    ppdMarkOption(ppd_.get(), "Resolution", choice.c_str());
    const cups_page_header2_t h = headerFor(ppd_.get());
    EXPECT_EQ(
        std::tuple(h.HWResolution[0], h.HWResolution[1], h.cupsBitsPerColor, h.cupsBitsPerPixel,
                   h.cupsBytesPerLine, h.cupsColorSpace, h.cupsColorOrder),
        std::tuple(dpi, dpi, 8u, 24u, 3 * h.cupsWidth, CUPS_CSPACE_RGB, CUPS_ORDER_CHUNKED));
  }
  const ppd_option_t *color = ppdFindOption(ppd_.get(), "ColorModel");
  EXPECT_TRUE(color && color->num_choices == 1);
}

// The label languages take their darkness from cupsCompression; each choice must arrive at the
// printer as the level its name promises. Where the level is scaled from 1..100, "Default" sends
// a value outside that range so that no level is sent.
TEST_P(PpdFile, LabelDarknessReachesThePrinterAsNamed) {
  const Darkness d = GetParam().darkness;
  ppd_option_t *o = ppdFindOption(ppd_.get(), "Darkness");
  if (d == Darkness::Thermal || d == Darkness::None) {
    EXPECT_TRUE(d == Darkness::Thermal || o == nullptr) << "model 20 takes no darkness";
    return;
  }
  ASSERT_NE(o, nullptr);
  const std::map<std::string, int> letter = {
      {"Light", 'c'}, {"Medium", 'd'}, {"Normal", 'e'}, {"Dark", 'g'}};
  const std::map<Darkness, int> scale = {
      {Darkness::Line, 7}, {Darkness::Page, 15}, {Darkness::Zpl, 30}};
  for (const std::string &choice : choiceNames(o)) {
    ppdMarkOption(ppd_.get(), "Darkness", choice.c_str());
    const int c = static_cast<int>(headerFor(ppd_.get()).cupsCompression);
    if (scale.count(d)) {
      EXPECT_EQ(c >= 1 && c <= 100, choice != "Default") << choice;
      if (choice == "Default") continue;
    }
    const int sent = d == Darkness::Letter ? c + 99
                     : d == Darkness::Cpcl ? 2 * c
                     : d == Darkness::Pcl  ? c * 30 / 100 - 15
                                           : c * scale.at(d) / 100;
    EXPECT_EQ(sent, d == Darkness::Letter ? letter.at(choice) : std::atoi(choice.c_str()))
        << choice;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryModel, PpdFile, testing::ValuesIn(expectedModels()),
                         [](const testing::TestParamInfo<Model> &i) {
                           std::string n = i.param.file.substr(0, i.param.file.size() - 4);
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

}  // namespace
