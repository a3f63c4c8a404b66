// Status record and report parser. (Placeholder until the parser lands.)
#include "monitor/status.h"

MON mymon;

void pocessRead(const unsigned char *, ssize_t) {}
