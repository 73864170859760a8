// periods_test.cc - a chain whose matrix changes with the step: its periods as read and checked,
// and the draws of each step from its period's matrix.
// Part of pravlin; see README.md.
#include "periods.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "draw.h"
#include "simulate.h"
#include "tables.h"
#include "test_util.h"
#include "validate.h"

namespace {

// Two states; one period's transitions, rows "a b" and "c d".
std::string moves(const std::string& p11, const std::string& p12, const std::string& p21,
                  const std::string& p22) {
  return "<transition><from>1</from><to><state>1</state><probability>" + p11 +
         "</probability></to><to><state>2</state><probability>" + p12 +
         "</probability></to></transition><transition><from>2</from><to><state>1</state>"
         "<probability>" +
         p21 + "</probability></to><to><state>2</state><probability>" + p22 +
         "</probability></to></transition>";
}

std::string period(int first, int last, const std::string& body) {
  return "<period><first>" + std::to_string(first) + "</first><last>" + std::to_string(last) +
         "</last>" + body + "</period>";
}

// A model of two named states, starting in state 1, with the given body after the states.
std::string model(const std::string& body, int chains = 3, int years = 6) {
  return "<pravlin><nbr_states>2</nbr_states><nbr_chains>" + std::to_string(chains) +
         "</nbr_chains><nbr_years>" + std::to_string(years) +
         "</nbr_years><state><ser>1</ser><name>a</name><initial_probability>1"
         "</initial_probability></state><state><ser>2</ser><name>b</name></state>" +
         body + "</pravlin>";
}

const std::string kWeather = moves("0.7", "0.3", "0.4", "0.6");

// Reads, checks and simulates text from the generator's first value: the chains table, chain
// by chain.
std::vector<std::vector<int>> simulated(const std::string& text) {
  PRAVLIN pv;
  read_text(&pv, text);
  error_check_pravlin(&pv);
  pravlin_rand_reset();
  create_all_pravlin(&pv);
  std::vector<std::vector<int>> chains;
  for (int c = 1; c <= pv.nbr_chains; c++)
    chains.emplace_back(pv.pravlin[c], pv.pravlin[c] + pv.nbr_years + 1);
  free_tables(&pv);
  free_XMLENTITY(pv.xml);
  return chains;
}

}  // namespace

TEST(PeriodsRead, PeriodsKeepTheirStepsAndMatricesAndTheLastIsTheRecordsMatrix) {
  PRAVLIN pv;
  read_text(&pv, model(period(1, 2, kWeather) + period(3, 4, moves("0", "1", "1", "0"))));
  ASSERT_NE(pv.periods, nullptr);
  ASSERT_EQ(pv.periods->list.size(), 2u);
  const CHAIN_PERIOD& first = pv.periods->list[0];
  const CHAIN_PERIOD& last = pv.periods->list[1];
  EXPECT_EQ(first.first, 1);
  EXPECT_EQ(first.last, 2);
  EXPECT_EQ(last.first, 3);
  EXPECT_EQ(last.last, 4);
  EXPECT_EQ(first.transition_probability[1][2], 0.3);
  EXPECT_EQ(last.transition_probability[1][2], 1.0);
  EXPECT_EQ(pv.transition_probability, last.transition_probability);
  free_tables(&pv);
  free_XMLENTITY(pv.xml);
}

TEST(PeriodsRead, ListReadersGetTheLastPeriodsTransitionsAndEveryPeriodsList) {
  PRAVLIN pv;
  init_pravlin(&pv);
  pv.in =
      open_text(model(period(1, 2, kWeather) + period(3, 4, moves("0", "1", "1", "0")))).release();
  std::vector<TRANSITION_ENTRY> list;
  read_configuration(&pv, READ_LIST, 0, &list);
  ASSERT_NE(pv.periods, nullptr);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[1].to, 2);
  EXPECT_EQ(list[1].probability, 1.0);
  EXPECT_EQ(pv.periods->list[0].entries.size(), 4u);
  EXPECT_EQ(pv.periods->list[0].entries[1].probability, 0.3);
  free_tables(&pv);
  free_XMLENTITY(pv.xml);
}

