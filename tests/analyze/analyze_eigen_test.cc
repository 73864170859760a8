// analyze_eigen_test.cc - pravlin-analyze's spectrum, mixing time and Kemeny constant against
// closed forms (the two-state chain, cycles, the birth-death line) and a numpy fixture.
// Part of pravlin; see README.md.
#include <gtest/gtest.h>

#include <Eigen/SVD>
#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <map>
#include <vector>

#include "analyze_class_ops.h"
#include "analyze_dense_eigen.h"
#include "analyze_eigen.h"
#include "analyze_kemeny.h"
#include "analyze_mixing.h"
#include "test_util.h"

static const double PI = 3.14159265358979323846;

// Every eigenvalue of a dense matrix, by the solver the dense spectrum uses.
static Eigen::VectorXcd all_eigenvalues(const Eigen::MatrixXd& a) {
  Eigen::VectorXcd values;
  general_eigen(a, &values, nullptr);
  return values;
}

// A chain of n states with P_ij = p(i, j) (1-based, zeros left out), its classes and the
// stationary distribution of each closed class.
struct SolvedChain {
  SPARSE_CHAIN c;
  CHAIN_CLASSES cl;
  std::vector<double> pi;
};

static SolvedChain solved(int n,
                          const std::function<std::vector<std::pair<int, double>>(int)>& row) {
  std::vector<TRANSITION_ENTRY> list;
  for (int i = 1; i <= n; i++) {
    std::vector<std::pair<int, double>> r = row(i);
    std::sort(r.begin(), r.end());
    for (const auto& [j, p] : r) {
      if (p > 0.0)
        list.push_back(TRANSITION_ENTRY{i, j, p});
    }
  }
  SolvedChain s;
  sparse_chain_from_list(&s.c, n, list);
  find_classes(&s.c, &s.cl);
  s.pi.assign(static_cast<std::size_t>(n) + 1, 0.0);
  for (int k = 1; k <= s.cl.nbr_classes; k++) {
    if (s.cl.closed[k])
      class_stationary(&s.c, &s.cl, k, s.pi.data());
  }
  return s;
}

static SolvedChain two_state(double p, double q) {
  return solved(2, [&](int i) {
    return i == 1 ? std::vector<std::pair<int, double>>{{1, 1.0 - p}, {2, p}}
                  : std::vector<std::pair<int, double>>{{1, q}, {2, 1.0 - q}};
  });
}

// n states on a cycle, staying with probability stay and otherwise moving one place on.
static SolvedChain cycle(int n, double stay) {
  return solved(n, [&](int i) {
    return std::vector<std::pair<int, double>>{{i, stay}, {i % n + 1, 1.0 - stay}};
  });
}

// The symmetric line: up and down 1/4, the rest staying (3/4 at the ends). Its eigenvalues are
// 1/2 + cos(pi k / n) / 2, k = 0 .. n - 1.
static SolvedChain line(int n) {
  return solved(n, [&](int i) {
    std::vector<std::pair<int, double>> r{{i, 0.5 + 0.25 * ((i == 1) + (i == n))}};
    if (i > 1)
      r.push_back({i - 1, 0.25});
    if (i < n)
      r.push_back({i + 1, 0.25});
    return r;
  });
}

// A birth-death line with random moves (up p_i, down q_i, each from 0.25 to 0.30), and its
// Kemeny constant from its closed form: the passage from k to k + 1 takes F_k / (p_k pi_k) steps
// on average, F_k = pi_1 + ... + pi_k, so that K = sum_j pi_j m_1j = sum_k F_k (1 - F_k) /
// (p_k pi_k), with 1 - F_k summed as the tail.
static SolvedChain random_line(int n, std::mt19937_64* rng, double* kemeny) {
  std::vector<double> up(n + 2, 0.0), down(n + 2, 0.0);
  for (int i = 1; i <= n; i++) {
    up[i] = i < n ? 0.25 + 0.05 * static_cast<double>((*rng)() % 1000) / 1000.0 : 0.0;
    down[i] = i > 1 ? 0.25 + 0.05 * static_cast<double>((*rng)() % 1000) / 1000.0 : 0.0;
  }
  std::vector<long double> pi(n + 2, 0.0L), head(n + 2, 0.0L), tail(n + 2, 0.0L);
  pi[1] = 1.0L;
  for (int i = 2; i <= n; i++)
    pi[i] = pi[i - 1] * up[i - 1] / down[i];
  for (int i = 1; i <= n; i++)
    head[i] = head[i - 1] + pi[i];
  for (int i = n; i >= 1; i--)
    tail[i] = tail[i + 1] + pi[i + 1];
  long double k = 0.0L;
  for (int i = 1; i < n; i++)
    k += head[i] * (tail[i] / head[n]) / (up[i] * pi[i]);
  *kemeny = static_cast<double>(k);
  return solved(n, [&](int i) {
    std::vector<std::pair<int, double>> r{{i, 1.0 - up[i] - down[i]}};
    if (i > 1)
      r.push_back({i - 1, down[i]});
    if (i < n)
      r.push_back({i + 1, up[i]});
    return r;
  });
}

