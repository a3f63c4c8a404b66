// Job lifecycle. (Placeholder until the driver lands.)
#include "driver/job.h"

std::atomic<int> Canceled{0};
int Page = 0;
int TotalPage = 1;
int ModelNumber = 0;
int blacklevel = 4;
int graylevel = 7;
int mirrorPrint = 0;
int sketchPrint = 0;
int lightOffset = 0;

bool isThermalModel(int model) {
  switch (model) {
    case 21:
    case 22:
    case 23:
    case 302:
    case 400:
    case 831:
    case 64519:
    case 590314:
    case 613207:
      return true;
    default:
      return false;
  }
}

bool isLabelModel(int model) {
  switch (model) {
    case 0:
    case 16:
    case 17:
    case 18:
    case 19:
    case 20:
    case 32:
      return true;
    default:
      return false;
  }
}

void CancelJob(int) {
  Canceled.store(1);
}
void Setup(ppd_file_t *) {}
int rastertoRX5K(int, char *[]) {
  return 1;
}
