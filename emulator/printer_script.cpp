// Scripted printer state: counters for the paper and cover answers, the idle delay, the
// identification reports and the page-triggered reports.
#include "printer_script.h"

#include "base/models.h"

#include <algorithm>
#include <cstdlib>

namespace emu {

namespace {

std::string bytes3(unsigned char a, unsigned char b, unsigned char c) {
  return std::string{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)};
}

const std::string kPaperOut = bytes3(0x1A, 0x06, 0x88);
const std::string kPaperIn = bytes3(0x1A, 0x06, 0x89);
const std::string kCoverOpen = bytes3(0x1A, 0x05, 0x99);
const std::string kCoverClosed = bytes3(0x1A, 0x05, 0x98);
const std::string kIdle = bytes3(0x1A, 0x0F, 0x0C);
const std::string kOverheat = bytes3(0x1A, 0x03, 0xA9);
const std::string kTempNormal = bytes3(0x1A, 0x03, 0xA8);
const std::string kCancel = bytes3(0x1A, 0x0B, 0xB8);

}  // namespace

std::string describeReports(const std::string &bytes) {
  std::string s;
  size_t i = 0;
  auto add = [&](const std::string &what) {
    if (!s.empty()) s += ", ";
    s += what;
  };
  while (i + 3 <= bytes.size()) {
    std::string r = bytes.substr(i, 3);
    if (r[1] == 0x07 && i + 5 <= bytes.size()) {
      add("hardware version " + std::to_string(static_cast<unsigned char>(bytes[i + 2])) + "." +
          std::to_string(static_cast<unsigned char>(bytes[i + 3])) + "." +
          std::to_string(static_cast<unsigned char>(bytes[i + 4])));
      i += 5;
      continue;
    }
    if (r[1] == 0x08 && i + 17 <= bytes.size()) {
      std::string sn = bytes.substr(i + 2, 15);
      add("serial \"" + sn.substr(0, sn.find('\0')) + "\"");
      i += 17;
      continue;
    }
    add(r == kPaperOut      ? "out of paper"
        : r == kPaperIn     ? "paper present"
        : r == kCoverOpen   ? "cover open"
        : r == kCoverClosed ? "cover closed"
        : r == kIdle        ? "idle"
        : r == kOverheat    ? "overheated"
        : r == kTempNormal  ? "temperature normal"
        : r == kCancel      ? "job cancelled"
                            : "unknown report");
    i += 3;
  }
  return s;
}

bool parseHardVer(const std::string &text, std::array<unsigned char, 3> &out) {
  const char *p = text.c_str();
  for (int i = 0; i < 3; ++i) {
    char *end = nullptr;
    if (*p < '0' || *p > '9') return false;
    long v = std::strtol(p, &end, 10);
    if (v < 0 || v > 255) return false;
    out[static_cast<size_t>(i)] = static_cast<unsigned char>(v);
    p = end;
    if (i < 2) {
      if (*p != '.') return false;
      ++p;
    }
  }
  return *p == '\0';
}

PrinterScript::PrinterScript(const PrinterSettings &settings, int model)
    : settings_(settings),
      // A printer whose filter waits for the sheet to leave, or for the idle report after a
      // page, plays that by default.
      sheetGap_(settings.sheetGap >= 0                                        ? settings.sheetGap
                : modelFacts(model).readyWait == ReadyWait::SheetGoneAndReady ? 1
                                                                              : 0),
      idleReportMs_(settings.idleReportMs.value_or(modelFacts(model).idleWaitAfterPage ? 500 : -1)),
      paperOutLeft_(settings.paperMissing),
      coverOpenLeft_(settings.coverOpen) {}

// The identification reports go out once, in front of the first answer.
std::string PrinterScript::firstAnswerPrefix() {
  if (identified_) return "";
  identified_ = true;
  std::string s;
  if (settings_.hardVer) {
    s += bytes3(0x1A, 0x07, (*settings_.hardVer)[0]);
    s += static_cast<char>((*settings_.hardVer)[1]);
    s += static_cast<char>((*settings_.hardVer)[2]);
  }
  if (!settings_.serial.empty()) {
    std::string sn = settings_.serial.substr(0, 15);
    sn.resize(15, '\0');
    s += std::string{"\x1A\x08", 2} + sn;
  }
  return s;
}

std::string PrinterScript::answer(unsigned char query, double t) {
  if (settings_.silent) return "";
  std::string reply;
  switch (query) {
    case 0x11:
      if (paperOutLeft_ > 0) {
        --paperOutLeft_;
        reply = kPaperOut;
      } else {
        reply = kPaperIn;
      }
      break;
    case 0x12:
      if (coverOpenLeft_ > 0) {
        --coverOpenLeft_;
        reply = kCoverOpen;
      } else {
        reply = kCoverClosed;
      }
      break;
    case 0x43:
      // A busy printer does not answer the idle query.
      if (t < settings_.idleAfter) return "";
      reply = kIdle;
      break;
    default:
      return "";
  }
  return firstAnswerPrefix() + reply;
}

std::string PrinterScript::bitmapStarted(int page, double) {
  if (settings_.silent) return "";
  std::string s;
  if (page == settings_.overheatAtPage) s += kOverheat;
  if (page == settings_.cancelAtPage) s += kCancel;
  return s;
}

std::string PrinterScript::bitmapDone(int page, double t) {
  paperOutLeft_ += sheetGap_;
  if (settings_.silent) return "";
  if (idleReportMs_ >= 0) {
    idleReports_.push_back(std::max(t + idleReportMs_ / 1000.0, settings_.idleAfter));
  }
  return page == settings_.overheatAtPage ? kTempNormal : "";
}

std::string PrinterScript::due(double t) {
  std::string s;
  auto it = idleReports_.begin();
  while (it != idleReports_.end()) {
    if (*it <= t) {
      s += kIdle;
      it = idleReports_.erase(it);
    } else {
      ++it;
    }
  }
  return s;
}

double PrinterScript::nextDue() const {
  if (idleReports_.empty()) return -1;
  return *std::min_element(idleReports_.begin(), idleReports_.end());
}

}  // namespace emu
