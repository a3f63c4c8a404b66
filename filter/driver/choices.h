// Reading PPD choices: the marked choice of an option, and numbers from choice names.
#pragma once

#include <cups/ppd.h>

// The name of the marked choice of keyword, or nullptr when the option is absent or unmarked.
const char *markedChoice(ppd_file_t *ppd, const char *keyword);

// The number a choice name starts with, read as atoi reads it (leading blanks, sign, digits;
// 0 for a name without digits) but without undefined behaviour: a value beyond the int range
// saturates at INT_MIN or INT_MAX.
int choiceInt(const char *name);
