// The emulated printer: parser events become log lines, query answers and page images.
#include "emulated_printer.h"

#include <cinttypes>
#include <filesystem>

#include "base/models.h"
#include "label_decoders.h"
#include "page_png.h"

namespace emu {

namespace {

std::FILE *openIn(const std::string &dir, const char *name, const char *mode, std::string &error) {
  std::string path = dir + "/" + name;
  std::FILE *f = std::fopen(path.c_str(), mode);
  if (!f) error = "cannot create " + path;
  return f;
}

std::string hexOf(const std::string &bytes) {
  return hexBytes(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
}

}  // namespace

EmulatedPrinter::EmulatedPrinter(const PrinterSetup &setup, std::FILE *summary)
    : setup_(setup),
      summary_(summary),
      script_(setup.script, setup.model),
      label_(isLabelModel(setup.model)) {}

EmulatedPrinter::~EmulatedPrinter() {
  for (std::FILE *f : {log_, raw_, pageList_}) {
    if (f) std::fclose(f);
  }
}

bool EmulatedPrinter::open(std::string &error) {
  std::error_code ec;
  std::filesystem::create_directories(setup_.outDir, ec);
  if (ec) {
    error = "cannot create " + setup_.outDir + ": " + ec.message();
    return false;
  }
  log_ = openIn(setup_.outDir, kCommandLogFile, "w", error);
  if (log_) raw_ = openIn(setup_.outDir, kRawStreamFile, "wb", error);
  if (raw_) pageList_ = openIn(setup_.outDir, kPageListFile, "w", error);
  if (!pageList_) return false;
  std::fprintf(log_, "# model %d%s%s, %s stream; printer: sheet gap %d, idle report %d ms\n",
               setup_.model, setup_.modelName.empty() ? "" : " ", setup_.modelName.c_str(),
               label_ ? "label" : "thermal", script_.sheetGap(), script_.idleReportMs());
  std::fflush(log_);
  return true;
}

void EmulatedPrinter::logLine(double t, size_t offset, const std::string &name,
                              const std::string &bytes, const std::string &text) {
  if (!log_) return;
  std::fprintf(log_, "[%8.3f] %9zu  %-15s %-23s %s\n", t, offset, name.c_str(), bytes.c_str(),
               text.c_str());
}

void EmulatedPrinter::note(double t, const std::string &text) {
  logLine(t, parser_.offset(), "note", "", text);
  if (log_) std::fflush(log_);
}

void EmulatedPrinter::report(const std::string &bytes, double t, const char *why) {
  if (bytes.empty()) return;
  logLine(t, parser_.offset(), "report", hexOf(bytes),
          std::string(why) + ": " + describeReports(bytes));
  if (sendReport) sendReport(bytes);
}

void EmulatedPrinter::failStream(const std::string &error) {
  if (!streamError_.empty()) return;
  streamError_ = error;
  if (log_) {
    std::fprintf(log_, "ERROR: %s\n", error.c_str());
    std::fflush(log_);
  }
}

void EmulatedPrinter::receive(const unsigned char *data, size_t n, double t) {
  if (raw_) std::fwrite(data, 1, n, raw_);
  if (label_) {
    labelBytes_.append(reinterpret_cast<const char *>(data), n);
    return;
  }
  if (!streamOk()) return;
  events_.clear();
  bool ok = parser_.feed(data, n, events_);
  for (const ThermalEvent &e : events_) handle(e, t);
  if (!ok) failStream(parser_.error());
}

void EmulatedPrinter::drain(double t) {
  if (!label_ && streamOk()) {
    events_.clear();
    parser_.flushFiller(events_);
    for (const ThermalEvent &e : events_) handle(e, t);
  }
  logLine(t, parser_.offset() + labelBytes_.size(), "drain", "", "");
  if (log_) std::fflush(log_);
}

void EmulatedPrinter::tick(double t) {
  report(script_.due(t), t, "volunteered");
}

void EmulatedPrinter::handle(const ThermalEvent &e, double t) {
  std::string bytes = hexBytes(e.bytes.data(), e.bytes.size());
  logLine(t, e.offset, thermalCommandName(e.command), bytes, describeThermalEvent(e));
  switch (e.command) {
    case ThermalCommand::PaperQuery:
    case ThermalCommand::CoverQuery:
    case ThermalCommand::IdleQuery: {
      std::string reply = script_.answer(e.bytes[2], t);
      if (reply.empty()) {
        logLine(t, e.offset, "answer", "", "(none)");
      } else {
        report(reply, t, "answer");
      }
      break;
    }
    case ThermalCommand::Bitmap: {
      int page = parser_.bitmapsStarted();
      report(script_.bitmapStarted(page, t), t, ("page " + std::to_string(page)).c_str());
      if (pageStarted) pageStarted(page);
      break;
    }
    case ThermalCommand::BitmapData: {
      const ThermalBitmap &b = *e.bitmap;
      ++pages_;
      writePage(b.compressed ? "LZO" : "raw", b.frames, b.bytewidth * 8, b.rows, bitmapDots(b),
                "page");
      report(script_.bitmapDone(pages_, t), t,
             ("page " + std::to_string(pages_) + " done").c_str());
      break;
    }
    default:
      break;
  }
}

void EmulatedPrinter::writePage(const std::string &encoding, int frames, int width, int height,
                                std::vector<unsigned char> dots, const char *prefix) {
  GrayImage image{width, height, std::move(dots)};
  std::string file = setup_.outDir + "/" + prefix + "-" + std::to_string(pages_) + ".png";
  std::string error;
  bool written = width > 0 && height > 0 && writeGrayPng(file, image, error);
  if (!written) file = "(no image)";
  std::string how = encoding;
  if (encoding == "LZO") {
    how += ' ';
    how += std::to_string(frames);
    how += " frames";
  }
  std::fprintf(summary_, "%s %d: %dx%d dots, %.1f%% black, %s -> %s\n", prefix, pages_, width,
               height, blackPercent(image), how.c_str(), file.c_str());
  std::fflush(summary_);
  if (!error.empty() && log_) std::fprintf(log_, "ERROR: %s\n", error.c_str());
  if (pageList_) {
    std::fprintf(pageList_, "%d\t%d\t%d\t%s\t%d\t%s\n", pages_, width, height, encoding.c_str(),
                 frames, written ? file.c_str() : "");
    std::fflush(pageList_);
  }
}

void EmulatedPrinter::decodeLabels(double t) {
  LabelDecodeOptions options;
  options.rowBytes = setup_.labelRowBytes;
  LabelDecodeResult result = decodeLabelStream(setup_.model, labelBytes_, options);
  for (const LabelPage &page : result.pages) {
    for (const std::string &command : page.commands) logLine(t, 0, "label", "", command);
    ++pages_;
    if (!page.printed) {
      logLine(t, 0, "label", "", "label " + std::to_string(pages_) + " has no print command");
    }
    writePage(page.printed ? "label" : "label-unprinted", 0, page.width, page.height, page.dots,
              "label");
  }
  if (!result.ok) failStream("label stream: " + result.error);
}

bool EmulatedPrinter::finish(double t) {
  if (finished_) return streamOk();
  finished_ = true;
  if (raw_) std::fflush(raw_);
  if (label_) {
    decodeLabels(t);
  } else if (streamOk()) {
    events_.clear();
    bool ok = parser_.finish(events_);
    for (const ThermalEvent &e : events_) handle(e, t);
    if (!ok) failStream(parser_.error());
  }
  logLine(t, parser_.offset() + labelBytes_.size(), "end", "",
          std::to_string(pages_) + " page(s)" + (streamOk() ? "" : ", stream error"));
  if (log_) std::fflush(log_);
  return streamOk();
}

}  // namespace emu
