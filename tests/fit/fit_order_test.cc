// fit_order_test.cc - higher orders: the tuple chain's windows, and orders scored on the same
// observations and tested by their gain.
// Part of pravlin; see README.md.
#include "fit_order.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "fit.h"
#include "fit/fit_test_cells.h"
#include "fit_read.h"

TEST(FitOrder, TupleChainCountsTheWindowsOfEachRunOfObservations) {
  FIT_OPTIONS opt = fit_default_options();
  opt.order = 2;
  FIT_DATA data, tuples;
  fit_read_text(&opt, "a b a b b a\na b b\na b NA a b a\n", "data.txt", &data);
  fit_tuples(&opt, &data, 2, &tuples);
  FIT_MODEL m;
  fit_estimate(&opt, &tuples, &m);
  // a|b -> b|a in the first and third, a|b -> b|b in the first and second; nothing across NA.
  EXPECT_DOUBLE_EQ(cell_probability(tuples, m, "a|b", "b|a"), 0.5);
  EXPECT_DOUBLE_EQ(cell_probability(tuples, m, "a|b", "b|b"), 0.5);
  EXPECT_DOUBLE_EQ(cell_probability(tuples, m, "b|a", "a|b"), 1.0);
  EXPECT_DOUBLE_EQ(cell_probability(tuples, m, "b|b", "b|a"), 1.0);
  EXPECT_EQ(tuples.nbr_transitions, 6u);
  EXPECT_EQ(tuples.nbr_sequences, 3u);
  EXPECT_EQ(tuples.nbr_breaks, 1u);
}

TEST(FitOrder, OrdersAreScoredOnTheSameObservationsAndTestedByTheirGain) {
  std::mt19937_64 rng(5);
  std::string text;
  std::uint64_t expected = 0;
  for (int s = 0; s < 4; s++) {
    const int length = 50 + s * 7;
    for (int i = 0; i < length; i++)
      text += std::string(1, static_cast<char>('a' + rng() % 3)) + " ";
    text += "\n";
    expected += static_cast<std::uint64_t>(length - 3);
  }
  FIT_OPTIONS opt = fit_default_options();
  opt.select_order = 3;
  FIT_DATA data;
  fit_read_text(&opt, text, "data.txt", &data);
  FIT_ORDER_CHOICE choice;
  fit_select_order(&data, 3, &choice);
  EXPECT_EQ(choice.observations, expected);
  ASSERT_EQ(choice.rows.size(), 4u);
  // Order 0: the frequencies of the observations themselves.
  std::vector<double> n(3, 0);
  for (std::size_t i = 0, pos = 0; i < text.size(); i += 2) {
    if (text[i] == '\n') {
      i--;
      pos = 0;
      continue;
    }
    if (pos++ >= 3)
      n[static_cast<std::size_t>(text[i] - 'a')]++;
  }
  double ll0 = 0;
  for (const double c : n)
    ll0 += c * std::log(c / static_cast<double>(expected));
  EXPECT_NEAR(choice.rows[0].log_likelihood, ll0, 1e-9);
  for (std::size_t r = 0; r < 3; r++) {
    SCOPED_TRACE(r);
    EXPECT_NEAR(choice.rows[r].against_next.statistic,
                2 * (choice.rows[r + 1].log_likelihood - choice.rows[r].log_likelihood), 1e-9);
    EXPECT_EQ(choice.rows[r].parameters, std::pow(3.0, static_cast<double>(r)) * 2);
  }
}