TEST(PeriodsReadDeathTest, StepsThatDoNotFollowEachOtherAndEmptyOrMixedPeriodsAreRefused) {
  struct Case {
    const char* what;
    std::string body;
    std::string message;
  };
  const Case cases[] = {
      {"not from step 1", period(2, 4, kWeather),
       " *** ERROR: PERIOD FIRST (2) must be 1: periods follow each other from step 1\n"},
      {"overlapping", period(1, 3, kWeather) + period(3, 5, kWeather),
       " *** ERROR: PERIOD FIRST (3) must be 4: periods follow each other from step 1\n"},
      {"a gap", period(1, 2, kWeather) + period(4, 5, kWeather),
       " *** ERROR: PERIOD FIRST (4) must be 3: periods follow each other from step 1\n"},
      {"out of order", period(3, 4, kWeather) + period(1, 2, kWeather),
       " *** ERROR: PERIOD FIRST (3) must be 1: periods follow each other from step 1\n"},
      {"after a period that ends at the largest int",
       period(1, 2147483647, kWeather) + period(2147483647, 2147483647, kWeather),
       " *** ERROR: PERIOD FIRST (2147483647) must be 2147483648: periods follow each other from "
       "step 1\n"},
      {"ending before it starts", period(1, 0, kWeather),
       " *** ERROR: PERIOD FIRST (1) LAST (0): LAST is < FIRST\n"},
      {"no transitions", period(1, 2, kWeather) + period(3, 4, ""),
       " *** ERROR: PERIOD FIRST (3) LAST (4) holds no TRANSITION\n"},
      {"a transition before the periods", kWeather + period(1, 2, kWeather),
       " *** ERROR: TRANSITION outside PERIOD in a configuration with periods\n"},
      {"a transition after them", period(1, 2, kWeather) + kWeather,
       " *** ERROR: TRANSITION outside PERIOD in a configuration with periods\n"},
      {"its transitions checked as the root's",
       period(1, 2, "<transition><from>3</from></transition>"),
       " *** ERROR: TRANSITION FROM (3) is < 1 or > NBR_STATES (2)\n"},
      {"an unknown child warned of", period(1, 2, "<bogus/>"),
       " *** WARNING: Unknown tag (bogus) ignored\n"
       " *** ERROR: PERIOD FIRST (1) LAST (2) holds no TRANSITION\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    expect_read_fails(model(c.body), c.message);
  }
}

TEST(PeriodsCheck, RowsAreCheckedAndRescaledPeriodByPeriodWithTheSameMessages) {
  PRAVLIN pv;
  read_text(&pv, model(period(1, 2, moves("0.5", "0.25", "0.4", "0.6")) +
                       period(3, 4, moves("1", "0", "0.2", "0.2"))));
  testing::internal::CaptureStderr();
  error_check_pravlin(&pv);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            " *** WARNING: normalizing transition_probability for state (1) by 0.750000\n"
            " *** WARNING: normalizing transition_probability for state (2) by 0.400000\n");
  EXPECT_EQ(pv.periods->list[0].transition_probability[1][1], 0.5 / 0.75);
  EXPECT_EQ(pv.periods->list[1].transition_probability[2][1], 0.5);
  free_tables(&pv);
  free_XMLENTITY(pv.xml);
}

TEST(PeriodsCheckDeathTest, ARowOfZerosInAnyPeriodIsRefused) {
  EXPECT_EXIT(
      {
        PRAVLIN pv;
        read_text(&pv, model(period(1, 2, kWeather) + period(3, 4, moves("1", "0", "0", "0"))));
        error_check_pravlin(&pv);
        std::exit(0);
      },
      testing::ExitedWithCode(1),
      testing::Eq(" *** ERROR: zero total transition_probability for state (2)\n"));
}

TEST(PeriodsSimulate, PeriodsOfOneMatrixDrawTheChainsOfThatMatrix) {
  const auto one = simulated(model(kWeather, 40, 30));
  EXPECT_EQ(simulated(model(
                period(1, 7, kWeather) + period(8, 8, kWeather) + period(9, 12, kWeather), 40, 30)),
            one);
  EXPECT_EQ(simulated(model(period(1, 100, kWeather), 40, 30)), one);
}

TEST(PeriodsSimulate, EachStepIsDrawnFromItsPeriodsMatrixAndTheLastIsHeldAfterItsEnd) {
  // Steps 1 to 3 stay in state 1 or move to 2 with 0.3; from step 4 on, state 1 always moves
  // to 2 and state 2 always to 1: the chains alternate. The counts of step 1 match 0.3.
  const int chains = 4000;
  const auto drawn =
      simulated(model(period(1, 3, kWeather) + period(4, 4, moves("0", "1", "1", "0")), chains, 9));
  int moved = 0;
  for (const std::vector<int>& c : drawn) {
    moved += c[1] == 2;
    for (int t = 4; t <= 9; t++)
      ASSERT_NE(c[static_cast<std::size_t>(t)], c[static_cast<std::size_t>(t) - 1]) << "step " << t;
  }
  // Binomial(4000, 0.3): mean 1200, standard deviation 29; five of them either way.
  EXPECT_NEAR(moved, 1200, 145);
}

// Rows as the configuration gives them, unchecked, so that a draw can find no state: a chain
// drawn without its table must end where the kept table's run ends, with its message, or run
// through as it does.
TEST(PeriodsSimulateDeathTest, ADrawWithoutTheTableFailsAsTheKeptTablesRunInEveryPeriod) {
  struct Case {
    const char* what;
    std::string body;
    std::string message;  // empty: both runs go through
  };
  const std::string short_row = moves("0.0001", "0", "0.4", "0.6");
  const Case cases[] = {
      {"a short row in the first period", period(1, 2, short_row) + period(3, 6, kWeather),
       " *** ERROR: Did not find new state -- random_val = 0.563585  prob_partial_sum = 0.000100  "
       "i = 3 n = 2 in calc_state()\n"},
      {"in a period between two good ones",
       period(1, 2, kWeather) + period(3, 3, short_row) + period(4, 6, kWeather),
       " *** ERROR: Did not find new state -- random_val = 0.808741  prob_partial_sum = 0.000100  "
       "i = 3 n = 2 in calc_state()\n"},
      {"in the last period, after its end",
       period(1, 2, moves("1", "0", "1", "0")) + period(3, 3, moves("0", "1", "0.0001", "0")),
       " *** ERROR: Did not find new state -- random_val = 0.585009  prob_partial_sum = 0.000100  "
       "i = 3 n = 2 in calc_state()\n"},
      {"in a row no chain is in during its period",
       period(1, 1, moves("1", "0", "0", "0")) + period(2, 6, kWeather), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto ends_as = [&](bool kept) {
      PRAVLIN pv;
      read_text(&pv, model(c.body));
      pravlin_rand_reset();
      if (kept)
        create_all_pravlin(&pv);
      else
        simulate_without_table(&pv, 1, pv.nbr_chains);
      std::exit(0);
    };
    const int status = c.message.empty() ? 0 : 1;
    EXPECT_EXIT(ends_as(true), testing::ExitedWithCode(status), testing::Eq(c.message));
    EXPECT_EXIT(ends_as(false), testing::ExitedWithCode(status), testing::Eq(c.message));
  }
}
