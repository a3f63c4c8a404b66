// What each model number is and does: one table that the filter, the emulator and the printer
// application read, instead of model numbers compared all over the code.
#pragma once

#include <span>

enum class ModelFamily {
  Thermal,  // the thermal command set: one bitmap per page
  Label,    // a classic label-printer language
  Other,    // unknown: only the page set-up common to every model
};

// The wait for a ready printer before a thermal page's set-up.
enum class ReadyWait {
  None,
  PaperTwice,          // paper loaded on two checks 1.1 s apart
  SheetGoneAndReady,   // idle, the previous sheet gone, paper loaded and cover closed
  PaperAndCover,       // paper and cover, confirmed (only when the ModelName is "JT64")
  IdleThenReadyTwice,  // idle, then cover closed and paper loaded on two polls in a row
};

// How the density option is sent.
enum class DensityVariant {
  NoSpecial,         // choice 3 sends nothing; logged as "density dis"
  SpecialDrained,    // choice 3 sends the special density; drained after; "density dis"
  SpecialUndrained,  // choice 3 sends the special density; "density is"
};

// Where the finished picture goes on the paper.
enum class Placement {
  None,
  WidenToPaper,      // as wide as the paper, picture centred
  FitToPaper,        // as wide and as long as the paper, picture at the top, centred
  OnSheet,           // as long as the sheet, below its top margin
  ContinuousLength,  // continuous media: as long as the sheet, picture at the top
  BelowTopMargin,    // as long as the page length, picture below a top margin
  PageLength,        // as long as the page length, picture at the top
};

enum class LabelLanguage { None, Dymo, EplLine, EplPage, Zpl, Cpcl, PrintRows, Pcl };

struct ModelFacts {
  int number = 0;
  ModelFamily family = {};
  LabelLanguage language = {};
  // Page set-up of a thermal model.
  ReadyWait readyWait = {};
  DensityVariant density = {};
  bool antiwrinkle = false;          // sends the anti-wrinkle level
  bool mediaTracking = false;        // sends the media-tracking mode
  bool mediaTrackingFirst = false;   // ... before the density, and for every custom page size
  bool printMode = false;            // sends the print mode, and the paper size with each page
  bool offsetsProductFirst = false;  // offsets converted as (dpi x mm) / 25.4, not logged
  bool flushAfterSetup = false;      // the set-up ends with a flush
  // The page and its transmission.
  Placement placement = {};
  int widthLimit = 0;                // dots kept of a wider page (0: no limit)
  double envelopeB5Mm = 0;           // the paper width of "EnvISOB5" when widening to the paper
  bool compressed = false;           // LZO-framed bitmap
  bool filler = false;               // 2048 zero bytes before the compression switch
  bool idleWaitAfterPage = false;    // filler after the bitmap and up to 30 s for the idle report
  bool paperResetAtPageEnd = false;  // forgets the paper state after each page
  bool feedAfterCustomPage = false;  // feeds after each page of a custom size on continuous media
  // Between pages and at the job's end.
  bool pauseBetweenPages = false;  // 3 s before every page but the first
  bool feedAtJobEnd = false;       // 1B 64 02 once the pages are done
  bool idleWaitAtJobEnd = false;   // waits until the printer is idle
  // Printers reporting an older hardware version are not asked whether they are idle (one cover
  // query stands in); 0: every printer is asked.
  int firstVersionAskedIdle = 0;
};

// The facts of a model number; an unknown number gets those of family Other.
const ModelFacts &modelFacts(int model);
// Every known model, in the table's order.
std::span<const ModelFacts> modelTable();

inline bool isThermalModel(int model) {
  return modelFacts(model).family == ModelFamily::Thermal;
}
inline bool isLabelModel(int model) {
  return modelFacts(model).family == ModelFamily::Label;
}
