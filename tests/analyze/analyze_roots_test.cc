// analyze_roots_test.cc - the chain over another period: roots that give the chain back, the
// chains that have none, the repairs of the CreditMetrics monthly root, a generator recovered,
// and powers by squaring.
// Part of pravlin; see README.md.
#include "analyze_roots.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

typedef std::vector<std::vector<double>> Rows;

// The chain of the given rows (states 1..n), through its dense matrix as the conversion holds
// one: 1-based, (n + 1)^2.
static std::vector<double> dense_of(const Rows& rows) {
  const std::size_t w = rows.size() + 1;
  std::vector<double> a(w * w, 0.0);
  for (std::size_t i = 1; i < w; i++) {
    for (std::size_t j = 1; j < w; j++)
      a[i * w + j] = rows[i - 1][j - 1];
  }
  return a;
}

static SPARSE_CHAIN chain_of(const Rows& rows) {
  std::vector<double> a = dense_of(rows);
  const std::size_t w = rows.size() + 1;
  std::vector<double*> r(w);
  for (std::size_t i = 0; i < w; i++)
    r[i] = a.data() + i * w;
  SPARSE_CHAIN c;
  sparse_chain_from_matrix(&c, r.data(), static_cast<int>(rows.size()));
  return c;
}

static double largest_difference(const std::vector<double>& a, const std::vector<double>& b) {
  double largest = 0.0;
  for (std::size_t i = 0; i < a.size(); i++)
    largest = std::fmax(largest, std::fabs(a[i] - b[i]));
  return largest;
}

// Every entry of a root from 0 and every row totalling 1; of a generator, every entry off the
// diagonal from 0 and every row totalling 0.
static void expect_valid(const PERIOD_CONVERSION& pc) {
  const int n = pc.n;
  const std::size_t w = static_cast<std::size_t>(n) + 1;
  const bool generator = pc.kind == CONVERSION_GENERATOR;
  for (int i = 1; i <= n; i++) {
    double total = 0.0;
    for (int j = 1; j <= n; j++) {
      const double v = pc.matrix[i * w + j];
      total += v;
      if (!generator || i != j) {
        EXPECT_GE(v, 0.0) << "entry " << i << ", " << j;
      }
    }
    EXPECT_NEAR(total, generator ? 0.0 : 1.0, 1e-12) << "row " << i;
  }
}

// The CreditMetrics one-year rating migration (AAA, AA, A, BBB, BB, B, CCC, default), with
// the diagonal of B and CCC moved by 0.0001 so that every row totals 1. Its principal 12th root
// has seven small negative entries, the least CCC to AA, -2.33e-5, and so has its principal
// logarithm off the diagonal, -3.10e-4 (scipy's logm and expm, kept here as numbers).
static const Rows kCreditMetrics = {
    {0.9081, 0.0833, 0.0068, 0.0006, 0.0012, 0, 0, 0},
    {0.007, 0.9065, 0.0779, 0.0064, 0.0006, 0.0014, 0.0002, 0},
    {0.0009, 0.0227, 0.9105, 0.0552, 0.0074, 0.0026, 0.0001, 0.0006},
    {0.0002, 0.0033, 0.0595, 0.8693, 0.053, 0.0117, 0.0012, 0.0018},
    {0.0003, 0.0014, 0.0067, 0.0773, 0.8053, 0.0884, 0.01, 0.0106},
    {0, 0.0011, 0.0024, 0.0043, 0.0648, 0.8347, 0.0407, 0.052},
    {0.0022, 0, 0.0022, 0.013, 0.0238, 0.1124, 0.6485, 0.1979},
    {0, 0, 0, 0, 0, 0, 0, 1}};

// ---- roots -----------------------------------------------------------------------------------

TEST(AnalyzeRoots, TwelfthPowerOfAnEmbeddableRootGivesBackTheChain) {
  const std::vector<Rows> chains = {{{0.9, 0.1}, {0.5, 0.5}},
                                    {{0.8, 0.15, 0.05}, {0.1, 0.85, 0.05}, {0, 0, 1}},
                                    {{0.7, 0.2, 0.1}, {0.3, 0.5, 0.2}, {0.2, 0.2, 0.6}}};
  for (const Rows& rows : chains) {
    SCOPED_TRACE(rows.size());
    const SPARSE_CHAIN c = chain_of(rows);
    PERIOD_CONVERSION pc;
    solve_conversion(&c, CONVERSION_ROOT, 12, REPAIR_NONE, &pc);
    EXPECT_EQ(pc.verdict, VERDICT_EMBEDDABLE);
    ASSERT_TRUE(pc.converted);
    EXPECT_FALSE(pc.repaired);
    expect_valid(pc);
    std::vector<double> back;
    dense_power(pc.matrix, pc.n, 12, &back);
    EXPECT_LE(largest_difference(back, dense_of(rows)), 1e-12);
    EXPECT_LE(pc.distance, 1e-12);
  }
  // scipy's fractional_matrix_power of the first, 1/12.
  const SPARSE_CHAIN c = chain_of(chains[0]);
  PERIOD_CONVERSION pc;
  solve_conversion(&c, CONVERSION_ROOT, 12, REPAIR_NONE, &pc);
  EXPECT_NEAR(pc.matrix[3 + 1], 0.98774748, 1e-8);
  EXPECT_NEAR(pc.matrix[6 + 1], 0.06126261, 1e-8);
}

