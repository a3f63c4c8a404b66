// The marked choices of a job, and numbers from choice names.
#include "base/choices.h"

#include <cctype>
#include <climits>

#include <cstring>

const char *PpdChoices::marked(const char *keyword) const {
  if (!ppd_) return nullptr;
  ppd_choice_t *choice = ppdFindMarkedChoice(ppd_, keyword);
  return choice ? choice->choice : nullptr;
}

const char *ChoiceMap::marked(const char *keyword) const {
  auto found = choices.find(keyword);
  return found == choices.end() ? nullptr : found->second.c_str();
}

bool choiceIs(const char *choice, const char *name) {
  return choice && std::strcmp(choice, name) == 0;
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
