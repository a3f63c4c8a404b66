// The model families are disjoint and cover the documented model numbers.
#include <gtest/gtest.h>

#include "driver/job.h"

TEST(ModelFamilies, ThermalAndLabelNumbersAreDisjoint) {
  for (int m : {21, 22, 23, 302, 400, 831, 64519, 590314, 613207}) {
    EXPECT_TRUE(isThermalModel(m)) << m;
    EXPECT_FALSE(isLabelModel(m)) << m;
  }
  for (int m : {0, 16, 17, 18, 19, 20, 32}) {
    EXPECT_TRUE(isLabelModel(m)) << m;
    EXPECT_FALSE(isThermalModel(m)) << m;
  }
  EXPECT_FALSE(isThermalModel(1));
  EXPECT_FALSE(isLabelModel(1));
}
