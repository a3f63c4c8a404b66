// The emulated printer's state, played from a script: what it answers to each status query and
// which reports it volunteers, as a function of the queries so far, the pages and the time since
// the job started. Knows nothing of processes or descriptors.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace emu {

struct PrinterSettings {
  int paperMissing = 0;  // the first N paper queries answer "out of paper"
  int coverOpen = 0;     // the first N cover queries answer "cover open"
  double idleAfter = 0;  // idle queries answer only from this many seconds after the start
  // After each page's bitmap, the next N paper queries answer "out of paper" (the sheet has
  // left and the next one is being loaded). -1: 1 for model 831, which waits for it, else 0.
  int sheetGap = -1;
  // Volunteers the idle report this many ms after each page's bitmap (not before idleAfter);
  // -1 never. Unset: 500 for model 302, which waits for it, else never.
  std::optional<int> idleReportMs;
  std::optional<std::array<unsigned char, 3>> hardVer;  // version report with the first answer
  std::string serial;      // serial-number report with the first answer (at most 15 characters)
  int cancelAtPage = 0;    // cancel report when this page's bitmap command arrives (0: never)
  int overheatAtPage = 0;  // overheat report then, temperature normal when its data is complete
  bool silent = false;     // answers nothing and volunteers nothing
};

// Report bytes and their meaning, for logs.
std::string describeReports(const std::string &bytes);

class PrinterScript {
 public:
  PrinterScript(const PrinterSettings &settings, int model);

  // The answer to a status query (0x11 paper, 0x12 cover, 0x43 idle) at t seconds after the
  // start; empty when the printer stays silent.
  std::string answer(unsigned char query, double t);
  // Reports to volunteer when page's bitmap command arrives.
  std::string bitmapStarted(int page, double t);
  // Reports to volunteer when page's bitmap data is complete.
  std::string bitmapDone(int page, double t);
  // Volunteered reports due at time t (each returned once).
  std::string due(double t);
  // Time of the next volunteered report, or a negative number when none is pending.
  double nextDue() const;

  int sheetGap() const { return sheetGap_; }
  int idleReportMs() const { return idleReportMs_; }

 private:
  std::string firstAnswerPrefix();
  PrinterSettings settings_;
  int sheetGap_;
  int idleReportMs_;
  int paperOutLeft_;
  int coverOpenLeft_;
  bool identified_ = false;
  std::vector<double> idleReports_;  // times of pending volunteered idle reports
};

// "1.0.4" -> 01 00 04; false when it is not three numbers 0..255.
bool parseHardVer(const std::string &text, std::array<unsigned char, 3> &out);

}  // namespace emu
