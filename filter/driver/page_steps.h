// The three per-page steps that every model has: the header dump and the model family's
// set-up, row output and page end.
#pragma once

#include "driver/job.h"

// Page set-up: header dump, the model's branch (ready wait, options, commands), row buffer.
void StartPage(Job &job, Page &page);
// Row y of the finished page.
void OutputLine(Job &job, Page &page, int y);
// Page end: the label languages' closing commands; paper state for some thermal models.
void EndPage(Job &job, Page &page);
