// simulate_fast_test.cc - every chain at once (simulate_fast.cc) against create_pravlin chain
// by chain, on many random models: the same table and generator state, or it is a bug.
// Part of pravlin; see README.md.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "draw.h"
#include "pravlin.h"
#include "scratch.h"
#include "simulate.h"
#include "simulate_fast.h"
#include "test_util.h"

// The chains as create_pravlin makes them one by one, and the generator value after them.
static int simulate_literally(TestModel& m) {
  pravlin_rand_reset();
  for (int c = 1; c <= m.pv.nbr_chains; c++)
    create_pravlin(c, &m.pv);
  return pravlin_rand();
}

static int simulate_fast(TestModel& m) {
  pravlin_rand_reset();
  EXPECT_TRUE(create_all_pravlin_fast(&m.pv));
  return pravlin_rand();
}

TEST(CreateAllPravlin, MatchesChainByChainSimulationOnRandomModels) {
  std::mt19937_64 rng(3);
  struct Shape {
    int n, k, t;
    double zeros;
  } shapes[] = {
      {2, 1, 2, 0.0},       {2, 7, 50, 0.3},      {3, 40, 200, 0.5},  {10, 100, 1000, 0.0},
      {50, 300, 1000, 0.2}, {200, 64, 5000, 0.9}, {2100, 3, 40, 0.5}, {7, 1000, 400, 0.6},
      {3000, 300, 1, 0.5},  // no guides: many first states, drawn through their own table
  };
  for (const Shape& s : shapes) {
    SCOPED_TRACE(testing::Message() << s.n << " states, " << s.k << " chains, " << s.t << " years");
    TestModel literal(s.n, s.k, s.t), fast(s.n, s.k, s.t);
    std::mt19937_64 model_rng = rng;
    fill_random_model(literal, model_rng, s.zeros);
    model_rng = rng;
    fill_random_model(fast, model_rng, s.zeros);
    rng.discard(1);
    int after_literal = simulate_literally(literal);
    int after_fast = simulate_fast(fast);
    ASSERT_EQ(fast.chains, literal.chains);
    EXPECT_EQ(after_fast, after_literal) << "the generator ends where the plain run leaves it";
  }
}

// A row whose normalised total rounds below 1.0 meets the draw of exactly 1.0 (value 32767)
// about once in 32768 draws; a long run meets it hundreds of times.
TEST(CreateAllPravlin, MatchesOnRowsJustBelowOneThroughManyDrawsOfOne) {
  TestModel literal(10, 200, 5000), fast(10, 200, 5000);
  for (TestModel* m : {&literal, &fast}) {
    for (int i = 1; i <= 10; i++) {
      m->init[static_cast<std::size_t>(i)] = 0.1;
      for (int j = 1; j <= 10; j++)
        m->rows[static_cast<std::size_t>(i)][j] = 0.1;
    }
    m->rows[3][10] = 0.0;  // its last state cannot be drawn: 1.0 falls back to state 9
    m->rows[3][9] = 0.2;
  }
  EXPECT_EQ(simulate_fast(fast), simulate_literally(literal));
  EXPECT_EQ(fast.chains, literal.chains);
}

TEST(CreateAllPravlinDeathTest, RowShortOfTheDrawFailsWithTheFirstChainsMessage) {
  TestModel m(2, 3, 2);
  m.init[1] = 1.0;
  m.rows[1][1] = 0.0001;  // the second draw of chain 1 (18467 / 32767) finds no state
  m.rows[2][2] = 1.0;
  pravlin_rand_reset();
  EXPECT_EXIT(create_all_pravlin(&m.pv), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: Did not find new state -- random_val = 0.563585  "
                          "prob_partial_sum = 0.000100  i = 3 n = 2 in calc_state()\n"));
}

// Without the memory for its sums and guides, the stage draws the chains the plain way.
TEST(CreateAllPravlin, WithoutItsExtraMemoryDrawsTheSameChainsThePlainWay) {
  std::mt19937_64 rng(4);
  TestModel literal(30, 50, 400), plain(30, 50, 400);
  std::mt19937_64 same = rng;
  fill_random_model(literal, rng, 0.4);
  fill_random_model(plain, same, 0.4);
  set_scratch_limit(0);
  pravlin_rand_reset();
  EXPECT_FALSE(create_all_pravlin_fast(&plain.pv));
  create_all_pravlin(&plain.pv);
  int after_plain = pravlin_rand();
  set_scratch_limit(SIZE_MAX);
  EXPECT_EQ(after_plain, simulate_literally(literal));
  EXPECT_EQ(plain.chains, literal.chains);
}
