// PPD choice helpers.
#include "driver/choices.h"

#include <cctype>
#include <climits>

const char *markedChoice(ppd_file_t *ppd, const char *keyword) {
  if (!ppd) return nullptr;
  ppd_choice_t *choice = ppdFindMarkedChoice(ppd, keyword);
  return choice ? choice->choice : nullptr;
}

int choiceInt(const char *name) {
  if (!name) return 0;
  const unsigned char *p = reinterpret_cast<const unsigned char *>(name);
  while (std::isspace(*p)) p++;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  long long value = 0;
  for (; std::isdigit(*p); p++) {
    value = value * 10 + (*p - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}