TEST(AnalyzeRoots, ChainsWithoutAValidPrincipalRootAreRefusedWithTheReason) {
  struct Case {
    const char* name;
    Rows rows;
    int verdict;
    double negative;  // the real negative eigenvalue; 0 for none
  };
  const Case cases[] = {
      {"eigenvalue -0.6", {{0.2, 0.8}, {0.8, 0.2}}, VERDICT_NEGATIVE_EIGENVALUE, -0.6},
      {"swap", {{0, 1}, {1, 0}}, VERDICT_NEGATIVE_EIGENVALUE, -1.0},
      {"three-cycle", {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}}, VERDICT_NEGATIVE_ENTRIES, 0.0},
      {"singular", {{0.5, 0.5}, {0.5, 0.5}}, VERDICT_DETERMINANT, 0.0},
  };
  for (const Case& t : cases) {
    for (int kind : {CONVERSION_ROOT, CONVERSION_GENERATOR}) {
      SCOPED_TRACE(std::string(t.name) + (kind == CONVERSION_ROOT ? ", root" : ", generator"));
      const SPARSE_CHAIN c = chain_of(t.rows);
      PERIOD_CONVERSION pc;
      solve_conversion(&c, kind, 12, REPAIR_NONE, &pc);
      EXPECT_EQ(pc.verdict, t.verdict);
      EXPECT_NEAR(pc.spectrum.negative, t.negative, 1e-12);
      EXPECT_FALSE(pc.converted);
      EXPECT_TRUE(pc.matrix.empty());
      // Asked for, a repair gives a valid chain or generator, however far, except where there
      // is no logarithm to start from.
      solve_conversion(&c, kind, 12, REPAIR_QO, &pc);
      EXPECT_EQ(pc.verdict, t.verdict);
      if (t.verdict == VERDICT_DETERMINANT) {
        EXPECT_FALSE(pc.converted);
        continue;
      }
      ASSERT_TRUE(pc.converted);
      EXPECT_TRUE(pc.repaired);
      expect_valid(pc);
      EXPECT_GT(pc.distance, 0.1);
    }
  }
}

// ---- repairs ---------------------------------------------------------------------------------

TEST(AnalyzeRoots, CreditMetricsMonthlyRootIsRepairedIntoAChainByEachRepair) {
  const SPARSE_CHAIN c = chain_of(kCreditMetrics);
  const std::vector<double> p = dense_of(kCreditMetrics);
  for (int kind : {CONVERSION_ROOT, CONVERSION_GENERATOR}) {
    for (int repair : {REPAIR_QO, REPAIR_DA, REPAIR_WA}) {
      SCOPED_TRACE(std::to_string(kind) + " " + std::to_string(repair));
      PERIOD_CONVERSION pc;
      solve_conversion(&c, kind, 12, repair, &pc);
      EXPECT_EQ(pc.verdict, VERDICT_NEGATIVE_ENTRIES);
      EXPECT_EQ(pc.nbr_negative, 7);
      EXPECT_EQ(pc.least_from, 7);
      EXPECT_EQ(pc.least_to, 2);
      EXPECT_NEAR(pc.least, kind == CONVERSION_ROOT ? -2.3313673923881e-5 : -3.100692351830e-4,
                  1e-14);
      ASSERT_TRUE(pc.converted);
      EXPECT_TRUE(pc.repaired);
      expect_valid(pc);
      // Near the chain, and the distance is that of the matrix kept.
      EXPECT_GT(pc.distance, 1e-5);
      EXPECT_LT(pc.distance, 2e-3);
      if (kind == CONVERSION_ROOT) {
        std::vector<double> back;
        dense_power(pc.matrix, pc.n, 12, &back);
        double largest = 0.0;
        for (int i = 1; i <= 8; i++) {
          double sum = 0.0;
          for (int j = 1; j <= 8; j++)
            sum += std::fabs(back[i * 9 + j] - p[i * 9 + j]);
          largest = std::fmax(largest, sum);
        }
        EXPECT_EQ(pc.distance, largest);
      }
    }
  }
}

