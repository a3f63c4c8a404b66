// Fuzzes the emulator's label decoders with arbitrary streams: whatever the bytes, a decoder
// returns an error or pages, every page it returns is whole, and it finds the same commands,
// pages and error whether the stream arrives whole or in small pieces (the printer receives it
// in whatever pieces the backend reads).
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "label_decoders.h"

namespace {

struct Decoded : emu::LabelOutput {
  bool ok = false;
  std::string error;
  std::vector<std::string> commands;
  std::vector<emu::LabelPage> pages;
  void command(size_t offset, const std::string &text) override {
    commands.push_back(std::to_string(offset) + " " + text);
  }
  bool page(emu::LabelPage &page) override {
    pages.push_back(std::move(page));
    return true;
  }
};

// Whole (split false), or in pieces of 1 to 16 bytes whose lengths the stream's own bytes give.
void decode(int model, const emu::LabelDecodeOptions &options, const std::string &stream,
            bool split, Decoded &out) {
  emu::LabelDecoder decoder(model, options, out);
  const auto *bytes = reinterpret_cast<const unsigned char *>(stream.data());
  bool fed = true;
  for (size_t at = 0, i = 0; fed && at < stream.size(); i++) {
    size_t n = split ? 1 + bytes[i % stream.size()] % 16 : stream.size();
    if (n > stream.size() - at) n = stream.size() - at;
    fed = decoder.feed(bytes + at, n);
    at += n;
  }
  out.ok = fed && decoder.finish();
  out.error = decoder.error();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput in(data, size);
  const int model = pickModel(in, ModelFamily::Label);
  emu::LabelDecodeOptions options;
  options.rowBytes = in.byte() % 64;
  options.maxDots = size_t{1} << 22;  // small pages keep every execution fast
  options.maxJobDots = size_t{1} << 24;
  const std::string stream = in.bytes(in.remaining());
  Decoded whole, pieces;
  decode(model, options, stream, false, whole);
  decode(model, options, stream, true, pieces);
  const std::string which = "model " + std::to_string(model);
  FUZZ_CHECK(whole.ok || !whole.error.empty(), which);
  FUZZ_CHECK(whole.ok == pieces.ok && whole.error == pieces.error,
             which + "\nwhole: " + whole.error + "\npieces: " + pieces.error);
  FUZZ_CHECK(whole.commands == pieces.commands, which);
  FUZZ_CHECK(whole.pages.size() == pieces.pages.size(), which);
  for (size_t i = 0; i < whole.pages.size(); i++) {
    const emu::LabelPage &page = whole.pages[i];
    FUZZ_CHECK(page.width >= 0 && page.height >= 0, "");
    FUZZ_CHECK(page.dots.size() == static_cast<size_t>(page.width) * page.height, "");
    FUZZ_CHECK(page.dots.size() <= options.maxDots, "");
    FUZZ_CHECK(page.width == pieces.pages[i].width && page.printed == pieces.pages[i].printed &&
                   page.dots == pieces.pages[i].dots,
               which + ": page " + std::to_string(i + 1));
  }
  return 0;
}
