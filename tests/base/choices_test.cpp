// Numbers from choice names: atoi's results wherever they fit an int, no overflow beyond.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "base/choices.h"

TEST(ChoiceInt, AgreesWithAtoiWhereTheValueFits) {
  for (const char *name : {"0", "7", "-2", "+5", "  12", "3mm", "Default", "", "-", "GrayScale",
                           "2147483647", "-2147483648", "007", "1.5", "\t-9x"}) {
    EXPECT_EQ(choiceInt(name), std::atoi(name)) << '"' << name << '"';
  }
}

TEST(ChoiceInt, SaturatesBeyondTheIntRange) {
  EXPECT_EQ(choiceInt("2147483648"), INT_MAX);
  EXPECT_EQ(choiceInt("99999999999999999999999999"), INT_MAX);
  EXPECT_EQ(choiceInt("-2147483649"), INT_MIN);
  EXPECT_EQ(choiceInt("-99999999999999999999999999"), INT_MIN);
  EXPECT_EQ(choiceInt(nullptr), 0);
}
