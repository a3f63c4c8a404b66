// The three per-page steps that every model has, each handing the page to the job's printer
// language: the header dump and the set-up, row output, page end.
#pragma once

#include "driver/job.h"

// Page set-up: header dump, the language's set-up (ready wait, options, commands), row buffer.
void StartPage(Job &job, Page &page);
// Row y of the finished page.
void OutputLine(Job &job, Page &page, int y);
// Page end: what is left of the page and its closing commands, flushed.
PageResult EndPage(Job &job, Page &page);
