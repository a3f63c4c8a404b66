// The monitor thread and the blocking status queries (paper, cover, idle), the drain request
// and the millisecond wait.
#pragma once

void mymonInit();
void *mon(void *param);
int GetPaperStatus();
int GetCoverStatus();
void waitFree();
int getHardVer();
void SendNow();
void mysleep(unsigned int millisecond);
// Whole-second sleep of the waits (through the channel layer, so tests can run it virtually).
void sleepSeconds(unsigned int seconds);
