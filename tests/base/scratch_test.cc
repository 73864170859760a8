// scratch_test.cc - the fast paths' extra memory and its limit.
// Part of pravlin; see README.md.
#include "scratch.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(Scratch, IsRefusedPastTheLimitAndAnImpossibleSize) {
  EXPECT_NE(scratch<double>(1000), nullptr);
  EXPECT_EQ(scratch<double>(SIZE_MAX / 4), nullptr);
  set_scratch_limit(8000);
  EXPECT_NE(scratch<double>(1000), nullptr);
  EXPECT_EQ(scratch<double>(1001), nullptr);
  set_scratch_limit(SIZE_MAX);
}
