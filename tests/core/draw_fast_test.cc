// draw_fast_test.cc - rows made ready for many draws (draw_fast.cc) against the scan of
// draw_state: for every generator value, the same state, or none where the scan finds none.
// Part of pravlin; see README.md.
#include "draw_fast.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "draw.h"
#include "test_util.h"

// Every row of m with its sums and guides, and the first states' picks, as the fast paths
// build them; then every generator value drawn from the first rows, both ways, against the
// scan.
static void expect_every_value_drawn_as_the_scan_draws_it(TestModel& m) {
  const int n = m.pv.nbr_states;
  const auto rows = static_cast<std::size_t>(n) + 1;
  std::vector<double> key(rows * (rows + 1));
  std::vector<int> guide(rows * DRAW_GUIDE_SIZE), last_positive(rows), pick(32768);
  PreparedRows d{
      &m.pv,  n, m.pv.transition_probability, key.data(), guide.data(), last_positive.data(),
      nullptr};
  ASSERT_TRUE(rows_are_probabilities(d, n));
  for (int row = 0; row <= n; row++)
    build_guides(d, row);
  build_initial_picks(d, pick.data());
  PreparedRows scanned{&m.pv,   n,          m.pv.transition_probability, nullptr, nullptr,
                       nullptr, pick.data()};
  for (int row = 0; row <= std::min(n, 8); row++) {
    const double* p = row == 0 ? m.pv.initial_probability : m.pv.transition_probability[row];
    for (int r = 0; r <= 32767; r++) {
      double total = 0.0;
      const int want = draw_state(p, n, r, &total);
      ASSERT_EQ(draw_prepared<true>(d, row, r), want) << "row " << row << ", value " << r;
      ASSERT_EQ(draw_prepared<false>(scanned, row, r), want) << "row " << row << ", value " << r;
    }
  }
}

TEST(DrawFast, GuidesAndFirstPicksDrawTheScansStateForEveryValue) {
  std::mt19937_64 rng(20261208);
  const struct {
    int n;
    double zero_share;
  } shapes[] = {{2, 0.0}, {3, 0.5}, {17, 0.3}, {300, 0.0}, {300, 0.97}};
  for (const auto& shape : shapes) {
    SCOPED_TRACE(testing::Message() << shape.n << " states, zero share " << shape.zero_share);
    TestModel m(shape.n, 1, 1);
    fill_random_model(m, rng, shape.zero_share);
    expect_every_value_drawn_as_the_scan_draws_it(m);
  }
}

// Rows the random ones seldom give: a total just below 1, where a draw of 1.0 falls back to the
// last positive state; a total short of the largest draws, which find no state; zeros at both
// ends; one state alone.
TEST(DrawFast, RowsAtTheEdgesDrawTheScansStateForEveryValue) {
  const std::vector<std::vector<double>> rows = {
      {0.0, 0.25, 0.25, 0.5 - 1e-15}, {0.0, 0.5, 0.0, 0.25}, {0.0, 0.0, 1.0, 0.0},
      {0.0, 0.0, 0.0, 1.0},           {0.0, 1.0, 0.0, 0.0},  {0.0, 0.0, 0.0, 0.0},
  };
  TestModel m(3, 1, 1);
  for (std::size_t i = 0; i < rows.size(); i++) {
    for (int s = 0; s <= 3; s++) {
      m.rows[static_cast<std::size_t>(s)][1] = rows[i][1];
      m.rows[static_cast<std::size_t>(s)][2] = rows[i][2];
      m.rows[static_cast<std::size_t>(s)][3] = rows[i][3];
    }
    m.init = rows[i];
    m.pv.initial_probability = m.init.data();
    SCOPED_TRACE(i);
    expect_every_value_drawn_as_the_scan_draws_it(m);
  }
}
