// analyze_test.cc - pravlin-analyze's algorithms on chains with answers in closed form, and the
// sparse reading path against pravlin's own.
// Part of pravlin; see README.md.
#include "analyze.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "analyze_fill.h"
#include "analyze_sparse.h"
#include "analyze_test_matrix.h"
#include "analyze_test_util.h"
#include "config.h"
#include "steady_state.h"
#include "tables.h"
#include "test_util.h"
#include "validate.h"

static CHAIN_CLASSES classes_of(const SPARSE_CHAIN& c) {
  CHAIN_CLASSES cl;
  find_classes(&c, &cl);
  return cl;
}

static std::vector<int> members(const CHAIN_CLASSES& cl, int k) {
  return std::vector<int>(cl.member.begin() + static_cast<long>(cl.first[k]),
                          cl.member.begin() + static_cast<long>(cl.first[k + 1]));
}

// Stationary distribution of an irreducible chain through GTH.
static std::vector<double> stationary_of(const std::vector<std::vector<double>>& rows) {
  const int m = static_cast<int>(rows.size());
  const std::size_t w = static_cast<std::size_t>(m) + 1;
  std::vector<double> a(w * w, 0.0), x(w, 0.0);
  for (int i = 1; i <= m; i++) {
    for (int j = 1; j <= m; j++)
      a[i * w + j] = rows[i - 1][j - 1];
  }
  gth_stationary(a.data(), m, x.data());
  return x;
}

// The chain 1 -> 2 -> ... -> n with n absorbing.
static SPARSE_CHAIN line_into_absorbing(int n) {
  std::vector<TRANSITION_ENTRY> list;
  for (int i = 1; i < n; i++)
    list.push_back(TRANSITION_ENTRY{i, i + 1, 1.0});
  list.push_back(TRANSITION_ENTRY{n, n, 1.0});
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, n, list);
  return c;
}

// ---------------------------------------------------------------- classes and periods

TEST(ChainClasses, TwoStateChainIsOneClosedAperiodicClass) {
  CHAIN_CLASSES cl = classes_of(chain_of({{0.7, 0.3}, {0.4, 0.6}}));
  ASSERT_EQ(cl.nbr_classes, 1);
  EXPECT_EQ(cl.closed[1], 1);
  EXPECT_EQ(cl.period[1], 1);
  EXPECT_EQ(squaring_can_converge(&cl), 1);
}

TEST(ChainClasses, AlwaysSwappingChainHasPeriodTwo) {
  CHAIN_CLASSES cl = classes_of(chain_of({{0, 1}, {1, 0}}));
  ASSERT_EQ(cl.nbr_classes, 1);
  EXPECT_EQ(cl.period[1], 2);
  EXPECT_EQ(squaring_can_converge(&cl), 0);
}

TEST(ChainClasses, PeriodIsTheGcdOfCycleLengths) {
  // Cycles 1-2-3-4-1 (length 4) and 1-5-6-7-8-9-1 (length 6) through state 1: period 2.
  std::vector<TRANSITION_ENTRY> list = {{1, 2, 0.5}, {2, 3, 1}, {3, 4, 1}, {4, 1, 1}, {1, 5, 0.5},
                                        {5, 6, 1},   {6, 7, 1}, {7, 8, 1}, {8, 9, 1}, {9, 1, 1}};
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, 9, list);
  CHAIN_CLASSES cl = classes_of(c);
  ASSERT_EQ(cl.nbr_classes, 1);
  EXPECT_EQ(cl.period[1], 2);
  // A self-loop anywhere makes the class aperiodic.
  list.push_back(TRANSITION_ENTRY{6, 6, 0.5});
  sparse_chain_from_list(&c, 9, list);
  EXPECT_EQ(classes_of(c).period[1], 1);
}

