// analyze_horizon_test.cc - pravlin-analyze --horizon: the path against numpy's loop (kept as
// data), the corrected and discounted totals of a two-state chain against their closed forms,
// and a chain that changes with the step.
// Part of pravlin; see README.md.
#include "analyze_horizon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// The chain of the entries (from, to, p), states 1..n, as sparse_chain_from_list takes them.
static SPARSE_CHAIN chain_of(int n, std::vector<TRANSITION_ENTRY> list) {
  std::sort(list.begin(), list.end(), [](const TRANSITION_ENTRY& a, const TRANSITION_ENTRY& b) {
    return a.from != b.from ? a.from < b.from : a.to < b.to;
  });
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, n, list);
  return c;
}

static HORIZON solve(const SPARSE_CHAIN& c, const std::vector<double>& initial,
                     const std::vector<double>& value, long steps, int discounted, double rate,
                     int correction) {
  HORIZON_SETTINGS set = {steps, discounted, rate, correction, 1, STEP_PATH_CHOOSE};
  HORIZON h;
  solve_horizon(initial.data(), value.data(), c.n, horizon_same_chain, &c, &set, &h);
  return h;
}

TEST(HorizonPath, AgreesWithNumpyLoopAtThousandStepsOnFiftyStates) {
  std::ifstream in(FIT_SOURCE_DIR "/tests/analyze/analyze_horizon_numpy.txt");
  ASSERT_TRUE(in) << "tests/analyze/analyze_horizon_numpy.txt";
  int n = 0;
  double rate = 0.0;
  std::vector<TRANSITION_ENTRY> list;
  std::vector<double> initial, value;
  std::map<long, std::vector<double>> x, spent;
  std::map<long, std::pair<double, double>> total;
  std::string line, word;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    f >> word;
    if (word == "chain") {
      f >> n;
      initial.assign(static_cast<std::size_t>(n) + 1, 0.0);
      value = initial;
    } else if (word == "p") {
      TRANSITION_ENTRY e{};
      f >> e.from >> e.to >> e.probability;
      list.push_back(e);
    } else if (word == "initial" || word == "value") {
      int i = 0;
      f >> i;
      f >> (word == "initial" ? initial : value)[static_cast<std::size_t>(i)];
    } else if (word == "discount") {
      f >> rate;
    } else if (word == "x" || word == "spent") {
      long t = 0;
      int i = 0;
      f >> t >> i;
      std::vector<double>& row = (word == "x" ? x : spent)[t];
      row.resize(static_cast<std::size_t>(n) + 1, 0.0);
      f >> row[static_cast<std::size_t>(i)];
    } else if (word == "total") {
      long t = 0;
      f >> t >> total[t].first >> total[t].second;
    }
  }
  ASSERT_EQ(n, 50);
  const SPARSE_CHAIN c = chain_of(n, list);
  const long steps = total.rbegin()->first;
  ASSERT_EQ(steps, 1000);
  const HORIZON plain = solve(c, initial, value, steps, 0, 0.0, CORRECTION_NONE);
  const HORIZON discounted = solve(c, initial, value, steps, 1, rate, CORRECTION_NONE);
  ASSERT_EQ(plain.absorbing, (std::vector<int>{49, 50}));
  const std::size_t w = static_cast<std::size_t>(n) + 1;
  for (const auto& [t, want] : total) {
    const std::size_t u = static_cast<std::size_t>(t);
    for (std::size_t s = 1; s < w; s++) {
      EXPECT_NEAR(plain.distribution[u * w + s], x[t][s], 1e-12) << "step " << t << " state " << s;
      EXPECT_NEAR(plain.spent[u * w + s], spent[t][s], 1e-12 * std::max(1.0, spent[t][s]))
          << "step " << t << " state " << s;
    }
    EXPECT_EQ(plain.absorbed[u * 2], plain.distribution[u * w + 49]);
    EXPECT_NEAR(plain.total[u], want.first, 1e-12 * want.first) << "step " << t;
    EXPECT_NEAR(discounted.total[u], want.second, 1e-12 * want.second) << "step " << t;
  }
}

// The corrected total of f(k) = r^k over steps 0..t, from the sums of a geometric series.
static double geometric_sum(double r, long first, long last, long stride) {
  double total = 0.0;
  for (long k = first; k <= last; k += stride)
    total += std::pow(r, static_cast<double>(k));
  return total;
}

