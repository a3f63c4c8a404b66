// Command-line parsing of rx5k-emulator.
#include "emulator_options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/models.h"

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

// "model 831", "models 21 and 22": the models whose facts pass.
std::string modelsWhere(bool (*pass)(const ModelFacts &)) {
  std::vector<std::string> numbers;
  for (const ModelFacts &f : modelTable())
    if (pass(f)) numbers.push_back(std::to_string(f.number));
  std::string s = numbers.size() == 1 ? "model " : "models ";
  for (size_t i = 0; i < numbers.size(); i++)
    s += (i == 0 ? "" : i + 1 == numbers.size() ? " and " : ", ") + numbers[i];
  return s;
}

// The printer script and the caps: options of the program, keys of the device URI. The defaults
// by model follow PrinterScript's.
std::string printerOptions() {
  const PrinterLimits d;
  const std::string sheetGap =
      modelsWhere([](const ModelFacts &f) { return f.readyWait == ReadyWait::SheetGoneAndReady; });
  const std::string idleReport =
      modelsWhere([](const ModelFacts &f) { return f.idleWaitAfterPage; });
  const std::string rowBytes =
      modelsWhere([](const ModelFacts &f) { return f.language == LabelLanguage::PrintRows; });
  return std::string(
             "Printer options:\n"
             "  --paper-missing N     the first N paper queries answer \"out of paper\"\n"
             "  --cover-open N        the first N cover queries answer \"cover open\"\n"
             "  --idle-after SEC      idle queries are answered only SEC seconds after the start\n"
             "  --sheet-gap N         after each page the next N paper queries answer \"out of\n"
             "                        paper\" (default 1 for ") +
         sheetGap +
         ", 0 otherwise)\n"
         "  --idle-report-ms MS   volunteer the idle report MS ms after each page; -1 never\n"
         "                        (default 500 for " +
         idleReport +
         ", never otherwise)\n"
         "  --hardver A.B.C       send the hardware version report with the first answer\n"
         "  --serial S            send the serial number report (at most 15 characters) too\n"
         "  --cancel-at-page N    send the cancel report when page N's bitmap command arrives\n"
         "  --overheat-at-page N  send the overheat report then (temperature normal after it)\n"
         "  --silent              answer no query and volunteer nothing\n"
         "  --label-row-bytes N   " +
         rowBytes +
         ": bytes per row, which its stream does not carry\n"
         "                        (default: from the raster's first page when there is a\n"
         "                        RASTER-FILE, else from the PPD's page size and\n"
         "                        resolution and the job's options, as a rasterizer\n"
         "                        makes the page)\n"
         "\n"
         "Caps (each ends the job with an error; N may end in K, M or G):\n"
         "  --max-job-bytes N     stream bytes of one job (default " +
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
         "  --max-decode-dots N   dots that label graphics may be filled, painted and\n"
         "                        rendered with in one job, each recall counted (default " +
         sizeText(d.decodeDots) +
         ")\n"
         "  --max-total-bytes N   disk in the backend's folder, all job folders together, in\n"
         "                        whole blocks; the oldest are removed to make room (default " +
         sizeText(d.totalBytes) +
         ");\n"
         "                        in the program's folder: the disk that the run's files take\n"
         "  --max-total-files N   files in the backend's folder, all job folders together;\n"
         "                        the oldest are removed to make room (default " +
         sizeText(d.totalFiles) +
         ")\n"
         "  --max-cpu-seconds N   backend: CPU seconds of one job (default " +
         std::to_string(kDefaultCpuSeconds) + ")\n";
}

