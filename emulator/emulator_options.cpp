// Command-line parsing of rx5k-emulator.
#include "emulator_options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "backend_mode.h"

namespace emu {

namespace {

bool toInt(const std::string &text, int min, int &out) {
  if (text.empty()) return false;
  char *end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || v < min || v > 1000000000L) return false;
  out = static_cast<int>(v);
  return true;
}

bool toSeconds(const std::string &text, double &out) {
  if (text.empty()) return false;
  char *end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !(v >= 0) || v > 1e6) return false;
  out = v;
  return true;
}

// "1G", "64M", "2000": the largest binary suffix that divides the size.
std::string sizeText(uint64_t size) {
  for (const char *suffix = "GMK"; *suffix; ++suffix) {
    const int shift = *suffix == 'G' ? 30 : *suffix == 'M' ? 20 : 10;
    if (size >= (uint64_t{1} << shift) && size % (uint64_t{1} << shift) == 0)
      return std::to_string(size >> shift) + *suffix;
  }
  return std::to_string(size);
}

}  // namespace

bool parseSize(const std::string &text, uint64_t &out) {
  const size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
  if (digits == 0 || digits > 18 || text.size() > digits + 1) return false;
  const char suffix = digits < text.size() ? static_cast<char>(std::toupper(text.back())) : ' ';
  const int shift = suffix == 'K' ? 10 : suffix == 'M' ? 20 : suffix == 'G' ? 30 : 0;
  if (shift == 0 && suffix != ' ') return false;
  const uint64_t value = std::stoull(text.substr(0, digits));
  if (value == 0 || value > (uint64_t{1} << (62 - shift))) return false;
  out = value << shift;
  return true;
}

const char *emulatorUsage() {
  static const std::string text = [] {
    const PrinterLimits d;
    return std::string(
               "Usage: rx5k-emulator --ppd FILE [--out DIR] [printer options] [run options]\n"
               "                     -- [JOB-OPTIONS [RASTER-FILE]]\n"
               "Runs the filter as the CUPS scheduler and backend would and plays the printer:\n"
               "answers drains and status queries, parses the printer stream, writes "
               "DIR/printer.log\n"
               "(one line per command), DIR/printer.bin (raw stream), DIR/filter-stderr.txt,\n"
               "DIR/pages.tsv and one PNG per page (DIR/page-N.png, DIR/label-N.png), each page "
               "as\n"
               "soon as it has ended. Files of an earlier run in DIR are replaced.\n"
               "\n"
               "Printer options:\n"
               "  --paper-missing N     the first N paper queries answer \"out of paper\"\n"
               "  --cover-open N        the first N cover queries answer \"cover open\"\n"
               "  --idle-after SEC      idle queries are answered only SEC seconds after the "
               "start\n"
               "  --sheet-gap N         after each page the next N paper queries answer \"out "
               "of\n"
               "                        paper\" (default 1 for model 831, 0 otherwise)\n"
               "  --idle-report-ms MS   volunteer the idle report MS ms after each page; -1 "
               "never\n"
               "                        (default 500 for model 302, never otherwise)\n"
               "  --hardver A.B.C       send the hardware version report with the first answer\n"
               "  --serial S            send the serial number report (at most 15 characters) "
               "too\n"
               "  --cancel-at-page N    send the cancel report when page N's bitmap command "
               "arrives\n"
               "  --overheat-at-page N  send the overheat report then (temperature normal after "
               "it)\n"
               "  --silent              answer no query and volunteer nothing\n"
               "  --label-row-bytes N   model 20: bytes per row (its stream does not carry it)\n"
               "\n"
               "Caps (each ends the job with an error; N may end in K, M or G):\n"
               "  --max-job-bytes N     stream bytes of one job (default ") +
           sizeText(d.jobBytes) +
           ")\n"
           "  --max-page-dots N     dots of one page (default " +
           sizeText(d.pageDots) +
           "; A4 at 300 dpi: 8.7M)\n"
           "  --max-job-dots N      dots of all pages of one job (default " +
           sizeText(d.jobDots) +
           ")\n"
           "  --max-job-files N     files in the job's folder (default " +
           sizeText(d.jobFiles) +
           ")\n"
           "  --max-total-bytes N   bytes in the backend's folder, all job folders together;\n"
           "                        the oldest are removed to make room (default " +
           sizeText(d.totalBytes) +
           ");\n"
           "                        with --out: the bytes that the run writes\n"
           "\n"
           "Run options:\n"
           "  --filter PATH         the filter (default: rastertoRX5K beside the emulator)\n"
           "  --stdin               feed RASTER-FILE on the filter's standard input\n"
           "  --sigterm-after-ms N  send SIGTERM to the filter N ms after its start\n"
           "  --sigterm-at-page N   send SIGTERM when page N's bitmap command arrives\n"
           "  --timeout SEC         kill the filter after SEC seconds (default: no limit)\n"
           "  --argv ARG            (repeatable) filter arguments after argv[0], replacing\n"
           "                        job-id user title copies options [file]\n"
           "  --env NAME=VALUE      (repeatable) extra environment for the filter\n"
           "  --show-stderr         copy the filter's standard error to the emulator's\n"
           "  --backend             run as the CUPS backend rx5k-emu (also when invoked under\n"
           "                        that name); options come from DEVICE_URI\n"
           "                        rx5k-emu:/?out=DIR&paper-missing=2&max-job-files=100&...\n"
           "                        Each job's files go to DIR/job-ID, DIR/latest points at\n"
           "                        the newest. DIR must be a folder of the backend's user\n"
           "                        that no other user may write to (default DIR:\n"
           "                        " +
           kBackendRoot +
           ")\n"
           "\n"
           "Without RASTER-FILE the filter reads the emulator's standard input.\n"
           "Exit status: the filter's; 2 bad command line or filter not runnable; 3 printer\n"
           "stream not parseable (the offset is printed); 4 a cap ended the job or its files\n"
           "could not be written; 124 killed after --timeout; 128+N the filter died by signal "
           "N.\n";
  }();
  return text.c_str();
}

