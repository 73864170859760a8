// analyze_fast_test.cc - pravlin-analyze's fast paths give the plain paths' bits: the products
// on all cores, BiCGSTAB through them, and the per-state lines written in blocks.
// Part of pravlin; see README.md.
#include <gtest/gtest.h>

#include <Eigen/IterativeLinearSolvers>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "analyze_report.h"
#include "analyze_sparse_fast.h"
#include "analyze_states.h"
#include "analyze_test_matrix.h"
#include "analyze_test_util.h"
#include "test_util.h"

static bool same_bits(const Eigen::VectorXd& a, const Eigen::VectorXd& b) {
  return a.size() == b.size() &&
         std::memcmp(a.data(), b.data(), static_cast<std::size_t>(a.size()) * sizeof(double)) == 0;
}

// ---------------------------------------------------------------- products on all cores

TEST(RowProduct, GivesEigensBitsWhateverTheCoresAndScale) {
  std::mt19937_64 rng(11);
  // A row that cancels to exactly 0, an empty row, and a chain large enough for threads.
  SPARSE_MATRIX small(3, 3);
  small.insert(0, 0) = 0.5;
  small.insert(0, 2) = -0.5;
  small.insert(2, 1) = 0.1;
  small.makeCompressed();
  const SPARSE_CHAIN ring = random_ring_chain(210000, &rng);
  const SPARSE_MATRIX large = matrix_of(ring);
  ASSERT_GE(static_cast<std::size_t>(large.nonZeros()), ROW_PRODUCT_MIN_ENTRIES);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (const SPARSE_MATRIX* a : {static_cast<const SPARSE_MATRIX*>(&small), &large}) {
    Eigen::VectorXd x(a->cols());
    for (Eigen::Index i = 0; i < x.size(); i++)
      x(i) = u(rng);
    if (a == &small)
      x(0) = x(2);  // row 0: 0.5 x - 0.5 x
    for (double scale : {1.0, 0.3}) {
      const Eigen::VectorXd want = (*a * x) / scale;
      for (unsigned cores : {1u, 2u, 3u, 7u}) {
        SCOPED_TRACE(testing::Message()
                     << a->rows() << " rows, scale " << scale << ", " << cores << " cores");
        Eigen::VectorXd got(a->rows());
        row_product(*a, x.data(), got.data(), cores, scale);
        EXPECT_TRUE(same_bits(got, want));
        if (scale == 1.0) {
          EXPECT_TRUE(same_bits(ROWS_OPERAND{a, cores, nullptr} * x, want));
        }
      }
    }
  }
}

TEST(RowProduct, GroupedRowsGiveEigensBitsWhateverTheLengthsCoresAndScale) {
  // Rows of every length from 0 to 40 (a long one past the unrolled lengths), in runs and
  // alone, over several windows; a matrix of one partial window; and a chain's transposed rows.
  std::mt19937_64 rng(17);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  auto random_rows = [&](Eigen::Index n, int longest) {
    std::vector<Eigen::Triplet<double>> entries;
    for (Eigen::Index i = 0; i < n; i++) {
      const int length = (i / 3) % 7 == 0 ? 0 : static_cast<int>(rng() % (longest + 1));
      for (int e = 0; e < length; e++)
        entries.emplace_back(i, static_cast<Eigen::Index>(rng() % n), u(rng));
    }
    SPARSE_MATRIX a(n, n);
    a.setFromTriplets(entries.begin(), entries.end());
    return a;
  };
  const SPARSE_CHAIN ring = random_ring_chain(210000, &rng);
  const SPARSE_MATRIX cases[] = {random_rows(3 * ROW_GROUP_WINDOW + 77, 40), random_rows(100, 9),
                                 SPARSE_MATRIX(matrix_of(ring).transpose())};
  for (const SPARSE_MATRIX& a : cases) {
    ROW_GROUPS g;
    ASSERT_TRUE(group_rows(a, &g));
    Eigen::VectorXd x(a.cols());
    for (Eigen::Index i = 0; i < x.size(); i++)
      x(i) = u(rng);
    for (double scale : {1.0, -0.3}) {
      const Eigen::VectorXd want = (a * x) / scale;
      for (unsigned cores : {1u, 2u, 3u}) {
        SCOPED_TRACE(testing::Message()
                     << a.rows() << " rows, scale " << scale << ", " << cores << " cores");
        Eigen::VectorXd got = Eigen::VectorXd::Constant(a.rows(), NAN);
        row_product_grouped(&g, x.data(), got.data(), cores, scale);
        EXPECT_TRUE(same_bits(got, want));
        if (scale == 1.0) {
          EXPECT_TRUE(same_bits(ROWS_OPERAND{&a, cores, &g} * x, want));
        }
      }
    }
  }
}

