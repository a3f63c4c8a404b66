// Backend mode: the printer stream comes on standard input (or from the job file), drain
// requests through cupsSideChannelRead/Write, status reports go out with cupsBackChannelWrite.
#include "backend_mode.h"

#include <cups/backend.h>
#include <cups/cups.h>
#include <cups/sidechannel.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "emulated_printer.h"
#include "emulator_job.h"
#include "emulator_options.h"

namespace emu {

namespace {

constexpr const char *kScheme = "rx5k-emu:";

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percentDecoded(const std::string &s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hexDigit(s[i + 1]) >= 0 && hexDigit(s[i + 2]) >= 0) {
      out += static_cast<char>(hexDigit(s[i + 1]) * 16 + hexDigit(s[i + 2]));
      i += 2;
    } else {
      out += s[i] == '+' ? ' ' : s[i];
    }
  }
  return out;
}

// Reads everything available now; false at end of input or once the printer stopped the job.
bool readAvailable(int fd, EmulatedPrinter &printer, double t) {
  unsigned char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      printer.receive(buf, static_cast<size_t>(n), t);
      if (printer.stopped()) return false;  // the job has ended: the rest is not read
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }
}

void answerSideRequest(EmulatedPrinter &printer, double t) {
  cups_sc_command_t command = CUPS_SC_CMD_NONE;
  cups_sc_status_t status = CUPS_SC_STATUS_NONE;
  char data[2048];
  int datalen = sizeof data;
  if (cupsSideChannelRead(&command, &status, data, &datalen, 0.0) != 0) return;
  char reply = 0;
  int replyLength = 0;
  status = CUPS_SC_STATUS_OK;
  switch (command) {
    case CUPS_SC_CMD_DRAIN_OUTPUT:
      printer.drain(t);
      break;
    case CUPS_SC_CMD_GET_BIDI:
      reply = CUPS_SC_BIDI_SUPPORTED;
      replyLength = 1;
      break;
    case CUPS_SC_CMD_GET_STATE:
      reply = CUPS_SC_STATE_ONLINE;
      replyLength = 1;
      break;
    case CUPS_SC_CMD_GET_CONNECTED:
      reply = 1;
      replyLength = 1;
      break;
    default:
      status = CUPS_SC_STATUS_NOT_IMPLEMENTED;
      break;
  }
  if (command != CUPS_SC_CMD_DRAIN_OUTPUT) {
    printer.note(t, "side-channel request " + std::to_string(command) + ", status " +
                        std::to_string(status));
  }
  cupsSideChannelWrite(command, status, &reply, replyLength, 1.0);
}

// The ERROR line of a job that used up its CPU time, made before the signal can come.
char cpuLimitMessage[160];
size_t cpuLimitLength = 0;

extern "C" void endAtCpuLimit(int) {
  const ssize_t written = write(2, cpuLimitMessage, cpuLimitLength);
  (void)written;
  _exit(CUPS_BACKEND_CANCEL);
}

// The job's CPU time: at `seconds` the kernel sends SIGXCPU and the job ends with its reason;
// should that fail, it kills the backend a few seconds later.
void limitCpuTime(int seconds) {
  const int n = std::snprintf(cpuLimitMessage, sizeof cpuLimitMessage,
                              "ERROR: job cancelled: the job used %d seconds of CPU time, the most "
                              "it may use (max-cpu-seconds)\n",
                              seconds);
  cpuLimitLength = std::min(sizeof cpuLimitMessage - 1, static_cast<size_t>(std::max(n, 0)));
  signal(SIGXCPU, endAtCpuLimit);
  const rlim_t soft = static_cast<rlim_t>(seconds);
  const rlimit limit{soft, soft + 5};
  if (setrlimit(RLIMIT_CPU, &limit) != 0)
    std::fprintf(stderr, "DEBUG: rx5k-emu: cannot limit the CPU time: %s\n", std::strerror(errno));
}

}  // namespace

bool isBackendName(const std::string &argv0) {
  // The scheduler passes the device URI as argv[0]; by hand it is the program's path.
  if (argv0.compare(0, std::string(kScheme).size(), kScheme) == 0) return true;
  std::string base = argv0.substr(argv0.find_last_of('/') + 1);
  return base == "rx5k-emu";
}

bool backendArgsFromUri(const std::string &uri, std::vector<std::string> &args,
                        std::string &error) {
  if (uri.compare(0, std::string(kScheme).size(), kScheme) != 0) {
    error = "not an rx5k-emu device URI: " + uri;
    return false;
  }
  size_t q = uri.find('?');
  if (q == std::string::npos) return true;
  std::string query = uri.substr(q + 1);
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    std::string item = query.substr(start, end - start);
    if (!item.empty()) {
      size_t eq = item.find('=');
      args.push_back("--" + percentDecoded(item.substr(0, eq)));
      if (eq != std::string::npos) args.push_back(percentDecoded(item.substr(eq + 1)));
    }
    start = end + 1;
  }
  return true;
}