// 1 - lambda_k of the line, without cancellation.
static double line_gap(int n, int k) {
  const double s = std::sin(PI * k / (2.0 * n));
  return s * s;
}

// A random chain of 5 states, its eigenvalues, Kemeny constant and distances from numpy 1.24
// (numpy.linalg.eigvals; trace of (I - P + 1 pi')^-1 minus 1; stepping P).
static const double kFixture[5][5] = {{0.10, 0.60, 0.00, 0.30, 0.00},
                                      {0.00, 0.05, 0.70, 0.00, 0.25},
                                      {0.40, 0.00, 0.10, 0.50, 0.00},
                                      {0.00, 0.20, 0.00, 0.15, 0.65},
                                      {0.55, 0.00, 0.35, 0.00, 0.10}};
static const double kFixtureEigenvalues[5][2] = {{1.0, 0.0},
                                                 {-0.29187256293303593, 0.640359613343259},
                                                 {-0.29187256293303593, -0.640359613343259},
                                                 {0.04187256293303601, 0.3865002847586943},
                                                 {0.04187256293303601, -0.3865002847586943}};
static const double kFixtureKemeny = 3.038055968635934;

static SolvedChain fixture() {
  return solved(5, [](int i) {
    std::vector<std::pair<int, double>> r;
    for (int j = 1; j <= 5; j++)
      r.push_back({j, kFixture[i - 1][j - 1]});
    return r;
  });
}

static CLASS_SPECTRUM spectrum_of(const SolvedChain& s, int count, int k = 1) {
  CLASS_SPECTRUM sp;
  solve_spectrum(&s.c, &s.cl, k, s.pi.data(), count, &sp);
  return sp;
}

// ==== Spectrum ==================================================================================

TEST(Spectrum, TwoStateChainHasEigenvalueOneMinusPMinusQ) {
  struct Case {
    double p, q;
  };
  const Case cases[] = {{0.3, 0.4}, {0.9, 0.8}, {1e-9, 2e-9}, {0.5, 0.5}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "p " << k.p << " q " << k.q);
    const CLASS_SPECTRUM sp = spectrum_of(two_state(k.p, k.q), 2);
    ASSERT_TRUE(sp.found);
    const double lambda = 1.0 - k.p - k.q;
    ASSERT_EQ(sp.largest.size(), 2u);
    EXPECT_EQ(sp.largest[0].re, 1.0);
    EXPECT_NEAR(sp.largest[1].re, lambda, 1e-15);
    EXPECT_NEAR(sp.slem, std::fabs(lambda), 1e-15);
    EXPECT_NEAR(sp.gap, 1.0 - std::fabs(lambda), 1e-15);
    EXPECT_NEAR(relaxation_time(&sp) * (1.0 - std::fabs(lambda)), 1.0, 1e-6);
    if (lambda != 0.0) {
      EXPECT_NEAR(implied_timescale(&sp.largest[1]), -1.0 / std::log(std::fabs(lambda)),
                  1e-6 * -1.0 / std::log(std::fabs(lambda)));
    }
  }
}

TEST(Spectrum, RandomChainMatchesNumpyWithItsComplexPairs) {
  const CLASS_SPECTRUM sp = spectrum_of(fixture(), 5);
  ASSERT_TRUE(sp.found);
  EXPECT_FALSE(sp.reversible);
  ASSERT_EQ(sp.largest.size(), 5u);
  for (int i = 0; i < 5; i++) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(sp.largest[i].re, kFixtureEigenvalues[i][0], 1e-13);
    EXPECT_NEAR(sp.largest[i].im, kFixtureEigenvalues[i][1], 1e-13);
  }
  EXPECT_NEAR(sp.slem, std::hypot(kFixtureEigenvalues[1][0], kFixtureEigenvalues[1][1]), 1e-13);
}

TEST(Spectrum, PeriodicCycleHasTheExactRootsOfUnityAndNoRelaxation) {
  const CLASS_SPECTRUM sp = spectrum_of(cycle(4, 0.0), 4);
  ASSERT_TRUE(sp.found);
  EXPECT_EQ(sp.period, 4);
  EXPECT_EQ(sp.slem, 1.0);
  EXPECT_EQ(sp.gap, 0.0);
  EXPECT_TRUE(std::isinf(relaxation_time(&sp)));
  // Modulus 1 each: 1 first, then by real part, then the positive imaginary part.
  const double want[4][2] = {{1.0, 0.0}, {0.0, 1.0}, {0.0, -1.0}, {-1.0, 0.0}};
  for (int i = 0; i < 4; i++) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(sp.largest[i].re, want[i][0], 1e-16);
    EXPECT_NEAR(sp.largest[i].im, want[i][1], 1e-16);
    EXPECT_TRUE(std::isinf(implied_timescale(&sp.largest[i])));
  }
}

