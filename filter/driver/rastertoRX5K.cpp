// Program entry of the filter.
#include "driver/job.h"

int main(int argc, char *argv[]) {
  return rastertoRX5K(argc, argv);
}
