// The printer on its own, as an in-process job runner uses it: each page leaves through the sink
// as soon as it has ended, not when the stream ends, and a sink that fails ends the job.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "emulated_printer.h"

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

}  // namespace

TEST(EmulatedPrinter, EachPageLeavesAsItEndsAndAFailingSinkEndsTheJob) {
  // A 16 x 3 graphic, then labels that print it.
  const std::string graphic = "~DGR:A,6,2,\nFFFF0000FFFF\n", label = "^XA^XGR:A^XZ\n";
  for (size_t failAt : {SIZE_MAX, size_t{1}}) {
    SCOPED_TRACE(failAt);
    Pages sink;
    sink.failAt = failAt;
    emu::PrinterSetup setup;
    setup.model = 18;
    emu::EmulatedPrinter printer(setup, sink);
    for (const std::string &bytes : {graphic + label, label, label}) {
      const size_t before = sink.pages.size();
      printer.receive(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), 0);
      EXPECT_EQ(sink.pages.size(), std::min(before + 1, failAt));
    }
    EXPECT_EQ(printer.stopped(), failAt == 1);
    EXPECT_EQ(printer.finish(0), failAt != 1);
    EXPECT_FALSE(printer.overLimit());
    EXPECT_EQ(printer.streamError(), failAt == 1 ? "disk full" : "");
    EXPECT_EQ(sink.pages.back().number, failAt == 1 ? 1 : 3);
  }
}
