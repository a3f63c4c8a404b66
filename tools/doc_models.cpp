// Keeps the model lists of the Markdown documents as the model table and the built PPDs give
// them, so that a new model reaches the documents without a hand edit. A list stands between
//   <!-- models SPEC -->TEXT<!-- /models -->
// where SPEC chooses the models and the form:
//   thermal | label          the table's models of that family, by number
//   offers=KEYWORD[:CHOICE]  ... whose PPD offers that option (and choice)
//   pause | wait=paper|sheet|idle   ... with that pause between pages or ready wait
//   variants                 the ModelNames of the PPDs named after a printer, not a number
//   margins                  the PPDs whose imageable area is shorter than the paper
//   count                    the number of models, in words
//   languages                the number of their printer languages, in words
//   all                      "all" or "all but N" where the list is (nearly) the whole family
//   and                      "a, b and c" instead of "a, b, c"
//   table                    the PPD table: one row per group of model numbers, whose grouping
//                            and descriptions the document keeps; a new model gets a row of
//                            its own, described from its facts
// Usage: rx5k-doc-models --check|--write SOURCE-DIR PPD-DIR
#include <cups/ppd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "base/models.h"

namespace fs = std::filesystem;

namespace {

struct Ppd {
  std::string file;
  int number = -1;
  std::string modelName;
  bool variant = false;  // named after a printer (ModelName) rather than the model number
  std::map<std::string, std::set<std::string>> options;
  bool margin = false;  // some size's imageable area is shorter than its paper
};

std::vector<Ppd> readPpds(const fs::path &dir) {
  std::vector<Ppd> ppds;
  for (const auto &entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() != ".ppd") continue;
    std::unique_ptr<ppd_file_t, decltype(&ppdClose)> file(ppdOpenFile(entry.path().c_str()),
                                                          ppdClose);
    if (!file) throw std::runtime_error(entry.path().string() + " does not open");
    Ppd p;
    p.file = entry.path().filename().string();
    p.number = file->model_number;
    p.modelName = file->modelname ? file->modelname : "";
    const std::string maker = file->manufacturer ? file->manufacturer : "";
    p.variant = p.modelName.rfind(maker + " ", 0) != 0;
    for (int g = 0; g < file->num_groups; g++)
      for (int o = 0; o < file->groups[g].num_options; o++) {
        const ppd_option_t &option = file->groups[g].options[o];
        for (int c = 0; c < option.num_choices; c++)
          p.options[option.keyword].insert(option.choices[c].choice);
      }
    for (int s = 0; s < file->num_sizes; s++)
      p.margin |= file->sizes[s].top < file->sizes[s].length - 0.5f;
    ppds.push_back(p);
  }
  // By number, the number's own PPD before the printers named after it.
  std::sort(ppds.begin(), ppds.end(), [](const Ppd &a, const Ppd &b) {
    return std::tie(a.number, a.variant, a.file) < std::tie(b.number, b.variant, b.file);
  });
  return ppds;
}

std::string numberWord(size_t n) {
  static const char *const words[] = {"no",    "one",   "two",  "three", "four",   "five",  "six",
                                      "seven", "eight", "nine", "ten",   "eleven", "twelve"};
  return n < std::size(words) ? words[n] : std::to_string(n);
}

std::string joined(const std::vector<std::string> &items, bool withAnd) {
  std::string s;
  for (size_t i = 0; i < items.size(); i++)
    s += (i == 0 ? "" : withAnd && i + 1 == items.size() ? " and " : ", ") + items[i];
  return s;
}

// What a new row of the PPD table says of a model the document does not describe yet.
std::string describe(const ModelFacts &f, const std::set<std::string> &resolutions) {
  static const std::map<Placement, std::string> placements = {
      {Placement::WidenToPaper, "page centred on the paper width"},
      {Placement::FitToPaper, "page as wide and as long as the paper"},
      {Placement::OnSheet, "sheets; picture below the sheet's top margin"},
      {Placement::ContinuousLength,
       "roll paper: A4 and Letter are sheets, custom sizes continuous"},
      {Placement::BelowTopMargin, "page as long as the paper, picture lowered by the top margin"},
      {Placement::PageLength, "page as long as the paper, picture at the top"}};
  static const std::map<LabelLanguage, std::string> languages = {
      {LabelLanguage::Dymo, "label printer with density letters"},
      {LabelLanguage::EplLine, "EPL label printer, line mode"},
      {LabelLanguage::EplPage, "EPL label printer, page mode"},
      {LabelLanguage::Zpl, "ZPL label printer"},
      {LabelLanguage::Cpcl, "CPCL label printer"},
      {LabelLanguage::PrintRows, "bitmap-row label printer closed by `PRINT 1,1`"},
      {LabelLanguage::Pcl, "PCL label printer"}};
  if (f.family == ModelFamily::Label) return languages.at(f.language);
  std::string s = "A4 printer";
  if (placements.count(f.placement)) s += "; " + placements.at(f.placement);
  if (f.widthLimit) s += "; the leftmost " + std::to_string(f.widthLimit) + " dots of each row";
  if (f.pauseBetweenPages) s += "; 3 s between pages";
  if (resolutions.size() == 1)
    s += "; " + std::to_string(std::atoi(resolutions.begin()->c_str())) + " dpi only";
  return s;
}

