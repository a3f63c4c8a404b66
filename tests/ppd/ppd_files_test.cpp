// The compiled PPD files: one per model, each declaring what the filter looks up (model number,
// ModelName, filter line, option keywords and choice names, page-size names) and producing the
// raster header the filter expects when a rasterizer interprets it.
#include <cups/ppd.h>
#include <cups/raster.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "driver/choices.h"

namespace fs = std::filesystem;

namespace {

const fs::path kPpdDir = fs::path(RX5K_BUILD_DIR) / "ppd";

using Choices = std::vector<std::string>;

const Choices kLevels = {"1", "2", "3", "4", "5", "6", "7"};
const Choices kOffOn = {"0", "1"};
const Choices kSignedMm = {"-10", "-8", "-6", "-5", "-4", "-3", "-2", "-1", "0",
                           "1",   "2",  "3",  "4",  "5",  "6",  "8",  "10"};
const Choices kLight = {"-100", "-80", "-60", "-40", "-20", "-10", "0",
                        "10",   "20",  "40",  "60",  "80",  "100"};

// Choices and default of each option, as the filter sees them.
struct Option {
  Choices choices;
  std::string byDefault;
};
using Options = std::map<std::string, Option>;

Options commonOptions() {
  return {{"DegreeOfBlackRecognition", {kLevels, "4"}},
          {"AdjustLight", {kLight, "0"}},
          {"OemMirror", {kOffOn, "0"}},
          {"Sketch", {kOffOn, "0"}}};
}

Options thermalOptions(bool specialDensity) {
  Options o = commonOptions();
  o["DegreeOfGrayRecognition"] = {kLevels, "7"};
  o["AdjustHoriaontal"] = {kSignedMm, "0"};
  o["AdjustVertical"] = {kSignedMm, "0"};
  o["ColorOption"] = {{"BlackWhite", "GrayScale"}, "BlackWhite"};
  o["Rotate"] = {kOffOn, "0"};
  o["Darkness"] = {
      specialDensity ? Choices{"Default", "0", "1", "2", "3"} : Choices{"Default", "0", "1", "2"},
      "Default"};
  return o;
}

const Option kAntiwrinkling = {{"0", "1", "2"}, "0"};
const Option kThermalTracking = {{"Default", "Gap", "Continuous", "BLine"}, "Default"};
const Option kPrintMode = {{"1", "2", "3"}, "2"};

// A page size: name, paper in points, top margin in points (all other margins are 0).
struct Size {
  std::string name;
  float width, length, top;
};
constexpr float mm(float v) {
  return v * 72.0f / 25.4f;
}

std::vector<Size> sizes(std::initializer_list<const char *> names, float top) {
  static const std::map<std::string, std::pair<float, float>> paper = {
      {"A4", {595, 842}},          {"Letter", {612, 792}},    {"A5", {420, 595}},
      {"A5_Lanspace", {595, 420}}, {"EnvISOB5", {499, 709}},  {"B5JIS", {516, 729}},
      {"RX5_A4", {595, 850}},      {"Tattoo-A4", {595, 842}}, {"Tattoo-letter", {612, 792}},
      {"Legal", {612, 1008}},      {"Executive", {522, 756}}, {"Env10", {297, 684}},
      {"EnvDL", {312, 624}},       {"EnvC5", {459, 649}},     {"EnvMonarch", {279, 540}},
      {"w54h144", {54, 144}},      {"w81h252", {81, 252}},    {"w101h252", {101, 252}},
      {"w159h288", {159, 288}},    {"w144h72", {144, 72}},    {"w144h216", {144, 216}},
      {"w216h144", {216, 144}},    {"w288h144", {288, 144}},  {"w288h288", {288, 288}},
      {"w288h432", {288, 432}}};
  std::vector<Size> out;
  for (const char *n : names) out.push_back({n, paper.at(n).first, paper.at(n).second, top});
  return out;
}
std::vector<Size> operator+(std::vector<Size> a, const std::vector<Size> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// How the printer's darkness level comes out of the header's cupsCompression.
enum class Darkness { Thermal, Letter, Line, Page, Zpl, Cpcl, Pcl, None };

struct Model {
  std::string file;
  int number;
  std::string modelName;
  Options options;
  std::vector<Size> sizes;
  std::vector<int> dpi;  // first is the default
  Darkness darkness;
};

std::vector<Model> expectedModels() {
  const auto plainA4 = sizes({"A4", "Letter", "A5"}, 0),
             top8 = sizes({"A4", "Letter", "A5"}, mm(8));
  const auto landscape = sizes({"A4", "Letter", "A5", "A5_Lanspace", "EnvISOB5"}, 0);
  const auto sheet12 = sizes({"A4", "Letter", "A5", "B5JIS", "EnvISOB5"}, mm(12)) +
                       sizes({"RX5_A4", "Tattoo-A4", "Tattoo-letter"}, mm(20));
  const auto labels =
      sizes({"w144h72", "w144h216", "w216h144", "w288h144", "w288h288", "w288h432"}, 0);
  const std::vector<int> thermalDpi = {203, 300}, labelDpi = {203};
  const Options tracking = {{"zeMediaTracking", kThermalTracking}, {"PrintMode", kPrintMode}};
  const Options wrinkles = {{"Antiwrinkling", kAntiwrinkling}};

  std::vector<Model> m;
  m.reserve(32);
  // special: the darkness goes up to 3.
  auto thermal = [&](std::string file, int number, std::string name, bool special, Options extra,
                     std::vector<Size> s) {
    Options o = thermalOptions(special);
    o.insert(extra.begin(), extra.end());
    m.push_back({file, number, name, o, s, thermalDpi, Darkness::Thermal});
  };
  thermal("rx5k-22.ppd", 22, "RX5K 22", false, {}, landscape);
  thermal("rx5k-23.ppd", 23, "RX5K 23", false, tracking, landscape);
  thermal("rx5k-302.ppd", 302, "RX5K 302", false, tracking,
          sizes({"A4", "Letter", "A5", "EnvISOB5"}, 0));
  thermal("rx5k-302-jt64.ppd", 302, "JT64", false, tracking, m.back().sizes);
  thermal("rx5k-21.ppd", 21, "RX5K 21", true, wrinkles, sheet12);
  thermal("rx5k-831.ppd", 831, "RX5K 831", true, wrinkles, sheet12);
  thermal("rx5k-613207.ppd", 613207, "RX5K 613207", true, wrinkles, plainA4);
  thermal("rx5k-590314.ppd", 590314, "RX5K 590314", true, wrinkles,
          sizes({"A4", "Letter", "A5"}, mm(9)));
  thermal("rx5k-590314-vn2w.ppd", 590314, "VN2W", true, wrinkles,
          m.back().sizes + sizes({"Tattoo-A4", "Tattoo-letter"}, mm(9)));
  thermal("rx5k-590314-hq31.ppd", 590314, "HQ31", true, wrinkles, top8);
  thermal("rx5k-590314-hq32.ppd", 590314, "HQ32", true, wrinkles, top8);
  thermal("rx5k-400.ppd", 400, "RX5K 400", true, {}, plainA4);
  thermal("rx5k-64519.ppd", 64519, "RX5K 64519", true, {{"zeMediaTracking", kThermalTracking}},
          sizes({"A4", "Letter"}, 0));

  const Option rate = {{"Default", "1", "1.5", "2", "2.5", "3", "4", "5"}, "Default"};
  auto label = [&](std::string file, int number, Options extra, Darkness d) -> Model & {
    Options o = commonOptions();
    o.insert(extra.begin(), extra.end());
    m.push_back({file, number, "RX5K Label " + std::to_string(number), o, labels, labelDpi, d});
    return m.back();
  };
  Model &letterLabel = label("rx5k-label-0.ppd", 0, {}, Darkness::Letter);
  letterLabel.sizes = sizes({"w54h144", "w81h252", "w101h252", "w159h288"}, 0);
  letterLabel.dpi = {300};
  label("rx5k-label-16.ppd", 16, {{"zePrintRate", rate}}, Darkness::Line);
  Option pageRate = rate;
  pageRate.choices.push_back("6");
  label("rx5k-label-17.ppd", 17,
        {{"zePrintRate", pageRate}, {"MediaType", {{"Thermal", "Direct"}, "Thermal"}}},
        Darkness::Page);
  label("rx5k-label-18.ppd", 18,
        {{"zePrintRate", {{"Default", "2", "3", "4", "5", "6", "8", "10", "12"}, "Default"}},
         {"zeMediaTracking", {{"Default", "Continuous", "Web", "Mark"}, "Default"}},
         {"MediaType", {{"Saved", "Thermal", "Direct"}, "Saved"}},
         {"zePrintMode", {{"Saved", "Tear", "Peel", "Rewind", "Applicator"}, "Saved"}},
         {"zeErrorReprint", {{"Saved", "Always", "Never"}, "Saved"}}},
        Darkness::Zpl);
  label("rx5k-label-19.ppd", 19,
        {{"zePrintRate", {{"Default", "0", "1", "2", "3", "4", "5"}, "Default"}},
         {"zeMediaTracking", {{"Default", "Continuous"}, "Default"}},
         {"zeErrorReprint", {{"Saved", "Always", "Never"}, "Saved"}}},
        Darkness::Cpcl);
  label("rx5k-label-20.ppd", 20, {}, Darkness::None);
  label("rx5k-label-32.ppd", 32,
        {{"inPrintMode", {{"Default", "Standard", "Tear", "Cut"}, "Default"}}}, Darkness::Pcl)
      .sizes =
      labels +
      sizes({"Letter", "Legal", "Executive", "A4", "Env10", "EnvDL", "EnvC5", "EnvMonarch"}, 0);
  return m;
}

void PrintTo(const Model &m, std::ostream *os) {
  *os << m.file;
}

using PpdPtr = std::unique_ptr<ppd_file_t, decltype(&ppdClose)>;

PpdPtr openPpd(const fs::path &path) {
  PpdPtr ppd(ppdOpenFile(path.c_str()), ppdClose);
  if (ppd) ppdMarkDefaults(ppd.get());
  return ppd;
}

// The page header a rasterizer builds from the marked choices.
cups_page_header2_t headerFor(ppd_file_t *ppd) {
  cups_page_header2_t h{};
  EXPECT_EQ(cupsRasterInterpretPPD(&h, ppd, 0, nullptr, nullptr), 0) << cupsRasterErrorString();
  return h;
}

Choices choiceNames(ppd_option_t *o) {
  Choices c;
  for (int i = 0; i < o->num_choices; i++) c.push_back(o->choices[i].choice);
  return c;
}

class PpdFile : public testing::TestWithParam<Model> {
 protected:
  void SetUp() override {
    ppd_ = openPpd(kPpdDir / GetParam().file);
    ASSERT_TRUE(ppd_) << (kPpdDir / GetParam().file)
                      << " does not open; is ppdc (cups-ppdc) installed?";
  }
  PpdPtr ppd_{nullptr, ppdClose};
};

TEST_P(PpdFile, DeclaresModelAndFilter) {
  const Model &m = GetParam();
  EXPECT_EQ(ppd_->model_number, m.number);
  EXPECT_STREQ(ppd_->modelname, m.modelName.c_str());
  EXPECT_STREQ(ppd_->manufacturer, "RX5K");
  ASSERT_EQ(ppd_->num_filters, 1);
  EXPECT_STREQ(ppd_->filters[0], "application/vnd.cups-raster 50 rastertoRX5K");
}

// Every keyword the filter reads appears in some model's table; a PPD carries exactly those its
// model reads.
TEST_P(PpdFile, OffersExactlyTheOptionsItsModelReads) {
  const Model &m = GetParam();
  std::set<std::string> filterKeywords;
  for (const Model &other : expectedModels())
    for (const auto &[keyword, option] : other.options) filterKeywords.insert(keyword);
  for (const std::string &keyword : filterKeywords) {
    // A label PPD's "Darkness" is no keyword the filter reads: its code sets cupsCompression.
    if (keyword == "Darkness" && m.darkness != Darkness::Thermal) continue;
    ppd_option_t *o = ppdFindOption(ppd_.get(), keyword.c_str());
    auto want = m.options.find(keyword);
    if (want == m.options.end()) {
      EXPECT_EQ(o, nullptr) << keyword << " is offered but model " << m.number << " never reads it";
      continue;
    }
    ASSERT_NE(o, nullptr) << keyword << " missing";
    EXPECT_EQ(choiceNames(o), want->second.choices) << keyword;
    // The default is what the filter reads when the job says nothing.
    const char *marked = markedChoice(ppd_.get(), keyword.c_str());
    ASSERT_NE(marked, nullptr) << keyword << " has no default";
    EXPECT_EQ(std::string(marked), want->second.byDefault) << keyword;
    for (int i = 0; i < o->num_choices; i++) {
      EXPECT_STRNE(o->choices[i].text, "")
          << keyword << " " << o->choices[i].choice << " has no text";
    }
  }
}

TEST_P(PpdFile, PageSizesUnderTheNamesTheFilterTests) {
  const Model &m = GetParam();
  std::set<std::string> offered;
  for (int i = 0; i < ppd_->num_sizes; i++) {
    if (std::string(ppd_->sizes[i].name) != "Custom") offered.insert(ppd_->sizes[i].name);
  }
  std::set<std::string> wanted;
  for (const Size &s : m.sizes) {
    wanted.insert(s.name);
    ppd_size_t *p = ppdPageSize(ppd_.get(), s.name.c_str());
    ASSERT_NE(p, nullptr) << s.name;
    EXPECT_NEAR(p->width, s.width, 0.01) << s.name;
    EXPECT_NEAR(p->length, s.length, 0.01) << s.name;
    EXPECT_NEAR(p->left, 0, 0.01) << s.name;
    EXPECT_NEAR(p->bottom, 0, 0.01) << s.name;
    EXPECT_NEAR(p->right, s.width, 0.01) << s.name;
    EXPECT_NEAR(p->length - p->top, s.top, 0.01) << s.name << " top margin";
  }
  EXPECT_EQ(offered, wanted);
}

// Every resolution gives the 24-bit chunky RGB raster that the capture reads.
TEST_P(PpdFile, ResolutionsGiveRgbRaster) {
  const Model &m = GetParam();
  ppd_option_t *res = ppdFindOption(ppd_.get(), "Resolution");
  ASSERT_NE(res, nullptr);
  ASSERT_EQ(res->num_choices, static_cast<int>(m.dpi.size()));
  EXPECT_EQ(std::string(res->defchoice), std::to_string(m.dpi[0]) + "dpi");
  for (int dpi : m.dpi) {
    ppdMarkOption(ppd_.get(), "Resolution", (std::to_string(dpi) + "dpi").c_str());
    const cups_page_header2_t h = headerFor(ppd_.get());
    EXPECT_EQ(std::tuple(h.HWResolution[0], h.HWResolution[1], h.cupsBitsPerColor,
                         h.cupsBitsPerPixel, h.cupsBytesPerLine),
              std::tuple(unsigned(dpi), unsigned(dpi), 8u, 24u, 3 * h.cupsWidth));
    EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_RGB);
    EXPECT_EQ(h.cupsColorOrder, CUPS_ORDER_CHUNKED);
  }
  ppd_option_t *color = ppdFindOption(ppd_.get(), "ColorModel");
  ASSERT_NE(color, nullptr);
  EXPECT_EQ(color->num_choices, 1);
}

// The label languages take their darkness from cupsCompression; each choice must arrive at the
// printer as the level its name promises. Where the level is scaled from 1..100, "Default" sends
// a value outside that range so that no level is sent.
TEST_P(PpdFile, LabelDarknessReachesThePrinterAsNamed) {
  const Darkness d = GetParam().darkness;
  ppd_option_t *o = ppdFindOption(ppd_.get(), "Darkness");
  if (d == Darkness::None) {
    EXPECT_EQ(o, nullptr);
    return;
  }
  if (d == Darkness::Thermal) return;
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

TEST(PpdFiles, OneFilePerModelAndNoOther) {
  std::set<std::string> built, expected;
  if (fs::is_directory(kPpdDir)) {
    for (const auto &e : fs::directory_iterator(kPpdDir)) built.insert(e.path().filename());
  }
  for (const Model &m : expectedModels()) expected.insert(m.file);
  EXPECT_EQ(built, expected);
}

// The header fields the label page set-up and page end read, at their defaults, ask the
// printer for nothing beyond its own settings.
TEST(LabelHeaders, DefaultsKeepThePrinterSettings) {
  PpdPtr zpl = openPpd(kPpdDir / "rx5k-label-18.ppd");
  ASSERT_TRUE(zpl);
  cups_page_header2_t h = headerFor(zpl.get());
  EXPECT_EQ(h.cupsRowStep, 200u);       // no label-top command
  EXPECT_EQ(h.AdvanceDistance, 1000u);  // no tear-off command
  EXPECT_STREQ(h.MediaType, "Saved");   // neither thermal-transfer nor direct
  ppdMarkOption(zpl.get(), "zeLabelTop", "20");
  ppdMarkOption(zpl.get(), "zeTearOffset", "-30");
  ppdMarkOption(zpl.get(), "MediaType", "Direct");
  h = headerFor(zpl.get());
  EXPECT_EQ(h.cupsRowStep, 20u);
  EXPECT_EQ(static_cast<int>(h.AdvanceDistance), -30);
  EXPECT_STREQ(h.MediaType, "Direct");

  PpdPtr cpcl = openPpd(kPpdDir / "rx5k-label-19.ppd");
  ASSERT_TRUE(cpcl);
  h = headerFor(cpcl.get());
  EXPECT_EQ(h.AdvanceDistance, 1000u);
  EXPECT_EQ(h.CutMedia, CUPS_CUT_NONE);
  ppdMarkOption(cpcl.get(), "CutMedia", "4");
  EXPECT_NE(headerFor(cpcl.get()).CutMedia, CUPS_CUT_NONE);

  PpdPtr page = openPpd(kPpdDir / "rx5k-label-17.ppd");
  ASSERT_TRUE(page);
  EXPECT_STREQ(headerFor(page.get()).MediaType, "Thermal");
  ppdMarkOption(page.get(), "MediaType", "Direct");
  EXPECT_STREQ(headerFor(page.get()).MediaType, "Direct");

  PpdPtr pcl = openPpd(kPpdDir / "rx5k-label-32.ppd");
  ASSERT_TRUE(pcl);
  h = headerFor(pcl.get());
  EXPECT_EQ(h.cupsRowFeed, 0u);
  EXPECT_EQ(h.cupsRowCount, 0u);
  EXPECT_EQ(h.cupsRowStep, 0u);
}

}  // namespace
