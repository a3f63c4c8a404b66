// The thermal command arrays: their initial bytes, and resetThermalCommands restoring them
// after the page steps have patched them.
#include "thermal/commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "thermal_fixture.h"

namespace {

struct CommandCase {
  const char *name;
  const unsigned char *array;
  size_t size;
  std::string initial;
};

std::vector<CommandCase> allCommands() {
  return {
      {"bCmdDensity", bCmdDensity, sizeof bCmdDensity, bytes({0x1F, 0x11, 0x02, 0x06})},
      {"bCmdSpecial", bCmdSpecial, sizeof bCmdSpecial, bytes({0x1F, 0x11, 0x37, 0x96})},
      {"bCmdAntiwrinkling", bCmdAntiwrinkling, sizeof bCmdAntiwrinkling,
       bytes({0x1F, 0x11, 0x88, 0x02})},
      {"bCmdGap", bCmdGap, sizeof bCmdGap, bytes({0x1F, 0x11, 0x26})},
      {"bCmdMode", bCmdMode, sizeof bCmdMode,
       bytes({0x1B, 0x4E, 0x62, 0x0A, 0x20, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x01, 0x00, 0x02, 0x00,
              0x06, 0x00, 0xC8, 0x00, 0x2D})},
      {"bCmdPaper", bCmdPaper, sizeof bCmdPaper, bytes({0x1B, 0x4E, 0x17, 0x00})},
      {"bCmdCompressionOn", bCmdCompressionOn, sizeof bCmdCompressionOn,
       bytes({0x1F, 0x11, 0x35, 0x01})},
      {"bCmdCompressionOff", bCmdCompressionOff, sizeof bCmdCompressionOff,
       bytes({0x1F, 0x11, 0x35, 0x00})},
      {"bCmdBMP", bCmdBMP, sizeof bCmdBMP, bytes({0x1D, 0x76, 0x30, 0, 0, 0, 0, 0})},
      {"bCmdAfter", bCmdAfter, sizeof bCmdAfter, bytes({0x1B, 0x64, 0x02})},
      {"findpaper", findpaper, sizeof findpaper, bytes({0x1F, 0x11, 0x11})},
      {"askCover", askCover, sizeof askCover, bytes({0x1F, 0x11, 0x12})},
      {"freeQuery", freeQuery, sizeof freeQuery, bytes({0x1F, 0x11, 0x43})},
  };
}

std::string contents(const CommandCase &c) {
  return std::string(c.array, c.array + c.size);
}

TEST(ThermalCommands, ResetRestoresEveryPatchedByte) {
  resetThermalCommands();
  for (const CommandCase &c : allCommands()) EXPECT_EQ(contents(c), c.initial) << c.name;
  bCmdDensity[3] = 0x04;
  bCmdAntiwrinkling[3] = 0x03;
  bCmdGap[2] = 0x0B;
  bCmdMode[12] = 0x07;
  bCmdPaper[3] = 0x04;
  for (int i = 4; i < 8; i++) bCmdBMP[i] = 0xAA;
  bCmdAfter[2] = 0x01;
  resetThermalCommands();
  for (const CommandCase &c : allCommands()) EXPECT_EQ(contents(c), c.initial) << c.name;
}

}  // namespace
