// validate_test.cc - validation and normalisation of the model (error_check_pravlin): the
// missing-name warnings, zero totals, the exact comparison with 1.0 and the order of messages.
// Part of pravlin; see README.md.
#include "pravlin.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "test_util.h"
#include "validate.h"

static char kA[] = "a", kB[] = "b", kC[] = "c";

// n named states; initial probabilities and rows left for the test to fill.
static void name_all(TestModel& m) {
  char* names[] = {nullptr, kA, kB, kC};
  for (int i = 1; i <= m.pv.nbr_states && i <= 3; i++)
    m.names[i] = names[i];
}

static std::string check(TestModel& m) {
  testing::internal::CaptureStderr();
  error_check_pravlin(&m.pv);
  return testing::internal::GetCapturedStderr();
}

TEST(ErrorCheck, ModelThatTotalsOneGivesNoMessageAndIsLeftAlone) {
  TestModel m(2, 1, 2);
  name_all(m);
  m.init[1] = 0.5;
  m.init[2] = 0.5;
  m.rows[1][1] = 0.9;
  m.rows[1][2] = 0.1;
  m.rows[2][1] = 0.1;
  m.rows[2][2] = 0.9;
  EXPECT_EQ(check(m), "");
  EXPECT_EQ(m.init[1], 0.5);
  EXPECT_EQ(m.rows[1][1], 0.9);
  EXPECT_EQ(m.rows[1][2], 0.1);
  EXPECT_EQ(m.rows[2][2], 0.9);
}

TEST(ErrorCheck, SlotZeroRowZeroAndColumnZeroAreNeitherReadNorWritten) {
  TestModel m(2, 1, 2);
  name_all(m);
  m.init[0] = 0.25;  // would make the total 1.25
  m.init[1] = 0.5;
  m.init[2] = 0.5;
  for (int i = 0; i <= 2; i++) {
    m.rows[0][i] = 3.0;
    m.rows[i][0] = 7.0;
  }
  m.rows[1][1] = 1.0;
  m.rows[2][2] = 0.5;
  m.rows[2][1] = 0.25;
  EXPECT_EQ(check(m),
            " *** WARNING: normalizing transition_probability for state (2) by 0.750000\n");
  EXPECT_EQ(m.init[0], 0.25);
  EXPECT_EQ(m.rows[0][1], 3.0);
  EXPECT_EQ(m.rows[0][2], 3.0);
  EXPECT_EQ(m.rows[1][0], 7.0);
  EXPECT_EQ(m.rows[2][0], 7.0);
  EXPECT_EQ(m.names[0], nullptr);
}

TEST(ErrorCheck, InitialProbabilitiesThatMissOneAreRescaled) {
  TestModel m(2, 1, 2);
  name_all(m);
  m.init[1] = 0.2;
  m.init[2] = 0.2;
  m.rows[1][1] = 1.0;
  m.rows[2][1] = 1.0;
  EXPECT_EQ(check(m), " *** WARNING: normalizing initial_probability for all states by 0.400000\n");
  EXPECT_EQ(m.init[1], 0.5);
  EXPECT_EQ(m.init[2], 0.5);
}

TEST(ErrorCheck, TenTenthsAreRescaledByTheirRoundedTotal) {
  TestModel m(10, 1, 2);
  double total = 0.0;
  for (int i = 1; i <= 10; i++) {
    static char name[] = "s";
    m.names[i] = name;
    m.init[i] = 0.1;
    total += 0.1;
    m.rows[i][i] = 1.0;
  }
  ASSERT_NE(total, 1.0);  // 0.9999999999999999
  EXPECT_EQ(check(m),
            " *** WARNING: normalizing initial_probability for all states by 1.000000\n"
            " *** WARNING: the total, 0.99999999999999989, differs from 1 only by rounding\n");
  for (int i = 1; i <= 10; i++)
    EXPECT_EQ(m.init[i], 0.1 / total) << i;
  EXPECT_NE(m.init[1], 0.1);
}

TEST(ErrorCheck, ComparisonWithOneIsExactAndInColumnOrder) {
  // 0.1 + 0.2 + 0.7 is exactly 1.0; 0.7 + 0.2 + 0.1 is 0.9999999999999999.
  TestModel m(3, 1, 2);
  name_all(m);
  m.init[1] = 0.1;
  m.init[2] = 0.2;
  m.init[3] = 0.7;
  m.rows[1][1] = 0.7;
  m.rows[1][2] = 0.2;
  m.rows[1][3] = 0.1;
  m.rows[2][1] = 0.1;
  m.rows[2][2] = 0.2;
  m.rows[2][3] = 0.7;
  m.rows[3][1] = 0.6;
  m.rows[3][2] = 0.3;
  m.rows[3][3] = 0.1;
  EXPECT_EQ(check(m),
            " *** WARNING: normalizing transition_probability for state (1) by 1.000000\n"
            " *** WARNING: the total, 0.99999999999999989, differs from 1 only by rounding\n"
            " *** WARNING: normalizing transition_probability for state (3) by 1.000000\n"
            " *** WARNING: the total, 0.99999999999999989, differs from 1 only by rounding\n");
  EXPECT_EQ(m.init[1], 0.1);
  EXPECT_EQ(m.init[3], 0.7);
  const double s1 = (0.7 + 0.2) + 0.1, s3 = (0.6 + 0.3) + 0.1;
  EXPECT_EQ(m.rows[1][1], 0.7 / s1);
  EXPECT_EQ(m.rows[1][3], 0.1 / s1);
  EXPECT_EQ(m.rows[2][3], 0.7);
  EXPECT_EQ(m.rows[3][1], 0.6 / s3);
}

