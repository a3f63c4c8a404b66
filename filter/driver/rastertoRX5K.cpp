// Program entry of the filter: the CUPS descriptors and the process's signal handling around
// one job.
#include <malloc.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/job.h"

int main(int argc, char *argv[]) {
  // The handler goes in first, so that a cancel arriving during the start is not lost.
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  sigemptyset(&action.sa_mask);
  action.sa_handler = CancelJob;
  sigaction(SIGTERM, &action, nullptr);
  // A backend that goes away must end the job, not kill the filter.
  signal(SIGPIPE, SIG_IGN);
  setbuf(stderr, nullptr);
  // Page buffers come and go in sizes that vary from page to page; a fixed threshold keeps
  // them out of the heap, so a long job cannot fragment it and grow.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  // Before the raster file is opened, which must not take the channels' descriptors.
  CupsChannel::prepareDescriptors();

  FdSink printer(1);
  FdLogSink log(2);
  CupsChannel channel;
  RealClock clock;
  FilterEnvironment environment{{printer, log, channel, clock}};
  environment.ppdPath = std::getenv("PPD");
  environment.canceled = &sigtermFlag();
  return rastertoRX5K(argc, argv, environment);
}
