// draw_test.cc - the generator and single draws (draw.cc).
// Part of pravlin; see README.md.
#include "draw.h"

#include <gtest/gtest.h>

#include "test_util.h"

// Puts the generator just before the first occurrence of value, so the next draw is
// value / 32767.0.
static void advance_to(int value) {
  pravlin_rand_reset();
  int k = 0;
  while (pravlin_rand() != value)
    k++;
  pravlin_rand_reset();
  for (int i = 0; i < k; i++)
    pravlin_rand();
}

// The value the next draw will take, without taking it.
static int peek_next() {
  pravlin_rand_reset();
  return pravlin_rand();
}

TEST(Generator, StartsWithTheClassicSequence) {
  pravlin_rand_reset();
  const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
  for (int want : expected)
    EXPECT_EQ(pravlin_rand(), want);
}

TEST(Generator, ReachesBothEndsOfItsRange) {
  pravlin_rand_reset();
  bool zero = false, top = false;
  for (int i = 0; i < 1 << 20 && !(zero && top); i++) {
    int r = pravlin_rand();
    ASSERT_GE(r, 0);
    ASSERT_LE(r, 32767);
    zero |= r == 0;
    top |= r == 32767;
  }
  EXPECT_TRUE(zero);
  EXPECT_TRUE(top);
}

TEST(CalcState, ZeroDrawSkipsStatesOfZeroWeight) {
  const double row[] = {0.0, 0.0, 0.0, 1.0};
  advance_to(0);
  EXPECT_EQ(calc_state(row, 3), 3);
}

TEST(CalcState, ZeroDrawTakesStateOneWhenItHasWeight) {
  const double row[] = {0.0, 0.25, 0.75};
  advance_to(0);
  EXPECT_EQ(calc_state(row, 2), 1);
}

TEST(CalcState, StateOfZeroWeightIsNeverDrawn) {
  const double row[] = {0.0, 0.5, 0.0, 0.5};
  pravlin_rand_reset();
  for (int i = 0; i < 100000; i++)
    ASSERT_NE(calc_state(row, 3), 2);
}

TEST(CalcState, TieGoesToTheLowerState) {
  int r = peek_next();
  double p1 = r / 32767.0;
  const double row[] = {0.0, p1, 1.0 - p1};
  pravlin_rand_reset();
  EXPECT_EQ(calc_state(row, 2), 1);
}

TEST(CalcState, DrawOfOneReturnsFirstStateWhoseSumReachesOne) {
  const double row[] = {0.0, 0.5, 0.5, 0.0};
  advance_to(32767);
  EXPECT_EQ(calc_state(row, 3), 2);
}

TEST(CalcState, DrawOfOneOnARowJustBelowOneTakesLastPositiveState) {
  // Ten tenths add up to 0.9999999999999999 in doubles.
  std::vector<double> row(12, 0.1);
  row[0] = 0.0;
  row[11] = 0.0;
  double total = 0.0;
  for (int i = 1; i <= 11; i++)
    total += row[i];
  ASSERT_LT(total, 1.0);
  advance_to(32767);
  EXPECT_EQ(calc_state(row.data(), 11), 10);
}

TEST(CalcState, TakesExactlyOneGeneratorValue) {
  const double row[] = {0.0, 0.3, 0.7};
  pravlin_rand_reset();
  pravlin_rand();
  int second = pravlin_rand();
  pravlin_rand_reset();
  calc_state(row, 2);
  EXPECT_EQ(pravlin_rand(), second);
}

TEST(CalcStateDeathTest, RowThatNeverReachesTheDrawEndsTheRun) {
  const double row[] = {0.0, 0.0001, 0.0001};
  pravlin_rand_reset();  // first draw 41 / 32767 = 0.001251
  EXPECT_EXIT(calc_state(row, 2), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: Did not find new state -- random_val = 0.001251  "
                          "prob_partial_sum = 0.000200  i = 3 n = 2 in calc_state()\n"));
}

TEST(CalcStateDeathTest, DrawOfOneOnARowOfZerosEndsTheRun) {
  const double row[] = {0.0, 0.0, 0.0};
  advance_to(32767);
  EXPECT_EXIT(calc_state(row, 2), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: Did not find new state -- random_val = 1.000000  "
                          "prob_partial_sum = 0.000000  i = 3 n = 2 in calc_state()\n"));
}

TEST(CalcStateDeathTest, NullRowOrNoStatesEndsTheRun) {
  const double row[] = {0.0, 1.0};
  EXPECT_EXIT(calc_state(nullptr, 2), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: either NULL Pointer for probability_table or n < 1 (2) "
                          "in calc_state\n"));
  EXPECT_EXIT(calc_state(row, 0), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: either NULL Pointer for probability_table or n < 1 (0) "
                          "in calc_state\n"));
}