static double closed_form(double r, long t, int correction) {
  const double rt = std::pow(r, static_cast<double>(t));
  const double all = r == 1.0 ? static_cast<double>(t + 1) : (1.0 - r * rt) / (1.0 - r);
  switch (correction) {
    case CORRECTION_HALF:
      return all - 0.5;
    case CORRECTION_TRAPEZOID:
      return t == 0 ? 0.0 : all - 0.5 - 0.5 * rt;
    case CORRECTION_SIMPSON:
      if (t == 0)
        return 0.0;
      if (t == 1)
        return 0.5 * (1.0 + r);
      if (t % 2 == 0) {
        return (1.0 + 4.0 * geometric_sum(r, 1, t - 1, 2) + 2.0 * geometric_sum(r, 2, t - 2, 2) +
                rt) /
               3.0;
      }
      return closed_form(r, t - 3, correction) +
             0.375 * (std::pow(r, t - 3.0) + 3.0 * std::pow(r, t - 2.0) +
                      3.0 * std::pow(r, t - 1.0) + rt);
    default:
      return all;
  }
}

// P = [[1 - a, a], [b, 1 - b]] from state 1: x_t(1) = (b + a l^t) / (a + b), l = 1 - a - b, so
// E[v(X_t)] = alpha + beta l^t, and its discounted total is alpha's and beta's geometric ones.
TEST(HorizonTotals, TwoStateChainMatchesClosedFormForEveryCorrection) {
  const double a = 0.3, b = 0.1, v1 = 5.0, v2 = -2.0;
  const double l = 1.0 - a - b;
  const double alpha = (b * v1 + a * v2) / (a + b), beta = a * (v1 - v2) / (a + b);
  const SPARSE_CHAIN c = chain_of(2, {{1, 1, 1.0 - a}, {1, 2, a}, {2, 1, b}, {2, 2, 1.0 - b}});
  const struct {
    int discounted;
    double rate;
  } rates[] = {{0, 0.0}, {1, 0.035}, {1, 0.5}, {1, -0.2}};
  for (const auto& r : rates) {
    for (int correction :
         {CORRECTION_NONE, CORRECTION_HALF, CORRECTION_TRAPEZOID, CORRECTION_SIMPSON}) {
      const HORIZON h =
          solve(c, {0.0, 1.0, 0.0}, {0.0, v1, v2}, 9, r.discounted, r.rate, correction);
      const double d = 1.0 / (1.0 + r.rate);
      for (long t = 0; t <= 9; t++) {
        const double want =
            alpha * closed_form(d, t, correction) + beta * closed_form(l * d, t, correction);
        EXPECT_NEAR(h.total[static_cast<std::size_t>(t)], want, 1e-12)
            << correction_name(correction) << " rate " << r.rate << " step " << t;
      }
    }
  }
}

// Two chains in turn: the swap of states 1 and 2 at even steps, staying put at odd ones.
static const SPARSE_CHAIN* alternating(long t, const void* context) {
  const SPARSE_CHAIN* chains = static_cast<const SPARSE_CHAIN*>(context);
  return &chains[t % 2];
}

TEST(HorizonPath, EachStepTakesItsOwnChain) {
  const SPARSE_CHAIN chains[] = {chain_of(3, {{1, 2, 1.0}, {2, 1, 1.0}, {3, 3, 1.0}}),
                                 chain_of(3, {{1, 1, 0.5}, {1, 3, 0.5}, {2, 2, 1.0}, {3, 3, 1.0}})};
  const std::vector<double> initial = {0.0, 1.0, 0.0, 0.0}, value = {0.0, 1.0, 2.0, 3.0};
  HORIZON_SETTINGS set = {3, 0, 0.0, CORRECTION_NONE, 1, STEP_PATH_CHOOSE};
  HORIZON h;
  solve_horizon(initial.data(), value.data(), 3, alternating, chains, &set, &h);
  // 1 -swap-> 2 -stay-> 2 -swap-> 1.
  const std::vector<double> want = {0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 1, 0, 0};
  EXPECT_EQ(h.distribution, want);
  EXPECT_EQ(h.total, (std::vector<double>{1.0, 3.0, 5.0, 6.0}));
  EXPECT_EQ(h.absorbing, (std::vector<int>{3}));
}

TEST(HorizonPath, KeepsOnlyTheLastStepWithoutTrace) {
  const SPARSE_CHAIN c = chain_of(2, {{1, 1, 0.5}, {1, 2, 0.5}, {2, 2, 1.0}});
  HORIZON_SETTINGS set = {4, 0, 0.0, CORRECTION_NONE, 0, STEP_PATH_CHOOSE};
  HORIZON h;
  const std::vector<double> initial = {0.0, 1.0, 0.0}, value = {0.0, 0.0, 0.0};
  solve_horizon(initial.data(), value.data(), 2, horizon_same_chain, &c, &set, &h);
  EXPECT_EQ(h.rows, 1u);
  EXPECT_EQ(h.distribution, (std::vector<double>{0.0, 0.0625, 0.9375}));
  EXPECT_EQ(h.spent, (std::vector<double>{0.0, 1.9375, 3.0625}));
  EXPECT_EQ(h.absorbed, (std::vector<double>{0.0, 0.5, 0.75, 0.875, 0.9375}));
}
