// analyze_hitting_test.cc - hitting probabilities and times against closed forms, passage times
// and Kemeny's constant, and the exact small solve with its trusted whole steps.
// Part of pravlin; see README.md.
#include "analyze_hitting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "analyze_test_util.h"
#include "test_util.h"

TEST(AnalyzeHitting, GamblersRuinMatchesTheClosedForm) {
  // Reaching n is winning; reaching either end is the game's duration.
  struct Case {
    int n;
    double p;
    double tolerance;  // relative
  };
  const int large = kSanitized ? 10000 : 100000;
  const Case cases[] = {{10, 0.4, 1e-13}, {10, 0.5, 1e-13}, {10, 0.7, 1e-13}, {large, 0.5, 1e-6}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "n " << k.n << " p " << k.p);
    SPARSE_CHAIN c = gamblers_ruin(k.n, k.p);
    HITTING win = hitting_of(c, {k.n + 1});
    HITTING end = hitting_of(c, {1, k.n + 1});
    const double r = (1 - k.p) / k.p;
    for (int i = 1; i < k.n; i += 1 + k.n / 50) {
      SCOPED_TRACE(testing::Message() << "fortune " << i);
      double p_win, steps;
      if (k.p == 0.5) {
        p_win = static_cast<double>(i) / k.n;
        steps = static_cast<double>(i) * (k.n - i);
      } else {
        p_win = (1 - std::pow(r, i)) / (1 - std::pow(r, k.n));
        steps = i / (1 - 2 * k.p) - k.n / (1 - 2 * k.p) * p_win;
      }
      EXPECT_NEAR(win.probability[i + 1], p_win, k.tolerance * p_win);
      EXPECT_TRUE(std::isinf(win.steps[i + 1]));  // ruin is possible: the win may never come
      EXPECT_EQ(end.probability[i + 1], 1.0);
      EXPECT_NEAR(end.steps[i + 1], steps, k.tolerance * steps);
    }
  }
}

TEST(AnalyzeHitting, SymmetricWalkReturnsInTheMeanRecurrenceTime) {
  for (int n : {3, 10, 1000}) {
    SCOPED_TRACE(n);
    SPARSE_CHAIN c = reflecting_walk(n);
    for (int j : {1, n / 2 + 1}) {
      SCOPED_TRACE(testing::Message() << "target " << j);
      HITTING h = hitting_of(c, {j});
      const double want = j == 1 ? 2.0 * (n - 1) : n - 1.0;
      EXPECT_NEAR(h.return_time, want, 1e-9 * want);
    }
  }
}

// Kemeny's constant: sum over j of pi_j times the mean first passage time from i to j (0 for
// j = i) is the same from every state i; and each return time is 1 / pi_j.
TEST(AnalyzeHitting, MeanFirstPassageTimesGiveKemenysConstantFromEveryState) {
  const std::vector<std::vector<std::vector<double>>> chains = {
      {{0.7, 0.3}, {0.4, 0.6}},
      {{0, 1, 0}, {0.5, 0, 0.5}, {0, 1, 0}},
      {{0.1, 0.6, 0.3, 0}, {0.2, 0.2, 0.2, 0.4}, {0, 0, 0.5, 0.5}, {0.9, 0, 0, 0.1}},
      {{0.5, 0.5, 0, 0}, {0, 0.5, 0.5, 0}, {0, 0, 0.5, 0.5}, {1e-9, 0, 0, 1 - 1e-9}},
  };
  for (const auto& rows : chains) {
    const int n = static_cast<int>(rows.size());
    SCOPED_TRACE(testing::Message() << "states " << n << " first row " << rows[0][0]);
    SPARSE_CHAIN c = chain_of(rows);
    CHAIN_CLASSES cl;
    find_classes(&c, &cl);
    std::vector<double> pi = class_distributions(c, cl);
    std::vector<double> kemeny(static_cast<std::size_t>(n) + 1, 0.0);
    for (int j = 1; j <= n; j++) {
      HITTING h = hitting_of(c, {j});
      EXPECT_NEAR(h.return_time * pi[j], 1.0, 1e-9) << "return to " << j;
      for (int i = 1; i <= n; i++)
        kemeny[i] += pi[j] * h.steps[i];
    }
    for (int i = 2; i <= n; i++)
      EXPECT_NEAR(kemeny[i], kemeny[1], 1e-9 * kemeny[1]) << "from " << i;
  }
}

