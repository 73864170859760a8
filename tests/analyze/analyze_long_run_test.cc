// analyze_long_run_test.cc - pravlin-analyze's long run: recurrence times against the closed form,
// and the initial probabilities carried to each closed class.
// Part of pravlin; see README.md.
#include "analyze_long_run.h"

#include <gtest/gtest.h>

#include <vector>

#include "analyze_test_util.h"
#include "test_util.h"

TEST(AnalyzeLongRun, SymmetricWalkRecurrenceTimesMatchTheClosedForm) {
  // Edges are visited twice as rarely as inner states: 2(n - 1) and n - 1 steps between visits.
  for (int n : {3, 10, 101}) {
    SCOPED_TRACE(n);
    SPARSE_CHAIN c = reflecting_walk(n);
    CHAIN_CLASSES cl;
    find_classes(&c, &cl);
    ASSERT_EQ(cl.period[1], 2);
    std::vector<double> pi = class_distributions(c, cl);
    EXPECT_NEAR(1.0 / pi[1], 2.0 * (n - 1), 1e-12 * n);
    EXPECT_NEAR(1.0 / pi[n], 2.0 * (n - 1), 1e-12 * n);
    for (int s = 2; s < n; s++)
      EXPECT_NEAR(1.0 / pi[s], n - 1.0, 1e-12 * n) << "state " << s;
  }
}

TEST(AnalyzeLongRun, StartIsCarriedToEachClosedClassByItsEntryProbability) {
  // From 1: to the periodic pair {2, 3} with 0.5 / 0.7, to the absorbing 4 with 0.2 / 0.7.
  SPARSE_CHAIN c = chain_of({{0.3, 0.5, 0, 0.2}, {0, 0, 1, 0}, {0, 1, 0, 0}, {0, 0, 0, 1}});
  CHAIN_CLASSES cl;
  find_classes(&c, &cl);
  std::vector<double> pi = class_distributions(c, cl);
  struct Case {
    std::vector<double> start;  // [n + 1]
    std::vector<double> share;  // [n + 1]
    int periodic;
  };
  const Case cases[] = {
      {{0, 1, 0, 0, 0}, {0, 0, 2.5 / 7, 2.5 / 7, 2.0 / 7}, 1},
      {{0, 0.5, 0, 0, 0.5}, {0, 0, 1.25 / 7, 1.25 / 7, 0.5 + 1.0 / 7}, 1},
      {{0, 0, 0, 0, 1}, {0, 0, 0, 0, 1}, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "start on 4 " << k.start[4]);
    TestModel m(4, 1, 2);
    m.init = k.start;
    m.pv.initial_probability = m.init.data();
    LONG_RUN lr;
    solve_long_run(&m.pv, &c, &cl, pi.data(), &lr);
    for (int s = 1; s <= 4; s++)
      EXPECT_NEAR(lr.share[s], k.share[s], 1e-15) << "state " << s;
    EXPECT_EQ(lr.periodic, k.periodic);
  }
}
