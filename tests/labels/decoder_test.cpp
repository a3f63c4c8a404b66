// The emulator's label decoders on streams other than clean round trips: labels leaving the
// incremental decoder as they end, the command log, unprinted labels, errors that name their
// offset and hostile sizes (arbitrary bytes, whole and in pieces, are the label-stream fuzzer's).
#include <gtest/gtest.h>

#include "label_decoders.h"
#include "label_harness.h"
#include "support/capture.h"

namespace {

// A small page of every model, encoded by the filter.
std::string sampleStream(int model) {
  Ppd ppd = labelPpd("zePrintRate=4 zeMediaTracking=Web");
  CapturedIO io;
  io.printer() = jobLevelBytes(model);
  ModelNumber = model;
  Page = 1;
  Canceled = 0;
  DotPage page{24, 6, std::vector<unsigned char>(24 * 6, 255)};
  cups_page_header2_t header = labelHeader(24, 6);
  header.cupsCompression = 50;
  header.PageSize[1] = 72;
  runLabelPage(ppd.get(), header, page);
  return io.printer();
}

emu::LabelDecodeResult decode(int model, const std::string &bytes) {
  emu::LabelDecodeOptions options;
  options.rowBytes = 3;
  options.maxDots = 1 << 20;
  return emu::decodeLabelStream(model, bytes, options);
}

// Fed one byte at a time, every language gives out its first label before the second label's
// bytes have come (at most one byte after its own end), and the same labels as a whole stream.
TEST(LabelDecoder, EachLabelLeavesOnceItsEndHasArrived) {
  for (int model : {0, 16, 17, 18, 19, 20, 32}) {
    const std::string page = sampleStream(model);
    const std::string stream = page + page;
    struct Labels : emu::LabelOutput {
      std::vector<emu::LabelPage> pages;
      void command(size_t, const std::string &) override {}
      bool page(emu::LabelPage &label) override {
        pages.push_back(std::move(label));
        return true;
      }
    } out;
    emu::LabelDecodeOptions options;
    options.rowBytes = 3;
    emu::LabelDecoder decoder(model, options, out);
    size_t firstOutAt = 0;
    for (size_t i = 0; i < stream.size(); i++) {
      ASSERT_TRUE(decoder.feed(reinterpret_cast<const unsigned char *>(stream.data()) + i, 1))
          << model << ": " << decoder.error();
      if (!firstOutAt && !out.pages.empty()) firstOutAt = i + 1;
    }
    ASSERT_TRUE(decoder.finish()) << model << ": " << decoder.error();
    EXPECT_GT(firstOutAt, 0u) << model;
    EXPECT_LE(firstOutAt, page.size() + 1) << model;
    const emu::LabelDecodeResult whole = decode(model, stream);
    ASSERT_EQ(out.pages.size(), whole.pages.size()) << model;
    for (size_t i = 0; i < whole.pages.size(); i++) {
      EXPECT_EQ(out.pages[i].dots, whole.pages[i].dots) << model;
      EXPECT_EQ(out.pages[i].width, whole.pages[i].width) << model;
    }
  }
}

TEST(LabelDecoder, LogsTheCommandsAroundTheRows) {
  struct Case {
    int model;
    std::vector<std::string> commands;
  };
  const Case cases[] = {
      {0, {"ESC @", "ESC L 203", "ESC D 3", "ESC 0x67 (darkness 4)", "ESC E"}},
      {17, {"N", "S4", "D7", "q24", "P1"}},
      {18,
       {"~SD15", "~DGR:CUPS.GRF,18,3,", "^XA", "^PR4,4,4", "^LH0,0", "^MNY", "^MMC,Y", "^FO0,0",
        "^XGR:CUPS.GRF,1,1", "^FS", "^IDR:CUPS.GRF", "^FS", "^XZ"}},
      {20, {"PRINT 1,1"}},
  };
  for (const Case &c : cases) {
    emu::LabelDecodeResult result = decode(c.model, sampleStream(c.model));
    ASSERT_TRUE(result.ok) << c.model << ": " << result.error;
    ASSERT_EQ(result.pages.size(), 1u) << c.model;
    EXPECT_EQ(result.pages[0].commands, c.commands) << c.model;
  }
}

TEST(LabelDecoder, CancelledZplLabelIsNotPrinted) {
  // The download deleted after its rows, or cut short inside its data.
  for (const char *bytes : {"~DGR:CUPS.GRF,6,2,\n~DN\n", "~DGR:CUPS.GRF,6,2,\nFFFF~DN\n"}) {
    emu::LabelDecodeResult result = decode(18, bytes);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.pages.size(), 1u);
    EXPECT_FALSE(result.pages[0].printed);
    EXPECT_EQ(result.pages[0].commands.back(), "~DN");
  }
}

TEST(LabelDecoder, ErrorsNameTheOffset) {
  struct Case {
    int model;
    std::string bytes;
    std::string error;
  };
  const Case cases[] = {
      {0, "\033D\x02\x16\x01", "offset 3: no row length fits the row data"},
      {0, "\x16\x01\x02", "offset 0: row before ESC D set the row length"},
      {16, "\033g01", "offset 0: ESC g without a three-digit length"},
      {17, "GW0,0,4,1\nAB", "offset 10: GW data shorter than announced"},
      {18, "~DGR:X,4,2,\nFF", "offset 14: graphic data ends after 2 of 8 digits"},
      {19, "CG 2 1 0 x ", "offset 0: CG needs bytes, rows, x and y"},
      {32, "\033*b2W\x01\x02", "offset 0: raster row outside raster graphics"},
      {32, "\033*r8S\033*r1T\033*r1A\033*b3M\033*b2W\x3F\x01",
       "offset 27: delta row ends inside its "
       "replacement bytes"},
      {32, "\033*r8S\033*r1T\033*r1A\033*b5M\033*b1W\x01",
       "offset 20: compression mode 5 is not "
       "supported"},
      {20, "", ""},
  };
  for (const Case &c : cases) {
    emu::LabelDecodeResult result = decode(c.model, c.bytes);
    EXPECT_EQ(result.ok, c.error.empty()) << c.model;
    EXPECT_EQ(result.error, c.error) << c.model;
  }
  EXPECT_FALSE(emu::decodeLabelStream(20, "\x01\x02").ok);  // no row length given
  EXPECT_FALSE(emu::decodeLabelStream(5, "").ok);           // not a label model
}

TEST(LabelDecoder, HostileSizesAreRefusedNotAllocated) {
  std::string skips;  // 5000 skips of 255 rows
  for (int i = 0; i < 5000; i++) skips += "\033f\x01\xFF";
  struct Case {
    int model;
    std::string bytes;
  };
  const Case cases[] = {
      {18, "~DGR:X,2000000000,1000,\n,"},
      {32, "\033*r99999999999S\033*r1T\033*r1A"},
      {32, "\033*r4000S\033*r4000T\033*r1A"},
      {19, "! 0 203 203 100000 1\r\nPAGE-WIDTH 100000\r\nPRINT\r\n"},
      {17, "q8\nGW0,999999999,1,1\n\x01\nP1\n"},
      {0, "\033D\x01\033c" + skips + "\x16\x01"},
  };
  for (const Case &c : cases) {
    emu::LabelDecodeResult result = decode(c.model, c.bytes);
    EXPECT_FALSE(result.ok) << c.model;
    EXPECT_NE(result.error.find("larger than the decoder accepts"), std::string::npos)
        << c.model << ": " << result.error;
  }
}

}  // namespace