TEST(AnalyzeHitting, LargeChainsGivePassageTimesOfTheClosedFormAndReturnTimesOfOneOverPi) {
  // Beyond the dense size: a fast-mixing chain, whose system less one state is nearly singular,
  // and a slow line, on which the sparse solvers lose digits. On the line, the steps from k to
  // k - 1 are S_k / q_k with S_k = 1 + (p_k / q_(k+1)) S_(k+1) and S_n = 1.
  const int n = kSanitized ? 3000 : 10000;
  struct Case {
    bool line;
    int target;
  };
  for (const Case& k : {Case{true, 1}, Case{true, n / 2}, Case{false, 1}, Case{false, n}}) {
    SCOPED_TRACE(testing::Message() << (k.line ? "line" : "random") << " to " << k.target);
    std::mt19937_64 rng(5);
    std::vector<double> up, down;
    SPARSE_CHAIN c = k.line ? birth_death_line(n, &rng, &up, &down) : random_ring_chain(n, &rng);
    CHAIN_CLASSES cl;
    find_classes(&c, &cl);
    const std::vector<double> pi = class_distributions(c, cl);
    HITTING h = hitting_of(c, {k.target});
    EXPECT_TRUE(h.trusted);
    EXPECT_LE(h.steps_residual, 1e-12);
    EXPECT_NEAR(h.return_time * pi[k.target], 1.0, 1e-10);
    HITTING handed;  // the analysis hands over the distribution it has solved already
    solve_hitting(&c, {k.target}, &handed, pi.data());
    EXPECT_EQ(handed.steps, h.steps);
    if (!k.line || k.target != 1)
      continue;
    std::vector<double> s(n + 1, 1.0);
    for (int i = n - 1; i >= 2; i--)
      s[i] = 1.0 + up[i] / down[i + 1] * s[i + 1];
    double steps = 0.0;
    for (int i = 2; i <= n; i++) {
      steps += s[i] / down[i];
      ASSERT_NEAR(h.steps[i], steps, 1e-8 * steps) << "from " << i;
    }
  }
}

TEST(SmallExactHitting, CyclesGiveWholeStepsThatAreTrusted) {
  // Around a cycle of n states, state s reaches 1 in exactly n + 1 - s steps.
  for (int n : {2, 3, 7, 50}) {
    SCOPED_TRACE(n);
    std::vector<std::vector<std::pair<int, double>>> rows;
    for (int i = 1; i <= n; i++)
      rows.push_back({{i % n + 1, 1.0}});
    HITTING h = hitting_of(chain_of_rows(n, rows), {1});
    EXPECT_TRUE(h.trusted);
    EXPECT_EQ(h.steps_residual, 0.0);
    for (int s = 2; s <= n; s++)
      EXPECT_EQ(h.steps[s], n + 1 - s) << "from " << s;
    EXPECT_EQ(h.return_time, n);
  }
}

TEST(SmallExactHitting, LinesGiveTheBitsOfTheAbsorptionSection) {
  // A line into its last state, absorbing: the steps and the chance to reach it are what the
  // absorption section prints, bit for bit. Moves up with p, else down (or stays at 1); with a
  // ruin at 1 the target may be missed.
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> up(0.05, 0.95);
  for (int n : {3, 7, 40}) {
    for (int kind = 0; kind < 3; kind++) {  // sure steps, random steps, gambler's ruin
      SCOPED_TRACE(testing::Message() << n << " states, kind " << kind);
      std::vector<std::vector<std::pair<int, double>>> rows;
      for (int i = 1; i < n; i++) {
        const double p = kind == 0 ? 1.0 : up(rng);
        if (kind == 2 && i == 1) {
          rows.push_back({{1, 1.0}});
        } else if (p == 1.0) {
          rows.push_back({{i + 1, 1.0}});
        } else {
          rows.push_back({{i == 1 ? 1 : i - 1, 1.0 - p}, {i + 1, p}});
        }
      }
      rows.push_back({{n, 1.0}});
      SPARSE_CHAIN c = chain_of_rows(n, rows);
      CHAIN_CLASSES cl;
      find_classes(&c, &cl);
      ABSORPTION ab;
      solve_absorption(&c, &cl, &ab);
      HITTING h = hitting_of(c, {n});
      EXPECT_TRUE(h.trusted);
      const std::size_t nb = static_cast<std::size_t>(ab.nbr_closed) + 1;
      for (int i = 1; i <= ab.nbr_transient; i++) {
        const int s = ab.state[i];
        if (kind == 2) {
          EXPECT_EQ(h.probability[s], ab.probability[i * nb + nb - 1]) << "from " << s;
        } else {
          EXPECT_EQ(h.steps[s], ab.steps[i]) << "from " << s;
        }
      }
      if (kind == 0) {
        EXPECT_EQ(h.steps[1], n - 1);
      }
    }
  }
}

TEST(SmallExactHitting, StatesThatCannotReachTheTargetAreSaidNeverToReachIt) {
  // 1 may fall into 3, which never leaves; 3 never reaches 2.
  SPARSE_CHAIN c = chain_of({{0.5, 0.25, 0.25}, {0, 1, 0}, {0, 0, 1}});
  std::vector<int> targets = {2};
  HITTING h = hitting_of(c, targets);
  TestModel m(3, 1, 2);
  FilePtr out = open_sink();
  print_hitting(out.get(), &m.pv, &c, targets, &h, 2);
  const std::string text = read_all(out.get());
  EXPECT_NE(text.find("  1: probability 0.50, steps infinite (it may never be reached)\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  3: probability 0.00, steps infinite (it is never reached)\n"),
            std::string::npos)
      << text;
}
