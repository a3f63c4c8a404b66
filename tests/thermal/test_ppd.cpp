// Writes a minimal valid PPD to a temporary file and opens it with libcups.
#include "test_ppd.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

TestPpd::TestPpd(int modelNumber, const std::string &modelName,
                 const std::vector<PpdOption> &options) {
  std::string text =
      "*PPD-Adobe: \"4.3\"\n"
      "*FormatVersion: \"4.3\"\n"
      "*FileVersion: \"1.0\"\n"
      "*LanguageVersion: English\n"
      "*LanguageEncoding: ISOLatin1\n"
      "*PCFileName: \"TEST.PPD\"\n"
      "*Manufacturer: \"Test\"\n"
      "*Product: \"(Test)\"\n"
      "*ModelName: \"" +
      modelName +
      "\"\n"
      "*ShortNickName: \"Test\"\n"
      "*NickName: \"Test\"\n"
      "*cupsModelNumber: " +
      std::to_string(modelNumber) + "\n";
  for (const PpdOption &o : options) {
    text += "*OpenUI *" + o.keyword + "/" + o.keyword + ": PickOne\n";
    text += "*Default" + o.keyword + ": " + (o.marked ? o.choice : "Unlisted") + "\n";
    text += "*" + o.keyword + " " + o.choice + "/" + o.choice + ": \"\"\n";
    text += "*CloseUI: *" + o.keyword + "\n";
  }
  char path[] = "/tmp/thermal_test_XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  if (fd < 0) return;
  close(fd);
  std::ofstream(path) << text;
  ppd_ = ppdOpenFile(path);
  unlink(path);
  EXPECT_NE(ppd_, nullptr) << text;
  if (ppd_) ppdMarkDefaults(ppd_);
}

TestPpd::~TestPpd() {
  if (ppd_) ppdClose(ppd_);
}