bool parseEmulatorArgs(const std::vector<std::string> &args, EmulatorOptions &o,
                       std::string &error) {
  size_t i = 0;
  auto value = [&](const std::string &name, std::string &out) {
    if (i + 1 >= args.size()) {
      error = name + " needs a value";
      return false;
    }
    out = args[++i];
    return true;
  };
  auto bad = [&](const std::string &message) {
    error = message;
    return false;
  };
  auto count = [&](const std::string &name, int min, int &out) {
    std::string v;
    if (!value(name, v)) return false;
    if (!toInt(v, min, out)) {
      error = name + ": not a number >= " + std::to_string(min) + ": " + v;
      return false;
    }
    return true;
  };
  for (; i < args.size(); ++i) {
    const std::string &a = args[i];
    std::string v;
    bool ok = true;
    if (a == "--") {
      ++i;
      break;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--ppd") {
      ok = value(a, o.ppd);
    } else if (a == "--out") {
      ok = value(a, o.outDir);
    } else if (a == "--filter") {
      ok = value(a, o.filter);
    } else if (a == "--paper-missing") {
      ok = count(a, 0, o.printer.paperMissing);
    } else if (a == "--cover-open") {
      ok = count(a, 0, o.printer.coverOpen);
    } else if (a == "--sheet-gap") {
      ok = count(a, 0, o.printer.sheetGap);
    } else if (a == "--idle-report-ms") {
      int ms = 0;
      ok = count(a, -1, ms);
      o.printer.idleReportMs = ms;
    } else if (a == "--cancel-at-page") {
      ok = count(a, 1, o.printer.cancelAtPage);
    } else if (a == "--overheat-at-page") {
      ok = count(a, 1, o.printer.overheatAtPage);
    } else if (a == "--label-row-bytes") {
      ok = count(a, 1, o.labelRowBytes);
    } else if (a == "--sigterm-after-ms") {
      ok = count(a, 0, o.sigtermAfterMs);
    } else if (a == "--sigterm-at-page") {
      ok = count(a, 1, o.sigtermAtPage);
    } else if (a == "--idle-after" || a == "--timeout") {
      double &target = a == "--timeout" ? o.timeoutSeconds : o.printer.idleAfter;
      ok = value(a, v) && (toSeconds(v, target) || bad(a + ": not a number of seconds: " + v));
    } else if (uint64_t *limit = a == "--max-job-bytes"     ? &o.limits.jobBytes
                                 : a == "--max-page-dots"   ? &o.limits.pageDots
                                 : a == "--max-job-dots"    ? &o.limits.jobDots
                                 : a == "--max-job-files"   ? &o.limits.jobFiles
                                 : a == "--max-total-bytes" ? &o.limits.totalBytes
                                                            : nullptr) {
      ok = value(a, v) && (parseSize(v, *limit) || bad(a + ": not a size (1 or more, with an " +
                                                       "optional K, M or G): " + v));
    } else if (a == "--hardver") {
      std::array<unsigned char, 3> ver{};
      ok = value(a, v) &&
           (parseHardVer(v, ver) || bad("--hardver: expected A.B.C, numbers 0-255: " + v));
      if (ok) o.printer.hardVer = ver;
    } else if (a == "--serial") {
      ok = value(a, o.printer.serial) &&
           ((!o.printer.serial.empty() && o.printer.serial.size() <= 15) ||
            bad("--serial: 1 to 15 characters"));
    } else if (a == "--silent") {
      o.printer.silent = true;
    } else if (a == "--stdin") {
      o.viaStdin = true;
    } else if (a == "--show-stderr") {
      o.showStderr = true;
    } else if (a == "--backend") {
      o.backend = true;
    } else if (a == "--argv") {
      ok = value(a, v);
      o.explicitArgv = true;
      o.filterArgs.push_back(v);
    } else if (a == "--env") {
      ok = value(a, v) &&
           (v.find('=') != std::string::npos || bad("--env: expected NAME=VALUE: " + v));
      o.env.push_back(v);
    } else {
      error = "unknown option " + a;
      return false;
    }
    if (!ok) return false;
  }
  if (i < args.size()) o.jobOptions = args[i++];
  if (i < args.size()) o.rasterFile = args[i++];
  if (i < args.size()) {
    error = "too many arguments after --";
    return false;
  }
  if (o.help || o.backend) return true;
  if (o.ppd.empty()) {
    error = "--ppd is required";
    return false;
  }
  if (o.viaStdin && o.rasterFile.empty()) {
    error = "--stdin needs a RASTER-FILE";
    return false;
  }
  return true;
}

std::vector<std::string> standardFilterArgs(const EmulatorOptions &o) {
  if (o.explicitArgv) return o.filterArgs;
  std::vector<std::string> args{"1", "emulator", "rx5k-emulator", "1", o.jobOptions};
  if (!o.rasterFile.empty() && !o.viaStdin) args.push_back(o.rasterFile);
  return args;
}

}  // namespace emu
