// The thermal printers' byte commands. Each is a process-wide array patched in place: a patched
// byte keeps its value for the rest of the job.
#pragma once

extern unsigned char bCmdDensity[4];
extern unsigned char bCmdSpecial[4];
extern unsigned char bCmdAntiwrinkling[4];
extern unsigned char bCmdGap[3];
extern unsigned char bCmdMode[19];
extern unsigned char bCmdPaper[4];
extern unsigned char bCmdCompressionOn[4];
extern unsigned char bCmdCompressionOff[4];
extern unsigned char bCmdBMP[8];
extern unsigned char bCmdAfter[3];

// Status queries.
extern const unsigned char findpaper[3];
extern const unsigned char askCover[3];
extern const unsigned char freeQuery[3];  // "free" would shadow the C library's free()

// Restores every array to its initial bytes (a new job; used by tests between jobs).
void resetThermalCommands();
