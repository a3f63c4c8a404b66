// Decoders of the seven label languages: a printer stream back into label images, with a
// readable log of the commands around the rows. Independent of the filter's encoders.
//
// The decoder is incremental: bytes go in as they arrive, in any split, and each label comes out
// as soon as its end has arrived. It keeps what the language carries from label to label (a
// stored graphic, job settings), the label being painted and at most one unfinished command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace emu {

struct LabelPage {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> dots;    // 0 black, 255 white, row-major
  std::vector<std::string> commands;  // decodeLabelStream only: the commands since the last page
  bool printed = false;               // closed by the language's print command
};

struct LabelDecodeOptions {
  // Model 20 only: bytes per row; its stream carries no row length.
  int rowBytes = 0;
  // Largest label accepted, in dots (width × height); larger labels and graphics are an error.
  uint64_t maxDots = uint64_t{1} << 26;
  // Largest total of all labels of the stream, in dots.
  uint64_t maxJobDots = UINT64_MAX;
  // Dots that the stream's graphics and rows may fill, paint and render all told: a stored
  // graphic costs its dots at its download and again at every recall, a label its dots when it
  // is rendered. Beyond it the decoder stops with an error of size.
  uint64_t maxWorkDots = UINT64_MAX;
};

// Where the decoder puts what it finds, as it finds it.
class LabelOutput {
 public:
  virtual ~LabelOutput() = default;
  // A command other than row data, as readable text, at its stream offset.
  virtual void command(size_t offset, const std::string &text) = 0;
  // A label has ended; the receiver may take its dots. False stops the decoder.
  virtual bool page(LabelPage &page) = 0;
};

class LabelDecoder {
 public:
  LabelDecoder(int model, const LabelDecodeOptions &options, LabelOutput &output);
  ~LabelDecoder();
  LabelDecoder(const LabelDecoder &) = delete;
  LabelDecoder &operator=(const LabelDecoder &) = delete;

  // Decodes n more bytes. False once the stream is malformed (error()) or the output stopped
  // the decoder; later calls do nothing.
  bool feed(const unsigned char *data, size_t n);
  // End of the stream: decodes what waited for more bytes and closes a label whose print command
  // never came (printed = false). False on an error.
  bool finish();

  // "offset N: what went wrong"; empty while the stream is well formed.
  const std::string &error() const;
  // The error is a size the decoder refuses (a label, graphic or row beyond maxDots, or the
  // stream's labels beyond maxJobDots), not a malformed command.
  bool overLimit() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

struct LabelDecodeResult {
  bool ok = false;
  std::string error;             // why the stream could not be parsed, with the byte offset
  std::vector<LabelPage> pages;  // also the pages decoded before an error
};

// Decodes a whole stream at once (tests and tools). Each page lists the commands that came
// after the previous page ended.
LabelDecodeResult decodeLabelStream(int model, const std::string &bytes,
                                    const LabelDecodeOptions &options = {});

}  // namespace emu
