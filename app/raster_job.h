// PAPPL's raster callbacks on the filter's core: a job hands the core the PPD choices its IPP
// attributes stand for, and each page goes through the core's page steps (ready waits, pipeline,
// printer commands) to the printer's device, its status reports back through the device.
//
// PAPPL pushes a page's rows one at a time while the core pulls them after its page set-up (and
// after the wait for a ready printer): the rows are kept until the page's end, then the core
// prints the page from them. The core holds a whole page anyway, so this doubles at most the
// page's 8-bit size, and the device sees nothing of a page that fails its checks.
#pragma once

#include <pappl/pappl.h>

namespace app {

// The most jobs that print at once, all printers together (others wait); before the server runs.
void setJobsAtOnce(int count);

// Sets the raster callbacks in a driver's data; the data's extension is the PrinterModel.
void setRasterCallbacks(pappl_pr_driver_data_t &data);

}  // namespace app