class Lists {
 public:
  explicit Lists(std::vector<Ppd> ppds) : ppds_(std::move(ppds)) {}

  // The text between the markers of SPEC; the current text gives the table its rows.
  std::string generate(const std::string &spec, const std::string &current) const {
    std::istringstream words(spec);
    std::string word, family, offers, wait, kind;
    bool count = false, languages = false, all = false, withAnd = false, pause = false;
    while (words >> word) {
      if (word == "thermal" || word == "label")
        family = word;
      else if (word.rfind("offers=", 0) == 0)
        offers = word.substr(7);
      else if (word.rfind("wait=", 0) == 0)
        wait = word.substr(5);
      else if (word == "pause")
        pause = true;
      else if (word == "count")
        count = true;
      else if (word == "languages")
        languages = true;
      else if (word == "all")
        all = true;
      else if (word == "and")
        withAnd = true;
      else if (word == "table" || word == "variants" || word == "margins")
        kind = word;
      else
        throw std::runtime_error("unknown word \"" + word + "\" in <!-- models " + spec + " -->");
    }
    if (kind == "table") return table(current);
    if (!kind.empty()) return ppdNames(kind, withAnd);
    static const std::map<std::string, ReadyWait> waits = {{"paper", ReadyWait::PaperTwice},
                                                           {"sheet", ReadyWait::SheetGoneAndReady},
                                                           {"idle", ReadyWait::IdleThenReadyTwice}};
    if (family.empty() || (!wait.empty() && !waits.count(wait)))
      throw std::runtime_error("<!-- models " + spec + " --> chooses no family or no known wait");
    std::vector<int> models, whole;
    std::set<LabelLanguage> spoken;
    for (const ModelFacts &f : sortedTable()) {
      if ((f.family == ModelFamily::Thermal) != (family == "thermal")) continue;
      whole.push_back(f.number);
      if (pause && !f.pauseBetweenPages) continue;
      if (!wait.empty() && f.readyWait != waits.at(wait)) continue;
      if (!offers.empty() && !offersOption(f.number, offers)) continue;
      models.push_back(f.number);
      spoken.insert(f.language);
    }
    if (count) return numberWord(models.size());
    if (languages) return numberWord(spoken.size());
    if (all && models == whole) return "all";
    std::vector<std::string> names;
    for (int n : whole)
      if (std::find(models.begin(), models.end(), n) == models.end())
        names.push_back(std::to_string(n));
    if (all && names.size() == 1) return "all but " + names[0];
    names.clear();
    for (int n : models) names.push_back(std::to_string(n));
    return joined(names, withAnd);
  }

 private:
  static std::vector<ModelFacts> sortedTable() {
    std::vector<ModelFacts> table(modelTable().begin(), modelTable().end());
    std::sort(table.begin(), table.end(), [](auto &a, auto &b) { return a.number < b.number; });
    return table;
  }

  // Whether a PPD of the model offers KEYWORD, or KEYWORD:CHOICE.
  bool offersOption(int number, const std::string &option) const {
    const size_t colon = option.find(':');
    const std::string keyword = option.substr(0, colon);
    for (const Ppd &p : ppds_) {
      if (p.number != number || !p.options.count(keyword)) continue;
      if (colon == std::string::npos || p.options.at(keyword).count(option.substr(colon + 1)))
        return true;
    }
    return false;
  }

  // The resolutions the model's PPDs offer.
  std::set<std::string> resolutions(int number) const {
    std::set<std::string> all;
    for (const Ppd &p : ppds_)
      if (p.number == number && p.options.count("Resolution"))
        all.insert(p.options.at("Resolution").begin(), p.options.at("Resolution").end());
    return all;
  }

  std::string ppdNames(const std::string &which, bool withAnd) const {
    std::vector<std::string> names;
    for (const Ppd &p : ppds_)
      if (which == "variants" ? p.variant : p.margin)
        names.push_back(p.variant ? p.modelName : std::to_string(p.number));
    return joined(names, withAnd);
  }

