// The printer language a job speaks, chosen once per job from the model table: what it sends at
// the job's start, whether a page fits its commands, the page set-up, each row, the page end and
// the job end. The driver's page loop calls these in order and knows no model family; each
// language keeps its own command state from page to page.
#pragma once

#include <string>

#include "base/page.h"

enum class PageResult {
  Sent,      // the page went out whole
  Canceled,  // the job was cancelled; what was left of the page was dropped
  Failed,    // the page could not be sent; an "ERROR:" line says why
};

// A model without a language of its own: it sends nothing but what every model sends (the
// page header's dump, the flush at the page end). Each language overrides what it sends.
class PrinterLanguage {
 public:
  virtual ~PrinterLanguage() = default;

  // Before the first page.
  virtual void startJob() {}
  // Before each page's header is checked (the pause some printers need between pages).
  virtual void beforePage() {}
  // True when the page's numbers fit the commands that will carry them; otherwise false with
  // the reason. Asked before anything of the page is sent, so that a hostile size cannot turn
  // pixels into commands.
  virtual bool pageFits(const Page &, std::string & /*reason*/) const { return true; }
  // True when the page goes on continuous media, as its set-up leaves the printer (the geometry
  // lengthens such pages to the sheet).
  virtual bool continuousMedia(const Page &) const { return false; }
  // The page's set-up: ready wait, options, set-up commands; sets the page's settings.
  virtual void startPage(Page &) {}
  // Once the pipeline has finished the page: the buffers its rows go to; false with the reason
  // when they cannot be had.
  virtual bool startRows(Page &, std::string & /*reason*/) { return true; }
  // Row y of the finished page.
  virtual void row(Page &, int /*y*/) {}
  // Sends what is left of the page and its end.
  virtual PageResult endPage(Page &) { return PageResult::Sent; }
  // After the last page (or a cancel): the job's trailer bytes.
  virtual void endJob() {}
  // After the trailer and the job's last message: the wait for the printer to finish.
  virtual void waitJobDone() {}
};