// A class periodic but for entries of 1e-15 or less is regular, and its gap is below what
// rounding leaves: no eigenvalue beyond the unit circle, 1 listed first, no relaxation time.
TEST(Spectrum, NearlyPeriodicClassHasNoModulusAboveOneAndAnUnresolvedGap) {
  struct Case {
    const char* name;
    SolvedChain chain;
    int count;
  };
  const double leak = 1e-20;
  const Case cases[] = {
      {"3-cycle leaking 1e-20",
       solved(3,
              [&](int i) {
                return std::vector<std::pair<int, double>>{
                    {i, leak}, {i % 3 + 1, 1.0}, {(i + 1) % 3 + 1, leak}};
              }),
       2},
      {"two states, one entry 5e-324",
       solved(2,
              [&](int i) {
                return i == 1 ? std::vector<std::pair<int, double>>{{1, 5e-324}, {2, 1.0}}
                              : std::vector<std::pair<int, double>>{{1, 1.0}};
              }),
       2},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_EQ(k.chain.cl.period[1], 1);
    const CLASS_SPECTRUM sp = spectrum_of(k.chain, k.count);
    ASSERT_TRUE(sp.found);
    EXPECT_EQ(sp.largest[0].re, 1.0);
    EXPECT_EQ(sp.largest[0].im, 0.0);
    for (const EIGENVALUE& e : sp.largest)
      EXPECT_LE(e.modulus, 1.0);
    EXPECT_LE(sp.slem, 1.0);
    EXPECT_GE(sp.gap, 0.0);
    EXPECT_TRUE(sp.gap_unresolved);
    EXPECT_TRUE(std::isinf(relaxation_time(&sp)));
    CLASS_MIXING mx;
    solve_mixing(&k.chain.c, &k.chain.cl, 1, k.chain.pi.data(), 0.25, &mx, &sp);
    EXPECT_FALSE(mx.spectral);
    EXPECT_TRUE(mx.gap_unresolved);
  }
}

// The roots of unity of a large periodic class are its largest eigenvalues: no iterations.
TEST(Spectrum, LargePeriodicClassGivesTheRootsOfUnityWithoutIterating) {
  const int n = 100000;
  const CLASS_SPECTRUM sp = spectrum_of(cycle(n, 0.0), 5);
  ASSERT_TRUE(sp.found);
  EXPECT_STREQ(sp.method, "the roots of unity of its period");
  EXPECT_EQ(sp.slem, 1.0);
  ASSERT_EQ(sp.largest.size(), 5u);
  for (int i = 0; i < 5; i++) {
    SCOPED_TRACE(i);
    const int j = (i + 1) / 2;
    EXPECT_EQ(sp.largest[i].modulus, 1.0);
    EXPECT_NEAR(sp.largest[i].re, std::cos(2 * PI * j / n), 1e-15);
    EXPECT_NEAR(sp.largest[i].im, (i % 2 ? 1.0 : -1.0) * std::sin(2 * PI * j / n), 1e-15);
  }
  EXPECT_EQ(spectrum_of(cycle(6, 0.0), 6).largest.size(), 6u);
}

// Two random blocks of 300 states, not reversible, joined by 1e-9 each way from one state:
// lambda_2 is within 1e-11 of 1 and the rest near 0.55 or below, which the 32nd power leaves
// near 1e-8 of it.
TEST(Spectrum, MetastableClassFindsItsEigenvalueNextToOne) {
  std::mt19937_64 rng(7);
  const int half = 300, n = 2 * half;
  std::vector<std::vector<std::pair<int, double>>> rows(n + 1);
  for (int i = 1; i <= n; i++) {
    const int base = i <= half ? 0 : half;
    double total = 0.0;
    for (int t = 0; t < 5; t++) {
      // A ring within the block first, so that each block is one class.
      const int j =
          t == 0 ? base + (i - base) % half + 1 : base + 1 + static_cast<int>(rng() % half);
      const double w = static_cast<double>(rng() % 1000 + 1);
      rows[i].push_back({j, w});
      total += w;
    }
    std::map<int, double> merged;
    for (const auto& [j, w] : rows[i])
      merged[j] += w / total * (i == 1 || i == half + 1 ? 1.0 - 1e-9 : 1.0);
    if (i == 1 || i == half + 1)
      merged[i == 1 ? half + 1 : 1] += 1e-9;
    rows[i].assign(merged.begin(), merged.end());
  }
  const SolvedChain s = solved(n, [&](int i) { return rows[i]; });
  ASSERT_EQ(s.cl.nbr_classes, 1);
  const CLASS_SPECTRUM sp = spectrum_of(s, 3);
  ASSERT_TRUE(sp.found) << sp.why;
  EXPECT_FALSE(sp.reversible);
  CLASS_OPS ops;
  class_ops_build(&s.c, &s.cl, 1, s.pi.data(), &ops, 0);
  const Eigen::VectorXcd all = all_eigenvalues(Eigen::MatrixXd(ops.p));
  std::vector<double> modulus;
  for (Eigen::Index i = 0; i < all.size(); i++)
    modulus.push_back(std::abs(all(i)));
  std::sort(modulus.rbegin(), modulus.rend());
  ASSERT_EQ(sp.largest.size(), 3u);
  EXPECT_GT(sp.slem, 1.0 - 1e-8);
  EXPECT_NEAR(sp.gap, 1.0 - modulus[1], 1e-12);
  EXPECT_NEAR(sp.largest[2].modulus, modulus[2], 1e-9);
}