// A total that misses 1.0 by the rounding of its sum alone is told apart from one written so;
// both are rescaled, and the first line stays as it always was.
TEST(ErrorCheck, TotalOffByRoundingAloneIsSaidSoOnALineOfItsOwn) {
  const struct {
    double total;
    const char* said;
  } cases[] = {
      {0.9999999999999999,
       "1.000000\n *** WARNING: the total, 0.99999999999999989, differs"
       " from 1 only by rounding\n"},
      {1.0000000000000002,
       "1.000000\n *** WARNING: the total, 1.0000000000000002, differs"
       " from 1 only by rounding\n"},
      {1.0 - 1e-12,
       "1.000000\n *** WARNING: the total, 0.99999999999900002, differs from 1"
       " only by rounding\n"},
      {1.0 - 2e-12, "1.000000\n"},
      {1.0000004, "1.000000\n"},
      {0.9999996, "1.000000\n"},
      {1.5, "1.500000\n"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(error_check_row_total(4, c.total), 1);
    EXPECT_EQ(
        testing::internal::GetCapturedStderr(),
        std::string(" *** WARNING: normalizing transition_probability for state (4) by ") + c.said)
        << c.total;
  }
}

TEST(ErrorCheck, RowsAreRescaledOneByOne) {
  TestModel m(2, 1, 2);
  name_all(m);
  m.init[1] = 1.0;
  m.rows[1][1] = 0.5;
  m.rows[1][2] = 0.25;
  m.rows[2][1] = 0.9;
  m.rows[2][2] = 0.9;
  EXPECT_EQ(check(m),
            " *** WARNING: normalizing transition_probability for state (1) by 0.750000\n"
            " *** WARNING: normalizing transition_probability for state (2) by 1.800000\n");
  EXPECT_EQ(m.rows[1][1], 0.5 / 0.75);
  EXPECT_EQ(m.rows[1][2], 0.25 / 0.75);
  EXPECT_EQ(m.rows[2][1], 0.5);
  EXPECT_EQ(m.rows[2][2], 0.5);
}

TEST(ErrorCheck, WarningsInTheirOrder) {
  // Names first, in state order; then the initial probabilities; then row by row.
  TestModel m(3, 1, 2);
  m.names[2] = kB;
  m.init[2] = 0.5;
  m.rows[1][1] = 0.5;
  m.rows[2][2] = 1.0;
  m.rows[3][1] = 0.25;
  EXPECT_EQ(check(m),
            " *** WARNING: Missing NAME for STATE (1)\n"
            " *** WARNING: Missing NAME for STATE (3)\n"
            " *** WARNING: normalizing initial_probability for all states by 0.500000\n"
            " *** WARNING: normalizing transition_probability for state (1) by 0.500000\n"
            " *** WARNING: normalizing transition_probability for state (3) by 0.250000\n");
  EXPECT_EQ(m.init[2], 1.0);
  EXPECT_EQ(m.rows[1][1], 1.0);
  EXPECT_EQ(m.rows[3][1], 1.0);
}

TEST(ErrorCheckDeathTest, NullRecord) {
  EXPECT_EXIT(error_check_pravlin(nullptr), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: NULL pointer for pv in error_check_pravlin()\n"));
}

TEST(ErrorCheckDeathTest, ZeroInitialTotalAfterTheNameWarnings) {
  TestModel m(2, 1, 2);
  m.names[1] = kA;
  m.rows[1][1] = 1.0;
  m.rows[2][1] = 1.0;
  EXPECT_EXIT(error_check_pravlin(&m.pv), testing::ExitedWithCode(1),
              testing::Eq(" *** WARNING: Missing NAME for STATE (2)\n"
                          " *** ERROR: zero total initial_probability for all states\n"));
}

TEST(ErrorCheckDeathTest, ZeroRowAfterTheWarningsOfEarlierRows) {
  TestModel m(3, 1, 2);
  name_all(m);
  m.init[1] = 0.5;
  m.rows[1][1] = 0.5;
  m.rows[1][2] = 0.25;
  // row 2 all zero; row 3 would draw a warning, but the run has ended before it
  m.rows[3][3] = 0.5;
  m.rows[2][0] = 1.0;  // column 0 does not count
  EXPECT_EXIT(
      error_check_pravlin(&m.pv), testing::ExitedWithCode(1),
      testing::Eq(" *** WARNING: normalizing initial_probability for all states by 0.500000\n"
                  " *** WARNING: normalizing transition_probability for state (1) by 0.750000\n"
                  " *** ERROR: zero total transition_probability for state (2)\n"));
}

TEST(ErrorCheckDeathTest, UnreachableStateStillNeedsATransition) {
  TestModel m(2, 1, 2);
  name_all(m);
  m.init[1] = 1.0;
  m.rows[1][1] = 1.0;
  EXPECT_EXIT(error_check_pravlin(&m.pv), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: zero total transition_probability for state (2)\n"));
}

TEST(ErrorCheckDeathTest, RowOfZerosIsRefusedEvenWithNegativeZero) {
  TestModel m(2, 1, 2);
  name_all(m);
  m.init[1] = 1.0;
  m.rows[1][1] = -0.0;
  m.rows[1][2] = 0.0;
  EXPECT_EXIT(error_check_pravlin(&m.pv), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: zero total transition_probability for state (1)\n"));
}
