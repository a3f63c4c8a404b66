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
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "base/choices.h"
#include "base/models.h"
#include "support/test_job.h"

namespace fs = std::filesystem;

namespace {

const fs::path kPpdDir = fs::path(RX5K_BUILD_DIR) / "ppd";

using Names = std::vector<std::string>;

// The words of a space-separated list.
Names words(const std::string &list) {
  std::istringstream in(list);
  return {std::istream_iterator<std::string>(in), {}};
}

struct Model {
  std::string file;
  int number = -1;
  std::string modelName;
};

const std::string kEveryModel = "DegreeOfBlackRecognition AdjustLight OemMirror Sketch";
const std::string kThermal =
    "DegreeOfGrayRecognition AdjustHoriaontal AdjustVertical ColorOption Rotate Darkness";

using PpdPtr = std::unique_ptr<ppd_file_t, decltype(&ppdClose)>;

PpdPtr openPpd(const std::string &file) {
  PpdPtr ppd(ppdOpenFile((kPpdDir / file).c_str()), ppdClose);
  if (ppd) ppdMarkDefaults(ppd.get());
  return ppd;
}

// Every built PPD with its model number and ModelName (a PPD that does not open keeps -1).
std::vector<Model> builtModels(bool labelsOnly = false) {
  std::vector<Model> models;
  if (!fs::is_directory(kPpdDir)) return models;
  for (const auto &entry : fs::directory_iterator(kPpdDir)) {
    Model m;
    m.file = entry.path().filename().string();
    if (PpdPtr ppd = openPpd(m.file)) {
      m.number = ppd->model_number;
      m.modelName = ppd->modelname ? ppd->modelname : "";
    }
    if (!labelsOnly || isLabelModel(m.number)) models.push_back(m);
  }
  std::sort(models.begin(), models.end(), [](auto &a, auto &b) { return a.file < b.file; });
  return models;
}

// The option keywords a model reads beyond those every model of its family reads.
std::string readsOf(const Model &m) {
  const ModelFacts &f = modelFacts(m.number);
  if (f.family == ModelFamily::Thermal)
    return std::string(f.antiwrinkle ? " Antiwrinkling" : "") +
           (f.mediaTracking ? " zeMediaTracking" : "") + (f.printMode ? " PrintMode" : "");
  const std::map<LabelLanguage, std::string> reads = {
      {LabelLanguage::EplLine, "zePrintRate"},
      {LabelLanguage::EplPage, "zePrintRate MediaType"},
      {LabelLanguage::Zpl, "zePrintRate zeMediaTracking MediaType zePrintMode zeErrorReprint"},
      {LabelLanguage::Cpcl, "zePrintRate zeMediaTracking zeErrorReprint"},
      {LabelLanguage::Pcl, "inPrintMode"}};
  return reads.count(f.language) ? reads.at(f.language) : "";
}

// The page-size names the filter compares for the model's placement.
std::string sizesOf(const Model &m) {
  switch (modelFacts(m.number).placement) {
    case Placement::WidenToPaper:
      return "A4 Letter A5 EnvISOB5 A5_Lanspace";
    case Placement::FitToPaper:
      return "A4 Letter A5 EnvISOB5";
    case Placement::OnSheet:
      return "A4 Letter A5 B5JIS RX5_A4 Tattoo-A4 Tattoo-letter";
    case Placement::ContinuousLength:
      return "A4 Letter";
    case Placement::BelowTopMargin:
      return m.modelName == "VN2W" ? "Tattoo-A4 Tattoo-letter" : "";
    default:
      return "";
  }
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
  const ModelFacts &facts = modelFacts(m.number);
  ASSERT_NE(facts.family, ModelFamily::Other) << "model " << m.number << " is not in the table";
  const bool thermal = facts.family == ModelFamily::Thermal;
  const Names reads = words(kEveryModel + " " + (thermal ? kThermal : "") + " " + readsOf(m));
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
    if (keyword == "Darkness" && facts.density == DensityVariant::NoSpecial)
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
                    (std::to_string(n) == c || facts.language == LabelLanguage::EplLine ||
                     facts.language == LabelLanguage::EplPage))
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
  for (const std::string &name : words(sizesOf(GetParam()))) {
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

// Every model of the table has a PPD.
TEST(PpdFiles, EveryModelOfTheTableHasOne) {
  std::set<int> built;
  for (const Model &m : builtModels()) built.insert(m.number);
  for (const ModelFacts &f : modelTable()) EXPECT_TRUE(built.count(f.number)) << f.number;
}

// What one small page of the PPD's marked choices sends on the model's printer.
std::string labelStream(const Model &m, ppd_file_t *ppd) {
  TestJob t(m.number, {}, m.modelName);
  Page page;
  page.header = headerFor(ppd);
  page.header.cupsWidth = 8;
  page.header.cupsHeight = 1;
  t.job.printer->startPage(page);
  page.dots = allocateDots(8);
  std::memset(page.dots.get(), 255, 8);
  t.job.printer->row(page, 0);
  t.job.printer->endPage(page);
  return t.stream();
}

// A label PPD's darkness choices reach the printer as the level their names promise: a number
// as that number in the language's darkness command, a word as its Dymo density letter;
// "Default" sends no darkness at all.
using LabelPpd = PpdFile;
TEST_P(LabelPpd, DarknessReachesThePrinterAsNamed) {
  const Model &m = GetParam();
  ppd_option_t *o = ppdFindOption(ppd_.get(), "Darkness");
  const LabelLanguage language = modelFacts(m.number).language;
  if (language == LabelLanguage::PrintRows) {
    EXPECT_EQ(o, nullptr) << "model 20 takes no darkness";
    return;
  }
  ASSERT_NE(o, nullptr);
  const std::map<std::string, char> letter = {
      {"Light", 'c'}, {"Medium", 'd'}, {"Normal", 'e'}, {"Dark", 'g'}};
  for (const std::string &choice : choiceNames(o)) {
    ppdMarkOption(ppd_.get(), "Darkness", choice.c_str());
    const std::string n = choice == "Default" ? "" : choice;
    char zpl[8];
    std::snprintf(zpl, sizeof zpl, "~SD%02d", std::atoi(n.c_str()));
    const std::map<LabelLanguage, std::pair<std::string, std::string>> command = {
        {LabelLanguage::Dymo,
         {"\x1B", letter.count(choice) ? std::string(1, letter.at(choice)) : "?"}},
        {LabelLanguage::EplLine, {"\033D", n}},
        {LabelLanguage::EplPage, {"\nD", n + "\n"}},
        {LabelLanguage::Zpl, {"~SD", zpl + 3}},
        {LabelLanguage::Cpcl, {"TONE ", n + "\r\n"}},
        {LabelLanguage::Pcl, {"\033&d", n + "A"}}};
    const auto &[prefix, value] = command.at(language);
    const std::string stream = labelStream(m, ppd_.get());
    if (choice == "Default") {
      EXPECT_EQ(stream.find(prefix), std::string::npos) << choice;
    } else if (language == LabelLanguage::Dymo) {
      EXPECT_EQ(stream.substr(7, 2), prefix + value) << choice;  // after ESC L and ESC D
    } else {
      EXPECT_NE(stream.find(prefix + value), std::string::npos) << choice << ": " << stream;
    }
  }
}

std::string testName(const testing::TestParamInfo<Model> &i) {
  std::string n = i.param.file.substr(0, i.param.file.size() - 4);
  std::replace(n.begin(), n.end(), '-', '_');
  return n;
}

INSTANTIATE_TEST_SUITE_P(EveryModel, PpdFile, testing::ValuesIn(builtModels()), testName);
INSTANTIATE_TEST_SUITE_P(Labels, LabelPpd, testing::ValuesIn(builtModels(true)), testName);

}  // namespace
