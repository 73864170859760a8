// fast_paths_test.cc - the fast simulation and report writer against their plain versions, on
// many random models: the same bytes, or it is a bug.
// Part of pravlin; see README.md.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "pravlin.h"
#include "test_util.h"

// Rows as validation leaves them: some entries zero, the rest divided by their total, so that
// many rows total just below or above 1.0.
static void fill_random_model(TestModel& m, std::mt19937_64& rng, double zero_share) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int n = m.pv.nbr_states;
  auto fill_row = [&](double* row) {
    double total = 0.0;
    for (int i = 1; i <= n; i++) {
      row[i] = u(rng) < zero_share ? 0.0 : u(rng);
      total += row[i];
    }
    if (total == 0.0) {
      row[n] = 1.0;
      total = 1.0;
    }
    for (int i = 1; i <= n; i++)
      row[i] /= total;
  };
  fill_row(m.init.data());
  for (int s = 1; s <= n; s++)
    fill_row(m.rows[static_cast<std::size_t>(s)]);
}

// The chains as create_pravlin makes them one by one, and the generator value after them.
static int simulate_literally(TestModel& m) {
  pravlin_rand_reset();
  for (int c = 1; c <= m.pv.nbr_chains; c++)
    create_pravlin(c, &m.pv);
  return pravlin_rand();
}

static int simulate_fast(TestModel& m) {
  pravlin_rand_reset();
  create_all_pravlin(&m.pv);
  return pravlin_rand();
}

TEST(CreateAllPravlin, MatchesChainByChainSimulationOnRandomModels) {
  std::mt19937_64 rng(3);
  struct Shape {
    int n, k, t;
    double zeros;
  } shapes[] = {
      {2, 1, 2, 0.0},       {2, 7, 50, 0.3},      {3, 40, 200, 0.5},  {10, 100, 1000, 0.0},
      {50, 300, 1000, 0.2}, {200, 64, 5000, 0.9}, {2100, 3, 40, 0.5}, {7, 1000, 400, 0.6},
  };
  for (const Shape& s : shapes) {
    SCOPED_TRACE(testing::Message() << s.n << " states, " << s.k << " chains, " << s.t << " years");
    TestModel literal(s.n, s.k, s.t), fast(s.n, s.k, s.t);
    std::mt19937_64 model_rng = rng;
    fill_random_model(literal, model_rng, s.zeros);
    model_rng = rng;
    fill_random_model(fast, model_rng, s.zeros);
    rng.discard(1);
    int after_literal = simulate_literally(literal);
    int after_fast = simulate_fast(fast);
    ASSERT_EQ(fast.chains, literal.chains);
    EXPECT_EQ(after_fast, after_literal) << "the generator ends where the plain run leaves it";
  }
}

// A row whose normalised total rounds below 1.0 meets the draw of exactly 1.0 (value 32767)
// about once in 32768 draws; a long run meets it hundreds of times.
TEST(CreateAllPravlin, MatchesOnRowsJustBelowOneThroughManyDrawsOfOne) {
  TestModel literal(10, 200, 5000), fast(10, 200, 5000);
  for (TestModel* m : {&literal, &fast}) {
    for (int i = 1; i <= 10; i++) {
      m->init[static_cast<std::size_t>(i)] = 0.1;
      for (int j = 1; j <= 10; j++)
        m->rows[static_cast<std::size_t>(i)][j] = 0.1;
    }
    m->rows[3][10] = 0.0;  // its last state cannot be drawn: 1.0 falls back to state 9
    m->rows[3][9] = 0.2;
  }
  EXPECT_EQ(simulate_fast(fast), simulate_literally(literal));
  EXPECT_EQ(fast.chains, literal.chains);
}

TEST(CreateAllPravlinDeathTest, RowShortOfTheDrawFailsWithTheFirstChainsMessage) {
  TestModel m(2, 3, 2);
  m.init[1] = 1.0;
  m.rows[1][1] = 0.0001;  // the second draw of chain 1 (18467 / 32767) finds no state
  m.rows[2][2] = 1.0;
  pravlin_rand_reset();
  EXPECT_EXIT(create_all_pravlin(&m.pv), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: Did not find new state -- random_val = 0.563585  "
                          "prob_partial_sum = 0.000100  i = 3 n = 2 in calc_state()\n"));
}