int runBackend(const std::vector<std::string> &argv) {
  if (argv.size() == 1) {
    std::fputs(kBackendDeviceLine, stdout);
    return CUPS_BACKEND_OK;
  }
  if (argv.size() == 2 && (argv[1] == "--help" || argv[1] == "-h")) {
    std::fputs(backendUsage(), stdout);
    return CUPS_BACKEND_OK;
  }
  if (argv.size() == 2 && argv[1] == "--version") {
    std::printf("rx5k-emu %s\n", kVersion);
    return CUPS_BACKEND_OK;
  }
  if (argv.size() != 6 && argv.size() != 7) {
    std::fprintf(stderr,
                 "Usage: rx5k-emu job-id user title copies options [file]\n"
                 "rx5k-emu --help lists the device URI's keys.\n");
    return CUPS_BACKEND_FAILED;
  }
  std::vector<std::string> uriArgs;
  std::string error;
  const char *uri = std::getenv("DEVICE_URI");
  if (!backendArgsFromUri(uri ? uri : kScheme, uriArgs, error)) {
    std::fprintf(stderr, "ERROR: %s\n", error.c_str());
    return CUPS_BACKEND_STOP;
  }
  EmulatorOptions o;
  o.outDir.clear();
  uriArgs.push_back("--backend");
  if (!parseEmulatorArgs(uriArgs, o, error)) {
    std::fprintf(stderr, "ERROR: device URI: %s\n", error.c_str());
    return CUPS_BACKEND_STOP;
  }
  // Like the scheduler's own backends: once the job is cancelled the filter still writes its
  // trailer, so read the stream to its end rather than die on SIGTERM.
  if (argv.size() == 6) signal(SIGTERM, SIG_IGN);
  // A report for a filter that has already ended finds the back channel closed: the write
  // fails, and the job goes on to its end.
  signal(SIGPIPE, SIG_IGN);
  limitCpuTime(o.cpuSeconds);
  // A umask such as 077 would shut out the folder's group, and putting the group's bits
  // back with a chmod would clear the setgid bit that gives the job's files that group.
  umask(027);

  PrinterSetup setup;
  setup.script = o.printer;
  setup.labelRowBytes = o.labelRowBytes;
  setup.limits = o.limits;
  const char *ppd = o.ppd.empty() ? std::getenv("PPD") : o.ppd.c_str();
  if (!ppd || !readPpdSetup(ppd, argv[5], setup, error)) {
    std::fprintf(stderr, "DEBUG: no readable PPD (%s); parsing the stream as thermal\n",
                 ppd ? error.c_str() : "PPD not set");
    setup.model = -1;
  }
  if (setup.labelRowBytes > 0)
    std::fprintf(stderr, "DEBUG: rx5k-emu: model %d, rows of %d bytes\n", setup.model,
                 setup.labelRowBytes);
  std::unique_ptr<OutputFolder> folder = OutputFolder::job(
      o.outDir.empty() ? kBackendRoot : o.outDir, argv[1], o.limits, stderr, error, argv[2]);
  if (!folder) {
    std::fprintf(stderr, "ERROR: %s\n", error.c_str());
    return CUPS_BACKEND_STOP;
  }
  EmulatedPrinter printer(setup, *folder, folder.get());
  printer.sendReport = [](const std::string &bytes) {
    cupsBackChannelWrite(bytes.data(), bytes.size(), 1.0);
  };

  int in = 0;
  if (argv.size() == 7) {
    in = open(argv[6].c_str(), O_RDONLY);
    if (in < 0) {
      std::fprintf(stderr, "ERROR: cannot open %s: %s\n", argv[6].c_str(), std::strerror(errno));
      return CUPS_BACKEND_FAILED;
    }
  }
  fcntl(in, F_SETFL, fcntl(in, F_GETFL) | O_NONBLOCK);
  auto start = std::chrono::steady_clock::now();
  auto now = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  bool sideOpen = fcntl(CUPS_SC_FD, F_GETFD) >= 0;
  for (;;) {
    pollfd fds[2] = {{in, POLLIN, 0}, {sideOpen ? CUPS_SC_FD : -1, POLLIN, 0}};
    double due = printer.nextWakeup();
    int timeout = due < 0 ? 1000 : static_cast<int>(std::max(0.0, due - now()) * 1000.0) + 1;
    if (poll(fds, 2, timeout) < 0 && errno != EINTR) break;
    // Data written before a drain request is read before the request is answered.
    bool more = readAvailable(in, printer, now());
    if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) sideOpen = false;
    if (fds[1].revents & POLLIN) answerSideRequest(printer, now());
    printer.tick(now());
    if (!more) break;
  }
  if (in != 0) close(in);
  bool ok = printer.finish(now());
  std::fprintf(stderr, "DEBUG: rx5k-emu: %d page(s), %s\n", printer.pages(),
               ok                    ? "stream ok"
               : printer.overLimit() ? "over a cap"
                                     : "stream error");
  if (printer.overLimit()) {
    std::fprintf(stderr, "ERROR: job cancelled: %s\n", printer.streamError().c_str());
    return CUPS_BACKEND_CANCEL;
  }
  if (!ok) {
    std::fprintf(stderr, "ERROR: %s%s\n",
                 printer.stopped() ? "" : "printer stream error: ", printer.streamError().c_str());
    return CUPS_BACKEND_FAILED;
  }
  return CUPS_BACKEND_OK;
}

}  // namespace emu
