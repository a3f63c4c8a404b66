// Raster files, PPDs and the thermal wire for the end-to-end tests.
#include "support/e2e_support.h"

#include <atomic>
#include <cstdio>
#include <map>
#include <sstream>
#include <thread>

#include "thermal_parser.h"

namespace e2e {

std::string rasterFile(const std::vector<rastertest::RasterPage> &pages, const std::string &name,
                       bool raw) {
  std::string path = runtest::testFilePath(name);
  EXPECT_TRUE(raw ? rastertest::writeRawRaster(path, pages)
                  : rastertest::writeRasterFile(path, pages))
      << path;
  return path;
}

rastertest::RasterPage blackPage(unsigned width, unsigned height) {
  return rastertest::pageFromGenerator(rastertest::rasterHeader(width, height),
                                       [](unsigned, unsigned) { return 0; });
}

std::vector<runtest::FilterRun> runInParallel(const std::vector<runtest::FilterRunOptions> &jobs,
                                              size_t workers) {
  std::vector<runtest::FilterRun> runs(jobs.size());
  std::atomic<size_t> next{0};
  std::vector<std::thread> threads;
  for (size_t w = 0; w < workers; w++) {
    threads.emplace_back([&] {
      for (size_t i = next++; i < jobs.size(); i = next++) runs[i] = runtest::runFilter(jobs[i]);
    });
  }
  for (std::thread &t : threads) t.join();
  return runs;
}

std::string projectPpd(const std::string &name) {
  return std::string(RX5K_BUILD_DIR) + "/ppd/" + name;
}

unsigned char testCardDot(unsigned x, unsigned y) {
  return static_cast<unsigned char>((x * 37 + y * 91 + (x / 5) * (y / 3) + 13) % 256);
}

rastertest::RasterPage testCard(unsigned width, unsigned height, const char *sizeName) {
  return rastertest::pageFromGenerator(
      rastertest::rasterHeader(width, height, 203, rastertest::RasterColor::Rgb, sizeName),
      testCardDot);
}

std::vector<WireItem> wireItems(const runtest::FilterRun &run) {
  emu::ThermalStream stream = emu::parseThermalStream(run.printerStream);
  std::map<size_t, std::vector<const emu::ThermalEvent *>> byOffset;
  for (const emu::ThermalEvent &e : stream.events) byOffset[e.offset].push_back(&e);
  auto eventAt = [&](size_t offset, const std::string &name) -> const emu::ThermalEvent * {
    auto it = byOffset.find(offset);
    if (it == byOffset.end()) return nullptr;
    for (const emu::ThermalEvent *e : it->second)
      if (name == emu::thermalCommandName(e->command)) return e;
    return nullptr;
  };

  std::vector<WireItem> items;
  std::istringstream log(run.printerLog);
  std::string text;
  bool inBitmap = false;  // between a bitmap command and its complete data
  int innerDrains = 0;
  while (std::getline(log, text)) {
    // "[    t.ttt]    offset  name (15 wide) bytes text"
    double time = 0;
    size_t offset = 0;
    if (text.size() < 37 || std::sscanf(text.c_str(), "[%lf] %zu", &time, &offset) != 2) continue;
    const std::string name = text.substr(22, text.find_last_not_of(' ', 36) - 21);
    const emu::ThermalEvent *e = eventAt(offset, name);
    if (name == "drain") {
      innerDrains += inBitmap;
      if (!inBitmap) items.push_back({time, kDrain});
    } else if (name == "filler") {
      // The emulator closes a filler run at every drain; its length starts the text.
      size_t at = text.find_first_of("0123456789", 38);
      items.push_back({time, "00 x" + text.substr(at, text.find(' ', at) - at)});
    } else if (e && e->command == emu::ThermalCommand::BitmapData) {
      inBitmap = false;
      const int pieces = static_cast<int>((e->length + 1023) / 1024);
      items.push_back({time, innerDrains == std::max(pieces - 1, 0)
                                 ? "data"
                                 : "data with " + std::to_string(innerDrains) +
                                       " inner drains for " + std::to_string(e->length) +
                                       " bytes"});
    } else if (e) {
      items.push_back({time, emu::hexBytes(e->bytes.data(), e->bytes.size())});
      inBitmap = e->command == emu::ThermalCommand::Bitmap;
      innerDrains = 0;
    }
  }
  return items;
}

std::vector<std::string> wireTexts(const runtest::FilterRun &run) {
  std::vector<std::string> texts;
  for (const WireItem &item : wireItems(run)) texts.push_back(item.text);
  return texts;
}

std::string hex(std::initializer_list<int> values) {
  std::string b = bytes(values);
  return emu::hexBytes(reinterpret_cast<const unsigned char *>(b.data()), b.size());
}

std::vector<std::string> transmission(bool filler, bool compressed, int width, int height) {
  std::vector<std::string> items{kDrain};
  if (filler) items.insert(items.end(), {kFiller, kDrain});
  // The raster bitmap command for a finished page of width x height dots.
  const std::string bitmap = hex({0x1D, 0x76, 0x30, 0x00, ((width + 7) / 8) & 0xFF,
                                  (width + 7) / 2048, height & 0xFF, (height >> 8) & 0xFF});
  items.insert(items.end(), {compressed ? "1F 11 35 01" : "1F 11 35 00", bitmap, "data", kDrain});
  return items;
}

std::vector<std::string> asked(std::initializer_list<std::string> queries) {
  std::vector<std::string> items;
  for (const std::string &q : queries) items.insert(items.end(), {q, kDrain});
  return items;
}

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const std::vector<std::string> &p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

std::string firstDifference(const std::string &a, const std::string &b) {
  if (a == b) return "";
  size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) at++;
  auto hex = [at](const std::string &s) {
    std::string text;
    char byte[4];
    for (size_t i = at; i < s.size() && i < at + 16; i++) {
      std::snprintf(byte, sizeof byte, " %02X", static_cast<unsigned char>(s[i]));
      text += byte;
    }
    return text.empty() ? std::string(" (end)") : text;
  };
  return "first difference at byte " + std::to_string(at) + " of " + std::to_string(a.size()) +
         " vs " + std::to_string(b.size()) + ":" + hex(a) + " vs" + hex(b);
}

}  // namespace e2e
