// The thermal printers' byte commands. A job holds its own copy of each: a patched byte keeps
// its value for the rest of the job, and every job starts from the initial bytes.
#pragma once

#include "base/page_memory.h"
#include "monitor/status.h"

struct ThermalCommands {
  unsigned char bCmdDensity[4] = {0x1F, 0x11, 0x02, 0x06};
  unsigned char bCmdSpecial[4] = {0x1F, 0x11, 0x37, 0x96};
  unsigned char bCmdAntiwrinkling[4] = {0x1F, 0x11, 0x88, 0x02};
  unsigned char bCmdGap[3] = {0x1F, 0x11, 0x26};
  unsigned char bCmdMode[19] = {0x1B, 0x4E, 0x62, 0x0A, 0x20, 0x00, 0x00, 0x00, 0x1E, 0x00,
                                0x01, 0x00, 0x02, 0x00, 0x06, 0x00, 0xC8, 0x00, 0x2D};
  unsigned char bCmdPaper[4] = {0x1B, 0x4E, 0x17, 0x00};
  unsigned char bCmdCompressionOn[4] = {0x1F, 0x11, 0x35, 0x01};
  unsigned char bCmdCompressionOff[4] = {0x1F, 0x11, 0x35, 0x00};
  unsigned char bCmdBMP[8] = {0x1D, 0x76, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00};
  unsigned char bCmdAfter[3] = {0x1B, 0x64, 0x02};
};

// A job that may drive a thermal printer: the status record, the command bytes and the
// compressor's scratch, kept from page to page.
struct ThermalJob : MonitorJob, ThermalCommands {
  using MonitorJob::MonitorJob;
  DotBuffer compressWork;
};
