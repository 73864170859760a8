// analyze_solver_test.cc - pravlin's squaring solver on the analysed chain: run only where the
// squarings it cannot avoid are cheap.
// Part of pravlin; see README.md.
#include "analyze_solver.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "analyze_test_util.h"
#include "test_util.h"

TEST(SquaringSolver, RunsOnlyWhereTheSquaringsItCannotAvoidAreCheap) {
  // Around a cycle, with or without a pause at each state: aperiodic chains may stop after one
  // squaring, periodic ones run all of max_iteration.
  struct Case {
    int n;
    bool pause;
    int max_iteration;
    int squarings;
    bool run;
  };
  const Case cases[] = {
      {3, false, 20, 20, true},     {1000, true, 100, 1, true},    {1001, true, 100, 1, false},
      {215, false, 100, 100, true}, {216, false, 100, 100, false}, {464, false, 10, 10, true},
      {465, false, 10, 10, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.n << (k.pause ? " pausing" : " cycling"));
    std::vector<std::vector<std::pair<int, double>>> rows;
    for (int i = 1; i <= k.n; i++) {
      if (k.pause) {
        rows.push_back({{i, 0.5}, {i % k.n + 1, 0.5}});
      } else {
        rows.push_back({{i % k.n + 1, 1.0}});
      }
    }
    SPARSE_CHAIN c = chain_of_rows(k.n, rows);
    CHAIN_CLASSES cl;
    find_classes(&c, &cl);
    TestModel m(2, 1, 2);
    m.pv.max_iteration = k.max_iteration;
    const SQUARING_COST cost = estimate_squaring(&m.pv, &c, &cl);
    EXPECT_EQ(cost.squarings, k.squarings);
    EXPECT_EQ(cost.worth, k.run);
    EXPECT_EQ(cost.work, 1.0 * k.n * k.n * k.n);
    EXPECT_EQ(cost.bytes, 24.0 * (k.n + 1) * (k.n + 1));
  }
}