TEST(AnalyzeRoots, RowsMoveOntoTheValidRowsByEachRepair) {
  struct Case {
    int repair, generator;
    std::vector<double> row, want;  // row 1 of a 3 x 3 matrix
  };
  const double sixth = 6.0 / 11.0;
  const Case cases[] = {
      {REPAIR_QO, 0, {1.2, -0.1, -0.1}, {1.0, 0.0, 0.0}},
      {REPAIR_QO, 0, {0.5, 0.6, -0.1}, {0.45, 0.55, 0.0}},
      {REPAIR_QO, 0, {0.3, 0.7, 0.0}, {0.3, 0.7, 0.0}},
      {REPAIR_DA, 0, {0.5, 0.6, -0.1}, {0.4, 0.6, 0.0}},
      {REPAIR_WA, 0, {0.5, 0.6, -0.1}, {0.5 / 1.1, 0.6 / 1.1, 0.0}},
      {REPAIR_QO, 1, {-0.5, 0.6, -0.1}, {-0.55, 0.55, 0.0}},
      {REPAIR_QO, 1, {-0.5, 0.3, 0.2}, {-0.5, 0.3, 0.2}},
      {REPAIR_DA, 1, {-0.5, 0.6, -0.1}, {-0.6, 0.6, 0.0}},
      {REPAIR_WA, 1, {-0.5, 0.6, -0.1}, {-sixth, sixth, 0.0}},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(std::to_string(t.repair) + (t.generator ? " generator " : " root ") +
                 std::to_string(t.row[0]) + " " + std::to_string(t.row[1]));
    std::vector<double> a(16, 0.0);
    for (int j = 1; j <= 3; j++)
      a[4 + j] = t.row[j - 1];
    ASSERT_TRUE(repair_row(a.data(), 3, 1, t.repair, t.generator));
    for (int j = 1; j <= 3; j++)
      EXPECT_NEAR(a[4 + j], t.want[j - 1], 1e-15) << "entry " << j;
  }
  // The diagonal cannot make up a row whose other entries pass 1.
  std::vector<double> a(16, 0.0);
  a[5] = -0.4, a[6] = 0.7, a[7] = 0.5;
  EXPECT_FALSE(repair_row(a.data(), 3, 1, REPAIR_DA, 0));
}

// ---- generators and powers -------------------------------------------------------------------

TEST(AnalyzeRoots, GeneratorOfTheExponentialRecoversTheRatesOfAnAbsorbingChain) {
  // P = expm(Q) by scipy, Q = [[-0.3, 0.2, 0.1], [0.1, -0.4, 0.3], [0, 0, 0]].
  const Rows p = {{0.7479973886228657, 0.14146672891023232, 0.110535882466902},
                  {0.07073336445511615, 0.6772640241677496, 0.25200261137713426},
                  {0.0, 0.0, 1.0}};
  const std::vector<double> q = dense_of({{-0.3, 0.2, 0.1}, {0.1, -0.4, 0.3}, {0, 0, 0}});
  const SPARSE_CHAIN c = chain_of(p);
  PERIOD_CONVERSION pc;
  solve_conversion(&c, CONVERSION_GENERATOR, 1, REPAIR_NONE, &pc);
  EXPECT_EQ(pc.verdict, VERDICT_EMBEDDABLE);
  ASSERT_TRUE(pc.converted);
  EXPECT_LE(largest_difference(pc.matrix, q), 1e-10);
  EXPECT_LE(pc.distance, 1e-12);
}

TEST(AnalyzeRoots, PowerBySquaringIsTheProductOfItsSteps) {
  const Rows rows = {{0.7, 0.2, 0.1}, {0.3, 0.5, 0.2}, {0.2, 0.2, 0.6}};
  const std::vector<double> p = dense_of(rows);
  std::vector<double> stepped = p;
  for (long k = 1; k <= 12; k++) {
    SCOPED_TRACE(k);
    std::vector<double> power;
    dense_power(p, 3, k, &power);
    EXPECT_LE(largest_difference(power, stepped), 1e-15);
    std::vector<double> next(16, 0.0);
    for (int i = 1; i <= 3; i++) {
      for (int j = 1; j <= 3; j++) {
        for (int m = 1; m <= 3; m++)
          next[i * 4 + j] += stepped[i * 4 + m] * p[m * 4 + j];
      }
    }
    stepped = next;
  }
}
