// Small pieces shared by the emulator tests: byte strings, and LZO framing as the filter frames
// its bitmaps.
#pragma once

#include <lzo/lzo1x.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "support/reports.h"

// LZO1X-1 frames (2-byte length, a zero byte, the packed block) of data cut into blocks of the
// given size (4096 as the filter does).
inline std::string lzoFrames(const std::vector<unsigned char> &data, size_t block = 4096) {
  lzo_init();
  std::vector<unsigned char> work(LZO1X_1_MEM_COMPRESS);
  std::string out;
  for (size_t i = 0; i < data.size(); i += block) {
    size_t n = std::min(block, data.size() - i);
    std::vector<unsigned char> packed(n + n / 16 + 64 + 3);
    lzo_uint length = 0;
    lzo1x_1_compress(data.data() + i, n, packed.data(), &length, work.data());
    out += bytes({static_cast<int>(length & 0xFF), static_cast<int>((length >> 8) & 0xFF), 0});
    out.append(reinterpret_cast<const char *>(packed.data()), length);
  }
  return out;
}
