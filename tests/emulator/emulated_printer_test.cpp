// The printer on its own, as an in-process job runner uses it: each page leaves through the sink
// as soon as it has ended, with what the language carries from page to page, and a sink that
// fails ends the job.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "emulated_printer.h"

using namespace std::string_literals;

namespace {

struct Pages : emu::PageSink {
  std::vector<emu::PrintedPage> pages;
  size_t failAt = SIZE_MAX;  // pages taken before the sink fails
  emu::SinkStatus page(emu::PrintedPage &page, std::string &error) override {
    if (pages.size() == failAt) {
      error = "disk full";
      return emu::SinkStatus::Failed;
    }
    pages.push_back(std::move(page));
    return emu::SinkStatus::Ok;
  }
};

void feed(emu::EmulatedPrinter &printer, const std::string &bytes) {
  printer.receive(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), 0);
}

emu::PrinterSetup model(int number) {
  emu::PrinterSetup setup;
  setup.model = number;
  return setup;
}

const std::string kZplGraphic = "~DGR:A,6,2,\nFFFF0000FFFF\n";
const std::string kZplLabel = "^XA^XGR:A^XZ\n";

}  // namespace

TEST(EmulatedPrinter, EachPageLeavesAsItEnds) {
  struct Case {
    int model;
    std::string first, second;  // the second uses what the first left in the printer
    int width, height;          // of the second page
  };
  const Case cases[] = {
      {22, "\x1F\x11\x35\x00\x1D\x76\x30\x00\x04\x00\x03\x00"s + std::string(12, '\xAA'),
       "\x1D\x76\x30\x00\x02\x00\x01\x00\xFF\x01"s, 16, 1},
      {18, kZplGraphic + kZplLabel, kZplLabel, 16, 3},
      {32, "\033E\033*r16S\033*r2T\033*r1A\033*b0M\033*b2W\xFF\x00\033*rB\f"s,
       "\033*r1A\033*b2W\xF0\x0F\033*rB\f"s, 16, 2},
  };
  for (const Case &c : cases) {
    Pages sink;
    emu::EmulatedPrinter printer(model(c.model), sink);
    feed(printer, c.first);
    EXPECT_EQ(sink.pages.size(), 1u) << c.model;
    feed(printer, c.second);
    EXPECT_EQ(sink.pages.size(), 2u) << c.model;
    EXPECT_TRUE(printer.finish(0)) << printer.streamError();
    ASSERT_EQ(sink.pages.size(), 2u) << c.model;
    const emu::PrintedPage &p = sink.pages[1];
    EXPECT_EQ(std::tuple(p.number, p.image.width, p.image.height), std::tuple(2, c.width, c.height))
        << c.model;
  }
}

TEST(EmulatedPrinter, ASinkThatFailsEndsTheJob) {
  Pages sink;
  sink.failAt = 1;
  emu::EmulatedPrinter printer(model(18), sink);
  feed(printer, kZplGraphic + kZplLabel + kZplLabel + kZplLabel);
  EXPECT_TRUE(printer.stopped());
  EXPECT_FALSE(printer.overLimit());
  EXPECT_FALSE(printer.finish(0));
  EXPECT_EQ(printer.streamError(), "disk full");
  EXPECT_EQ(sink.pages.size(), 1u);
}
