// Program entry of the filter.
#include <malloc.h>

#include "driver/job.h"

int main(int argc, char *argv[]) {
  // Page buffers come and go in sizes that vary from page to page; a fixed threshold keeps
  // them out of the heap, so a long job cannot fragment it and grow.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  return rastertoRX5K(argc, argv);
}
