// The emulator's command line: printer script values, run options, the filter's arguments, and
// the mistakes it refuses.
#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "emulator_options.h"

namespace {

std::vector<std::string> words(const std::string &line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

}  // namespace

TEST(EmulatorOptions, FullCommandLine) {
  emu::EmulatorOptions o;
  std::string error;
  ASSERT_TRUE(emu::parseEmulatorArgs(
      words(
          "--ppd p.ppd --out o --paper-missing 2 --cover-open 3 --idle-after 1.5 --hardver 255.0.4 "
          "--serial ABC --cancel-at-page 2 --overheat-at-page 1 --silent --sigterm-after-ms 250 "
          "--sigterm-at-page 3 --stdin --filter f --sheet-gap 0 --idle-report-ms -1 --timeout 9 "
          "--env LANG=zh_CN.UTF-8 --max-job-bytes 10M --max-page-dots 4096 --max-job-dots 2G "
          "--max-job-files 7 --max-total-bytes 3k -- Darkness=1 job.ras"),
      o, error))
      << error;
  EXPECT_EQ(std::tuple(o.ppd, o.outDir, o.printer.serial, o.filter, o.jobOptions, o.rasterFile),
            std::tuple("p.ppd", "o", "ABC", "f", "Darkness=1", "job.ras"));
  EXPECT_EQ(std::tuple(o.printer.paperMissing, o.printer.coverOpen, o.printer.cancelAtPage,
                       o.printer.overheatAtPage, o.printer.sheetGap, o.printer.idleReportMs,
                       o.sigtermAfterMs, o.sigtermAtPage),
            std::tuple(2, 3, 2, 1, 0, -1, 250, 3));
  EXPECT_EQ(std::tuple(o.limits.jobBytes, o.limits.pageDots, o.limits.jobDots, o.limits.jobFiles,
                       o.limits.totalBytes),
            std::tuple(10u << 20, 4096u, uint64_t{2} << 30, 7u, 3u << 10));
  EXPECT_DOUBLE_EQ(o.printer.idleAfter, 1.5);
  EXPECT_DOUBLE_EQ(o.timeoutSeconds, 9);
  ASSERT_TRUE(o.printer.hardVer.has_value());
  EXPECT_EQ(*o.printer.hardVer, (std::array<unsigned char, 3>{255, 0, 4}));
  EXPECT_TRUE(o.printer.silent);
  EXPECT_EQ(o.env, std::vector<std::string>{"LANG=zh_CN.UTF-8"});
  // On standard input the file is not an argument: 6 filter arguments.
  EXPECT_EQ(emu::standardFilterArgs(o), words("1 emulator rx5k-emulator 1 Darkness=1"));
  o.viaStdin = false;
  EXPECT_EQ(emu::standardFilterArgs(o), words("1 emulator rx5k-emulator 1 Darkness=1 job.ras"));
}

TEST(EmulatorOptions, RefusesBadCommandLines) {
  for (const char *line : {"",
                           "--out o",
                           "--ppd",
                           "--ppd p --paper-missing -1",
                           "--ppd p --paper-missing two",
                           "--ppd p --cancel-at-page 0",
                           "--ppd p --idle-after soon",
                           "--ppd p --hardver 1.0",
                           "--ppd p --hardver 1.0.4.5",
                           "--ppd p --hardver 1..4",
                           "--ppd p --hardver 256.0.0",
                           "--ppd p --hardver -1.0.0",
                           "--ppd p --hardver a.b.c",
                           "--ppd p --hardver 1.0.4x",
                           "--ppd p --serial 0123456789ABCDEF",
                           "--ppd p --env NOVALUE",
                           "--ppd p --bogus",
                           "--ppd p --stdin",
                           "--ppd p -- opts file extra",
                           "--ppd p --max-job-bytes 0",
                           "--ppd p --max-page-dots 2X",
                           "--ppd p --max-job-files -1",
                           "--ppd p --max-total-bytes 1KB",
                           "--ppd p --max-job-dots 8589934592G"}) {
    emu::EmulatorOptions o;
    std::string error;
    EXPECT_FALSE(emu::parseEmulatorArgs(words(line), o, error)) << line;
    EXPECT_FALSE(error.empty()) << line;
  }
}
