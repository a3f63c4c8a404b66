// Per-page steps dispatched by model family. (Placeholder until the driver lands.)
#include "driver/page_steps.h"

void StartPage(ppd_file_t *, cups_page_header2_t *) {}
void OutputLine(ppd_file_t *, cups_page_header2_t *, int) {}
void EndPage(ppd_file_t *, cups_page_header2_t *) {}
