// stream_test.cc - the chain table drawn as it is written (stream.cc) against the kept table:
// the same bytes and generator state on many shapes, slices at every boundary, and which
// tables are kept.
// Part of pravlin; see README.md.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "draw.h"
#include "periods.h"
#include "pravlin.h"
#include "report.h"
#include "scratch.h"
#include "simulate.h"
#include "stream.h"
#include "stream_fast.h"
#include "tables.h"
#include "test_util.h"

// Chains first..last cut from a whole report's table: each line's text up to its first comma,
// then the cells of those chains. The test models' names hold no comma.
static std::string cut_chains(const std::string& table, int first, int last) {
  std::istringstream lines(table);
  std::string line, cut;
  while (std::getline(lines, line)) {
    std::vector<std::string> parts;
    std::size_t from = 0, comma;
    while ((comma = line.find(',', from)) != std::string::npos) {
      parts.push_back(line.substr(from, comma - from));
      from = comma + 1;
    }
    parts.push_back(line.substr(from));
    cut += parts[0];
    for (int j = first; j <= last && parts.size() > 1; j++)
      cut += "," + parts[static_cast<std::size_t>(j)];
    cut += "\n";
  }
  return cut;
}

static std::string streamed(const PRAVLIN* pv, int first, int last, int* states) {
  FilePtr out = open_sink();
  stream_pravlin(out.get(), pv, first, last, states);
  return read_all(out.get());
}

// count periods for m over its steps, each of random rows, the last one's the record's matrix
// and ending before the last step, so that it is held after its end; none for count 0.
struct TestPeriods {
  CHAIN_PERIODS periods;
  std::vector<std::unique_ptr<TestModel>> rows;  // each period's matrix but the last's

  TestPeriods(TestModel& m, std::mt19937_64& rng, double zeros, int count) {
    if (count == 0)
      return;
    const int t = m.pv.nbr_years;
    const int length = std::max(1, t / (count + 1));
    for (int p = 0; p < count; p++) {
      double** matrix = m.pv.transition_probability;
      if (p + 1 < count) {
        rows.push_back(std::make_unique<TestModel>(m.pv.nbr_states, 1, 1));
        fill_random_model(*rows.back(), rng, zeros);
        matrix = rows.back()->pv.transition_probability;
      }
      periods.list.push_back(CHAIN_PERIOD{p * length + 1, (p + 1) * length, matrix, {}});
    }
    m.pv.periods = &periods;
  }
};

