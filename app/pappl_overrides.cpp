// PAPPL 1.3 functions the program replaces: PAPPL calls them through the dynamic linker, so the
// program's definitions win over the library's.
//  - papplClientIsAuthorized, papplClientHTMLAuthorize: PAPPL lets every loopback and local
//    socket client administer; here only administrators do (access.h).
//  - papplSystemAddListeners: PAPPL's main loop listens on one fixed local socket for every
//    server of a user; here each state folder has its own.
//  - httpConnect2: the client commands reach that socket.
//  - papplDeviceIsSupported: Create-Printer refuses a device URI the device policy refuses
//    (device_policy.h) as an unsupported value.
//  - _papplJobValidateDocumentAttributes: PAPPL accepts a document whose format the client names
//    even when the printer does not take it, and aborts the job later; here it is refused at
//    submission, as IPP asks; so is a PWG raster whose first page is not 8-bit gray (PAPPL would
//    drop its pages), and a held raster job (PAPPL prints raster as it arrives).
//  - papplDeviceList: PAPPL's network discovery aborts inside the Avahi client library when no
//    Avahi daemon runs; then the network printers are left out.
//  - cupsDoRequest: PAPPL's modify command sends printer-uri among the printer attributes; the
//    operation attributes go first.
//  - _papplPrinterWebMedia, httpWrite2: the media page offers no "printer's setting" tracking,
//    so it showed Continuous for printers whose default is their own setting, and saved it.
//  - papplJobCancel: PAPPL 1.3 acts twice on a cancel that meets the printer starting the job
//    (still pending, its thread made): the cancel finishes the job, then its thread starts and
//    finishes it again, which can corrupt the heap. Here the cancel of a pending job on an idle
//    printer, which is about to start, waits until it has, and PAPPL cancels it as a job in
//    progress.
//  - papplPrinterCreate: a printer created without an id (Create-Printer, the web page) reports
//    printer-id 0 until the next start, so clients cannot name it by id; here it gets its id
//    before PAPPL records it.
#include <dlfcn.h>
#include <pappl/pappl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "access.h"
#include "device_policy.h"
#include "pappl_overrides.h"
#include "pdf_job.h"

