// config_write_test.cc - the configuration writer: a chain written in either layout reads back
// through the mapping, tree or stream, to the same numbers bit for bit.
// Part of pravlin; see README.md.
#include "config_write.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "config_stream.h"
#include "periods.h"
#include "tables.h"
#include "test_util.h"
#include "xml.h"

// Doubles whose text is easy to get wrong: no short decimal, the smallest subnormal, the double
// just below 1, a negative zero. Each row totals exactly 1 added in order, so the writer moves
// none of them.
static const double kThird = 1.0 / 3.0;
static const double kBelowOne = 1.0 - 0x1p-53;
static const std::vector<std::vector<double>> kRows = {
    {0.1, 0.9, 0.0},
    {kThird, kThird, kThird},
    {5e-324, 0x1p-53, kBelowOne},
};
static const double kValues[] = {0.0, -0.0, 5e-324, -1e308};
static const double kInitial[] = {0.0, kThird, kThird, kThird};

static std::vector<std::string> state_names() {
  return {"", "dry", "", "wet"};
}

// The chain above written compactly as one call, or element by element a line each, as
// pravlin-fit writes its own.
static std::string write_chain(ConfigLayout layout, const CONFIG_SETTINGS& settings) {
  FilePtr out = open_sink();
  const std::vector<std::string> name = state_names();
  const int n = static_cast<int>(kRows.size());
  if (layout == CONFIG_COMPACT) {
    std::vector<std::size_t> row_start = {0, 0};
    std::vector<int> to;
    std::vector<double> p;
    for (const std::vector<double>& row : kRows) {
      for (std::size_t j = 0; j < row.size(); j++) {
        to.push_back(static_cast<int>(j) + 1);
        p.push_back(row[j]);
      }
      row_start.push_back(to.size());
    }
    config_write_chain(out.get(), &settings, "  <!-- a test -->\n", n, name, kValues, kInitial,
                       row_start.data(), to.data(), p.data());
    return read_all(out.get());
  }
  config_write_open(out.get());
  config_write_setting(out.get(), CFG_NBR_STATES, n);
  config_write_setting(out.get(), CFG_NBR_YEARS, settings.nbr_years);
  config_write_word(out.get(), CFG_PRINT_FLAG, WORDS_PRINT_FLAG, settings.print_flag);
  for (int s = 1; s <= n; s++) {
    config_write_state(out.get(), CONFIG_LINES, s, name[s].empty() ? nullptr : &name[s],
                       &kValues[s], kInitial[s]);
  }
  for (int a = 1; a <= n; a++) {
    config_write_transition_open(out.get(), CONFIG_LINES, "", a);
    for (std::size_t j = 0; j < kRows[a - 1].size(); j++)
      config_write_to(out.get(), CONFIG_LINES, "", static_cast<long>(j) + 1, kRows[a - 1][j]);
    config_write_transition_close(out.get(), CONFIG_LINES, "");
  }
  config_write_close(out.get());
  return read_all(out.get());
}

static std::uint64_t bits(double x) {
  return std::bit_cast<std::uint64_t>(x);
}

