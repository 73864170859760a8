// simulate_test.cc - whole chains, drawn one by one (create_pravlin), and the record's initial
// values.
// Part of pravlin; see README.md.
#include "pravlin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "draw.h"
#include "simulate.h"
#include "test_util.h"

// With every row at one half, a cell shows which half of the range its generator value fell
// in, so the table tells which value each chain and step consumed.
TEST(CreatePravlin, ChainsAndStepsConsumeValuesInOrder) {
  const int k = 3, t = 4;
  TestModel m(2, k, t);
  m.init[1] = m.init[2] = 0.5;
  for (int s = 1; s <= 2; s++)
    m.rows[s][1] = m.rows[s][2] = 0.5;
  pravlin_rand_reset();
  std::vector<int> values;
  for (int i = 0; i < k * (t + 1) + 1; i++)
    values.push_back(pravlin_rand());
  pravlin_rand_reset();
  for (int c = 1; c <= k; c++)
    create_pravlin(c, &m.pv);
  for (int c = 1; c <= k; c++) {
    for (int s = 0; s <= t; s++) {
      int r = values[static_cast<std::size_t>((c - 1) * (t + 1) + s)];
      EXPECT_EQ(m.pv.pravlin[c][s], r <= 16383 ? 1 : 2) << "chain " << c << " step " << s;
    }
  }
  EXPECT_EQ(pravlin_rand(), values.back()) << "a run consumes exactly K * (T + 1) values";
}

TEST(CreatePravlin, FollowsTheTransitionRowOfThePreviousState) {
  TestModel m(3, 1, 6);
  m.init[1] = 1.0;
  m.rows[1][2] = 1.0;
  m.rows[2][3] = 1.0;
  m.rows[3][1] = 1.0;
  pravlin_rand_reset();
  create_pravlin(1, &m.pv);
  const int expected[] = {1, 2, 3, 1, 2, 3, 1};
  for (int s = 0; s <= 6; s++)
    EXPECT_EQ(m.pv.pravlin[1][s], expected[s]);
}

TEST(CreatePravlinDeathTest, ChainNumberOutsideRangeEndsTheRun) {
  TestModel m(2, 3, 2);
  EXPECT_EXIT(create_pravlin(0, &m.pv), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: n (0) is less than 1 or greater than pv->nbr_chains (3)\n"));
  EXPECT_EXIT(create_pravlin(4, &m.pv), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: n (4) is less than 1 or greater than pv->nbr_chains (3)\n"));
  EXPECT_EXIT(create_pravlin(1, nullptr), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: PRAVLIN NULL Pointer in create_pravlin()\n"));
}

TEST(InitPravlin, SetsCalcFlagAndClearsEverythingElse) {
  PRAVLIN pv;
  std::memset(&pv, 0xAB, sizeof pv);
  EXPECT_EQ(init_pravlin(&pv), &pv);
  EXPECT_EQ(pv.calc_flag, 1);
  EXPECT_EQ(pv.nbr_states, 0);
  EXPECT_EQ(pv.nbr_years, 0);
  EXPECT_EQ(pv.print_header, 0);
  EXPECT_EQ(pv.print_flag, 0);
  EXPECT_EQ(pv.max_iteration, 0);
  EXPECT_EQ(pv.max_error, 0.0);
  EXPECT_EQ(pv.debug, 0);
  EXPECT_EQ(pv.out, nullptr);
  EXPECT_EQ(pv.outfilename, nullptr);
  EXPECT_EQ(pv.transition_probability, nullptr);
}

TEST(InitPravlinDeathTest, NullRecordExitsSilently) {
  EXPECT_EXIT(init_pravlin(nullptr), testing::ExitedWithCode(1), testing::Eq(""));
}
