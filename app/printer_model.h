// What a driver offers over IPP, derived from its PPD: media, resolutions and every PPD option as
// a standard or a vendor IPP attribute; and the way back, from a job's IPP options to the PPD
// options a CUPS queue would hand the filter and the choices its marked PPD would give the core,
// so that a page prints with the same bytes.
#pragma once

#include <cups/ppd.h>
#include <pappl/pappl.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/choices.h"

namespace app {

// A PPD page size as an IPP media size.
struct MediaSize {
  std::string pwg;  // the IPP media name
  std::string ppd;  // the PPD's PageSize choice
  int width = 0;    // hundredths of millimetres
  int length = 0;
};

// Which IPP attribute carries a PPD option.
enum class IppRole {
  Darkness,    // print-darkness and printer-darkness-configured (levels 0 to 100)
  Speed,       // print-speed (hundredths of mm per second; 0: the printer's setting)
  Tracking,    // media-tracking (bits)
  TopOffset,   // media-top-offset (hundredths of mm)
  LeftOffset,  // media-left-offset
  ColorMode,   // print-color-mode (bits)
  Vendor,      // a vendor attribute whose keywords are the choice names in lower case
};

struct OptionChoice {
  std::string name;   // the PPD choice name
  std::string text;   // its text in the PPD
  int value = 0;      // its number in the IPP attribute (numeric roles; bit roles: the default bit)
  unsigned bits = 0;  // the IPP values it stands for (bit roles)
};

struct MappedOption {
  std::string keyword;  // the PPD keyword
  std::string text;     // its text in the PPD
  std::string ipp;      // the IPP attribute (vendor options)
  IppRole role = IppRole::Vendor;
  std::vector<OptionChoice> choices;
  size_t defaultChoice = 0;
};

struct PrinterModel {
  std::string driver;  // the driver's name: the PPD's file name without ".ppd"
  std::string makeAndModel;
  std::string modelName;  // the PPD's ModelName
  int modelNumber = 0;    // the PPD's cupsModelNumber
  bool label = false;     // a label printer
  std::vector<MediaSize> media;
  size_t defaultMedia = 0;
  std::string customMin, customMax;  // the custom size range as PWG names (empty: none)
  int customRange[4] = {};           // the same: least width and length, greatest, in 1/100 mm
  // The widest margins of the PPD's imageable areas, in hundredths of millimetres: the
  // rasterizer hands the filter only what lies inside them.
  int sideMargin = 0, endMargin = 0;
  std::vector<int> resolutions;  // dots per inch, the same across and down
  int defaultResolution = 0;
  std::vector<MappedOption> options;
  // Options of one choice (keyword -> choice), which the PPD marks whatever a job asks.
  std::map<std::string, std::string> fixedChoices;

  // The option in role, or null.
  const MappedOption *option(IppRole role) const;
};

// text in lower case: a vendor attribute's keyword for a PPD choice.
std::string lowerCase(std::string text);

PrinterModel describePpd(ppd_file_t *ppd, const std::string &driver);

// PAPPL's driver data for model (callbacks aside) and the vendor attributes' "-supported" and
// "-default" values in attrs. model must outlive the printers using the data.
void fillDriverData(const PrinterModel &model, pappl_pr_driver_data_t &data, ipp_t *&attrs);

// The PPD page size of a page of width x length hundredths of millimetres: a PPD size within
// 1 mm, else a custom size within the PPD's range, else empty.
std::string pageSizeOfPage(const PrinterModel &model, int width, int length);

using PpdOptions = std::vector<std::pair<std::string, std::string>>;
// The PPD options (keyword, choice) of a job with these print options: its page size,
// resolution and a choice of every option.
PpdOptions ppdOptionsFor(const PrinterModel &model, const pappl_pr_options_t &options);
// The options as the filter's options argument: "Keyword=Choice Keyword=Choice".
std::string optionText(const PpdOptions &options);
// The choices the core reads for a job of these PPD options, each as the PPD marked with them
// names it. PageSize and Resolution are left out: each page marks its own (page_header.h).
ChoiceMap coreChoices(const PrinterModel &model, const PpdOptions &options);

}  // namespace app