TEST(ChainClasses, IdentityMakesEveryStateAnAbsorbingClass) {
  CHAIN_CLASSES cl = classes_of(chain_of({{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}));
  ASSERT_EQ(cl.nbr_classes, 4);
  EXPECT_EQ(cl.nbr_closed, 4);
  for (int k = 1; k <= 4; k++) {
    SCOPED_TRACE(k);
    EXPECT_EQ(members(cl, k), std::vector<int>{k});
    EXPECT_EQ(cl.period[k], 1);
  }
  EXPECT_EQ(squaring_can_converge(&cl), 0);
}

TEST(ChainClasses, AreNumberedByTheirSmallestStateAndListedInOrder) {
  // 4 and 2 form a closed class; 3 and 1 a transient one leading into it; 5 absorbing from 1.
  CHAIN_CLASSES cl = classes_of(chain_of({{0, 0, 0.5, 0, 0.5},
                                          {0, 0, 0, 1, 0},
                                          {0.5, 0, 0, 0.5, 0},
                                          {0, 1, 0, 0, 0},
                                          {0, 0, 0, 0, 1}}));
  ASSERT_EQ(cl.nbr_classes, 3);
  EXPECT_EQ(members(cl, 1), (std::vector<int>{1, 3}));
  EXPECT_EQ(members(cl, 2), (std::vector<int>{2, 4}));
  EXPECT_EQ(members(cl, 3), std::vector<int>{5});
  EXPECT_EQ(cl.closed[1], 0);
  EXPECT_EQ(cl.closed[2], 1);
  EXPECT_EQ(cl.closed[3], 1);
  EXPECT_EQ(cl.period[1], 2);
  EXPECT_EQ(cl.period[2], 2);
}

TEST(ChainClasses, TransientStateWithoutACycleHasNoPeriod) {
  CHAIN_CLASSES cl = classes_of(chain_of({{0, 1}, {0, 1}}));
  ASSERT_EQ(cl.nbr_classes, 2);
  EXPECT_EQ(cl.closed[1], 0);
  EXPECT_EQ(cl.period[1], 0);
  EXPECT_EQ(squaring_can_converge(&cl), 1);
}

TEST(ChainClasses, AMillionStatesInALineNeedNoDeepStack) {
  const int n = 1000000;
  CHAIN_CLASSES cl = classes_of(line_into_absorbing(n));
  ASSERT_EQ(cl.nbr_classes, n);
  EXPECT_EQ(cl.nbr_closed, 1);
  EXPECT_EQ(cl.closed[n], 1);
  EXPECT_EQ(members(cl, n), std::vector<int>{n});
}

TEST(ChainClasses, AMillionAbsorbingStatesTakeTimeInProportion) {
  // One class per state: work per class must not be in proportion to the whole chain.
  const int n = 1000000;
  std::vector<TRANSITION_ENTRY> list;
  for (int i = 1; i <= n; i++)
    list.push_back(TRANSITION_ENTRY{i, i, 1.0});
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, n, list);
  CHAIN_CLASSES cl = classes_of(c);
  ASSERT_EQ(cl.nbr_closed, n);
  std::vector<double> pi(n + 1, 0.0);
  for (int k = 1; k <= n; k++)
    class_stationary(&c, &cl, k, pi.data());
  EXPECT_EQ(std::count(pi.begin() + 1, pi.end(), 1.0), n);
}

// ---------------------------------------------------------------- stationary distributions

TEST(GthStationary, TwoStateChainGivesBOverAPlusB) {
  const double cases[][2] = {{0.3, 0.4}, {0.5, 0.5}, {1.0, 1.0}, {0.001, 0.999}, {1e-9, 3e-9}};
  for (const auto& ab : cases) {
    const double a = ab[0], b = ab[1];
    SCOPED_TRACE(testing::Message() << "a " << a << " b " << b);
    std::vector<double> x = stationary_of({{1 - a, a}, {b, 1 - b}});
    EXPECT_DOUBLE_EQ(x[1], b / (a + b));
    EXPECT_DOUBLE_EQ(x[2], a / (a + b));
  }
}

TEST(GthStationary, TinyProbabilitiesKeepFullPrecision) {
  // 1 - 2e-16 rounds to 1 - 2.2e-16: any method that uses the diagonal loses every digit.
  std::vector<double> x = stationary_of({{1 - 2e-16, 2e-16}, {1e-16, 1 - 1e-16}});
  EXPECT_DOUBLE_EQ(x[1], 1.0 / 3.0);
  EXPECT_DOUBLE_EQ(x[2], 2.0 / 3.0);
}

