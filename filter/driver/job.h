// A filter job and its lifecycle: arguments, options, choices, job set-up, monitor thread, page
// loop, trailer, exit status. The pieces (startJob, the page steps, endJob) also serve front
// ends other than the filter program, such as the printer application.
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/page.h"
#include "base/printer_language.h"
#include "monitor/status.h"
#include "pipeline/pipeline.h"

struct Job : MonitorJob {
  using MonitorJob::MonitorJob;

  // The language of the job's model, chosen by Setup; it keeps its command state from page to
  // page.
  std::unique_ptr<PrinterLanguage> printer = std::make_unique<PrinterLanguage>();

  // The filter's raster stream, PPD and options (unused by other front ends).
  int fd = 0;                // the raster's descriptor; closed at the end when the job opened it
  uint64_t rasterBytes = 0;  // bytes the raster library has read
  cups_raster_t *ras = nullptr;
  ppd_file_t *ppd = nullptr;
  int num_options = 0;
  cups_option_t *options = nullptr;
  PpdChoices ppdChoices{nullptr};

  // Image settings, read once per job (lightOffset per page).
  int blacklevel = 4;
  int graylevel = 7;
  int mirrorPrint = 0;
  int sketchPrint = 0;
  int lightOffset = 0;

  bool ownsFd = false;
  bool failed = false;  // a page could not be printed: exit status 1
  int pagesSent = 0;    // pages that went out to their page end
};

// What a filter run needs besides its arguments: the seams, the PPD and the cancel flag.
struct FilterEnvironment {
  JobSeams seams;
  const char *ppdPath = nullptr;               // the PPD (the filter: getenv("PPD"))
  int inputFd = 0;                             // the raster without a file name (standard input)
  const char *language = nullptr;              // the message language (null: cupsLangDefault())
  const std::atomic<int> *canceled = nullptr;  // a flag that cancels the job (SIGTERM)
  int *pagesSent = nullptr;                    // receives the pages sent whole, if given
};

// The filter run, from the CUPS filter arguments to the exit status.
int rastertoRX5K(int argc, char *argv[], const FilterEnvironment &environment);

// SIGTERM handler: sets the process's cancel flag, which its jobs observe; nothing else.
void CancelJob(int sig);
// The flag CancelJob sets.
const std::atomic<int> &sigtermFlag();

// Job set-up: the model number (from the PPD when given), its printer language and what that
// sends before the first page.
void Setup(Job &job, ppd_file_t *ppd);
// The printer language of the job's model (job.model), chosen from the model table.
std::unique_ptr<PrinterLanguage> choosePrinter(Job &job);
// After Setup: the message language, the image choices, the status record and the monitor
// thread. False (with its line written) when the thread cannot be created.
bool startJob(Job &job, const char *language);

enum class PageEnd { Next, Stop };
// A page whose header has been read into page.header: its "PAGE:" line, the pause between
// pages, the checks of its header; then set-up, pipeline (rows through read), rows, bitmap and
// page end. Stop when the job must end here.
PageEnd printPage(Job &job, Page &page, const RowReader &read);
// The job's end: trailer, idle wait, monitor stop, "INFO:".
void endJob(Job &job);
// Exit status of the job: 1 when no page was read or a page failed, else 0.
int jobExitStatus(const Job &job);
