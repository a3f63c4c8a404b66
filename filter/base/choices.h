// The job's choices: the marked choice of each option (from the PPD for the filter, from the
// job's attributes in the printer application), and numbers read from choice names.
#pragma once

#include <cups/ppd.h>

#include <map>
#include <string>

class Choices {
 public:
  virtual ~Choices() = default;
  // The name of the marked choice of keyword, or nullptr when the option is absent or unmarked.
  virtual const char *marked(const char *keyword) const = 0;
};

// The marked choices of a PPD (ppdFindMarkedChoice).
class PpdChoices : public Choices {
 public:
  explicit PpdChoices(ppd_file_t *ppd) : ppd_(ppd) {}
  const char *marked(const char *keyword) const override;

 private:
  ppd_file_t *ppd_;
};

// Choices held as keyword -> choice name.
class ChoiceMap : public Choices {
 public:
  const char *marked(const char *keyword) const override;
  std::map<std::string, std::string> choices;
};

// The number a choice name starts with, read as atoi reads it (leading blanks, sign, digits;
// 0 for a name without digits) but without undefined behaviour: a value beyond the int range
// saturates at INT_MIN or INT_MAX.
int choiceInt(const char *name);

// True when choice is exactly name (a null choice is none).
bool choiceIs(const char *choice, const char *name);