TEST(GthStationary, FoldingWithinTheBandGivesTheBitsOfTheWholeMatrix) {
  // Outside the band the whole matrix holds zeros, and adding 0 changes no bit.
  std::mt19937_64 rng(17);
  std::uniform_real_distribution<double> u(0.01, 1.0);
  for (int band : {1, 2, 5}) {
    SCOPED_TRACE(testing::Message() << "band " << band);
    const int m = 300;
    const std::size_t w = m + 1, bw = 2 * band + 1;
    std::vector<double> whole(w * w, 0.0), banded(w * bw, 0.0), x(w), y(w);
    for (int i = 1; i <= m; i++) {
      for (int j = std::max(1, i - band); j <= std::min(m, i + band); j++) {
        const double p = u(rng);
        whole[i * w + j] = p;
        banded[i * bw + j - i + band] = p;
      }
    }
    gth_stationary(whole.data(), m, x.data());
    gth_banded_stationary(banded.data(), m, band, y.data());
    EXPECT_EQ(std::memcmp(x.data() + 1, y.data() + 1, m * sizeof(double)), 0);
  }
}

TEST(GthStationary, ClassOfAReducibleChainIgnoresTheOtherStates) {
  SPARSE_CHAIN c =
      chain_of({{0.5, 0.25, 0.25, 0}, {0, 0.7, 0, 0.3}, {0, 0, 1, 0}, {0, 0.4, 0, 0.6}});
  CHAIN_CLASSES cl = classes_of(c);
  ASSERT_EQ(members(cl, 2), (std::vector<int>{2, 4}));
  std::vector<double> pi(5, -1.0);
  class_stationary(&c, &cl, 2, pi.data());
  EXPECT_DOUBLE_EQ(pi[2], 0.4 / 0.7);
  EXPECT_DOUBLE_EQ(pi[4], 0.3 / 0.7);
  EXPECT_EQ(pi[1], -1.0);
  EXPECT_EQ(pi[3], -1.0);
}

// The squaring solver converges on positive matrices; GTH must agree with it there.
TEST(GthStationary, RandomRegularChainsAgreeWithTheSquaringSolver) {
  std::mt19937_64 rng(20250101);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 40; trial++) {
    const int n = 2 + trial % 9;
    SCOPED_TRACE(testing::Message() << "trial " << trial << " n " << n);
    TestModel m(n, 1, 2);
    for (int i = 1; i <= n; i++) {
      double total = 0.0;
      for (int j = 1; j <= n; j++) {
        // Some zeros, but a self-loop and a cycle through all states keep the chain regular.
        double p = u(rng) < 0.3 ? 0.0 : u(rng);
        if (j == i || j == i % n + 1)
          p += 0.1;
        m.pv.transition_probability[i][j] = p;
        total += p;
      }
      for (int j = 1; j <= n; j++)
        m.pv.transition_probability[i][j] /= total;
    }
    SPARSE_CHAIN c;
    sparse_chain_from_matrix(&c, m.pv.transition_probability, n);
    CHAIN_CLASSES cl = classes_of(c);
    ASSERT_EQ(cl.nbr_classes, 1);
    ASSERT_EQ(squaring_can_converge(&cl), 1);
    std::vector<double> pi(n + 1, 0.0), b(n + 1, 0.0);
    class_stationary(&c, &cl, 1, pi.data());
    double error = 1.0;
    calc_steady_state(m.pv.transition_probability, b.data(), n, 100, 1e-12, &error, 0);
    ASSERT_LT(error, 1e-12);
    for (int s = 1; s <= n; s++)
      EXPECT_NEAR(pi[s], b[s], 1e-12) << "state " << s;
  }
}

// ---------------------------------------------------------------- absorption