TEST(ConfigWrite, AChainReadsBackBitForBit) {
  struct Row {
    const char* what;
    ConfigLayout layout;
    int stream;  // read as it is scanned (1) or as a tree (0)
    CONFIG_SETTINGS settings;
  };
  const Row rows[] = {
      {"compact, stream", CONFIG_COMPACT, 1, {true, 1990, 7, 3, 2, 0, 1, 9, 1e-300}},
      {"compact, tree", CONFIG_COMPACT, 0, {true, -5, 12, 1, 0, 1, 0, 1, 5e-324}},
      {"compact without settings", CONFIG_COMPACT, 1, {false, 0, 0, 0, 0, 0, 0, 0, 0.0}},
      {"a line an element, stream", CONFIG_LINES, 1, {true, 0, 20, 10, 1, 1, 1, 100, 1e-6}},
      {"a line an element, tree", CONFIG_LINES, 0, {true, 0, 20, 10, 2, 1, 1, 100, 1e-6}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const std::string text = write_chain(r.layout, r.settings);
    SCOPED_TRACE(text);
    set_stream_reading(r.stream);
    PRAVLIN pv;
    read_text(&pv, text);
    set_stream_reading(1);
    const int n = static_cast<int>(kRows.size());
    ASSERT_EQ(pv.nbr_states, n);
    for (int i = 1; i <= n; i++) {
      EXPECT_EQ(bits(pv.val[i]), bits(kValues[i])) << "value of state " << i;
      EXPECT_EQ(bits(pv.initial_probability[i]), bits(kInitial[i])) << "initial of state " << i;
      const std::string name = pv.state_name[i] != nullptr ? pv.state_name[i] : "";
      EXPECT_EQ(name, state_names()[i]);
      for (int j = 1; j <= n; j++) {
        EXPECT_EQ(bits(pv.transition_probability[i][j]), bits(kRows[i - 1][j - 1]))
            << "P(" << i << ", " << j << ")";
      }
    }
    const CONFIG_SETTINGS& s = r.settings;
    if (r.layout == CONFIG_LINES) {
      EXPECT_EQ(pv.nbr_years, s.nbr_years);
      EXPECT_EQ(pv.print_flag, s.print_flag);
    } else if (s.given) {
      EXPECT_EQ(pv.init_year, s.init_year);
      EXPECT_EQ(pv.nbr_years, s.nbr_years);
      EXPECT_EQ(pv.nbr_chains, s.nbr_chains);
      EXPECT_EQ(pv.print_flag, s.print_flag);
      EXPECT_EQ(pv.print_header, s.print_header);
      EXPECT_EQ(pv.calc_flag, s.calc_flag);
      EXPECT_EQ(pv.max_iteration, s.max_iteration);
      EXPECT_EQ(bits(pv.max_error), bits(s.max_error));
    }
    free_tables(&pv);
    free_XMLENTITY(pv.xml);  // the tree of a read as a tree; null for a streamed one
  }
}

TEST(ConfigWrite, APeriodsChainReadsBackPeriodByPeriod) {
  // Two periods over the rows above, the second with each row's entries in reverse.
  std::vector<std::vector<double>> rows[2] = {kRows, kRows};
  for (std::vector<double>& row : rows[1])
    std::reverse(row.begin(), row.end());
  const int n = static_cast<int>(kRows.size());
  const long steps[2][2] = {{1, 4}, {5, 9}};
  std::vector<std::size_t> row_start[2];
  std::vector<int> to[2];
  std::vector<double> p[2];
  std::vector<CONFIG_PERIOD_ROWS> periods;
  for (int k = 0; k < 2; k++) {
    row_start[k] = {0, 0};
    for (const std::vector<double>& row : rows[k]) {
      for (std::size_t j = 0; j < row.size(); j++) {
        to[k].push_back(static_cast<int>(j) + 1);
        p[k].push_back(row[j]);
      }
      row_start[k].push_back(to[k].size());
    }
  }
  for (int k = 0; k < 2; k++) {
    periods.push_back(CONFIG_PERIOD_ROWS{steps[k][0], steps[k][1], row_start[k].data(),
                                         to[k].data(), p[k].data()});
  }
  FilePtr out = open_sink();
  const CONFIG_SETTINGS settings{true, 2000, 12, 3, 1, 0, 0, 100, 1e-6};
  config_write_periods(out.get(), &settings, "", n, state_names(), kValues, kInitial, periods);
  const std::string text = read_all(out.get());
  SCOPED_TRACE(text);
  for (int stream = 0; stream <= 1; stream++) {
    set_stream_reading(stream);
    PRAVLIN pv;
    read_text(&pv, text);
    set_stream_reading(1);
    ASSERT_NE(pv.periods, nullptr);
    ASSERT_EQ(pv.periods->list.size(), 2u);
    EXPECT_EQ(pv.nbr_years, 12);
    for (int k = 0; k < 2; k++) {
      const CHAIN_PERIOD& got = pv.periods->list[static_cast<std::size_t>(k)];
      EXPECT_EQ(got.first, steps[k][0]);
      EXPECT_EQ(got.last, steps[k][1]);
      for (int i = 1; i <= n; i++) {
        for (int j = 1; j <= n; j++) {
          EXPECT_EQ(bits(got.transition_probability[i][j]), bits(rows[k][i - 1][j - 1]))
              << "period " << k << ", P(" << i << ", " << j << ")";
        }
      }
    }
    free_tables(&pv);
    free_XMLENTITY(pv.xml);
  }
}
