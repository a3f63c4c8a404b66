// Fuzzes the emulator's label decoders with arbitrary streams: whatever the bytes, a decoder
// returns an error or pages, and every page it returns is whole.
#include <string>

#include "fuzz_support.h"
#include "label_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const int models[] = {0, 16, 17, 18, 19, 20, 32};
  FuzzInput in(data, size);
  const int model = in.pick(models);
  emu::LabelDecodeOptions options;
  options.rowBytes = in.byte() % 64;
  options.maxDots = size_t{1} << 22;  // small pages keep every execution fast
  const emu::LabelDecodeResult result =
      emu::decodeLabelStream(model, in.bytes(in.remaining()), options);
  FUZZ_CHECK(result.ok || !result.error.empty(), "model " + std::to_string(model));
  for (const emu::LabelPage &page : result.pages) {
    FUZZ_CHECK(page.width >= 0 && page.height >= 0, "");
    FUZZ_CHECK(page.dots.size() == static_cast<size_t>(page.width) * page.height, "");
    FUZZ_CHECK(page.dots.size() <= options.maxDots, "");
  }
  return 0;
}