TEST(RowProduct, GroupingRefusedForWantOfMemoryLeavesNoGroups) {
  SPARSE_MATRIX a(3, 3);
  a.insert(1, 2) = 0.5;
  a.makeCompressed();
  ROW_GROUPS g;
  set_scratch_limit(0);
  EXPECT_EQ(group_rows(a, &g), 0);
  set_scratch_limit(SIZE_MAX);
  EXPECT_EQ(g.order, nullptr);
  EXPECT_EQ(g.col, nullptr);
}

TEST(RowProduct, BiCGSTABThroughItEndsWithEigensSolversBits) {
  // I - P/2 for a random chain: well conditioned, as the stationary systems are.
  std::mt19937_64 rng(5);
  const SPARSE_CHAIN ring = random_ring_chain(30000, &rng);
  SPARSE_MATRIX identity(ring.n, ring.n);
  identity.setIdentity();
  const SPARSE_MATRIX a = identity - matrix_of(ring) * 0.5;
  Eigen::VectorXd b(a.rows());
  for (Eigen::Index i = 0; i < b.size(); i++)
    b(i) = 1.0 + static_cast<double>(i % 7);
  Eigen::BiCGSTAB<SPARSE_MATRIX, Eigen::DiagonalPreconditioner<double>> solver;
  solver.setTolerance(1e-13);
  solver.setMaxIterations(100);
  solver.compute(a);
  const Eigen::VectorXd guess = Eigen::VectorXd::Constant(a.rows(), 0.25);
  const Eigen::VectorXd want = solver.solveWithGuess(b, guess);
  Eigen::DiagonalPreconditioner<double> preconditioner;
  preconditioner.compute(a);
  Eigen::VectorXd got = guess;
  Eigen::Index iterations = 100;
  double error = 1e-13;
  Eigen::internal::bicgstab(ROWS_OPERAND{&a, 2, nullptr}, b, got, preconditioner, iterations,
                            error);
  EXPECT_EQ(iterations, solver.iterations());
  EXPECT_TRUE(same_bits(got, want));
}

// ---------------------------------------------------------------- per-state lines

// The lines as one formatted print each writes them.
static std::string printed_lines(const PRAVLIN* pv, const std::vector<int>& states, const double* x,
                                 int precision, int reciprocal) {
  FilePtr out = open_sink();
  for (int s : states) {
    std::fprintf(out.get(), "  ");
    print_state(out.get(), pv, s);
    if (x != nullptr)
      std::fprintf(out.get(), " %.*f", precision, reciprocal ? 1.0 / x[s] : x[s]);
    std::fprintf(out.get(), "\n");
  }
  return read_all(out.get());
}

TEST(AnalyzeReport, StateLinesAreWhatAPrintPerLineWrites) {
  // Enough states, with long names, that the lines fill several blocks.
  const int n = 6000;
  TestModel m(n, 1, 2);
  std::vector<std::string> names(static_cast<std::size_t>(n) + 1);
  std::vector<double> x(static_cast<std::size_t>(n) + 1);
  std::mt19937_64 rng(3);
  for (int s = 1; s <= n; s++) {
    // Unnamed, plain, and names that must be escaped (a tab, a backslash, a byte not UTF-8).
    names[s] = s % 4 == 0 ? "" : "state " + std::string(20, 'a' + s % 26);
    if (s % 4 == 1)
      names[s] += "\t\\\xff";
    if (s % 4 != 0)
      m.names[s] = names[s].data();
    x[s] = s % 97 == 0 ? 0.0 : std::ldexp(static_cast<double>(rng() >> 11), -53 - s % 40);
  }
  x[5] = NAN;
  std::vector<int> states;
  for (int s = n; s >= 1; s -= 2)
    states.push_back(s);
  const struct {
    const double* x;
    int precision, reciprocal;
  } cases[] = {{nullptr, 6, 0},  {x.data(), 6, 0},  {x.data(), 6, 1},
               {x.data(), 0, 1}, {x.data(), 17, 0}, {x.data(), 40, 1}};
  set_per_state_max(n);
  for (const auto& k : cases) {
    SCOPED_TRACE(testing::Message() << "precision " << k.precision << ", reciprocal "
                                    << k.reciprocal << (k.x == nullptr ? ", no numbers" : ""));
    FilePtr out = open_sink();
    print_state_lines(out.get(), &m.pv, states.data(), states.size(), k.x, k.precision,
                      k.reciprocal);
    EXPECT_EQ(read_all(out.get()), printed_lines(&m.pv, states, k.x, k.precision, k.reciprocal));
  }
  // One state more than the limit: one line in the place of all.
  set_per_state_max(n - 1);
  FilePtr out = open_sink();
  print_state_lines(out.get(), &m.pv, states.data(), states.size(), x.data(), 6, 0);
  EXPECT_EQ(read_all(out.get()),
            "  3000 lines left out, one a state: more than 5999 states (--per-state-max)\n");
  set_per_state_max(PER_STATE_MAX);
}
