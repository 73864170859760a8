// analyze_step_fast_test.cc - a step x -> x P over P^T's grouped rows gives the plain scatter's
// bits: on random chains on either side of the size that picks it, with zeros in x, on two
// threads, through --steps' repeats and through a horizon whose chain changes between periods.
// Part of pravlin; see README.md.
#include "analyze_step_fast.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "analyze_horizon.h"
#include "analyze_test_util.h"
#include "scratch.h"

static bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// A distribution over n states (entry 0 unused) with every third state at 0, some at -0.
static std::vector<double> start_with_zeros(int n, std::mt19937_64* rng) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> x(static_cast<std::size_t>(n) + 1, 0.0);
  for (int s = 1; s <= n; s++)
    x[s] = s % 3 == 0 ? (s % 2 == 0 ? -0.0 : 0.0) : u(*rng);
  return x;
}

// ---------------------------------------------------------------- one step, each path

TEST(FasterStep, GivesThePlainBitsOnEitherSideOfTheSizeThatPicksIt) {
  struct Case {
    int n;
    unsigned cores;  // the grouped product's; two share a chain of 10^6 entries between threads
  };
  // R's rows hold 5 entries less the rare repeats: 418000 states fall just short of the
  // threshold, 421000 just pass it.
  const Case cases[] = {{1, 1}, {3, 1}, {2000, 1}, {60000, 1}, {418000, 2}, {421000, 2}};
  std::mt19937_64 rng(38);
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.n << " states");
    const SPARSE_CHAIN c = random_ring_chain(k.n, &rng);
    const std::size_t entries = c.to.size();
    CHAIN_STEPS plain, grouped, chosen, short_run;
    prepare_steps(&c, STEP_GROUPS_MIN_STEPS, STEP_PATH_PLAIN, &plain);
    prepare_steps(&c, STEP_GROUPS_MIN_STEPS, STEP_PATH_GROUPED, &grouped);
    prepare_steps(&c, STEP_GROUPS_MIN_STEPS, STEP_PATH_CHOOSE, &chosen);
    prepare_steps(&c, STEP_GROUPS_MIN_STEPS - 1, STEP_PATH_CHOOSE, &short_run);
    EXPECT_EQ(plain.grouped, 0);
    ASSERT_EQ(grouped.grouped, 1);
    EXPECT_EQ(chosen.grouped, entries >= STEP_GROUPS_MIN_ENTRIES ? 1 : 0) << entries << " entries";
    EXPECT_EQ(short_run.grouped, 0) << "a run too short to pay for P^T";
    grouped.cores = k.cores;
    std::vector<double> x = start_with_zeros(k.n, &rng), y(x.size()), z(x.size());
    for (int t = 0; t < 6; t++) {
      take_step(&plain, x.data(), y.data());
      take_step(&grouped, x.data(), z.data());
      ASSERT_TRUE(same_bits(y, z)) << "step " << t + 1;
      x.swap(y);
    }
  }
}

TEST(FasterStep, FallsBackToThePlainStepWithoutMemoryOrWithNonFiniteEntries) {
  std::mt19937_64 rng(7);
  SPARSE_CHAIN c = random_ring_chain(2000, &rng);
  CHAIN_STEPS s;
  set_scratch_limit(0);
  prepare_steps(&c, STEP_GROUPS_MIN_STEPS, STEP_PATH_GROUPED, &s);
  set_scratch_limit(SIZE_MAX);
  EXPECT_EQ(s.grouped, 0) << "no memory for the groups";
  c.p[c.to.size() / 2] = INFINITY;  // would turn a skipped 0 into NaN in a gather
  prepare_steps(&c, STEP_GROUPS_MIN_STEPS, STEP_PATH_GROUPED, &s);
  EXPECT_EQ(s.grouped, 0) << "an entry that is not finite";
}

// ---------------------------------------------------------------- runs of steps

TEST(FasterStep, StepDistributionGivesTheSameBitsOnEachPath) {
  // 37 steps on a random chain, and a count that --steps cuts short at a repeat (a 3-cycle).
  std::mt19937_64 rng(3);
  const SPARSE_CHAIN ring = random_ring_chain(70000, &rng);
  const std::vector<double> start = start_with_zeros(ring.n, &rng);
  std::vector<double> plain = start, grouped = start;
  step_distribution(&ring, &plain, 37, STEP_PATH_PLAIN);
  step_distribution(&ring, &grouped, 37, STEP_PATH_GROUPED);
  EXPECT_TRUE(same_bits(plain, grouped));

  SPARSE_CHAIN cycle;
  sparse_chain_from_list(&cycle, 3, {{1, 2, 1.0}, {2, 3, 1.0}, {3, 1, 1.0}});
  plain = {0, 0.5, 0.3, 0.2};
  grouped = plain;
  step_distribution(&cycle, &plain, 1000000001, STEP_PATH_PLAIN);
  step_distribution(&cycle, &grouped, 1000000001, STEP_PATH_GROUPED);
  EXPECT_TRUE(same_bits(plain, grouped));
}

TEST(FasterStep, HorizonAcrossAPeriodChangeGivesTheSameBitsOnEachPath) {
  // Steps 1..9 drawn by one chain, the rest by another: each is made ready for its own steps.
  std::mt19937_64 rng(5);
  HORIZON_PERIODS periods;
  periods.last = {9};
  periods.chain.push_back(random_ring_chain(60000, &rng));
  const SPARSE_CHAIN last = random_ring_chain(60000, &rng);
  const HORIZON_PERIOD_CHAINS chains = {&periods, &last};
  const std::vector<double> initial = start_with_zeros(last.n, &rng);
  std::vector<double> value(initial.size());
  for (std::size_t s = 0; s < value.size(); s++)
    value[s] = static_cast<double>(s % 7);
  HORIZON h[2];
  const int paths[2] = {STEP_PATH_PLAIN, STEP_PATH_GROUPED};
  for (int k = 0; k < 2; k++) {
    const HORIZON_SETTINGS set = {20, 1, 0.03, CORRECTION_SIMPSON, 1, paths[k]};
    solve_horizon(initial.data(), value.data(), last.n, horizon_period_chain, &chains, &set, &h[k]);
  }
  EXPECT_TRUE(same_bits(h[0].distribution, h[1].distribution));
  EXPECT_TRUE(same_bits(h[0].spent, h[1].spent));
  EXPECT_TRUE(same_bits(h[0].value, h[1].value));
  EXPECT_TRUE(same_bits(h[0].total, h[1].total));
}