namespace app {

namespace {

std::string &clientSocket() {
  static std::string path;
  return path;
}

template <typename Function>
Function next(const char *name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Whether the Avahi daemon answers on its socket.
bool avahiRuns() {
  const char *path = "/run/avahi-daemon/socket";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool connected = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

// Whether a Print-Job's document is a PWG raster whose first page is of a type other than 8-bit
// gray, the one the printers take: told from the bytes the request has brought so far.
bool otherPwgRasterType(pappl_client_t *client) {
  // "RaS2", then the page header: bits per pixel at 388, colour space at 400, big-endian.
  unsigned char head[4 + 404];
  const ssize_t got =
      httpPeek(papplClientGetHTTP(client), reinterpret_cast<char *>(head), sizeof head);
  if (got < static_cast<ssize_t>(sizeof head) || std::memcmp(head, "RaS2", 4) != 0) return false;
  auto field = [&](size_t offset) {
    const unsigned char *p = head + 4 + offset;
    return unsigned{p[0]} << 24 | unsigned{p[1]} << 16 | unsigned{p[2]} << 8 | p[3];
  };
  return field(388) != 8 || field(400) != CUPS_CSPACE_SW;
}

}  // namespace

void setClientSocket(const std::string &path) {
  clientSocket() = path;
}

}  // namespace app

extern "C" {

http_status_t papplClientIsAuthorized(pappl_client_t *client) {
  return app::requestStatus(client);
}

bool papplClientHTMLAuthorize(pappl_client_t *client) {
  const http_status_t status = app::adminStatus(client);
  if (status == HTTP_STATUS_CONTINUE) return true;
  papplClientRespond(client, status, nullptr, nullptr, 0, 0);
  return false;
}

bool papplSystemAddListeners(pappl_system_t *system, const char *name) {
  static const auto real =
      app::next<bool (*)(pappl_system_t *, const char *)>("papplSystemAddListeners");
  const std::string &own = app::serverSocketPath();
  if (!name || name[0] != '/' || own.empty()) return real(system, name);
  unlink(own.c_str());
  if (!real(system, own.c_str())) return false;
  // Anyone who reaches the state folder may print through it; administration goes by the peer's
  // credentials.
  chmod(own.c_str(), 0666);
  return true;
}

http_t *httpConnect2(const char *host, int port, http_addrlist_t *addrlist, int family,
                     http_encryption_t encryption, int blocking, int msec, int *cancel) {
  static const auto real =
      app::next<http_t *(*)(const char *, int, http_addrlist_t *, int, http_encryption_t, int, int,
                            int *)>("httpConnect2");
  const std::string &own = app::clientSocket();
  if (host && host[0] == '/' && !own.empty()) host = own.c_str();
  return real(host, port, addrlist, family, encryption, blocking, msec, cancel);
}

bool papplDeviceIsSupported(const char *uri) {
  static const auto real = app::next<bool (*)(const char *)>("papplDeviceIsSupported");
  std::string reason;
  return real(uri) && uri && app::deviceUriAllowed(uri, reason);
}

bool papplDeviceList(pappl_devtype_t types, pappl_device_cb_t cb, void *data,
                     pappl_deverror_cb_t err_cb, void *err_data) {
  static const auto real =
      app::next<bool (*)(pappl_devtype_t, pappl_device_cb_t, void *, pappl_deverror_cb_t, void *)>(
          "papplDeviceList");
  if (!app::avahiRuns()) types &= ~static_cast<pappl_devtype_t>(PAPPL_DEVTYPE_DNS_SD);
  return real(types, cb, data, err_cb, err_data);
}

ipp_t *cupsDoRequest(http_t *http, ipp_t *request, const char *resource) {
  static const auto real = app::next<ipp_t *(*)(http_t *, ipp_t *, const char *)>("cupsDoRequest");
  auto operation = [](ipp_attribute_t *a) {
    const char *name = ippGetName(a);
    return ippGetGroupTag(a) == IPP_TAG_OPERATION ||
           (name && std::strcmp(name, "printer-uri") == 0);
  };
  bool disordered = false, others = false;
  for (ipp_attribute_t *a = ippFirstAttribute(request); a; a = ippNextAttribute(request)) {
    if (!operation(a))
      others = true;
    else if (others || ippGetGroupTag(a) != IPP_TAG_OPERATION)
      disordered = true;
  }
  if (!request || !disordered) return real(http, request, resource);
  ipp_t *ordered = ippNew();
  ippSetOperation(ordered, ippGetOperation(request));
  ippSetRequestId(ordered, ippGetRequestId(request));
  int minor = 0;
  const int major = ippGetVersion(request, &minor);
  ippSetVersion(ordered, major, minor);
  for (const bool first : {true, false}) {
    for (ipp_attribute_t *a = ippFirstAttribute(request); a; a = ippNextAttribute(request)) {
      if (operation(a) != first || !ippGetName(a)) continue;
      ipp_attribute_t *copy = ippCopyAttribute(ordered, a, 0);
      if (first) ippSetGroupTag(ordered, &copy, IPP_TAG_OPERATION);
    }
  }
  ippDelete(request);
  return real(http, ordered, resource);
}

pappl_printer_t *papplPrinterCreate(pappl_system_t *system, int printer_id,
                                    const char *printer_name, const char *driver_name,
                                    const char *device_id, const char *device_uri) {
  static const auto real =
      app::next<pappl_printer_t *(*)(pappl_system_t *, int, const char *, const char *,
                                     const char *, const char *)>("papplPrinterCreate");
  // Two creations at once would take the same id.
  static std::mutex creating;
  static int lastGiven = 0;
  const std::lock_guard<std::mutex> lock(creating);
  if (printer_id == 0) {
    // PAPPL's next id moves on neither for numbered printers nor while the system runs: above
    // every printer there is and every id given since the start (a deleted printer's id is not
    // reused while the server runs).
    int highest = std::max(papplSystemGetNextPrinterID(system) - 1, lastGiven);
    papplSystemIteratePrinters(
        system,
        [](pappl_printer_t *printer, void *data) {
          int &top = *static_cast<int *>(data);
          top = std::max(top, papplPrinterGetID(printer));
        },
        &highest);
    printer_id = lastGiven = highest + 1;
  }
  return real(system, printer_id, printer_name, driver_name, device_id, device_uri);
}

namespace {
thread_local bool mediaPage = false;
}

void _papplPrinterWebMedia(pappl_client_t *client, pappl_printer_t *printer) {
  static const auto real =
      app::next<void (*)(pappl_client_t *, pappl_printer_t *)>("_papplPrinterWebMedia");
  mediaPage = true;
  real(client, printer);
  mediaPage = false;
}

ssize_t httpWrite2(http_t *http, const char *buffer, size_t length) {
  static const auto real = app::next<ssize_t (*)(http_t *, const char *, size_t)>("httpWrite2");
  const ssize_t written = real(http, buffer, length);
  // The media page's tracking menu starts with the printer's own setting (no tracking value),
  // which the browser shows when none of PAPPL's entries is the current one.
  static constexpr std::string_view kMenu = "-tracking\">";
  static constexpr std::string_view kOwn = "<option value=\"\">Printer Setting</option>";
  if (mediaPage && written == static_cast<ssize_t>(length) &&
      std::string_view(buffer, length) == kMenu)
    real(http, kOwn.data(), kOwn.size());
  return written;
}

void papplJobCancel(pappl_job_t *job) {
  static const auto real = app::next<void (*)(pappl_job_t *)>("papplJobCancel");
  // A job that does not start within the bound was not being started: cancelled as PAPPL does.
  constexpr int kStartChecks = 400, kStartCheckMicroseconds = 5000;
  pappl_printer_t *printer = papplJobGetPrinter(job);
  int checks = 0;
  for (; checks < kStartChecks && papplJobGetState(job) == IPP_JSTATE_PENDING &&
         papplPrinterGetState(printer) == IPP_PSTATE_IDLE;
       checks++)
    usleep(kStartCheckMicroseconds);
  if (checks > 0)
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "The cancel waited for the job's start (%d ms).",
                checks * kStartCheckMicroseconds / 1000);
  real(job);
}

bool _papplJobValidateDocumentAttributes(pappl_client_t *client) {
  static const auto real =
      app::next<bool (*)(pappl_client_t *)>("_papplJobValidateDocumentAttributes");
  if (!real(client)) return false;
  ipp_t *request = papplClientGetRequest(client);
  ipp_attribute_t *format = ippFindAttribute(request, "document-format", IPP_TAG_MIMETYPE);
  const char *name = format ? ippGetString(format, 0, nullptr) : nullptr;
  if (format && !app::documentFormatTaken(name)) {
    // The attribute goes back in the unsupported group; the status names the error.
    papplClientRespondIPPUnsupported(client, format);
    ippSetStatusCode(papplClientGetResponse(client),
                     IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED);
    return false;
  }
  // PAPPL prints raster as it arrives, whatever the job's hold: a held raster job is refused
  // rather than printed at once.
  const bool streamed =
      name && (std::strcmp(name, "image/pwg-raster") == 0 || std::strcmp(name, "image/urf") == 0);
  ipp_attribute_t *hold = ippFindAttribute(request, "job-hold-until", IPP_TAG_ZERO);
  if (!hold) hold = ippFindAttribute(request, "job-hold-until-time", IPP_TAG_ZERO);
  const char *until = hold ? ippGetString(hold, 0, nullptr) : nullptr;
  if (streamed && hold && !(until && std::strcmp(until, "no-hold") == 0)) {
    papplClientRespondIPP(client, IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES,
                          "Raster documents are printed as they arrive: they cannot be held.");
    papplClientRespondIPPUnsupported(client, hold);
    return false;
  }
  // PAPPL would accept a PWG raster of another type (sRGB, CMYK) and drop its pages.
  if (name && papplClientGetOperation(client) == IPP_OP_PRINT_JOB &&
      (std::strcmp(name, "image/pwg-raster") == 0 || std::strcmp(name, app::kUnknownFormat) == 0) &&
      app::otherPwgRasterType(client)) {
    papplClientRespondIPP(client, IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED,
                          "The printer takes PWG raster in 8-bit gray (sgray_8) only.");
    return false;
  }
  return true;
}

}  // extern "C"
