// fit_pairs_test.cc - pravlin-fit's pair counts: the dense table, widened as states appear and
// given up past its limit, counts as the hash map alone does.
// Part of pravlin; see README.md.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fit.h"
#include "hooks.h"

// Every row's cells (destination, count), as the estimate sees them.
static std::vector<std::vector<std::pair<std::uint32_t, std::uint64_t>>> counted(
    const std::string& text) {
  FIT_OPTIONS opt{};
  opt.estimator = ESTIMATOR_MLE;
  opt.nbr_chains = -1;
  opt.nbr_years = -1;
  opt.confidence = 0.95;
  opt.blocks = 2;
  FIT_DATA data;
  fit_read_text(&opt, text, "data.txt", &data);
  FIT_MODEL model;
  fit_estimate(&opt, &data, &model);
  std::vector<std::vector<std::pair<std::uint32_t, std::uint64_t>>> rows;
  for (const FIT_ROW& row : model.rows) {
    rows.emplace_back();
    for (const FIT_CELL& c : row.cells)
      rows.back().emplace_back(c.to, c.count);
  }
  return rows;
}

TEST(FitPairs, DenseTableCountsAsTheHashMapDoes) {
  // Few states; enough to widen the table several times; more than it takes.
  for (const int k : {5, 300, static_cast<int>(FIT_DENSE_STATES) + 50}) {
    SCOPED_TRACE(k);
    std::mt19937 rng(static_cast<unsigned>(k));
    std::string text;
    for (int line = 0; line < 40; line++) {
      for (int n = 0; n < 500; n++) {
        text += 's';
        text += std::to_string(rng() % static_cast<unsigned>(k));
        text += ' ';
      }
      text += '\n';
    }
    const auto dense = counted(text);
    set_scratch_limit(0);  // no table: the hash map takes every pair
    const auto hashed = counted(text);
    set_scratch_limit(SIZE_MAX);
    EXPECT_EQ(dense, hashed);
  }
}