// Beyond the dense size the eigenvalues come from Krylov methods: a lazy cycle (not reversible)
// through the group inverse, the line (reversible) through its symmetrised group inverse.
TEST(Spectrum, LargeSlowClassesMatchTheirClosedForms) {
  {
    SCOPED_TRACE("lazy cycle of 2000");
    const int n = 2000;
    const CLASS_SPECTRUM sp = spectrum_of(cycle(n, 0.5), 4);
    ASSERT_TRUE(sp.found);
    EXPECT_FALSE(sp.reversible);
    EXPECT_NEAR(sp.slem, std::cos(PI / n), 1e-13);
    ASSERT_EQ(sp.largest.size(), 4u);
    EXPECT_NEAR(sp.largest[3].re, 0.5 + 0.5 * std::cos(4 * PI / n), 1e-13);
    EXPECT_NEAR(std::fabs(sp.largest[3].im), 0.5 * std::sin(4 * PI / n), 1e-13);
  }
  {
    const int n = kSanitized ? 10000 : 100000;
    SCOPED_TRACE(testing::Message() << "line of " << n);
    const CLASS_SPECTRUM sp = spectrum_of(line(n), 6);
    ASSERT_TRUE(sp.found);
    EXPECT_TRUE(sp.reversible);
    EXPECT_NEAR(sp.slem, 1.0 - line_gap(n, 1), 1e-12);
    ASSERT_EQ(sp.largest.size(), 6u);
    for (int k = 1; k < 6; k++)
      EXPECT_NEAR(sp.largest[k].distance / line_gap(n, k), 1.0, 1e-6) << k;
  }
}

// A wide band of n states (a Gaussian step leaning up, 180 states either way, as Tauchen's AR(1)
// chain).
static SolvedChain wide_band(int n) {
  const int reach = 180;
  return solved(n, [&](int i) {
    std::vector<std::pair<int, double>> r;
    for (int j = std::max(1, i - reach); j <= std::min(n, i + reach); j++)
      r.emplace_back(j, std::exp(-0.5 * std::pow((j - i) / 60.0, 2)) *
                            (1.0 + 0.9 * std::tanh((j - i) / 20.0)));
    double total = 0.0;
    for (const auto& e : r)
      total += e.second;
    for (auto& e : r)
      e.second /= total;
    return r;
  });
}

// Every product with the group inverse of the wide band would repeat an elimination dearer than
// 32 products with P, and the eigenvalues wanted stand apart, so Arnoldi on P itself finds what
// the dense solver finds.
TEST(Spectrum, WideBandClassIsSolvedOnPItselfAsTheDenseSolverSolvesIt) {
  const int n = 600;
  const SolvedChain s = wide_band(n);
  const CLASS_SPECTRUM sp = spectrum_of(s, 6);
  ASSERT_TRUE(sp.found);
  EXPECT_FALSE(sp.reversible);
  EXPECT_STREQ(sp.method, "Arnoldi on P deflated by pi");
  Eigen::MatrixXd dense = Eigen::MatrixXd::Zero(n, n);
  for (int i = 1; i <= n; i++) {
    for (std::size_t e = s.c.row_start[i]; e < s.c.row_start[i + 1]; e++)
      dense(i - 1, s.c.to[e] - 1) = s.c.p[e];
  }
  const Eigen::VectorXcd all = all_eigenvalues(dense);
  std::vector<double> modulus;
  for (Eigen::Index i = 0; i < all.size(); i++)
    modulus.push_back(std::abs(all(i)));
  std::sort(modulus.rbegin(), modulus.rend());
  ASSERT_EQ(sp.largest.size(), 6u);
  for (int i = 0; i < 6; i++)
    EXPECT_NEAR(sp.largest[i].modulus, modulus[i], 1e-10) << i;
}

// A random chain of n states without a self-loop: each row a ring move and four drawn, weighted
// at random; n x n by rows.
static std::vector<double> random_rows(int n, std::mt19937_64* rng) {
  std::vector<double> a(static_cast<std::size_t>(n) * n, 0.0);
  for (int i = 0; i < n; i++) {
    double* row = a.data() + static_cast<std::size_t>(i) * n;
    row[(i + 1) % n] += 1.0;
    for (int t = 0; t < 4; t++) {
      const int j = static_cast<int>((*rng)() % static_cast<unsigned>(n - 1));
      row[j < i ? j : j + 1] += static_cast<double>((*rng)() % 1000 + 1) / 1000.0;
    }
    double total = 0.0;
    for (int j = 0; j < n; j++)
      total += row[j];
    for (int j = 0; j < n; j++)
      row[j] /= total;
  }
  return a;
}