TEST(Absorption, GamblersRuinMatchesTheClosedForm) {
  const int big_n = 10;
  for (double p : {0.4, 0.5, 0.7}) {
    SCOPED_TRACE(testing::Message() << "p " << p);
    SPARSE_CHAIN c = gamblers_ruin(big_n, p);
    CHAIN_CLASSES cl = classes_of(c);
    ABSORPTION ab;
    solve_absorption(&c, &cl, &ab);
    ASSERT_EQ(ab.nbr_transient, big_n - 1);
    ASSERT_EQ(ab.nbr_closed, 2);
    const double r = (1 - p) / p;
    for (int t = 1; t <= ab.nbr_transient; t++) {
      const int i = ab.state[t] - 1;  // the fortune
      SCOPED_TRACE(testing::Message() << "fortune " << i);
      double win, steps;
      if (p == 0.5) {
        win = static_cast<double>(i) / big_n;
        steps = static_cast<double>(i) * (big_n - i);
      } else {
        win = (1 - std::pow(r, i)) / (1 - std::pow(r, big_n));
        steps = i / (1 - 2 * p) - big_n / (1 - 2 * p) * win;
      }
      EXPECT_NEAR(ab.probability[t * 3 + 2], win, 1e-14);
      EXPECT_NEAR(ab.probability[t * 3 + 1], 1 - win, 1e-14);
      EXPECT_NEAR(ab.steps[t], steps, 1e-12 * steps);
    }
  }
}

TEST(Absorption, ExitBelowRoundingOfOneStillGivesFiniteSteps) {
  // 1 - 1e-17 is 1.0 in double: only an elimination that never forms 1 - P[1][1] sees the exit.
  SPARSE_CHAIN c = chain_of({{1.0, 1e-17}, {0, 1}});
  CHAIN_CLASSES cl = classes_of(c);
  ABSORPTION ab;
  solve_absorption(&c, &cl, &ab);
  ASSERT_EQ(ab.nbr_transient, 1);
  EXPECT_DOUBLE_EQ(ab.steps[1], 1e17);
  EXPECT_DOUBLE_EQ(ab.probability[1 * 2 + 1], 1.0);
}

// ---------------------------------------------------------------- n-step distributions

TEST(StepDistribution, FollowsTheChainStepByStep) {
  SPARSE_CHAIN weather = chain_of({{0.7, 0.3}, {0.4, 0.6}});
  std::vector<double> x = {0, 1, 0};
  step_distribution(&weather, &x, 2);
  EXPECT_DOUBLE_EQ(x[1], 0.7 * 0.7 + 0.3 * 0.4);
  EXPECT_DOUBLE_EQ(x[2], 0.7 * 0.3 + 0.3 * 0.6);

  SPARSE_CHAIN swap = chain_of({{0, 1}, {1, 0}});
  x = {0, 0.25, 0.75};
  step_distribution(&swap, &x, 0);
  EXPECT_EQ(x, (std::vector<double>{0, 0.25, 0.75}));
  step_distribution(&swap, &x, 3);
  EXPECT_EQ(x, (std::vector<double>{0, 0.75, 0.25}));
}

TEST(StepDistribution, HugeCountsJumpAheadToTheSameBits) {
  // Each chain's distribution repeats exactly within far fewer steps than the small count, so
  // the huge count must give the bits of the small one that is congruent to it.
  struct Case {
    std::vector<std::vector<double>> rows;
    std::vector<double> start;
    long huge, small;
  };
  const Case cases[] = {{{{0.7, 0.3}, {0.4, 0.6}}, {0, 1, 0}, 1000000000, 5000},
                        {{{0, 1}, {1, 0}}, {0, 0.25, 0.75}, 999999999, 3},
                        {{{0, 1, 0}, {0, 0, 1}, {1, 0, 0}}, {0, 0.5, 0.3, 0.2}, 1000000000, 4000},
                        {{{0.5, 0.5, 0}, {0, 0, 1}, {0, 0, 1}}, {0, 1, 0, 0}, 1000000000, 2000}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "states " << k.rows.size() << " huge " << k.huge);
    SPARSE_CHAIN c = chain_of(k.rows);
    std::vector<double> huge = k.start, small = k.start;
    step_distribution(&c, &huge, k.huge);
    for (long i = 0; i < k.small; i++)
      step_distribution(&c, &small, 1);
    EXPECT_EQ(huge, small);
  }
}

