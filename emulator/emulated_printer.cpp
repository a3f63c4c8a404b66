// The emulated printer: parser and decoder events become log lines, query answers and pages.
#include "emulated_printer.h"

#include "base/models.h"
#include "label_decoders.h"

namespace emu {

namespace {

std::string hexOf(const std::string &bytes) {
  return hexBytes(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
}

std::string padded(const std::string &text, size_t width) {
  return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

}  // namespace

// The label decoder's commands go to the log, its labels on as pages.
class EmulatedPrinter::LabelPages : public LabelOutput {
 public:
  explicit LabelPages(EmulatedPrinter &printer) : printer_(printer) {}
  void command(size_t offset, const std::string &text) override {
    printer_.logLine(printer_.now_, offset, "label", "", text);
  }
  bool page(LabelPage &label) override {
    PrintedPage page;
    page.number = ++printer_.pages_;
    page.label = true;
    page.encoding = label.printed ? "label" : "label-unprinted";
    if (!label.printed)
      printer_.logLine(printer_.now_, printer_.received_, "label", "",
                       "label " + std::to_string(page.number) + " has no print command");
    page.image = GrayImage{label.width, label.height, std::move(label.dots)};
    return printer_.deliver(page);
  }

 private:
  EmulatedPrinter &printer_;
};

EmulatedPrinter::EmulatedPrinter(const PrinterSetup &setup, std::FILE *summary)
    : setup_(setup),
      summary_(summary),
      script_(setup.script, setup.model),
      parser_(static_cast<size_t>(setup.limits.pageDots / 8)),
      label_(isLabelModel(setup.model)) {
  if (label_) {
    LabelDecodeOptions options;
    options.rowBytes = setup.labelRowBytes;
    options.maxDots = setup.limits.pageDots;
    options.maxJobDots = setup.limits.jobDots;
    options.maxWorkDots = setup.limits.decodeDots;
    labelPages_ = std::make_unique<LabelPages>(*this);
    labels_ = std::make_unique<LabelDecoder>(setup.model, options, *labelPages_);
  }
}

EmulatedPrinter::EmulatedPrinter(const PrinterSetup &setup, PageSink &pages, CommandLog *log)
    : EmulatedPrinter(setup, nullptr) {
  pageSink_ = &pages;
  log_ = log;
  startLog();
}

EmulatedPrinter::~EmulatedPrinter() = default;

bool EmulatedPrinter::open(std::string &error) {
  ownFolder_ = OutputFolder::program(setup_.outDir, setup_.limits, summary_, error);
  if (!ownFolder_) return false;
  pageSink_ = ownFolder_.get();
  log_ = ownFolder_.get();
  startLog();
  return true;
}

void EmulatedPrinter::startLog() {
  logText("# model " + std::to_string(setup_.model) + (setup_.modelName.empty() ? "" : " ") +
          setup_.modelName + ", " + (label_ ? "label" : "thermal") +
          " stream; printer: sheet gap " + std::to_string(script_.sheetGap()) + ", idle report " +
          std::to_string(script_.idleReportMs()) + " ms");
  if (log_) log_->flush();
}

void EmulatedPrinter::logText(const std::string &text) {
  if (!log_) return;
  std::string error;
  if (SinkStatus status = log_->line(text, error); status != SinkStatus::Ok)
    failSink(status, error);
}

void EmulatedPrinter::logLine(double t, size_t offset, const std::string &name,
                              const std::string &bytes, const std::string &text) {
  if (!log_) return;
  char head[48];
  std::snprintf(head, sizeof head, "[%8.3f] %9zu  ", t, offset);
  logText(head + padded(name, 15) + " " + padded(bytes, 23) + " " + text);
}

void EmulatedPrinter::note(double t, const std::string &text) {
  logLine(t, received_, "note", "", text);
  if (log_) log_->flush();
}

void EmulatedPrinter::report(const std::string &bytes, double t, const char *why) {
  if (bytes.empty()) return;
  logLine(t, parser_.offset(), "report", hexOf(bytes),
          std::string(why) + ": " + describeReports(bytes));
  if (sendReport) sendReport(bytes);
}

void EmulatedPrinter::fail(Failure kind, const std::string &error) {
  if (kind != Failure::Stream) stopped_ = true;
  if (!streamError_.empty()) return;
  streamError_ = error;
  failure_ = kind;
  if (!log_) return;
  // Past a cap the log itself may take no more: the line is then lost, not a second failure.
  std::string ignored;
  log_->line("ERROR: " + error, ignored);
  log_->flush();
}

void EmulatedPrinter::failSink(SinkStatus status, const std::string &error) {
  fail(status == SinkStatus::OverLimit ? Failure::OverLimit : Failure::Output, error);
}

void EmulatedPrinter::labelFailure() {
  // Without an error the decoder was stopped by a page that could not be handed on.
  if (labels_->error().empty()) return;
  fail(labels_->overLimit() ? Failure::OverLimit : Failure::Stream,
       "label stream: " + labels_->error());
}

bool EmulatedPrinter::deliver(PrintedPage &page) {
  if (stopped_) return false;
  std::string error;
  SinkStatus status = pageSink_ ? pageSink_->page(page, error) : SinkStatus::Ok;
  if (status == SinkStatus::Ok) return true;
  failSink(status, error);
  return false;
}

void EmulatedPrinter::receive(const unsigned char *data, size_t n, double t) {
  if (stopped_) return;
  now_ = t;
  if (n > setup_.limits.jobBytes - received_) {
    fail(Failure::OverLimit, "the job's stream is longer than " +
                                 std::to_string(setup_.limits.jobBytes) + " bytes (max-job-bytes)");
    return;
  }
  received_ += n;
  std::string error;
  if (SinkStatus status = pageSink_ ? pageSink_->stream(data, n, error) : SinkStatus::Ok;
      status != SinkStatus::Ok) {
    failSink(status, error);
    return;
  }
  if (!streamOk()) return;
  if (label_) {
    if (!labels_->feed(data, n)) labelFailure();
    return;
  }
  events_.clear();
  bool ok = parser_.feed(data, n, events_);
  for (const ThermalEvent &e : events_) {
    if (stopped_) break;
    handle(e, t);
  }
  events_.clear();  // a page's bitmap is not kept once it is handed on
  if (!ok) fail(Failure::Stream, parser_.error());
}

void EmulatedPrinter::drain(double t) {
  if (!label_ && streamOk()) {
    events_.clear();
    parser_.flushFiller(events_);
    for (const ThermalEvent &e : events_) handle(e, t);
  }
  logLine(t, received_, "drain", "", "");
  if (log_) log_->flush();
}

void EmulatedPrinter::tick(double t) {
  report(script_.due(t), t, "volunteered");
}

void EmulatedPrinter::handle(const ThermalEvent &e, double t) {
  if (log_)
    logLine(t, e.offset, thermalCommandName(e.command), hexBytes(e.bytes.data(), e.bytes.size()),
            describeThermalEvent(e));
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
      const int page = parser_.bitmapsStarted();
      const uint64_t width = 8 * static_cast<uint64_t>(e.bytes[4] | e.bytes[5] << 8);
      const uint64_t dots = width * static_cast<uint64_t>(e.bytes[6] | e.bytes[7] << 8);
      const std::string which = "page " + std::to_string(page);
      if (dots > setup_.limits.pageDots) {
        fail(Failure::OverLimit, which + " has " + std::to_string(dots) + " dots, more than " +
                                     std::to_string(setup_.limits.pageDots) + " (max-page-dots)");
        return;
      }
      if (dots > setup_.limits.jobDots - jobDots_) {
        fail(Failure::OverLimit, which + " would bring the job to more than " +
                                     std::to_string(setup_.limits.jobDots) +
                                     " dots (max-job-dots)");
        return;
      }
      jobDots_ += dots;
      report(script_.bitmapStarted(page, t), t, which.c_str());
      if (pageStarted) pageStarted(page);
      break;
    }
    case ThermalCommand::BitmapData: {
      const ThermalBitmap &b = *e.bitmap;
      PrintedPage page;
      page.number = ++pages_;
      page.encoding = b.compressed ? "LZO" : "raw";
      page.frames = b.frames;
      page.image = GrayImage{b.bytewidth * 8, b.rows, bitmapDots(b)};
      if (!deliver(page)) return;
      report(script_.bitmapDone(pages_, t), t,
             ("page " + std::to_string(pages_) + " done").c_str());
      break;
    }
    default:
      break;
  }
}

bool EmulatedPrinter::finish(double t) {
  if (finished_) return streamOk();
  finished_ = true;
  now_ = t;
  if (label_ && streamOk()) {
    if (!labels_->finish()) labelFailure();
  } else if (streamOk()) {
    events_.clear();
    bool ok = parser_.finish(events_);
    for (const ThermalEvent &e : events_) handle(e, t);
    if (!ok) fail(Failure::Stream, parser_.error());
  }
  const char *how = streamOk()                       ? ""
                    : failure_ == Failure::Stream    ? ", stream error"
                    : failure_ == Failure::OverLimit ? ", ended by a cap"
                                                     : ", output failed";
  logLine(t, received_, "end", "", std::to_string(pages_) + " page(s)" + how);
  if (log_) log_->flush();
  return streamOk();
}

}  // namespace emu
