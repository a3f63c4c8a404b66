// Decoders of the seven label languages: a printer stream back into label images, with a
// readable log of the commands around the rows. Independent of the filter's encoders.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace emu {

struct LabelPage {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> dots;    // 0 black, 255 white, row-major
  std::vector<std::string> commands;  // prologue and page-end commands, as readable text
  bool printed = false;               // closed by the language's print command
};

struct LabelDecodeResult {
  bool ok = false;
  std::string error;             // why the stream could not be parsed, with the byte offset
  std::vector<LabelPage> pages;  // also the pages decoded before an error
};

struct LabelDecodeOptions {
  // Model 20 only: bytes per row; its stream carries no row length.
  int rowBytes = 0;
  // Largest page accepted, in dots (width × height); larger pages are an error.
  size_t maxDots = size_t(1) << 28;
};

// Decodes the whole stream that the filter wrote for a label model (0, 16, 17, 18, 19, 20, 32).
// Pages whose stream ends before their print command come back with printed = false.
LabelDecodeResult decodeLabelStream(int model, const std::string &bytes,
                                    const LabelDecodeOptions &options = {});

}  // namespace emu
