// Helpers shared by the fuzz targets.
#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/page_memory.h"

namespace {
constexpr uint64_t kFuzzPageMemory = uint64_t{256} << 10;
}

uint8_t FuzzInput::byte() {
  if (size_ == 0) return 0;
  size_--;
  return *data_++;
}

uint16_t FuzzInput::u16() {
  uint16_t v = byte();
  return static_cast<uint16_t>(v | byte() << 8);
}

uint32_t FuzzInput::u32() {
  uint32_t v = u16();
  return v | static_cast<uint32_t>(u16()) << 16;
}

std::string FuzzInput::bytes(size_t n) {
  if (n > size_) n = size_;
  std::string s(reinterpret_cast<const char *>(data_), n);
  data_ += n;
  size_ -= n;
  return s;
}

void fuzzFail(const char *what, const std::string &detail) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n%s\n", what, detail.c_str());
  std::abort();
}

void limitPageMemory() {
  setenv("RX5K_PAGE_MEMORY_LIMIT", "256K", 1);
}

unsigned hostileResolution(uint32_t raw) {
  static const bool ceilingInForce = pageMemoryLimit() <= kFuzzPageMemory;
  return ceilingInForce ? raw : raw % 601;
}

int pickModel(FuzzInput &in, ModelFamily family) {
  std::vector<int> models;
  for (const ModelFacts &f : modelTable())
    if (family == ModelFamily::Other || f.family == family) models.push_back(f.number);
  if (family == ModelFamily::Other) models.push_back(7);
  return models[in.byte() % models.size()];
}