TEST(Spectrum, RandomSparseClassMatchesTheSpectrumOfItsFactors) {
  // Two random chains moving together: the product chain of 700 states, beyond the dense size,
  // not reversible and never staying put, goes to Arnoldi on a power of P. Its eigenvalues are
  // the products of the factors', found densely.
  std::mt19937_64 rng(11);
  const int na = 25, nb = 28, n = na * nb;
  const std::vector<double> a = random_rows(na, &rng), b = random_rows(nb, &rng);
  const SolvedChain s = solved(n, [&](int i) {
    std::vector<std::pair<int, double>> r;
    const int ia = (i - 1) / nb, ib = (i - 1) % nb;
    for (int ja = 0; ja < na; ja++) {
      for (int jb = 0; jb < nb; jb++)
        r.push_back({ja * nb + jb + 1, a[ia * na + ja] * b[ib * nb + jb]});
    }
    return r;
  });
  std::vector<double> moduli;
  {
    const Eigen::MatrixXd ma = Eigen::Map<const Eigen::MatrixXd>(a.data(), na, na).transpose();
    const Eigen::MatrixXd mb = Eigen::Map<const Eigen::MatrixXd>(b.data(), nb, nb).transpose();
    const Eigen::VectorXcd la = all_eigenvalues(ma);
    const Eigen::VectorXcd lb = all_eigenvalues(mb);
    for (Eigen::Index i = 0; i < na; i++) {
      for (Eigen::Index j = 0; j < nb; j++)
        moduli.push_back(std::abs(la(i) * lb(j)));
    }
    std::sort(moduli.rbegin(), moduli.rend());
  }
  const CLASS_SPECTRUM sp = spectrum_of(s, 6);
  ASSERT_TRUE(sp.found);
  EXPECT_FALSE(sp.reversible);
  EXPECT_EQ(std::string(sp.method), "Arnoldi on a power of P deflated by pi");
  ASSERT_EQ(sp.largest.size(), 6u);
  for (int i = 0; i < 6; i++)
    EXPECT_NEAR(sp.largest[i].modulus, moduli[i], 1e-11) << i;
  EXPECT_NEAR(sp.slem, moduli[1], 1e-11);
}

TEST(Spectrum, LargestClosedClassBoundsTheCountAskedFor) {
  // Two absorbing states and a closed class of three, with a transient state into all.
  const SolvedChain s = solved(6, [](int i) {
    switch (i) {
      case 1:
        return std::vector<std::pair<int, double>>{{2, 0.5}, {5, 0.25}, {6, 0.25}};
      case 2:
      case 3:
        return std::vector<std::pair<int, double>>{{i + 1, 1.0}};
      case 4:
        return std::vector<std::pair<int, double>>{{2, 1.0}};
      default:
        return std::vector<std::pair<int, double>>{{i, 1.0}};
    }
  });
  EXPECT_EQ(largest_closed_class(&s.cl), 3);
}

TEST(Spectrum, SolverIsPreparedOnlyForClassesWhoseSpectrumSolvesWithIt) {
  // A lazy cycle (not reversible, every state stays), the line (reversible), a cycle that never
  // stays, whose spectrum Arnoldi finds on powers of P alone, and the wide band, whose band
  // costs more a step than the power of P.
  const struct {
    const char* name;
    SolvedChain chain;
    int used;
  } cases[] = {{"lazy cycle", cycle(1000, 0.5), 1},
               {"line", line(1000), 1},
               {"cycle that never stays", cycle(1000, 0.0), 0},
               {"wide band", wide_band(600), 0}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    CLASS_OPS ops;
    class_ops_build(&k.chain.c, &k.chain.cl, 1, k.chain.pi.data(), &ops, 1);
    EXPECT_EQ(ops.direct, 1);
    EXPECT_EQ(spectrum_uses_solver(&ops, k.chain.cl.period[1]), k.used);
  }
}

