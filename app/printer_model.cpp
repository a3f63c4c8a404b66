// Deriving a driver from its PPD, and a job's PPD options and choices from its IPP attributes.
#include "printer_model.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/models.h"

namespace app {

namespace {

// Hundredths of millimetres in a PostScript point.
constexpr double kHundredthsPerPoint = 2540.0 / 72.0;
// print-speed in hundredths of millimetres per second for one inch per second.
constexpr int kSpeedPerInch = 2540;

// IPP attributes that standard IPP carries.
IppRole roleOf(const std::string &keyword) {
  if (keyword == "Darkness") return IppRole::Darkness;
  if (keyword == "zePrintRate") return IppRole::Speed;
  if (keyword == "zeMediaTracking") return IppRole::Tracking;
  if (keyword == "AdjustVertical") return IppRole::TopOffset;
  if (keyword == "AdjustHoriaontal") return IppRole::LeftOffset;  // the printers' own spelling
  if (keyword == "ColorOption") return IppRole::ColorMode;
  return IppRole::Vendor;
}

// Names users read for the vendor attributes; an option missing here still gets one, made from
// its keyword.
std::string vendorName(const std::string &keyword) {
  static const std::pair<const char *, const char *> kNames[] = {
      {"OemMirror", "mirror-image"},
      {"Sketch", "pencil-sketch"},
      {"Rotate", "rotate-page"},
      {"AdjustLight", "brightness"},
      {"DegreeOfBlackRecognition", "black-recognition"},
      {"DegreeOfGrayRecognition", "gray-recognition"},
      {"PrintMode", "print-mode"},
      {"inPrintMode", "print-mode"},
      {"Antiwrinkling", "anti-wrinkle"},
      {"MediaType", "label-media-type"},
      {"zePrintMode", "label-print-mode"},
      {"zeErrorReprint", "reprint-after-error"},
      {"zeLabelTop", "label-top"},
      {"zeTearOffset", "tear-off-position"},
      {"CutMedia", "cut-labels"},
  };
  for (const auto &[ppd, ipp] : kNames)
    if (keyword == ppd) return ipp;
  std::string name;
  for (char c : keyword) {
    if (std::isupper(static_cast<unsigned char>(c)) && !name.empty()) name += '-';
    name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

// A number for a PWG name or a custom size: at most two decimals (or places), no trailing zeros.
std::string decimal(double value, int places = 2) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", places, value);
  std::string s = text;
  s.erase(s.find_last_not_of('0') + 1);
  if (s.back() == '.') s.pop_back();
  return s;
}

// A self-describing name's words: the PPD's text for the size without its parenthesised note or
// dimensions, in lower case, other characters as dashes ("A5 Landscape" -> "a5-landscape",
// "Label 2 x 1 in" -> "label").
std::string mediaWords(const ppd_size_t &size, const ppd_option_t *pageSize) {
  const ppd_choice_t *choice =
      pageSize ? ppdFindChoice(const_cast<ppd_option_t *>(pageSize), size.name) : nullptr;
  std::string text = choice && *choice->text ? choice->text : size.name;
  text = text.substr(0, text.find('('));
  std::string words;
  for (char c : lowerCase(text)) {
    const bool keep = std::isalnum(static_cast<unsigned char>(c)) || c == '.';
    if (keep)
      words += c;
    else if (!words.empty() && words.back() != '-')
      words += '-';
  }
  while (!words.empty() && words.back() == '-') words.pop_back();
  // "-x-" becomes "x" (two erasures: GCC 12 at -O3 takes a replace here for an overlapping copy).
  for (size_t x; (x = words.find("-x-")) != std::string::npos;) {
    words.erase(x + 2, 1);
    words.erase(x, 1);
  }
  // The dimensions follow in the name's last part.
  for (size_t x = words.find('x'); x != std::string::npos; x = words.find('x', x + 1)) {
    if (x == 0 || !std::isdigit(static_cast<unsigned char>(words[x - 1])) ||
        x + 1 >= words.size() || !std::isdigit(static_cast<unsigned char>(words[x + 1])))
      continue;
    size_t start = x;
    while (start > 0 &&
           (std::isdigit(static_cast<unsigned char>(words[start - 1])) || words[start - 1] == '.'))
      start--;
    words.erase(start);
    break;
  }
  while (!words.empty() && words.back() == '-') words.pop_back();
  return words.empty() ? "size" : words;
}

// The dimensions of a self-describing name in the size's own units: inches for sizes in whole
// eighths of an inch, else millimetres (whole where the PPD's points round to them).
std::string mediaDimensions(const ppd_size_t &size) {
  auto eighths = [](float points) { return std::abs(points / 9 - std::round(points / 9)) < 0.01; };
  if (eighths(size.width) && eighths(size.length))
    return decimal(size.width / 72.0, 3) + "x" + decimal(size.length / 72.0, 3) + "in";
  auto mm = [](float points) {
    const double value = points * 25.4 / 72;
    return decimal(std::abs(value - std::round(value)) < 0.3 ? std::round(value) : value);
  };
  return mm(size.width) + "x" + mm(size.length) + "mm";
}

// A PPD size as IPP media: the standard size libcups knows by the PPD's name or by its
// dimensions, unless this PPD uses it already (Tattoo-A4 beside A4), else a self-describing name
// of the PPD's own ("om_a5-landscape_210x148mm", "oe_label-2x1-in_2x1in").
MediaSize mediaOf(const ppd_size_t &size, const ppd_option_t *pageSize,
                  const std::vector<MediaSize> &taken) {
  const int width = static_cast<int>(std::lround(size.width * kHundredthsPerPoint));
  const int length = static_cast<int>(std::lround(size.length * kHundredthsPerPoint));
  auto used = [&](const std::string &name) {
    return std::any_of(taken.begin(), taken.end(),
                       [&](const MediaSize &m) { return m.pwg == name; });
  };
  for (const pwg_media_t *pwg : {pwgMediaForPPD(size.name), pwgMediaForSize(width, length)}) {
    if (pwg && std::abs(pwg->width - width) <= 100 && std::abs(pwg->length - length) <= 100 &&
        std::strncmp(pwg->pwg, "custom_", 7) != 0 && !used(pwg->pwg))
      return {pwg->pwg, size.name, pwg->width, pwg->length};
  }
  const std::string dimensions = mediaDimensions(size);
  const std::string prefix = dimensions.back() == 'n' ? "oe_" : "om_";
  return {prefix + mediaWords(size, pageSize) + "_" + dimensions, size.name, width, length};
}

std::string customName(const char *which, const float (&size)[2]) {
  return std::string("custom_") + which + "_" +
         decimal(std::round(size[0] * kHundredthsPerPoint) / 100.0) + "x" +
         decimal(std::round(size[1] * kHundredthsPerPoint) / 100.0) + "mm";
}

// The value "cupsCompression N" in a choice's code sets, or -1.
int compressionValue(const ppd_choice_t &choice) {
  const char *at = choice.code ? std::strstr(choice.code, "cupsCompression") : nullptr;
  return at ? std::atoi(at + std::strlen("cupsCompression")) : -1;
}

// Darkness levels from 0 to 100: the cupsCompression values of label printers whose choices set
// it on that scale; otherwise "Default" (the printer's setting) is 0 and the other choices are
// spread evenly up to 100, lightest first.
void setDarknessLevels(MappedOption &option, const ppd_option_t &ppd) {
  bool percent = true;
  int highest = 0;
  for (int i = 0; i < ppd.num_choices; i++) {
    const int value = compressionValue(ppd.choices[i]);
    percent = percent && value >= 0;
    highest = std::max(highest, value);
  }
  if (percent && highest == 100) {
    for (int i = 0; i < ppd.num_choices; i++)
      option.choices[i].value = compressionValue(ppd.choices[i]);
    return;
  }
  const auto levels = std::count_if(option.choices.begin(), option.choices.end(),
                                    [](const OptionChoice &c) { return c.name != "Default"; });
  int step = 0;
  for (OptionChoice &c : option.choices)
    c.value = c.name == "Default" ? 0 : static_cast<int>(std::lround(100.0 * ++step / levels));
}

unsigned trackingBits(const std::string &choice) {
  if (choice == "Continuous") return PAPPL_MEDIA_TRACKING_CONTINUOUS;
  // Labels with gaps between them: IPP calls them gap or web.
  if (choice == "Gap" || choice == "Web")
    return PAPPL_MEDIA_TRACKING_GAP | PAPPL_MEDIA_TRACKING_WEB;
  if (choice == "BLine" || choice == "Mark") return PAPPL_MEDIA_TRACKING_MARK;
  return 0;  // the printer's setting
}

void setChoiceValues(MappedOption &option, const ppd_option_t &ppd) {
  switch (option.role) {
    case IppRole::Darkness:
      setDarknessLevels(option, ppd);
      return;
    case IppRole::Speed:
      for (OptionChoice &c : option.choices)
        c.value = c.name == "Default"
                      ? 0
                      : static_cast<int>(std::lround(std::atof(c.name.c_str()) * kSpeedPerInch));
      return;
    case IppRole::TopOffset:
    case IppRole::LeftOffset:
      for (OptionChoice &c : option.choices) c.value = std::atoi(c.name.c_str()) * 100;
      return;
    case IppRole::Tracking:
      for (OptionChoice &c : option.choices) c.bits = trackingBits(c.name);
      return;
    case IppRole::ColorMode:
      // IPP's words: bi-level is black and white by a threshold, monochrome (and
      // process-monochrome) are shades of gray, here the dithered gray. auto picks the default.
      for (OptionChoice &c : option.choices) {
        if (c.name == "BlackWhite") {
          c.value = c.bits = PAPPL_COLOR_MODE_BI_LEVEL;
        } else if (c.name == "GrayScale") {
          c.value = PAPPL_COLOR_MODE_MONOCHROME;
          c.bits = PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_PROCESS_MONOCHROME;
        }
      }
      return;
    case IppRole::Vendor:
      return;
  }
}

MappedOption mapOption(const ppd_option_t &ppd) {
  MappedOption option;
  option.keyword = ppd.keyword;
  option.text = ppd.text;
  option.role = roleOf(option.keyword);
  if (option.role == IppRole::Vendor) option.ipp = vendorName(option.keyword);
  for (int i = 0; i < ppd.num_choices; i++) {
    option.choices.push_back({ppd.choices[i].choice, ppd.choices[i].text});
    if (std::strcmp(ppd.choices[i].choice, ppd.defchoice) == 0) option.defaultChoice = i;
  }
  setChoiceValues(option, ppd);
  return option;
}

// The choice whose value is nearest to target (the earlier one of two as near).
const OptionChoice &nearest(const MappedOption &option, long long target) {
  const OptionChoice *best = &option.choices[option.defaultChoice];
  long long distance = -1;
  for (const OptionChoice &c : option.choices) {
    const long long d = std::llabs(c.value - target);
    if (distance < 0 || d < distance) {
      best = &c;
      distance = d;
    }
  }
  return *best;
}

// The first choice standing for one of bits, else the default.
const OptionChoice &byBits(const MappedOption &option, unsigned bits) {
  for (const OptionChoice &c : option.choices)
    if (c.bits & bits) return c;
  return option.choices[option.defaultChoice];
}

const OptionChoice &vendorChoice(const MappedOption &option, const pappl_pr_options_t &options) {
  const char *value = cupsGetOption(option.ipp.c_str(), options.num_vendor, options.vendor);
  for (const OptionChoice &c : option.choices)
    if (value && strcasecmp(c.name.c_str(), value) == 0) return c;
  return option.choices[option.defaultChoice];
}

const OptionChoice &jobChoice(const MappedOption &option, const pappl_pr_options_t &options) {
  switch (option.role) {
    case IppRole::Darkness:
      return nearest(option, std::clamp(static_cast<long long>(options.darkness_configured) +
                                            options.print_darkness,
                                        0LL, 100LL));
    case IppRole::Speed:
      return nearest(option, options.print_speed);
    case IppRole::TopOffset:
      return nearest(option, options.media.top_offset);
    case IppRole::LeftOffset:
      return nearest(option, options.media.left_offset);
    case IppRole::Tracking:
      return options.media.tracking ? byBits(option, options.media.tracking)
                                    : option.choices[option.defaultChoice];
    case IppRole::ColorMode:
      return byBits(option, options.print_color_mode);
    case IppRole::Vendor:
      break;
  }
  return vendorChoice(option, options);
}

std::string pageSizeFor(const PrinterModel &model, const pappl_media_col_t &media) {
  for (const MediaSize &m : model.media)
    if (m.pwg == media.size_name) return m.ppd;
  const std::string size = pageSizeOfPage(model, media.size_width, media.size_length);
  return size.empty() ? model.media[model.defaultMedia].ppd : size;
}

void copyString(char *target, size_t size, const std::string &text) {
  std::snprintf(target, size, "%s", text.c_str());
}

// What IPP Everywhere clients read and PAPPL 1.3 leaves out, as these printers honour it: no
// preferred-attribute hints, no colour management, one-sided sheets.
void addConformanceAttributes(ipp_t *&attrs) {
  if (!attrs) attrs = ippNew();
  ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr,
               "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr,
               "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back", nullptr,
               "normal");
}

}  // namespace

std::string lowerCase(std::string text) {
  for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string pageSizeOfPage(const PrinterModel &model, int width, int length) {
  for (const MediaSize &m : model.media)
    if (std::abs(m.width - width) <= 100 && std::abs(m.length - length) <= 100) return m.ppd;
  const int *range = model.customRange;
  if (model.customMin.empty() || width < range[0] || length < range[1] || width > range[2] ||
      length > range[3])
    return "";
  return "Custom." + decimal(width / kHundredthsPerPoint) + "x" +
         decimal(length / kHundredthsPerPoint);
}

const MappedOption *PrinterModel::option(IppRole role) const {
  for (const MappedOption &o : options)
    if (o.role == role) return &o;
  return nullptr;
}

PrinterModel describePpd(ppd_file_t *ppd, const std::string &driver) {
  PrinterModel model;
  model.driver = driver;
  const std::string make = ppd->manufacturer ? ppd->manufacturer : "";
  model.modelName = ppd->modelname ? ppd->modelname : driver;
  const std::string &name = model.modelName;
  model.makeAndModel = name.rfind(make, 0) == 0 ? name : make + " " + name;
  model.modelNumber = ppd->model_number;
  model.label = isLabelModel(model.modelNumber);

  const ppd_option_t *pageSize = ppdFindOption(ppd, "PageSize");
  for (int i = 0; i < ppd->num_sizes; i++) {
    const ppd_size_t &size = ppd->sizes[i];
    if (std::strcmp(size.name, "Custom") == 0) continue;
    if (pageSize && std::strcmp(size.name, pageSize->defchoice) == 0)
      model.defaultMedia = model.media.size();
    model.media.push_back(mediaOf(size, pageSize, model.media));
    auto margin = [](float points) {
      return static_cast<int>(std::ceil(std::max(0.0f, points) * kHundredthsPerPoint - 0.5));
    };
    model.sideMargin =
        std::max({model.sideMargin, margin(size.left), margin(size.width - size.right)});
    model.endMargin =
        std::max({model.endMargin, margin(size.bottom), margin(size.length - size.top)});
  }
  if (ppd->variable_sizes) {
    model.customMin = customName("min", ppd->custom_min);
    model.customMax = customName("max", ppd->custom_max);
    for (int i = 0; i < 2; i++) {
      model.customRange[i] =
          static_cast<int>(std::lround(ppd->custom_min[i] * kHundredthsPerPoint));
      model.customRange[i + 2] =
          static_cast<int>(std::lround(ppd->custom_max[i] * kHundredthsPerPoint));
    }
  }
  if (const ppd_option_t *resolution = ppdFindOption(ppd, "Resolution")) {
    for (int i = 0; i < resolution->num_choices; i++) {
      model.resolutions.push_back(std::atoi(resolution->choices[i].choice));
      if (std::strcmp(resolution->choices[i].choice, resolution->defchoice) == 0)
        model.defaultResolution = model.resolutions.back();
    }
  }
  for (ppd_option_t *o = ppdFirstOption(ppd); o; o = ppdNextOption(ppd)) {
    const std::string keyword = o->keyword;
    if (keyword == "PageSize" || keyword == "PageRegion" || keyword == "Resolution") continue;
    // An option of one choice (ColorModel) has nothing to offer: its default, when it names the
    // choice, is always marked.
    if (o->num_choices < 2) {
      if (const ppd_choice_t *c = ppdFindChoice(o, o->defchoice))
        model.fixedChoices[keyword] = c->choice;
      continue;
    }
    model.options.push_back(mapOption(*o));
  }
  return model;
}

void fillDriverData(const PrinterModel &model, pappl_pr_driver_data_t &data, ipp_t *&attrs) {
  copyString(data.make_and_model, sizeof data.make_and_model, model.makeAndModel);
  data.ppm = 1;
  data.kind = model.label ? PAPPL_KIND_LABEL | PAPPL_KIND_ROLL : PAPPL_KIND_DOCUMENT;
  if (!model.label && !model.customMin.empty()) data.kind |= PAPPL_KIND_ROLL;
  // The core reads 8-bit gray rows; PAPPL turns every document into them.
  data.raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  data.force_raster_type = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  data.sides_supported = PAPPL_SIDES_ONE_SIDED;
  data.sides_default = PAPPL_SIDES_ONE_SIDED;
  data.orient_default = IPP_ORIENT_PORTRAIT;
  data.quality_default = IPP_QUALITY_NORMAL;
  // The page is the whole sheet or label, as in the PPDs, each size listed once: with a nominal
  // margin of 0.01 mm, as CUPS's generated PPDs name sizes without margins ".Borderless" and then
  // miss the default.
  data.borderless = false;
  data.left_right = 1;
  data.bottom_top = 1;
  // Where the PPD's imageable area is smaller than the paper, its margins tell clients to keep
  // the picture inside: the app hands the filter only what lies within (PAPPL has one margin for
  // the top and the bottom).
  if (model.sideMargin > 0 || model.endMargin > 0) {
    data.left_right = model.sideMargin;
    data.bottom_top = model.endMargin;
  }

  // Label printers print black and white only (they take monochrome, which CUPS always sends,
  // as that); the thermal printers also print dithered gray. The default is the PPD's: black and
  // white, sharp for text, lines and barcodes.
  data.color_supported = PAPPL_COLOR_MODE_BI_LEVEL | PAPPL_COLOR_MODE_MONOCHROME;
  data.color_default = PAPPL_COLOR_MODE_BI_LEVEL;
  if (const MappedOption *color = model.option(IppRole::ColorMode)) {
    data.color_supported = PAPPL_COLOR_MODE_AUTO;
    for (const OptionChoice &c : color->choices) data.color_supported |= c.bits;
    data.color_default = color->choices[color->defaultChoice].value;
  }

  data.num_resolution = 0;
  for (int dpi : model.resolutions) {
    if (data.num_resolution == PAPPL_MAX_RESOLUTION) break;
    data.x_resolution[data.num_resolution] = dpi;
    data.y_resolution[data.num_resolution++] = dpi;
  }
  data.x_default = data.y_default = model.defaultResolution;
  // PAPPL renders documents at the resolution print-quality picks (draft the lowest, high the
  // highest, normal the middle): the quality default picks the PPD's default resolution.
  if (model.resolutions.size() > 1 && model.defaultResolution == model.resolutions.front())
    data.quality_default = IPP_QUALITY_DRAFT;
  else if (model.resolutions.size() > 1 && model.defaultResolution == model.resolutions.back())
    data.quality_default = IPP_QUALITY_HIGH;

  data.num_media = 0;
  for (const MediaSize &m : model.media)
    if (data.num_media < PAPPL_MAX_MEDIA - 2) data.media[data.num_media++] = m.pwg.c_str();
  if (!model.customMin.empty()) {
    data.media[data.num_media++] = model.customMin.c_str();
    data.media[data.num_media++] = model.customMax.c_str();
  }
  data.num_source = 1;
  data.source[0] = model.customMin.empty() ? "main" : "main-roll";
  data.num_bin = 1;  // PAPPL copies the default output bin's name into every job's options
  data.bin[0] = "face-up";
  data.bin_default = 0;
  data.num_type = 1;
  data.type[0] = model.label ? "labels" : "stationery";

  pappl_media_col_t &media = data.media_default;
  const MediaSize &size = model.media[model.defaultMedia];
  media = pappl_media_col_t{};
  copyString(media.size_name, sizeof media.size_name, size.pwg);
  copyString(media.source, sizeof media.source, data.source[0]);
  copyString(media.type, sizeof media.type, data.type[0]);
  media.size_width = size.width;
  media.size_length = size.length;
  media.left_margin = media.right_margin = data.left_right;
  media.bottom_margin = media.top_margin = data.bottom_top;

  for (const MappedOption &o : model.options) {
    const OptionChoice &preset = o.choices[o.defaultChoice];
    // The option's values as a range, and its default.
    auto range = [&](int(&supported)[2], int &initial) {
      initial = preset.value;
      supported[0] = supported[1] = preset.value;
      for (const OptionChoice &c : o.choices) {
        supported[0] = std::min(supported[0], c.value);
        supported[1] = std::max(supported[1], c.value);
      }
    };
    switch (o.role) {
      case IppRole::Darkness:
        data.darkness_supported = static_cast<int>(o.choices.size());
        data.darkness_configured = preset.value;
        data.darkness_default = 0;
        break;
      case IppRole::Speed:
        range(data.speed_supported, data.speed_default);
        break;
      case IppRole::TopOffset:
        range(data.top_offset_supported, media.top_offset);
        break;
      case IppRole::LeftOffset:
        range(data.left_offset_supported, media.left_offset);
        break;
      case IppRole::Tracking:
        for (const OptionChoice &c : o.choices) data.tracking_supported |= c.bits;
        media.tracking = static_cast<pappl_media_tracking_t>(preset.bits & -preset.bits);
        break;
      case IppRole::ColorMode:
        break;
      case IppRole::Vendor: {
        if (data.num_vendor == PAPPL_MAX_VENDOR) break;
        data.vendor[data.num_vendor++] = o.ipp.c_str();
        std::vector<std::string> keywords;
        for (const OptionChoice &c : o.choices) keywords.push_back(lowerCase(c.name));
        std::vector<const char *> values;
        for (const std::string &k : keywords) values.push_back(k.c_str());
        if (!attrs) attrs = ippNew();
        ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (o.ipp + "-supported").c_str(),
                      static_cast<int>(values.size()), nullptr, values.data());
        ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (o.ipp + "-default").c_str(), nullptr,
                     keywords[o.defaultChoice].c_str());
        break;
      }
    }
  }
  data.media_ready[0] = media;
  addConformanceAttributes(attrs);
}

PpdOptions ppdOptionsFor(const PrinterModel &model, const pappl_pr_options_t &options) {
  PpdOptions ppd;
  ppd.emplace_back("PageSize", pageSizeFor(model, options.media));
  int dpi = model.defaultResolution;
  for (int r : model.resolutions)
    if (r == options.printer_resolution[0]) dpi = r;
  ppd.emplace_back("Resolution", std::to_string(dpi) + "dpi");
  for (const MappedOption &o : model.options)
    ppd.emplace_back(o.keyword, jobChoice(o, options).name);
  return ppd;
}

std::string optionText(const PpdOptions &options) {
  std::string text;
  for (const auto &[keyword, choice] : options)
    text += (text.empty() ? "" : " ") + keyword + "=" + choice;
  return text;
}

ChoiceMap coreChoices(const PrinterModel &model, const PpdOptions &options) {
  ChoiceMap marked;
  marked.choices = model.fixedChoices;
  for (const auto &[keyword, choice] : options)
    if (keyword != "PageSize" && keyword != "Resolution") marked.choices[keyword] = choice;
  return marked;
}

}  // namespace app