// ---------------------------------------------------------------- sparse solves

// A random irreducible chain of n states: a ring plus up to three random moves per state.
static SPARSE_CHAIN random_chain(int n, std::mt19937_64* rng) {
  std::uniform_real_distribution<double> u(0.01, 1.0);
  std::uniform_int_distribution<int> pick(1, n);
  std::vector<std::vector<double>> rows(n, std::vector<double>(n, 0.0));
  for (int i = 1; i <= n; i++) {
    rows[i - 1][i % n] += u(*rng);
    for (int m = 0; m < 3; m++)
      rows[i - 1][pick(*rng) - 1] += u(*rng);
    double total = 0.0;
    for (double p : rows[i - 1])
      total += p;
    for (double& p : rows[i - 1])
      p /= total;
  }
  return chain_of(rows);
}

TEST(SparseSolve, StationaryAgreesWithGthOnRandomChains) {
  std::mt19937_64 rng(16);
  for (int n : {3, 10, 50, 200, 400}) {
    SCOPED_TRACE(testing::Message() << "n " << n);
    SPARSE_CHAIN c = random_chain(n, &rng);
    CHAIN_CLASSES cl = classes_of(c);
    ASSERT_EQ(cl.nbr_classes, 1);
    std::vector<double> gth(n + 1, 0.0), sparse(n + 1, 0.0);
    class_stationary(&c, &cl, 1, gth.data());
    SOLVE_RESULT how = sparse_class_stationary(&c, &cl, 1, sparse.data(), ANALYZE_RESIDUAL_GOAL);
    EXPECT_LE(how.residual, ANALYZE_RESIDUAL_GOAL);
    for (int s = 1; s <= n; s++)
      EXPECT_NEAR(sparse[s], gth[s], 1e-12 * gth[s] + 1e-15) << "state " << s;
  }
}

TEST(SparseSolve, BirthDeathLineMatchesTheClosedForm) {
  // pi(i + 1) / pi(i) = p(i) / q(i + 1): a line mixes far too slowly for plain iteration.
  const int n = 10000;
  std::mt19937_64 rng(4);
  std::vector<double> up, down;
  SPARSE_CHAIN c = birth_death_line(n, &rng, &up, &down);
  CHAIN_CLASSES cl = classes_of(c);
  std::vector<double> pi(n + 1, 0.0), form(n + 1, 0.0);
  SOLVE_RESULT how = class_stationary(&c, &cl, 1, pi.data());
  EXPECT_EQ(how.sparse, 1) << how.method;
  // The closed form, in logarithms: its entries span hundreds of orders of magnitude.
  double total = 0.0, top = 0.0;
  for (int i = 2; i <= n; i++) {
    form[i] = form[i - 1] + std::log(up[i - 1] / down[i]);
    top = std::max(top, form[i]);
  }
  for (int i = 1; i <= n; i++)
    total += std::exp(form[i] - top);
  for (int i = 1; i <= n; i++) {
    const double want = std::exp(form[i] - top) / total;
    if (want > 1e-300) {
      ASSERT_NEAR(pi[i], want, 1e-8 * want) << "state " << i;
    }
  }
}

TEST(SparseSolve, AbsorptionMatchesExactFractions) {
  // A fair gambler's ruin on 0..N: from fortune i, ruin (N - i) / N and i (N - i) steps.
  const int big_n = 8;
  SPARSE_CHAIN c = gamblers_ruin(big_n, 0.5);
  CHAIN_CLASSES cl = classes_of(c);
  ABSORPTION ab;
  sparse_absorption(&c, &cl, &ab, ANALYZE_RESIDUAL_GOAL);
  ASSERT_EQ(ab.nbr_transient, big_n - 1);
  EXPECT_LE(ab.how.residual, ANALYZE_RESIDUAL_GOAL);
  for (int t = 1; t <= ab.nbr_transient; t++) {
    const int i = ab.state[t] - 1;
    SCOPED_TRACE(testing::Message() << "fortune " << i);
    EXPECT_NEAR(ab.probability[t * 3 + 1], static_cast<double>(big_n - i) / big_n, 1e-13);
    EXPECT_NEAR(ab.probability[t * 3 + 2], static_cast<double>(i) / big_n, 1e-13);
    EXPECT_NEAR(ab.steps[t], static_cast<double>(i * (big_n - i)), 1e-11);
  }
}