TEST(ClassOps, ClassBetweenOthersKeepsItsOwnRowsByLocalIndex) {
  // States 2, 4 and 6 form one closed class and 3, 5 and 7 another, state 1 leads into both:
  // the class of state 2 takes its rows in the order of its states, and I - P the outflows.
  const double rows[3][3] = {{0.2, 0.5, 0.3}, {0.0, 0.6, 0.4}, {0.7, 0.1, 0.2}};
  const SolvedChain s = solved(7, [&](int i) {
    std::vector<std::pair<int, double>> r;
    if (i == 1)
      return std::vector<std::pair<int, double>>{{2, 0.5}, {3, 0.5}};
    for (int j = 0; j < 3; j++)
      r.push_back({2 * j + 2 + (i % 2), rows[(i - 2) / 2][j]});
    return r;
  });
  const int k = s.cl.class_of[2];
  CLASS_OPS ops;
  class_ops_build(&s.c, &s.cl, k, s.pi.data(), &ops, 1);
  ASSERT_EQ(ops.m, 3);
  const Eigen::MatrixXd p = Eigen::MatrixXd(ops.p), a = Eigen::MatrixXd(ops.a);
  for (int i = 0; i < 3; i++) {
    double out = 0.0;
    for (int j = 0; j < 3; j++) {
      EXPECT_EQ(p(i, j), rows[i][j]) << i << " " << j;
      if (j != i) {
        EXPECT_EQ(a(i, j), -rows[i][j]) << i << " " << j;
        out += rows[i][j];
      }
    }
    EXPECT_EQ(a(i, i), out) << i;
  }
  EXPECT_EQ(ops.p.nonZeros(), 8);
  EXPECT_EQ(ops.min_stay, 0.2);
}

// ==== Mixing time ===============================================================================

// The two-state chain is at distance max(pi) |1 - p - q|^t after t steps.
TEST(MixingTime, TwoStateChainMatchesItsClosedForm) {
  struct Case {
    double p, q, epsilon;
    long time;
  };
  const Case cases[] = {{0.3, 0.4, 0.25, 1}, {0.3, 0.4, 0.01, 4},        {0.05, 0.1, 0.25, 7},
                        {0.9, 0.8, 0.1, 5},  {1e-6, 1e-6, 0.25, 346574}, {0.5, 0.5, 0.5, 0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "p " << k.p << " q " << k.q << " eps " << k.epsilon);
    const SolvedChain s = two_state(k.p, k.q);
    CLASS_MIXING mx;
    solve_mixing(&s.c, &s.cl, 1, s.pi.data(), k.epsilon, &mx);
    ASSERT_TRUE(mx.exact);
    EXPECT_EQ(mx.time, k.time);
    const double lambda = std::fabs(1.0 - k.p - k.q);
    const double top = std::max(k.p, k.q) / (k.p + k.q);
    EXPECT_NEAR(mx.distance_at, top * std::pow(lambda, static_cast<double>(k.time)), 1e-9);
    EXPECT_LE(mx.distance_at, k.epsilon);
    if (k.time > 0) {
      EXPECT_GT(mx.distance_before, k.epsilon);
    }
  }
}

TEST(MixingTime, RandomChainMatchesNumpyStepping) {
  const SolvedChain s = fixture();
  const double epsilons[] = {0.25, 0.01};
  const long times[] = {4, 13};
  const double before[] = {0.2537340137893741, 0.011239528161609391};
  for (int i = 0; i < 2; i++) {
    CLASS_MIXING mx;
    solve_mixing(&s.c, &s.cl, 1, s.pi.data(), epsilons[i], &mx);
    ASSERT_TRUE(mx.exact);
    EXPECT_EQ(mx.time, times[i]);
    EXPECT_NEAR(mx.distance_before, before[i], 1e-12);
  }
}

TEST(MixingTime, PeriodicClassNeverMixesBelowOneMinusOneOverItsPeriod) {
  const SolvedChain s = cycle(3, 0.0);
  CLASS_MIXING mx;
  solve_mixing(&s.c, &s.cl, 1, s.pi.data(), 0.5, &mx);
  EXPECT_TRUE(mx.never);
  // Above 1 - 1/3 the distance is reached at once: every start is at 2/3 from pi.
  solve_mixing(&s.c, &s.cl, 1, s.pi.data(), 0.7, &mx);
  EXPECT_FALSE(mx.never);
  EXPECT_TRUE(mx.exact);
  EXPECT_EQ(mx.time, 0);
}

TEST(MixingTime, LargeReversibleClassGetsBoundsAroundTheExactTime) {
  // The lazy walk on the hypercube of dimension 12 (4096 states): staying with probability 1/2,
  // else flipping one of its bits. Its eigenvalues are 1 - k / d, so t_rel = d.
  const int d = 12, n = 1 << d;
  const SolvedChain s = solved(n, [&](int i) {
    std::vector<std::pair<int, double>> r{{i, 0.5}};
    for (int bit = 0; bit < d; bit++)
      r.push_back({((i - 1) ^ (1 << bit)) + 1, 0.5 / d});
    return r;
  });
  CLASS_MIXING mx;
  solve_mixing(&s.c, &s.cl, 1, s.pi.data(), 0.25, &mx);
  ASSERT_FALSE(mx.exact);
  ASSERT_TRUE(mx.spectral);
  EXPECT_NEAR(mx.lower, (d - 1.0) * std::log(2.0), 1e-9);
  EXPECT_NEAR(mx.upper, d * std::log(4.0 * n), 1e-9);
  // The sampled starts are no worse than the worst, which the upper bound covers.
  EXPECT_EQ(mx.starts, MIXING_STARTS);
  EXPECT_TRUE(mx.sample_reached);
  EXPECT_LE(static_cast<double>(mx.sample_time), mx.upper);
  EXPECT_GE(static_cast<double>(mx.sample_time), 1.0);
  EXPECT_EQ(mx.highest, static_cast<long>(std::ceil(mx.upper)));
  EXPECT_GE(mx.lowest, mx.sample_time);
  // The exact time of a line of 100, densely, lies within its own bounds.
  const SolvedChain small = line(100);
  CLASS_MIXING exact;
  solve_mixing(&small.c, &small.cl, 1, small.pi.data(), 0.25, &exact);
  ASSERT_TRUE(exact.exact);
  const double t_small = 1.0 / line_gap(100, 1);
  EXPECT_GE(static_cast<double>(exact.time), (t_small - 1.0) * std::log(2.0));
  EXPECT_LE(static_cast<double>(exact.time), t_small * std::log(4.0 * 100));
}

