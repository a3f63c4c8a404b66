// Monitor thread and status queries. (Placeholder until the queries land.)
#include "monitor/queries.h"

#include "io/channel.h"
#include "io/printer_stream.h"
#include "monitor/status.h"

void mymonInit() {
  mymon.status = 1;
  mymon.end = 0;
}
void *mon(void *) {
  mymon.end = 1;
  return nullptr;
}
int GetPaperStatus() {
  return 1;
}
int GetCoverStatus() {
  return 0;
}
void waitFree() {}
int getHardVer() {
  return 0;
}
void SendNow() {
  prnFlush();
  channel().drain(0.1);
}
void mysleep(unsigned int millisecond) {
  channel().sleepMs(millisecond);
}
void sleepSeconds(unsigned int seconds) {
  channel().sleepMs(seconds * 1000u);
}
