// Helpers shared by the fuzz targets: reading structured values from the fuzzer's bytes, and
// failing loudly when an invariant breaks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/channel.h"
#include "base/models.h"

// Takes values from the front of the fuzz input; once it is used up every value is 0, so any
// input decodes to something.
class FuzzInput {
 public:
  FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}

  uint8_t byte();
  uint16_t u16();
  uint32_t u32();
  // An element of a table, chosen by one byte.
  template <typename T, size_t N>
  const T &pick(const T (&table)[N]) {
    return table[byte() % N];
  }
  // Up to n bytes (fewer when the input ends).
  std::string bytes(size_t n);
  // What is left.
  const uint8_t *rest() const { return data_; }
  size_t remaining() const { return size_; }

 private:
  const uint8_t *data_;
  size_t size_;
};

// A model number of the table, by one byte: of FAMILY, or of any family with ModelFamily::Other,
// which also adds 7, a number no model has. New models are fuzzed without a change here.
int pickModel(FuzzInput &in, ModelFamily family);

// Reports a broken invariant and aborts, so libFuzzer keeps the input as a crash.
[[noreturn]] void fuzzFail(const char *what, const std::string &detail = "");
#define FUZZ_CHECK(cond, detail)          \
  do {                                    \
    if (!(cond)) fuzzFail(#cond, detail); \
  } while (0)

// Sets the per-page memory ceiling of the filter to 256 KiB (the allocator keeps such blocks: no
// page faults), so that no page of a hostile size costs more than a few milliseconds (call before
// the first run).
void limitPageMemory();
// A resolution from the input: any value while the ceiling is in force; otherwise (a build
// whose ceiling ignores the setting) at most 600 dpi, so that no run takes seconds.
unsigned hostileResolution(uint32_t raw);

// A back channel with no printer behind it: nothing to read, drains done at once.
class SilentChannel : public Channel {
 public:
  ssize_t backRead(unsigned char *, size_t, double, bool) override { return -1; }
  void drain(double, const std::function<bool()> &) override {}
  void interruptRead() override {}
};