// Above a thousand states a class that is not reversible still gets its exact time by squaring:
// the same as stepping every start.
TEST(MixingTime, ExactAboveAThousandStatesAsSteppingEveryStart) {
  std::mt19937_64 rng(11);
  const int n = 1001;
  const std::vector<double> a = random_rows(n, &rng);
  const SolvedChain s = solved(n, [&](int i) {
    std::vector<std::pair<int, double>> r;
    for (int j = 1; j <= n; j++) {
      const double v = a[static_cast<std::size_t>(i - 1) * n + (j - 1)];
      if (v > 0.0)
        r.push_back({j, v});
    }
    return r;
  });
  CLASS_MIXING mx;
  solve_mixing(&s.c, &s.cl, 1, s.pi.data(), 0.01, &mx);
  ASSERT_TRUE(mx.exact) << mx.inexact;
  EXPECT_FALSE(mx.reversible);
  const Eigen::SparseMatrix<double> p =
      Eigen::Map<const Eigen::Matrix<double, -1, -1, Eigen::RowMajor>>(a.data(), n, n).sparseView();
  const Eigen::RowVectorXd pi = Eigen::Map<const Eigen::RowVectorXd>(s.pi.data() + 1, n);
  Eigen::MatrixXd x = Eigen::MatrixXd::Identity(n, n);
  long t = 0;
  double worst = 1.0;
  while (worst > 0.01) {
    x = x * p;
    t++;
    worst = 0.5 * (x.rowwise() - pi).cwiseAbs().rowwise().sum().maxCoeff();
  }
  EXPECT_EQ(mx.time, t);
  EXPECT_NEAR(mx.distance_at, worst, 1e-12);
}

// sigma2 is the second singular value of S = Pi^1/2 P Pi^-1/2. The lazy directed cycle has
// P P* = (2 I + C + C') / 4, so sigma2^2 = (1 + cos(2 pi / n)) / 2.
TEST(MixingTime, SecondSingularValueMatchesTheDenseOne) {
  std::mt19937_64 rng(13);
  const int n = 300;
  const std::vector<double> a = random_rows(n, &rng);
  const SolvedChain chains[] = {
      cycle(50, 0.5), solved(n, [&](int i) {
        std::vector<std::pair<int, double>> r;
        for (int j = 1; j <= n; j++) {
          if (a[static_cast<std::size_t>(i - 1) * n + (j - 1)] > 0.0)
            r.push_back({j, a[static_cast<std::size_t>(i - 1) * n + (j - 1)]});
        }
        return r;
      })};
  for (const SolvedChain& s : chains) {
    SCOPED_TRACE(s.c.n);
    CLASS_OPS ops;
    class_ops_build(&s.c, &s.cl, 1, s.pi.data(), &ops, 0);
    ASSERT_FALSE(ops.reversible);
    Eigen::MatrixXd dense = Eigen::MatrixXd(ops.p);
    for (int i = 0; i < ops.m; i++) {
      for (int j = 0; j < ops.m; j++)
        dense(i, j) *= std::sqrt(ops.pi[i]) / std::sqrt(ops.pi[j]);
    }
    const Eigen::VectorXd sv = Eigen::JacobiSVD<Eigen::MatrixXd>(dense).singularValues();
    const double sigma = second_singular_value(&ops);
    EXPECT_GE(sigma, sv(1));
    EXPECT_NEAR(sigma, sv(1), 1e-8);
    if (s.c.n == 50) {
      EXPECT_NEAR(sigma, std::sqrt((1.0 + std::cos(2 * PI / 50)) / 2.0), 1e-8);
    }
  }
}

