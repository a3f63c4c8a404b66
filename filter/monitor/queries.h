// The monitor thread, which reads the printer's status reports while a page is processed, and
// the blocking status queries (paper, cover, idle) of the page set-up and the job end, with the
// hand-over of the back channel between them; the drain request and the waits.
#pragma once

#include "monitor/status.h"

// Status query commands (written into the printer stream; the answers come back as reports).
extern const unsigned char findpaper[3];
extern const unsigned char askCover[3];
extern const unsigned char freeQuery[3];  // "free" would shadow the C library's free()

// Resets the status record for a new job; the monitor thread starts paused.
void mymonInit(MonitorJob &job);
// The monitor thread's body (param: the MonitorJob).
void *mon(void *param);
// Starts the monitor thread; false with the error number when it cannot be created.
bool startMonitor(MonitorJob &job, int &error);
// Sets the monitor thread's run state (0 stop, 1 paused, 2 watching) and wakes it at once.
void setMonitorStatus(MonitorJob &job, unsigned char status);
// Stops the monitor thread and waits for its end (immediate: its waits are woken).
void stopMonitor(MonitorJob &job);

int GetPaperStatus(MonitorJob &job);
int GetCoverStatus(MonitorJob &job);
void waitFree(MonitorJob &job);
int getHardVer(const MonitorJob &job);
void SendNow(JobBase &job);
void mysleep(JobBase &job, unsigned int millisecond);
// Whole-second sleep of the waits.
void sleepSeconds(JobBase &job, unsigned int seconds);
