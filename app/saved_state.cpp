// Saving the state when it changes, and the defaults PAPPL 1.3 does not save.
#include "saved_state.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "server_stop.h"

namespace app {

namespace {

struct State {
  std::string file;
  std::mutex lock;                   // one save at a time
  std::atomic<bool> pending{false};  // a job changed: saved by the next timer
};

State &state() {
  static State s;
  return s;
}

std::string sideFile() {
  return state().file + ".defaults";
}

// The driver defaults PAPPL's state file leaves out, one line per printer:
// "NAME speed darkness darkness-configured top-offset left-offset tracking".
void writeDefaults(pappl_printer_t *printer, void *out) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  const pappl_media_col_t &m = data.media_default;
  *static_cast<std::ostringstream *>(out)
      << papplPrinterGetName(printer) << ' ' << data.speed_default << ' ' << data.darkness_default
      << ' ' << data.darkness_configured << ' ' << m.top_offset << ' ' << m.left_offset << ' '
      << m.tracking << '\n';
}

// Writes text to file through a new file renamed over it: a crash leaves the old or the new.
bool replaceFile(const std::string &file, const std::string &text) {
  const std::string temporary = file + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << text;
    if (!out.flush()) return false;
  }
  return std::rename(temporary.c_str(), file.c_str()) == 0;
}

bool save(pappl_system_t *system, void *) {
  State &s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  s.pending = false;
  const std::string temporary = s.file + ".new";
  if (!papplSystemSaveState(system, temporary.c_str()) ||
      std::rename(temporary.c_str(), s.file.c_str()) != 0)
    return false;
  std::ostringstream defaults;
  papplSystemIteratePrinters(system, writeDefaults, &defaults);
  return replaceFile(sideFile(), defaults.str());
}

// Printers and settings are saved at once (kill -9 right after an "add" keeps the printer).
// PAPPL sends job events while it holds the job's locks, which a save takes too: those are
// saved by the timer.
void onEvent(pappl_system_t *system, pappl_printer_t *, pappl_job_t *, pappl_event_t event,
             void *) {
  constexpr pappl_event_t kConfig = PAPPL_EVENT_PRINTER_CREATED | PAPPL_EVENT_PRINTER_DELETED |
                                    PAPPL_EVENT_PRINTER_CONFIG_CHANGED |
                                    PAPPL_EVENT_SYSTEM_CONFIG_CHANGED;
  if (event & kConfig)
    save(system, nullptr);
  else if (event & (PAPPL_EVENT_JOB_CREATED | PAPPL_EVENT_JOB_COMPLETED))
    state().pending = true;
}

// PAPPL starts a printer's queued jobs when a job arrives or the printer resumes, not after
// loading its state: the first tick of the running server resumes the idle printers.
void startQueue(pappl_printer_t *printer, void *) {
  if (papplPrinterGetState(printer) == IPP_PSTATE_IDLE &&
      papplPrinterGetNumberOfActiveJobs(printer))
    papplPrinterResume(printer);
}

bool onTimer(pappl_system_t *system, void *) {
  static bool started = false;
  if (!started) papplSystemIteratePrinters(system, startQueue, nullptr);
  started = true;
  watchServerStop();
  if (state().pending) save(system, nullptr);
  if (readyToExit()) {
    // What PAPPL would save after its wait: the jobs parked at their start come back queued.
    save(system, nullptr);
    papplLog(system, PAPPL_LOGLEVEL_INFO, "Stopped.");
    _exit(0);
  }
  return true;
}

void applyDefaults(pappl_printer_t *printer, const std::string &line) {
  std::istringstream in(line);
  std::string name;
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  pappl_media_col_t &m = data.media_default;
  int tracking = 0;
  if (!(in >> name >> data.speed_default >> data.darkness_default >> data.darkness_configured >>
        m.top_offset >> m.left_offset >> tracking))
    return;
  m.tracking = static_cast<pappl_media_tracking_t>(tracking);
  ipp_t *attrs = papplPrinterGetDriverAttributes(printer);
  cups_option_t *vendor = nullptr;
  int count = 0;
  for (int i = 0; i < data.num_vendor; i++) {
    const std::string attr = std::string(data.vendor[i]) + "-default";
    char value[256];
    if (ipp_attribute_t *a = ippFindAttribute(attrs, attr.c_str(), IPP_TAG_ZERO)) {
      ippAttributeString(a, value, sizeof value);
      count = cupsAddOption(data.vendor[i], value, count, &vendor);
    }
  }
  papplPrinterSetDriverDefaults(printer, &data, count, vendor);
  cupsFreeOptions(count, vendor);
  ippDelete(attrs);
}

void restoreDefaults(pappl_printer_t *printer, void *lines) {
  const std::string name = papplPrinterGetName(printer);
  for (const std::string &line : *static_cast<std::vector<std::string> *>(lines))
    if (line.compare(0, name.size() + 1, name + " ") == 0) applyDefaults(printer, line);
}

// PAPPL restores a job saved as processing with nothing to run it: it goes back to the queue
// and prints from the start.
std::string requeued(const std::string &file) {
  std::ifstream in(file);
  std::string text, line;
  while (std::getline(in, line)) {
    const std::string processing = " state=\"5\"";
    if (line.compare(0, 4, "Job ") == 0) {
      if (const size_t at = line.find(processing); at != std::string::npos)
        line.replace(at, processing.size(), " state=\"3\"");
    }
    text += line + '\n';
  }
  return text;
}

}  // namespace

void loadAndKeepState(pappl_system_t *system, const std::string &stateFile) {
  State &s = state();
  s.file = stateFile;
  const std::string loaded = stateFile + ".load";
  if (replaceFile(loaded, requeued(stateFile))) {
    papplSystemLoadState(system, loaded.c_str());
    std::remove(loaded.c_str());
  }
  std::vector<std::string> lines;
  std::ifstream side(sideFile());
  for (std::string line; std::getline(side, line);) lines.push_back(line);
  papplSystemIteratePrinters(system, restoreDefaults, &lines);
  papplSystemSetSaveCallback(system, save, nullptr);
  papplSystemSetEventCallback(system, onEvent, nullptr);
  papplSystemAddTimerCallback(system, 0, 1, onTimer, nullptr);
}

}  // namespace app