TEST(SparseSolveDeathTest, ClassBeyondTheAccuracyGoalIsRefused) {
  // No solve reaches a residual of 1e-300: the refusal prints no distribution. A line whose
  // states are numbered at random is too wide for GTH within the band, and cheap for each
  // sparse method to fail on.
  const int n = DENSE_MAX_STATES + 1;
  std::mt19937_64 rng(3);
  std::vector<int> place(n);
  std::iota(place.begin(), place.end(), 1);
  std::shuffle(place.begin(), place.end(), rng);
  std::uniform_real_distribution<double> u(0.2, 0.3);
  std::vector<TRANSITION_ENTRY> list;
  for (int i = 0; i < n; i++) {
    const double down = i > 0 ? u(rng) : 0.0, up = i < n - 1 ? u(rng) : 0.0;
    list.push_back(TRANSITION_ENTRY{place[i], place[i], 1.0 - down - up});
    if (i > 0)
      list.push_back(TRANSITION_ENTRY{place[i], place[i - 1], down});
    if (i < n - 1)
      list.push_back(TRANSITION_ENTRY{place[i], place[i + 1], up});
  }
  std::sort(list.begin(), list.end(), [](const TRANSITION_ENTRY& a, const TRANSITION_ENTRY& b) {
    return a.from != b.from ? a.from < b.from : a.to < b.to;
  });
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, n, list);
  CHAIN_CLASSES cl = classes_of(c);
  ASSERT_GT(static_cast<double>(n) * class_bandwidth(&c, &cl, 1) * class_bandwidth(&c, &cl, 1),
            BANDED_MAX_WORK);
  std::vector<double> pi(c.n + 1, 0.0);
  EXPECT_EXIT(class_stationary(&c, &cl, 1, pi.data(), 1e-300), testing::ExitedWithCode(1),
              testing::ContainsRegex("^ \\*\\*\\* ERROR: the stationary distribution of class 1 "
                                     "\\(2001 states\\) has a residual of .*, above the accuracy "
                                     "goal of 1e-300: no sparse method did better\n$"));
}

// ---------------------------------------------------------------- the sparse LU's fill

// The chain of n states whose moves are the given pairs, each state's moves equally likely.
static SPARSE_CHAIN chain_of_moves(int n, std::vector<std::pair<int, int>> moves) {
  std::sort(moves.begin(), moves.end());
  moves.erase(std::unique(moves.begin(), moves.end()), moves.end());
  std::vector<int> out(n + 1, 0);
  for (const auto& m : moves)
    out[m.first]++;
  std::vector<TRANSITION_ENTRY> list;
  for (const auto& m : moves)
    list.push_back(TRANSITION_ENTRY{m.first, m.second, 1.0 / out[m.first]});
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, n, list);
  return c;
}

// Every state moves to the next on a ring and to four drawn at random: an expander.
static SPARSE_CHAIN random_graph(int n, std::mt19937_64* rng) {
  std::uniform_int_distribution<int> pick(1, n);
  std::vector<std::pair<int, int>> moves;
  for (int i = 1; i <= n; i++) {
    moves.emplace_back(i, i % n + 1);
    for (int m = 0; m < 4; m++)
      moves.emplace_back(i, pick(*rng));
  }
  return chain_of_moves(n, moves);
}