  // The PPD table: the document's rows keep their grouping of model numbers and their
  // descriptions; the files and numbers come from the built PPDs and the table.
  std::string table(const std::string &current) const {
    struct Row {
      std::vector<int> numbers;
      std::string description;
    };
    std::vector<Row> rows;
    std::set<int> described;
    std::istringstream lines(current);
    std::string line;
    for (int i = 0; std::getline(lines, line);)
      if (line.rfind("|", 0) == 0 && i++ >= 2) {  // after the header and its rule
        std::vector<std::string> cells;
        std::string cell;
        std::istringstream in(line.substr(1));
        while (std::getline(in, cell, '|')) cells.push_back(cell);
        if (cells.size() < 3) continue;
        const size_t first = cells[2].find_first_not_of(' ');
        Row row{{}, cells[2].substr(first, cells[2].find_last_not_of(' ') + 1 - first)};
        std::replace(cells[1].begin(), cells[1].end(), ',', ' ');
        std::istringstream numbers(cells[1]);
        for (int n; numbers >> n;)
          if (modelFacts(n).family != ModelFamily::Other && described.insert(n).second)
            row.numbers.push_back(n);
        if (!row.numbers.empty()) rows.push_back(row);
      }
    // A model the document does not describe yet gets a row among its family's, after those
    // of lower numbers.
    for (const ModelFacts &f : sortedTable()) {
      if (described.count(f.number)) continue;
      size_t at = f.family == ModelFamily::Thermal ? 0 : rows.size();
      bool seen = false;
      for (size_t i = 0; i < rows.size(); i++) {
        if (modelFacts(rows[i].numbers[0]).family != f.family) continue;
        if (!seen) at = i;
        seen = true;
        if (rows[i].numbers[0] < f.number) at = i + 1;
      }
      rows.insert(rows.begin() + at, Row{{f.number}, describe(f, resolutions(f.number))});
    }
    std::string text = "\n| PPD | Model number | Printer |\n|---|---|---|\n";
    for (const Row &row : rows) {
      std::vector<std::string> files, numbers;
      for (int n : row.numbers) {
        numbers.push_back(std::to_string(n));
        for (const Ppd &p : ppds_)
          if (p.number == n) files.push_back("`" + p.file + "`");
      }
      text += "| " + joined(files, false) + " | " + joined(numbers, false) + " | " +
              row.description + " |\n";
    }
    return text;
  }

  std::vector<Ppd> ppds_;
};

std::string readFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The Markdown files of the source tree, build folders and hidden ones left out.
std::vector<fs::path> documents(const fs::path &root) {
  std::vector<fs::path> files;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string name = it->path().filename().string();
    if (it->is_directory() && (name[0] == '.' || name.rfind("build", 0) == 0))
      it.disable_recursion_pending();
    else if (it->is_regular_file() && it->path().extension() == ".md")
      files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The lines only one text has: "-" those of the document, "+" those it should have.
std::string lineDiff(const std::string &current, const std::string &wanted) {
  auto lines = [](const std::string &text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) v.push_back(line);
    return v;
  };
  const std::vector<std::string> a = lines(current), b = lines(wanted);
  std::string out;
  for (const std::string &l : a)
    if (std::find(b.begin(), b.end(), l) == b.end()) out += "  - " + l + "\n";
  for (const std::string &l : b)
    if (std::find(a.begin(), a.end(), l) == a.end()) out += "  + " + l + "\n";
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  const std::string mode = argc == 4 ? argv[1] : "";
  if (mode != "--check" && mode != "--write") {
    std::fprintf(stderr, "Usage: rx5k-doc-models --check|--write SOURCE-DIR PPD-DIR\n");
    return 2;
  }
  const fs::path root = argv[2];
  try {
    const Lists lists(readPpds(argv[3]));
    const std::string open = "<!-- models ", close = "<!-- /models -->";
    int stale = 0;
    for (const fs::path &path : documents(root)) {
      const std::string text = readFile(path);
      std::string out;
      size_t copied = 0;
      for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
        const size_t specEnd = text.find(" -->", at), end = text.find(close, at);
        if (specEnd == std::string::npos || end == std::string::npos || end < specEnd)
          throw std::runtime_error(path.string() + ": a list without its end marker");
        const std::string spec = text.substr(at + open.size(), specEnd - at - open.size());
        const size_t from = specEnd + 4;
        const std::string current = text.substr(from, end - from);
        const std::string wanted = lists.generate(spec, current);
        out += text.substr(copied, from - copied) + wanted;
        copied = end;
        if (wanted == current) continue;
        stale++;
        const long line = std::count(text.begin(), text.begin() + at, '\n') + 1;
        std::fprintf(stderr, "%s:%ld: the list \"models %s\" ", fs::relative(path, root).c_str(),
                     line, spec.c_str());
        if (current.find('\n') == std::string::npos && wanted.find('\n') == std::string::npos)
          std::fprintf(stderr, "says \"%s\", the model table and the built PPDs give \"%s\"\n",
                       current.c_str(), wanted.c_str());
        else  // a table: only its lines that differ
          std::fprintf(stderr, "differs from the model table and the built PPDs:\n%s",
                       lineDiff(current, wanted).c_str());
      }
      out += text.substr(copied);
      if (mode == "--write" && out != text) std::ofstream(path, std::ios::binary) << out;
    }
    if (stale && mode == "--check") {
      std::fprintf(stderr, "%d list(s) out of date: run scripts/doc-models --write\n", stale);
      return 1;
    }
    if (stale) std::printf("%d list(s) rewritten\n", stale);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "rx5k-doc-models: %s\n", e.what());
    return 2;
  }
  return 0;
}
