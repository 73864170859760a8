// steady_state_test.cc - the matrix product and the squaring solver.
// Part of pravlin; see README.md.
#include "pravlin.h"
#include "scratch.h"
#include "tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "steady_state.h"
#include "test_util.h"

TEST(MultiplyArrayByArray, SquaringInPlaceGivesTheTrueSquare) {
  std::mt19937_64 rng(11);
  for (int n : {1, 2, 3, 10, 31}) {
    SCOPED_TRACE(n);
    Matrix a = random_matrix(n, n, rng);
    Matrix want = literal_product(a, a);
    multiply_array_by_array(a.p(), a.p(), a.p(), n, n, n);
    expect_bits_equal(a, want);
  }
}

TEST(MultiplyArrayByArrayDeathTest, RefusesNullMatricesAndEmptyDimensions) {
  Matrix a(2, 2);
  EXPECT_EXIT(multiply_array_by_array(nullptr, a.p(), a.p(), 2, 2, 2), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: NULL Pointer in multiply_array_by_array()\n"));
  EXPECT_EXIT(multiply_array_by_array(a.p(), a.p(), a.p(), 2, 0, 2), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: Illegal array dimension in mulitply_array_by_array()\n"));
}

TEST(CalcSteadyState, EqualRowsPassOnTheFirstSquaring) {
  Matrix a(2, 2);
  a.ptr[1][1] = a.ptr[1][2] = a.ptr[2][1] = a.ptr[2][2] = 0.5;
  std::vector<double> b(3, -1.0);
  double error = -1.0;
  EXPECT_EQ(calc_steady_state(a.p(), b.data(), 2, 100, 1e-6, &error, 0), 0);
  EXPECT_EQ(error, 0.0);
  EXPECT_EQ(b[1], 0.5);
  EXPECT_EQ(b[2], 0.5);
  EXPECT_EQ(a.ptr[1][1], 0.5) << "the transition matrix is left unchanged";
}

TEST(CalcSteadyState, AlwaysSwapRunsToTheLimit) {
  Matrix a(2, 2);
  a.ptr[1][2] = a.ptr[2][1] = 1.0;
  std::vector<double> b(3);
  double error = 0.0;
  EXPECT_EQ(calc_steady_state(a.p(), b.data(), 2, 0, 0.0, &error, 0), 100);
  EXPECT_EQ(error, 1.0);
  EXPECT_EQ(b[1], 1.0);
  EXPECT_EQ(b[2], 0.0);
  EXPECT_EQ(calc_steady_state(a.p(), b.data(), 2, 7, 1.0, &error, 0), 7);
}

TEST(CalcSteadyState, LimitOfOneIsHonoured) {
  Matrix a(2, 2);
  a.ptr[1][2] = a.ptr[2][1] = 1.0;
  std::vector<double> b(3);
  EXPECT_EQ(calc_steady_state(a.p(), b.data(), 2, 1, 1e-6, nullptr, 0), 1);
}

TEST(CalcSteadyState, IdentityNeverConverges) {
  Matrix a(3, 3);
  for (int i = 1; i <= 3; i++)
    a.ptr[i][i] = 1.0;
  std::vector<double> b(4);
  double error = 0.0;
  EXPECT_EQ(calc_steady_state(a.p(), b.data(), 3, 100, 1e-6, &error, 0), 100);
  EXPECT_NEAR(error, std::sqrt(2.0), 1e-12);
  EXPECT_EQ(b[1], 1.0);
  EXPECT_EQ(b[2], 0.0);
  EXPECT_EQ(b[3], 0.0);
}

TEST(CalcSteadyState, OneStateGivesTheSquareOfItsEntry) {
  Matrix a(1, 1);
  a.ptr[1][1] = 0.3;
  std::vector<double> b(2);
  EXPECT_EQ(calc_steady_state(a.p(), b.data(), 1, 100, 1e-6, nullptr, 0), 0);
  EXPECT_EQ(b[1], 0.3 * 0.3);
}

TEST(CalcSteadyState, TwoStateChainConvergesToItsStationaryDistribution) {
  Matrix a(2, 2);
  a.ptr[1][1] = 0.7;
  a.ptr[1][2] = 0.3;
  a.ptr[2][1] = 0.4;
  a.ptr[2][2] = 0.6;
  std::vector<double> b(3);
  double error = 1.0;
  int i = calc_steady_state(a.p(), b.data(), 2, 100, 1e-12, &error, 0);
  EXPECT_LT(i, 100);
  EXPECT_LT(error, 1e-12);
  EXPECT_NEAR(b[1], 4.0 / 7.0, 1e-12);
  EXPECT_NEAR(b[2], 3.0 / 7.0, 1e-12);
}

TEST(CalcSteadyState, DebugTracesEachPowerByColumnsThenADollar) {
  Matrix a(2, 2);
  a.ptr[1][1] = 0.9;
  a.ptr[1][2] = 0.1;
  a.ptr[2][1] = a.ptr[2][2] = 0.5;
  std::vector<double> b(3);
  testing::internal::CaptureStderr();
  calc_steady_state(a.p(), b.data(), 2, 1, 1e-6, nullptr, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "0.860000 0.700000 \n0.140000 0.300000 \ni = 0  cerror = 0.025600\n$");
}

// The solver as it is defined: square, then measure down each column, until the measure's root
// falls below the threshold or the limit is reached.
static int literal_steady_state(Matrix a, std::vector<double>* b, int limit, double threshold,
                                double* error) {
  const int n = a.rows;
  int i = 0;
  double cerror = 0.0;
  while (i < limit) {
    a = literal_product(a, a);
    cerror = 0.0;
    for (int c = 1; c <= n; c++) {
      double row_sum = 0.0;
      for (int r = 1; r <= n; r++)
        row_sum += a.ptr[r][c];
      double row_average = row_sum / n;
      for (int r = 1; r <= n; r++) {
        double d = a.ptr[r][c] - row_average;
        cerror += d * d;
      }
    }
    if (std::sqrt(cerror) < threshold)
      break;
    i++;
  }
  *error = std::sqrt(cerror);
  for (int c = 1; c <= n; c++)
    (*b)[static_cast<std::size_t>(c)] = a.ptr[1][c];
  return i;
}

TEST(CalcSteadyState, MatchesTheLiteralSolverBitForBit) {
  std::mt19937_64 rng(11);
  for (int n : {1, 2, 3, 7, 8, 9, 17, 40}) {
    for (int limit : {1, 3, 20}) {
      SCOPED_TRACE(testing::Message() << "n " << n << " limit " << limit);
      Matrix a = random_matrix(n, n, rng);
      for (int r = 1; r <= n; r++) {  // rows of a chain, some entries zero
        double total = 0.0;
        for (int c = 1; c <= n; c++) {
          if ((r + c) % 5 == 0)
            a.ptr[r][c] = 0.0;
          total += a.ptr[r][c];
        }
        for (int c = 1; c <= n; c++)
          a.ptr[r][c] = total > 0.0 ? a.ptr[r][c] / total : 1.0 / n;
      }
      std::vector<double> got(static_cast<std::size_t>(n) + 1), want(got.size());
      double got_error = -1.0, want_error = -2.0;
      int got_i = calc_steady_state(a.p(), got.data(), n, limit, 1e-9, &got_error, 0);
      int want_i = literal_steady_state(a, &want, limit, 1e-9, &want_error);
      EXPECT_EQ(got_i, want_i);
      EXPECT_EQ(std::memcmp(&got_error, &want_error, sizeof(double)), 0)
          << got_error << " vs " << want_error;
      EXPECT_EQ(std::memcmp(got.data() + 1, want.data() + 1, sizeof(double) * n), 0);
    }
  }
}

TEST(CalcSteadyStateDeathTest, RefusesNullMatrixOrNoStates) {
  Matrix a(2, 2);
  std::vector<double> b(3);
  EXPECT_EXIT(calc_steady_state(nullptr, b.data(), 2, 100, 1e-6, nullptr, 0),
              testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR : NULL Pointer or n < 1 in calc_steady_state()\n"));
  EXPECT_EXIT(calc_steady_state(a.p(), b.data(), 0, 100, 1e-6, nullptr, 0),
              testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR : NULL Pointer or n < 1 in calc_steady_state()\n"));
}

TEST(CalcSteadyStateDeathTest, WorkingMatricesCountWithTheTablesAgainstTheMemoryLimit) {
  // 100 states: the working copy takes 101 x 101 doubles (81608 bytes), the product's
  // temporary 100 x 100 (80000 bytes).
  const struct {
    std::size_t limit;
    bool product_only;  // multiply_array_by_array on its own
    int status;
    const char* message;
  } cases[] = {
      {80000, false, 1, " *** ERROR : NULL Pointer in calc_steady_state()\n"},
      {160000, false, 1, " *** ERROR: NULL Pointer in multiply_array_by_array() a\n"},
      {170000, false, 0, ""},
      {70000, true, 1, " *** ERROR: NULL Pointer in multiply_array_by_array() a\n"},
  };
  Matrix a(100, 100);
  for (int i = 1; i <= 100; i++)
    a.p()[i][i % 100 + 1] = 1.0;
  std::vector<double> b(101);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    EXPECT_EXIT(
        {
          PRAVLIN none{};
          free_tables(&none);  // forgets what earlier tests in this process counted
          set_table_memory_limit(c.limit);
          if (c.product_only) {
            multiply_array_by_array(a.p(), a.p(), a.p(), 100, 100, 100);
          } else {
            calc_steady_state(a.p(), b.data(), 100, 2, 1e-6, nullptr, 0);
          }
          std::exit(0);
        },
        testing::ExitedWithCode(c.status), testing::Eq(c.message));
  }
}

// The solver's copy and the product's temporary are memory the plain algorithm needs too:
// refused, they end the run with the solver's and the product's messages.
TEST(CalcSteadyStateDeathTest, MemoryRefusedEndsWithTheStageMessages) {
  Matrix a(40, 40);
  std::vector<double> b(41);
  EXPECT_EXIT(
      {
        set_scratch_limit(1000);
        calc_steady_state(a.p(), b.data(), 40, 10, 1e-6, nullptr, 0);
        std::exit(0);
      },
      testing::ExitedWithCode(1),
      testing::Eq(" *** ERROR : NULL Pointer in calc_steady_state()\n"));
  EXPECT_EXIT(
      {
        set_scratch_limit(1000);
        multiply_array_by_array(a.p(), a.p(), a.p(), 40, 40, 40);
        std::exit(0);
      },
      testing::ExitedWithCode(1),
      testing::Eq(" *** ERROR: NULL Pointer in multiply_array_by_array() a\n"));
}