TEST(LuFill, LinesAndGridsFitWhateverTheirNumberingButRandomGraphsDoNot) {
  std::mt19937_64 rng(8);
  const int line = 100000, side = 100;
  std::vector<int> place(line);
  std::iota(place.begin(), place.end(), 1);
  std::shuffle(place.begin(), place.end(), rng);
  std::vector<std::pair<int, int>> shuffled, grid;
  for (int i = 0; i + 1 < line; i++) {
    shuffled.emplace_back(place[i], place[i + 1]);
    shuffled.emplace_back(place[i + 1], place[i]);
  }
  for (int s = 1; s <= side * side; s++) {
    for (int t : {s - side, s + side, s % side != 1 ? s - 1 : 0, s % side != 0 ? s + 1 : 0}) {
      if (t >= 1 && t <= side * side)
        grid.emplace_back(s, t);
    }
  }
  struct Case {
    const char* name;
    SPARSE_CHAIN chain;
    int fits;
  };
  const Case cases[] = {{"line numbered at random", chain_of_moves(line, shuffled), 1},
                        {"grid", chain_of_moves(side * side, grid), 1},
                        // Its factor would have some 6e7 entries; the count stops at 5e6.
                        {"random graph", random_graph(20000, &rng), 0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    EXPECT_EQ(lu_fits(matrix_of(k.chain), LU_MAX_ENTRIES, LU_MAX_WORK), k.fits);
  }
}

TEST(LuFillDeathTest, RandomClassBeyondTheAccuracyGoalIsRefusedWithoutTheLu) {
  // Its LU would take some 50 s (more under sanitizers): the refusal comes as soon as the
  // iterations stall.
  std::mt19937_64 rng(9);
  SPARSE_CHAIN c = random_graph(10000, &rng);
  CHAIN_CLASSES cl = classes_of(c);
  ASSERT_EQ(cl.nbr_classes, 1);
  std::vector<double> pi(c.n + 1, 0.0);
  EXPECT_EXIT(class_stationary(&c, &cl, 1, pi.data(), 1e-300), testing::ExitedWithCode(1),
              testing::ContainsRegex("^ \\*\\*\\* ERROR: the stationary distribution of class 1 "
                                     "\\(10000 states\\) has a residual of .*, above the "
                                     "accuracy goal of 1e-300: no sparse method did better\n$"));
}

// ---------------------------------------------------------------- reading without the matrix

// The tables and tree that reading leaves behind; pravlin keeps them to the end of the process.
static void release(PRAVLIN* pv) {
  free_tables(pv);
  free_XMLENTITY(pv->xml);
}

static const char kRowsToNormalise[] =
    "<pravlin><nbr_states>3</nbr_states>"
    "<state><ser>1</ser><name>a</name><initial_probability>0.1</initial_probability></state>"
    "<state><ser>3</ser><initial_probability>0.2</initial_probability></state>"
    "<transition><from>3</from><to><state>3</state><probability>1e-300</probability></to>"
    "</transition>"
    "<transition><from>1</from><to><state>3</state><probability>0.3</probability></to>"
    "<to><state>1</state><probability>0.1</probability></to>"
    "<to><state>2</state><probability>0.2</probability></to>"
    "<to><state>3</state><probability>0.7</probability></to></transition>"
    "<transition><from>2</from><to><state>1</state><probability>0.1</probability></to>"
    "<to><state>2</state><probability>0</probability></to></transition>"
    "<transition><from>1</from><to><state>2</state><probability>0.05</probability></to>"
    "</transition></pravlin>";

TEST(SparseReading, ChecksAndNormalisesExactlyAsPravlinDoes) {
  PRAVLIN dense, sparse;
  init_pravlin(&dense);
  dense.in = open_text(kRowsToNormalise).release();
  testing::internal::CaptureStderr();
  read_configuration(&dense, READ_MATRIX, 0);
  error_check_pravlin(&dense);
  const std::string dense_err = testing::internal::GetCapturedStderr();

  init_pravlin(&sparse);
  sparse.in = open_text(kRowsToNormalise).release();
  std::vector<TRANSITION_ENTRY> list;
  testing::internal::CaptureStderr();
  read_configuration(&sparse, READ_LIST, 0, &list);
  error_check_transitions(&sparse, &list);
  const std::string sparse_err = testing::internal::GetCapturedStderr();

  EXPECT_EQ(sparse_err, dense_err);
  EXPECT_NE(dense_err.find("state (1) by 0.850000"), std::string::npos) << dense_err;
  EXPECT_EQ(sparse.transition_probability[0], nullptr);
  EXPECT_EQ(sparse.pravlin[0], nullptr);
  // A later entry for a pair replaces an earlier one; zeros disappear; bits equal the matrix's.
  std::vector<TRANSITION_ENTRY> want;
  for (int i = 1; i <= 3; i++) {
    for (int j = 1; j <= 3; j++) {
      double p = dense.transition_probability[i][j];
      if (p != 0.0)
        want.push_back(TRANSITION_ENTRY{i, j, p});
    }
  }
  expect_same_transitions(list, want);
  for (int i = 1; i <= 3; i++) {
    EXPECT_EQ(sparse.initial_probability[i], dense.initial_probability[i]) << "state " << i;
  }
  release(&dense);
  release(&sparse);
}

TEST(SparseReadingDeathTest, RowWhoseLastEntryForAPairIsZeroTotalsZero) {
  static const char text[] =
      "<pravlin><nbr_states>2</nbr_states>"
      "<state><ser>1</ser><name>a</name><initial_probability>1</initial_probability></state>"
      "<state><ser>2</ser><name>b</name><initial_probability>0</initial_probability></state>"
      "<transition><from>1</from><to><state>1</state><probability>1</probability></to>"
      "</transition>"
      "<transition><from>2</from><to><state>1</state><probability>0.5</probability></to>"
      "<to><state>1</state><probability>0</probability></to></transition></pravlin>";
  PRAVLIN pv;
  init_pravlin(&pv);
  pv.in = open_text(text).release();
  std::vector<TRANSITION_ENTRY> list;
  read_configuration(&pv, READ_LIST, 0, &list);
  EXPECT_EXIT(error_check_transitions(&pv, &list), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: zero total transition_probability for state (2)\n"));
  release(&pv);
}

TEST(SparseReading, EntryThatRescalingRoundsToZeroIsNoTransition) {
  // 5e-324 / 2 rounds to 0: pravlin never draws state 3 from state 1, so 1 and 2 are closed.
  static const char text[] =
      "<pravlin><nbr_states>3</nbr_states>"
      "<state><ser>1</ser><name>a</name><initial_probability>1</initial_probability></state>"
      "<state><ser>2</ser><name>b</name></state><state><ser>3</ser><name>c</name></state>"
      "<transition><from>1</from><to><state>1</state><probability>1</probability></to>"
      "<to><state>2</state><probability>1</probability></to>"
      "<to><state>3</state><probability>5e-324</probability></to></transition>"
      "<transition><from>2</from><to><state>1</state><probability>1</probability></to>"
      "</transition><transition><from>3</from><to><state>3</state><probability>1</probability>"
      "</to></transition></pravlin>";
  PRAVLIN pv;
  init_pravlin(&pv);
  pv.in = open_text(text).release();
  std::vector<TRANSITION_ENTRY> list;
  testing::internal::CaptureStderr();
  read_configuration(&pv, READ_LIST, 0, &list);
  error_check_transitions(&pv, &list);
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(list.size(), 4u);
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, 3, list);
  CHAIN_CLASSES cl = classes_of(c);
  ASSERT_EQ(cl.nbr_classes, 2);
  EXPECT_EQ(members(cl, 1), (std::vector<int>{1, 2}));
  EXPECT_EQ(cl.closed[1], 1);
  release(&pv);
}

TEST(SparseReading, MatrixTooBigForPravlinIsStillRead) {
  // pravlin refuses this with "out of memory 2"; the list needs one entry per transition only.
  static const char text[] =
      "<pravlin><nbr_states>3000000</nbr_states>"
      "<transition><from>2999999</from><to><state>7</state><probability>1</probability></to>"
      "</transition></pravlin>";
  PRAVLIN pv;
  init_pravlin(&pv);
  pv.in = open_text(text).release();
  std::vector<TRANSITION_ENTRY> list;
  read_configuration(&pv, READ_LIST, 0, &list);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].from, 2999999);
  EXPECT_EQ(list[0].to, 7);
  release(&pv);
}