TEST(StreamPravlin, MatchesTheKeptTableOnRandomShapesAndSlicesAtEveryBoundary) {
  std::mt19937_64 rng(19);
  set_stream_cores_from(1 << 16);
  static char name[] = "s", empty[] = "";
  struct Shape {
    int n, k, t, print_flag;
    double zeros;
    int init_year;
    std::size_t scratch_limit;  // 0: none
    int periods;                // 0: one matrix
  } shapes[] = {
      {2, 1, 2, 1, 0.0, 0, 0, 0},
      {2, 7, 50, 0, 0.3, 2000, 0, 0},
      {3, 40, 200, 2, 0.5, -5, 0, 0},
      {10, 100, 1000, 1, 0.0, 1900, 0, 0},
      {50, 300, 300, 0, 0.2, 0, 0, 0},
      {2100, 3, 40, 1, 0.5, 0, 0, 0},
      {7, 1000, 40, 7, 0.6, 0, 0, 0},
      {5, 2, 3, 2, 0.0, 2147483646, 0, 0},
      // Streamed on all cores: ranges of chains that do not split evenly, the last block of
      // steps short; three chains, one range, drawn by one thread while the others format;
      // one block.
      {12, 1100, 130, 1, 0.3, 0, 0, 0},
      {4, 3, 23000, 2, 0.2, 0, 0, 0},
      {9, 9000, 15, 1, 0.4, 7, 0, 0},
      // The same with its memory refused: the plain loop.
      {9, 9000, 15, 1, 0.4, 7, 1 << 18, 0},
      // Periods, each step drawn from its own period's matrix: on one core; on all cores, the
      // periods' ends inside the blocks of steps; the plain loop with its memory refused; rows
      // too many for guides, scanned.
      {5, 40, 90, 1, 0.3, 0, 0, 3},
      {2, 5, 2, 2, 0.0, 0, 0, 2},
      {2100, 3, 40, 1, 0.5, 0, 0, 2},
      {12, 1100, 130, 1, 0.3, 0, 0, 4},
      {12, 1100, 130, 1, 0.3, 0, 1 << 18, 4},
  };
  for (const Shape& s : shapes) {
    SCOPED_TRACE(testing::Message()
                 << s.n << " states, " << s.k << " chains, " << s.t << " years, print_flag "
                 << s.print_flag << ", " << s.periods << " periods");
    TestModel m(s.n, s.k, s.t);
    fill_random_model(m, rng, s.zeros);
    TestPeriods periods(m, rng, s.zeros, s.periods);
    m.pv.print_flag = s.print_flag;
    m.pv.init_year = s.init_year;
    for (int i = 1; i <= s.n; i++) {
      m.val[static_cast<std::size_t>(i)] = i * 1.5 - 3;
      m.names[static_cast<std::size_t>(i)] = i % 3 == 0 ? nullptr : (i % 3 == 1 ? name : empty);
    }
    pravlin_rand_reset();
    create_all_pravlin(&m.pv);
    const std::uint32_t after_table = pravlin_rand_state();
    FilePtr out = open_sink();
    printpravlin(out.get(), &m.pv);
    const std::string whole = read_all(out.get());

    const int k = s.k;
    const int ranges[][2] = {{1, k},
                             {1, k / 2 + 1},
                             {k / 2 + 1, k},
                             {1, 1},
                             {k, k},
                             {(k + 1) / 2, (k + 1) / 2},
                             {k > 2 ? 2 : 1, k > 2 ? k - 1 : k}};
    // The shapes streamed on all cores are long to compare: their wide slices only; the
    // boundaries are the small shapes' to show.
    const bool wide_only = static_cast<long long>(s.k) * (s.t + 1) >= (1 << 16);
    for (const auto& r : ranges) {
      if (wide_only && &r - ranges >= 3)
        break;
      SCOPED_TRACE(testing::Message() << "chains " << r[0] << "-" << r[1]);
      pravlin_rand_reset();
      StepStates step = simulate_without_table(&m.pv, 1, m.pv.nbr_chains);
      EXPECT_EQ(pravlin_rand_state(), after_table)
          << "the generator ends where the table's run does";
      if (s.scratch_limit != 0)
        set_scratch_limit(s.scratch_limit);
      const std::string slice = streamed(&m.pv, r[0], r[1], step.get());
      set_scratch_limit(SIZE_MAX);
      ASSERT_EQ(slice, cut_chains(whole, r[0], r[1]));
    }
  }
  set_stream_cores_from(0);
}

TEST(StreamPravlinDeathTest, RowShortOfTheDrawFailsBeforeAnythingIsWrittenAsTheTablesRunDoes) {
  TestModel m(2, 3, 2);
  m.init[1] = 1.0;
  m.rows[1][1] = 0.0001;  // the second draw of chain 1 (18467 / 32767) finds no state
  m.rows[2][2] = 1.0;
  pravlin_rand_reset();
  EXPECT_EXIT(simulate_without_table(&m.pv, 1, 3), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: Did not find new state -- random_val = 0.563585  "
                          "prob_partial_sum = 0.000100  i = 3 n = 2 in calc_state()\n"));
}

TEST(StreamPravlinDeathTest, AFailedWriteEndsTheRunAtOnce) {
  TestModel m(2, 1000, 2);
  m.init[1] = 1.0;
  m.rows[1][2] = 1.0;
  m.rows[2][1] = 1.0;
  static char report[] = "report.csv";
  m.pv.outfilename = report;
  EXPECT_EXIT(
      {
        m.pv.out = std::fopen("/dev/full", "w");
        StepStates step = simulate_without_table(&m.pv, 1, m.pv.nbr_chains);
        stream_pravlin(m.pv.out, &m.pv, 1, 1000, step.get());
        std::exit(0);
      },
      testing::ExitedWithCode(1), testing::Eq(" *** ERROR: Unable to write file (report.csv)\n"));
}

TEST(KeepChainsTable, SmallTablesAreKeptAndLargeOnesDrawnAsTheyAreWritten) {
  const struct {
    const char* counts;
    bool kept;
  } cases[] = {
      {"<nbr_chains>10</nbr_chains><nbr_years>20</nbr_years>", true},
      {"<nbr_chains>1000</nbr_chains><nbr_years>1000</nbr_years>", false},
      {"<nbr_chains>100000</nbr_chains><nbr_years>2147483647</nbr_years>", false},
      {"<nbr_chains>1</nbr_chains><nbr_years>99999999999</nbr_years>", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.counts);
    PRAVLIN pv;
    read_text(&pv, std::string("<pravlin><nbr_states>2</nbr_states>") + c.counts + "</pravlin>");
    EXPECT_EQ(pv.pravlin != nullptr, c.kept);
    free_tables(&pv);
    free_XMLENTITY(pv.xml);
  }
}
