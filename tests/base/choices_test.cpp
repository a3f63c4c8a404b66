// Numbers from choice names: strtol's results (atoi's, where they fit), held to the int range.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "base/choices.h"

TEST(ChoiceInt, AgreesWithStrtolHeldToTheIntRange) {
  for (const char *name : {"0", "7", "-2", "+5", "  12", "3mm", "Default", "", "-", "GrayScale",
                           "2147483647", "-2147483648", "007", "1.5", "\t-9x", "2147483648",
                           "-2147483649", "99999999999999999999999999", "-99999999999999999999999"})
    EXPECT_EQ(choiceInt(name),
              std::clamp<long long>(std::strtoll(name, nullptr, 10), INT_MIN, INT_MAX))
        << '"' << name << '"';
  EXPECT_EQ(choiceInt(nullptr), 0);
}