// Option lines as device-URI keys: "  --name ARG   text" becomes "  name=ARG     text", in the
// same columns.
std::string asUriKeys(const std::string &lines) {
  std::string out;
  size_t start = 0;
  while (start < lines.size()) {
    const size_t end = lines.find('\n', start) + 1;
    std::string line = lines.substr(start, end - start);
    start = end;
    if (line.compare(0, 4, "  --") == 0) {
      const size_t gap = line.find(' ', 4);
      if (gap < line.size() && line[gap + 1] != ' ') line[gap] = '=';
      line.erase(2, 2);
      line.insert(line.find("  ", 2), 2, ' ');
    }
    out += line;
  }
  return out;
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
  static const std::string text =
      "Usage: rx5k-emulator --ppd FILE [--out DIR] [printer options] [run options]\n"
      "                     -- [JOB-OPTIONS [RASTER-FILE]]\n"
      "       rx5k-emulator --help | --version\n"
      "Runs the filter as the CUPS scheduler and backend would and plays the printer:\n"
      "answers drains and status queries, parses the printer stream, writes DIR/printer.log\n"
      "(one line per command), DIR/printer.bin (raw stream), DIR/filter-stderr.txt,\n"
      "DIR/pages.tsv and one PNG per page (DIR/page-N.png, DIR/label-N.png), each page as\n"
      "soon as it has ended. Files of an earlier run in DIR are replaced.\n"
      "\n" +
      printerOptions() +
      "\n"
      "Run options:\n"
      "  --filter PATH         the filter (default: rastertoRX5K beside the emulator, else\n"
      "                        " RX5K_FILTER_DIR
      "/rastertoRX5K)\n"
      "  --stdin               feed RASTER-FILE on the filter's standard input\n"
      "  --sigterm-after-ms N  send SIGTERM to the filter N ms after its start\n"
      "  --sigterm-at-page N   send SIGTERM when page N's bitmap command arrives\n"
      "  --sigterm-at-byte N   send SIGTERM when byte N of the printer stream arrives\n"
      "  --timeout SEC         kill the filter after SEC seconds (default: no limit)\n"
      "  --argv ARG            (repeatable) filter arguments after argv[0], replacing\n"
      "                        job-id user title copies options [file]\n"
      "  --env NAME=VALUE      (repeatable) extra environment for the filter\n"
      "  --show-stderr         copy the filter's standard error to the emulator's\n"
      "  --backend             run as the CUPS backend rx5k-emu (also when invoked under\n"
      "                        that name); `rx5k-emu --help` lists its device-URI keys\n"
      "\n"
      "Without RASTER-FILE the filter reads the emulator's standard input.\n"
      "Exit status: the filter's; 2 bad command line or filter not runnable; 3 printer\n"
      "stream not parseable (the offset is printed); 4 a cap ended the job or its files\n"
      "could not be written; 124 killed after --timeout; 128+N the filter died by signal N.\n";
  return text.c_str();
}

const char *backendUsage() {
  static const std::string text =
      "Usage: rx5k-emu job-id user title copies options [file]\n"
      "       rx5k-emu              (prints the device line for lpinfo -v)\n"
      "       rx5k-emu --help | --version\n"
      "rx5k-emulator as a CUPS backend: a virtual printer. The scheduler runs it with the\n"
      "printer's PPD and device URI; it answers the filter's status queries and drains,\n"
      "decodes the printer stream and writes each job's files to DIR/job-ID: printer.log,\n"
      "printer.bin, pages.tsv and one PNG per page, readable by the backend's user, the\n"
      "folder's group and (where the file system has ACLs) the user who printed; DIR/latest\n"
      "points at the newest job.\n"
      "\n"
      "Device URI: rx5k-emu:/?KEY=VALUE&KEY&... (values %-encoded), for example\n"
      "  lpadmin -p virtual -E -v 'rx5k-emu:/?paper-missing=2' -P rx5k-22.ppd\n"
      "Keys:\n"
      "  out=DIR               the folder of the job folders (default:\n"
      "                        " RX5K_BACKEND_ROOT
      "); it must belong to the\n"
      "                        backend's user and be writable by no other user\n"
      "  ppd=FILE              read this PPD instead of the printer's\n"
      "\n" +
      asUriKeys(printerOptions()) +
      "\n"
      "Exit status: 0 done; 1 the printer stream could not be decoded or its files could not\n"
      "be written; 4 the device URI or the folder is unfit (the queue stops); 5 a cap ended\n"
      "the job (the job is cancelled, the queue goes on).\n";
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
    } else if (a == "--version") {
      o.version = true;
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
    } else if (a == "--max-cpu-seconds") {
      ok = count(a, 1, o.cpuSeconds);
    } else if (a == "--sigterm-at-page") {
      ok = count(a, 1, o.sigtermAtPage);
    } else if (a == "--sigterm-at-byte") {
      ok = count(a, 1, o.sigtermAtByte);
    } else if (a == "--idle-after" || a == "--timeout") {
      double &target = a == "--timeout" ? o.timeoutSeconds : o.printer.idleAfter;
      ok = value(a, v) && (toSeconds(v, target) || bad(a + ": not a number of seconds: " + v));
    } else if (uint64_t *limit = a == "--max-job-bytes"     ? &o.limits.jobBytes
                                 : a == "--max-page-dots"   ? &o.limits.pageDots
                                 : a == "--max-job-dots"    ? &o.limits.jobDots
                                 : a == "--max-job-files"   ? &o.limits.jobFiles
                                 : a == "--max-total-bytes" ? &o.limits.totalBytes
                                 : a == "--max-total-files" ? &o.limits.totalFiles
                                 : a == "--max-decode-dots" ? &o.limits.decodeDots
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
  if (o.help || o.version || o.backend) return true;
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