// The report as formatted printing writes it, cell by cell.
static std::string literal_table(const PRAVLIN* pv) {
  FilePtr out = open_sink();
  FILE* f = out.get();
  std::fprintf(f, "time ");
  for (int j = 1; j <= pv->nbr_chains; j++)
    std::fprintf(f, ", %d ", j);
  std::fprintf(f, "\n");
  for (int i = 0; i <= pv->nbr_years; i++) {
    std::fprintf(f, " %lld ", static_cast<long long>(pv->init_year) + i);
    for (int j = 1; j <= pv->nbr_chains; j++) {
      int s = pv->pravlin[j][i];
      const char* name = pv->state_name[s] != nullptr ? pv->state_name[s] : "(null)";
      if (pv->print_flag == 0)
        std::fprintf(f, ", %f ", pv->val[s]);
      if (pv->print_flag == 1)
        std::fprintf(f, ", %d ", s);
      if (pv->print_flag == 2)
        std::fprintf(f, ", \"%s\" ", name);
    }
    std::fprintf(f, "\n");
  }
  return read_all(f);
}

TEST(PrintPravlin, MatchesFormattedPrintingOnRandomTables) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(-1e6, 1e6);
  TestModel m(20, 30, 300);
  static char name[] = "s", empty[] = "";
  for (int s = 1; s <= 20; s++) {
    m.val[static_cast<std::size_t>(s)] = s % 5 == 0 ? u(rng) * 1e-9 : u(rng);
    m.names[static_cast<std::size_t>(s)] = s % 7 == 0 ? nullptr : (s % 3 == 0 ? empty : name);
  }
  m.val[1] = -0.0;
  m.val[2] = 0.0078125;  // a tie at the sixth decimal
  m.val[3] = 1e300;
  std::uniform_int_distribution<int> state(1, 20);
  for (int c = 1; c <= 30; c++) {
    for (int t = 0; t <= 300; t++)
      m.pv.pravlin[c][t] = state(rng);
  }
  for (int flag : {0, 1, 2, 5}) {
    SCOPED_TRACE(flag);
    m.pv.print_flag = flag;
    m.pv.init_year = flag == 5 ? 2147483600 : -flag;
    FilePtr out = open_sink();
    printpravlin(out.get(), &m.pv);
    EXPECT_EQ(read_all(out.get()), literal_table(&m.pv));
  }
}

// Lines are gathered from the chains' rows in tiles of up to 16 years within 1 MiB: 70,000
// chains get tiles of 3 years, 140,000 chains none at all.
TEST(PrintPravlin, MatchesFormattedPrintingWhenChainsOutgrowTheTile) {
  std::mt19937_64 rng(6);
  std::uniform_int_distribution<int> state(1, 4);
  for (int chains : {70000, 140000}) {
    SCOPED_TRACE(chains);
    TestModel m(4, chains, 4);
    for (int c = 1; c <= chains; c++) {
      for (int t = 0; t <= 4; t++)
        m.pv.pravlin[c][t] = state(rng);
    }
    m.pv.print_flag = 1;
    FilePtr out = open_sink();
    printpravlin(out.get(), &m.pv);
    EXPECT_EQ(read_all(out.get()), literal_table(&m.pv));
  }
}

// The header's numbered lines as formatted printing writes them.
TEST(PrintHeader, MatchesFormattedPrintingOnRandomModels) {
  std::mt19937_64 rng(6);
  TestModel m(37, 1, 2);
  fill_random_model(m, rng, 0.3);
  m.val[5] = -0.0;
  m.val[6] = 2.5e-7;
  m.steady[1] = 0.0078125;
  FilePtr out = open_sink();
  printheader(out.get(), &m.pv);
  std::string fast = read_all(out.get());
  std::string want;
  char buf[512];
  for (int i = 1; i <= 37; i++) {
    std::snprintf(buf, sizeof buf, "%d , \"%s\" , %f , %f\n", i, "(null)", m.val[i], m.init[i]);
    want += buf;
  }
  want += "transition_probability\n";
  for (int i = 1; i <= 37; i++) {
    for (int j = 1; j < 37; j++) {
      std::snprintf(buf, sizeof buf, " %f ,", m.rows[static_cast<std::size_t>(j)][i]);
      want += buf;
    }
    std::snprintf(buf, sizeof buf, " %f\n", m.rows[37][i]);
    want += buf;
  }
  std::size_t from = fast.find("1 , \"(null)\"");
  ASSERT_NE(from, std::string::npos);
  EXPECT_EQ(fast.substr(from, want.size()), want);
  std::snprintf(buf, sizeof buf, "1 , %f\n", m.steady[1]);
  EXPECT_NE(fast.find(std::string("state ,  steady_state_probability\n") + buf), std::string::npos);
}
