// Job-wide state of the filter and the job lifecycle: arguments, options, PPD, page loop,
// trailer, exit status.
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>
#include <atomic>

// Set to 1 once the job is cancelled (SIGTERM, or the printer's cancel report). Polled by every
// wait; written from the signal handler and from both threads, hence lock-free atomic.
extern std::atomic<int> Canceled;
// Read by the monitor thread for its progress lines, hence atomic too.
extern std::atomic<int> Page;       // current page, from 1
extern std::atomic<int> TotalPage;  // pages announced by the job options
extern int ModelNumber;

// Image settings read once per job (lightOffset per page).
extern int blacklevel;
extern int graylevel;
extern int mirrorPrint;
extern int sketchPrint;
extern int lightOffset;

// Model families.
bool isThermalModel(int model);
bool isLabelModel(int model);

// SIGTERM handler: only sets Canceled.
void CancelJob(int sig);

// Job set-up: model number and the job-level bytes of two label languages.
void Setup(ppd_file_t *ppd);

// The whole filter run, from the CUPS filter arguments to the exit status.
int rastertoRX5K(int argc, char *argv[]);
