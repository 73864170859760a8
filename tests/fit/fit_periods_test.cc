// fit_periods_test.cc - pravlin-fit's --by-period: the list of periods, the step a transition
// belongs to, a two-period chain fitted back, and the test that one matrix serves both periods.
// Part of pravlin; see README.md.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fit.h"
#include "fit/fit_test_cells.h"
#include "fit_periods.h"
#include "fit_read.h"

static void fit_by_period(FIT_OPTIONS* opt, const char* list, const std::string& text,
                          FIT_DATA* data, FIT_EXTRAS* extras) {
  fit_parse_periods(list, opt);
  fit_read_text(opt, text, "data.txt", data);
  FIT_MODEL whole;
  fit_estimate(opt, data, &whole);
  fit_periods(opt, data, extras);
}

TEST(FitPeriodsList, RangesOpenEndsAndSingleStepsFollowOneAnother) {
  struct {
    const char* list;
    std::vector<long> first, last;
    std::vector<std::string> names;
  } const cases[] = {
      {"1-10,11-", {1, 11}, {10, -1}, {"1-10", "11-"}},
      {"1,2-3,4", {1, 2, 4}, {1, 3, 4}, {"1", "2-3", "4"}},
      {"1-", {1}, {-1}, {"1-"}},
      {"1-5", {1}, {5}, {"1-5"}},
  };
  for (const auto& c : cases) {
    FIT_OPTIONS opt = fit_default_options();
    fit_parse_periods(c.list, &opt);
    EXPECT_EQ(opt.period_first, c.first) << c.list;
    EXPECT_EQ(opt.period_last, c.last) << c.list;
    for (std::size_t p = 0; p < c.names.size(); p++)
      EXPECT_EQ(fit_period_name(&opt, p), c.names[p]) << c.list;
  }
}

TEST(FitPeriodsListDeathTest, MalformedOverlappingAndGappedListsGetOneLine) {
  struct {
    const char* list;
    const char* message;
  } const cases[] = {
      {"", "--by-period needs periods"},
      {"1-10,,11-", "--by-period needs periods"},
      {"1-x", "--by-period needs periods"},
      {"1-0", "--by-period needs periods"},
      {"5-3", "--by-period needs periods"},
      {"1-,5-", "--by-period needs periods"},
      {"0-4,5-", "--by-period needs periods"},
      {"1- 4", "--by-period needs periods"},
      {"1-99999999999999999999", "--by-period needs periods"},
      {"1-10,8-", "the periods \\(1-10\\) and \\(8-\\) overlap"},
      {"1-10,12-", "no period holds step 11"},
      {"2-", "no period holds step 1"},
  };
  for (const auto& c : cases) {
    FIT_OPTIONS opt = fit_default_options();
    EXPECT_EXIT(fit_parse_periods(c.list, &opt), testing::ExitedWithCode(1), c.message) << c.list;
  }
}

TEST(FitPeriods, ATransitionBelongsToThePeriodOfTheStepItLandsOn) {
  FIT_OPTIONS opt = fit_default_options();
  FIT_DATA data;
  FIT_EXTRAS extras;
  // Steps 1, 2, 3: a -> b lands on step 1, b -> c on 2, c -> a on 3; the last period is held
  // after its end, so the second sequence's c -> a at step 4 is the period 2-3's too.
  fit_by_period(&opt, "1,2-3", "a b c a\nb c c a c\n", &data, &extras);
  ASSERT_EQ(extras.groups.size(), 2u);
  EXPECT_EQ(extras.groups[0].data.nbr_transitions, 2u);  // a -> b, b -> c
  EXPECT_EQ(extras.groups[1].data.nbr_transitions, 5u);
  EXPECT_EQ(cell_of(extras.groups[0].data, extras.groups[0].model, "a", "b").count, 1u);
  EXPECT_EQ(cell_of(extras.groups[1].data, extras.groups[1].model, "c", "a").count, 2u);
  EXPECT_EQ(cell_of(extras.groups[1].data, extras.groups[1].model, "c", "c").count, 1u);
}

// Sequences of 21 observations of two states, drawn from p1 at steps 1-10 and p2 from 11.
static std::string two_period_chain(const double p1[2][2], const double p2[2][2]) {
  std::mt19937_64 gen(20261209);
  std::string text;
  for (int n = 0; n < 3000; n++) {
    int s = static_cast<int>(gen() >> 63);
    text += s == 0 ? "a" : "b";
    for (int t = 1; t <= 20; t++) {
      const double u = static_cast<double>(gen() >> 11) * 0x1.0p-53;
      s = u < (t <= 10 ? p1 : p2)[s][0] ? 0 : 1;
      text += s == 0 ? " a" : " b";
    }
    text += "\n";
  }
  return text;
}

TEST(FitPeriods, TwoPeriodsAreFittedBackWithinTheirIntervals) {
  const double p1[2][2] = {{0.9, 0.1}, {0.2, 0.8}};
  const double p2[2][2] = {{0.3, 0.7}, {0.6, 0.4}};
  FIT_OPTIONS opt = fit_default_options();
  opt.confidence = 0.999;
  FIT_DATA data;
  FIT_EXTRAS extras;
  fit_by_period(&opt, "1-10,11-", two_period_chain(p1, p2), &data, &extras);
  ASSERT_EQ(extras.groups.size(), 2u);
  const char* names[2] = {"a", "b"};
  for (std::size_t k = 0; k < 2; k++) {
    const FIT_GROUP& g = extras.groups[k];
    EXPECT_EQ(g.data.nbr_transitions, 30000u);
    for (int i = 0; i < 2; i++) {
      for (int j = 0; j < 2; j++) {
        const FIT_CELL c = cell_of(g.data, g.model, names[i], names[j]);
        const double truth = (k == 0 ? p1 : p2)[i][j];
        EXPECT_LE(c.lower, truth) << g.name << " " << i << j;
        EXPECT_GE(c.upper, truth) << g.name << " " << i << j;
      }
    }
  }
}

TEST(FitPeriods, TheTestRejectsOneMatrixForTwoPeriodsThatDiffer) {
  const double p1[2][2] = {{0.9, 0.1}, {0.2, 0.8}};
  const double p2[2][2] = {{0.3, 0.7}, {0.6, 0.4}};
  struct {
    const double (*second)[2];
    bool rejected;
  } const cases[] = {{p2, true}, {p1, false}};
  for (const auto& c : cases) {
    FIT_OPTIONS opt = fit_default_options();
    opt.test_flag = 1;
    FIT_DATA data;
    FIT_EXTRAS extras;
    fit_by_period(&opt, "1-10,11-", two_period_chain(p1, c.second), &data, &extras);
    ASSERT_TRUE(extras.group_test_flag);
    EXPECT_EQ(extras.group_test.df, 2);  // (2 periods - 1)(2 destinations - 1), per source
    EXPECT_EQ(extras.group_test.p_value < 0.001, c.rejected) << extras.group_test.p_value;
  }
}
