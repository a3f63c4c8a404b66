// The system: folders a user can choose, PAPPL's web interface and the state file.
#include "app_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "access.h"
#include "base/page_memory.h"
#include "device_policy.h"
#include "drivers.h"
#include "emulator_device.h"
#include "pdf_job.h"
#include "raster_job.h"
#include "saved_state.h"
#include "socket_device.h"

namespace app {

namespace {

// A page's buffers in the server, well below the filter's 1 GiB: several printers print at once.
constexpr const char *kPageMemoryLimit = "64M";

std::string option(const char *name, int count, cups_option_t *options, std::string fallback) {
  const char *value = cupsGetOption(name, count, options);
  return value && *value ? value : fallback;
}

}  // namespace

std::string defaultStateDirectory() {
  if (getuid() == 0) return std::string("/var/lib/") + kAppName;
  if (const char *state = std::getenv("XDG_STATE_HOME"); state && *state)
    return std::string(state) + "/" + kAppName;
  const char *home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/state/" + kAppName;
}

namespace {

// Creates dir and its parents, for the user alone.
bool makeFolders(const std::string &dir) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    const std::string part = dir.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

pappl_loglevel_t logLevel(const std::string &name) {
  static const std::pair<const char *, pappl_loglevel_t> kLevels[] = {
      {"debug", PAPPL_LOGLEVEL_DEBUG}, {"info", PAPPL_LOGLEVEL_INFO},
      {"warn", PAPPL_LOGLEVEL_WARN},   {"error", PAPPL_LOGLEVEL_ERROR},
      {"fatal", PAPPL_LOGLEVEL_FATAL},
  };
  for (const auto &[text, level] : kLevels)
    if (name == text) return level;
  return PAPPL_LOGLEVEL_INFO;
}

// The paper or labels as the printer's one supply: the printers report only whether there is
// any, which the state reasons carry, so the level is unknown.
void describeSupplies(pappl_printer_t *printer, void * = nullptr) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  pappl_supply_t supply{};
  supply.color = PAPPL_SUPPLY_COLOR_NO_COLOR;
  std::snprintf(supply.description, sizeof supply.description, "%s",
                data.kind & PAPPL_KIND_LABEL ? "Labels" : "Thermal paper");
  supply.is_consumed = true;
  supply.level = -1;
  supply.type = PAPPL_SUPPLY_TYPE_OTHER;
  papplPrinterSetSupplies(printer, 1, &supply);
}

std::string quoted(const std::string &text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The web pages' words for the vendor options and their values: the PPDs' own texts
// ("mirror-image" reads "Mirror Image", its "1" "On"), as PAPPL looks up an attribute by its name
// and a value by "NAME.VALUE".
const std::string &vendorStrings() {
  static const std::string strings = [] {
    std::set<std::string> seen;
    std::string text;
    auto add = [&](const std::string &key, const std::string &value) {
      if (seen.insert(key).second) text += quoted(key) + " = " + quoted(value) + ";\n";
    };
    for (const PrinterModel &model : printerModels()) {
      for (const MappedOption &o : model.options) {
        if (o.role != IppRole::Vendor) continue;
        add(o.ipp, o.text);
        for (const OptionChoice &c : o.choices) add(o.ipp + "." + lowerCase(c.name), c.text);
      }
    }
    return text;
  }();
  return strings;
}

// What one document may take: the page ceiling of the core (RX5K_PAGE_MEMORY_LIMIT, which the
// filter also reads), PAPPL's decoded images, and jobs printing at once.
void setResourceLimits(pappl_system_t *system, int count, cups_option_t *options) {
  const char *environment = std::getenv("RX5K_PAGE_MEMORY_LIMIT");
  const std::string limit = option("page-memory-limit", count, options,
                                   environment && *environment ? environment : kPageMemoryLimit);
  setenv("RX5K_PAGE_MEMORY_LIMIT", limit.c_str(), 1);
  papplSystemSetMaxImageSize(system, static_cast<size_t>(pageMemoryLimit()), 0, 0);
  setJobsAtOnce(std::max(1, std::atoi(option("max-jobs", count, options, "4").c_str())));
}

}  // namespace

pappl_system_t *createSystem(int count, cups_option_t *options, void *) {
  const std::string state = option("state-directory", count, options, defaultStateDirectory());
  const std::string spool = option("spool-directory", count, options, state + "/spool");
  const std::string previews = option("preview-directory", count, options, state + "/previews");
  for (const std::string &dir : {state, spool, previews}) {
    if (!makeFolders(dir)) {
      std::fprintf(stderr, "%s: cannot create %s: %s\n", kAppName, dir.c_str(),
                   std::strerror(errno));
      return nullptr;
    }
  }
  // A server never takes over another user's folders: a root server in the service's folders
  // would leave files the service cannot write.
  struct stat folder {};
  if (stat(state.c_str(), &folder) != 0 || folder.st_uid != geteuid()) {
    std::fprintf(stderr,
                 "%s: %s belongs to another user: run the server as that user (the system "
                 "service: systemctl start %s)\n",
                 kAppName, state.c_str(), kAppName);
    return nullptr;
  }
  const std::string logFile = option("log-file", count, options, state + "/" + kAppName + ".log");
  const int port = std::atoi(option("server-port", count, options, "0").c_str());
  // Administrators authenticate over the network with PAM (the service's file, or PAM's
  // "other"), and must be in the admin group.
  const std::string auth = option("auth-service", count, options, kAppName);
  std::string reason;
  if (!setDevicePolicy({state, spool, previews}, option("printer-networks", count, options, ""),
                       reason)) {
    std::fprintf(stderr, "%s: %s\n", kAppName, reason.c_str());
    return nullptr;
  }
  pappl_system_t *system = papplSystemCreate(
      PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG |
          PAPPL_SOPTIONS_WEB_SECURITY,
      "RX5K Printer Application", port, "_print,_universal", spool.c_str(), logFile.c_str(),
      logLevel(option("log-level", count, options, "info")), auth.c_str(), false);
  if (!system) return nullptr;
  // PAPPL 1.3 renames a full log while holding its own log lock and then waits on that lock: no
  // log is rotated (the journal or logrotate does it).
  papplSystemSetMaxLogSize(system, 0);
  setResourceLimits(system, count, options);
  // Loopback unless the administrator shares the server ("*" for every address).
  const std::string listen = option("listen-hostname", count, options, "localhost");
  papplSystemAddListeners(system, listen == "*" ? nullptr : listen.c_str());
  papplSystemSetAdminGroup(system, option("admin-group", count, options, "lpadmin").c_str());
  setServerSocket(localSocketPath(state));
  // Also makes PAPPL challenge refused clients for Basic credentials.
  papplSystemSetAuthCallback(
      system, "Basic",
      [](pappl_client_t *client, const char *, gid_t, void *) { return requestStatus(client); },
      nullptr);

  static std::vector<pappl_pr_driver_t> drivers = driverList();
  papplSystemSetPrinterDrivers(
      system, static_cast<int>(drivers.size()), drivers.data(), autoAddDriver,
      [](pappl_printer_t *printer, void *) { describeSupplies(printer); }, driverCallback, nullptr);
  papplSystemAddStringsData(system, "/en.strings", "en", vendorStrings().c_str());
  addPdfFilter(system);
  registerEmulatorScheme(previews);
  registerSocketScheme();

  loadAndKeepState(system, state + "/" + kAppName + ".state");
  papplSystemIteratePrinters(system, describeSupplies, nullptr);
  return system;
}

void printUsage(void *) {
  std::printf(
      "Usage: %s SUB-COMMAND [OPTIONS] [FILENAME]\n"
      "       %s [OPTIONS] [FILENAME]\n"
      "IPP Everywhere printer application for the RX5K thermal and label printers.\n\n"
      "Sub-commands: add, cancel, default, delete, devices, drivers, jobs, modify, options,\n"
      "pause, printers, resume, server, shutdown, status, submit.\n\n"
      "Options:\n"
      "  -a               Cancel all jobs (cancel).\n"
      "  -d PRINTER       Specify printer.\n"
      "  -j JOB-ID        Specify job ID (cancel).\n"
      "  -m DRIVER-NAME   Specify driver (add/modify).\n"
      "  -n COPIES        Specify number of copies (submit).\n"
      "  -o NAME=VALUE    Specify option (add,modify,server,submit).\n"
      "  -u URI           Specify ipp: or ipps: printer/server.\n"
      "  -v DEVICE-URI    Specify usb:, rx5k-socket: (socket:) or rx5k-emu: device.\n\n"
      "Server options (-o NAME=VALUE with the server sub-command):\n"
      "  state-directory=DIR    printers and settings (default: as root\n"
      "                         /var/lib/rx5k-printer-app, else ~/.local/state/rx5k-printer-app)\n"
      "  spool-directory=DIR    job files (default: STATE/spool)\n"
      "  preview-directory=DIR  folders of the emulated printers' jobs (default: STATE/previews)\n"
      "  server-port=PORT       IPP and web port; listen-hostname=NAME; log-file=FILE or - "
      "(default STATE/rx5k-printer-app.log);\n"
      "  log-level=debug|info|warn|error; admin-group=GROUP; auth-service=PAM-SERVICE\n\n"
      "Device rx5k-emu:/?out=DIR&paper-missing=N&cover-open=N&...: the printer emulator, with\n"
      "the options of the emulator's backend (rx5k-emulator --help); PNG previews per job.\n"
      "Device rx5k-socket://HOST[:PORT]: a network printer on a raw port (9100), whose status\n"
      "reports the app reads without waiting (PAPPL's socket: waits 10 s per read).\n",
      kAppName, kAppName);
}

}  // namespace app