// Beyond the dense size a class that is not reversible gets a lower and an upper bound, the
// upper from sigma2.
TEST(MixingTime, LargeClassNotReversibleGetsBothBounds) {
  std::mt19937_64 rng(17);
  const int n = MIXING_DENSE_MAX + 1;
  const SolvedChain s = solved(n, [&](int i) {
    std::map<int, double> r{{i % n + 1, 1.0}};
    for (int t = 0; t < 4; t++)
      r[static_cast<int>(rng() % n) + 1] += static_cast<double>(rng() % 1000 + 1) / 1000.0;
    double total = 0.0;
    for (const auto& [j, p] : r)
      total += p;
    std::vector<std::pair<int, double>> row;
    for (const auto& [j, p] : r)
      row.push_back({j, p / total});
    return row;
  });
  CLASS_MIXING mx;
  solve_mixing(&s.c, &s.cl, 1, s.pi.data(), 0.25, &mx);
  ASSERT_FALSE(mx.exact);
  EXPECT_FALSE(mx.reversible);
  ASSERT_LT(mx.sigma2, 1.0);
  const double pi_min = *std::min_element(s.pi.begin() + 1, s.pi.end());
  EXPECT_NEAR(mx.upper,
              std::log(4.0 * 0.0625 * pi_min / (1.0 - pi_min)) / (2.0 * std::log(mx.sigma2)),
              1e-9 * mx.upper);
  EXPECT_EQ(mx.highest, static_cast<long>(std::ceil(mx.upper)));
  EXPECT_GE(mx.highest, mx.lowest);
  EXPECT_GE(mx.lowest, mx.sample_time);
}

// ==== Kemeny constant ===========================================================================

TEST(KemenyConstant, ClosedFormsHoldExactlyEvenOnSlowChains) {
  struct Case {
    const char* name;
    SolvedChain chain;
    double kemeny;
  };
  // The two-state chain: 1 / (p + q). A cycle staying with probability a: (n - 1) / (2 (1 - a)),
  // periodic or not. The line: the sum of 1 / (1 - lambda_k).
  double line_sum = 0.0;
  for (int k = 1; k < 1000; k++)
    line_sum += 1.0 / line_gap(1000, k);
  std::mt19937_64 rng(5);
  double bd = 0.0;
  const SolvedChain drift = random_line(400, &rng, &bd);
  const Case cases[] = {{"two states", two_state(0.3, 0.4), 1.0 / 0.7},
                        {"birth-death line with drifts", drift, bd},
                        {"slow two states", two_state(1e-9, 3e-9), 1.0 / 4e-9},
                        {"cycle", cycle(7, 0.0), 3.0},
                        {"lazy cycle", cycle(500, 0.75), 998.0},
                        {"line", line(1000), line_sum},
                        {"numpy fixture", fixture(), kFixtureKemeny}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CLASS_KEMENY km;
    solve_kemeny(&k.chain.c, &k.chain.cl, 1, k.chain.pi.data(), &km);
    ASSERT_TRUE(km.exact);
    EXPECT_NEAR(km.value / k.kemeny, 1.0, 1e-12);
  }
}

TEST(KemenyConstant, LargeClassIsEstimatedWithAnIntervalHoldingTheValue) {
  // Beyond the dense size: a lazy cycle and lines (an elimination within the band per probe).
  const int n = 2500;
  double line_sum = 0.0;
  for (int k = 1; k < n; k++)
    line_sum += 1.0 / line_gap(n, k);
  struct Case {
    const char* name;
    SolvedChain chain;
    double kemeny;
  };
  std::mt19937_64 rng(6);
  double bd = 0.0;
  const SolvedChain drift = random_line(n, &rng, &bd);
  const Case cases[] = {{"lazy cycle", cycle(n, 0.5), n - 1.0},
                        {"line", line(n), line_sum},
                        {"birth-death line with drifts", drift, bd}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CLASS_KEMENY km;
    solve_kemeny(&k.chain.c, &k.chain.cl, 1, k.chain.pi.data(), &km);
    ASSERT_FALSE(km.exact);
    ASSERT_EQ(km.refused, nullptr);
    EXPECT_EQ(km.probes, KEMENY_PROBES);
    EXPECT_LE(km.residual, GROUP_INVERSE_GOAL);
    EXPECT_LE(km.low, k.kemeny);
    EXPECT_GE(km.high, k.kemeny);
    EXPECT_LT(km.high - km.low, 0.5 * k.kemeny);
  }
}

TEST(KemenyConstant, AbsorbingChainHasNoneAndSaysSo) {
  // A line into an absorbing state: every closed class is a single state.
  const SolvedChain s = solved(3, [](int i) {
    return i < 3 ? std::vector<std::pair<int, double>>{{i, 0.5}, {i + 1, 0.5}}
                 : std::vector<std::pair<int, double>>{{3, 1.0}};
  });
  EXPECT_TRUE(chain_is_absorbing(&s.cl));
  FilePtr out = open_sink();
  print_kemeny(out.get(), &s.cl, {}, 6);
  EXPECT_EQ(read_all(out.get()),
            "\nKemeny constant: none, the chain is absorbing: it ends in one of its absorbing "
            "states, from which no other state is ever reached\n");
  const SolvedChain closed = two_state(0.1, 0.2);
  EXPECT_FALSE(chain_is_absorbing(&closed.cl));
}
