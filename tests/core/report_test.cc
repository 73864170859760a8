// report_test.cc - the header block, the chain table and the check that the report was
// written.
// Part of pravlin; see README.md.
#include "pravlin.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <random>
#include <regex>
#include <string>

#include "report.h"
#include "scratch.h"
#include "table_lines.h"
#include "test_util.h"

static std::string mask_time(const std::string& text) {
  static const std::regex time_line(
      "time , [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] "
      "[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]+\n");
  return std::regex_replace(text, time_line, "time , <TIME>\n");
}

// Two states, 0.9/0.1 and 0.5/0.5, as a configuration would leave them.
static void fill_two_states(TestModel& m) {
  static char dry[] = "dry", wet[] = "wet";
  static char xml[] = "model.xml";
  m.pv.xmlfilename = xml;
  m.names[1] = dry;
  m.names[2] = wet;
  m.val[1] = 0.0;
  m.val[2] = 1.5;
  m.init[1] = 1.0;
  m.rows[1][1] = 0.9;
  m.rows[1][2] = 0.1;
  m.rows[2][1] = 0.5;
  m.rows[2][2] = 0.5;
}

static std::string header_of(const TestModel& m) {
  FilePtr out = open_sink();
  printheader(out.get(), &m.pv);
  return mask_time(read_all(out.get()));
}

static std::string table_of(const TestModel& m) {
  FilePtr out = open_sink();
  printpravlin(out.get(), &m.pv);
  return read_all(out.get());
}

TEST(PrintHeader, WithoutSteadyStateEndsAfterTheMatrixByColumns) {
  TestModel m(2, 3, 5);
  fill_two_states(m);
  m.pv.calc_flag = 0;
  m.pv.init_year = 2000;
  EXPECT_EQ(header_of(m),
            "PRAVLIN VERSION , 1.0\n"
            "time , <TIME>\n"
            "xmlfilename , \"model.xml\"\n"
            "outfilename\n"
            "nbr_states , 2\n"
            "init_year  , 2000\n"
            "nbr_years  , 5\n"
            "nbr_chains , 3\n"
            "state , name , val , initial_probability\n"
            "1 , \"dry\" , 0.000000 , 1.000000\n"
            "2 , \"wet\" , 1.500000 , 0.000000\n"
            "transition_probability\n"
            " 0.900000 , 0.500000\n"
            " 0.100000 , 0.500000\n");
}

TEST(PrintHeader, WithSteadyStateAddsTheSolverResults) {
  TestModel m(2, 1, 2);
  fill_two_states(m);
  static char out_name[] = "out.csv";
  m.pv.outfilename = out_name;
  m.pv.xmlfilename = nullptr;
  m.pv.max_iteration = 1;
  m.pv.actual_iteration = 4;
  m.pv.max_error = 1e-6;
  m.pv.actual_error = 2.5e-7;
  m.steady[1] = 5.0 / 6.0;
  m.steady[2] = 1.0 / 6.0;
  std::string h = header_of(m);
  EXPECT_NE(h.find("xmlfilename\noutfilename , \"out.csv\"\n"), std::string::npos) << h;
  EXPECT_NE(h.find(" 0.100000 , 0.500000\n"
                   "max_iteration , 1 , actual_iteration, 4\n"
                   "max_error , 0.000001 , actual_error, 0.000000\n"
                   "state ,  steady_state_probability\n"
                   "1 , 0.833333\n"
                   "2 , 0.166667\n"),
            std::string::npos)
      << h;
  EXPECT_EQ(h.substr(h.size() - 13), "2 , 0.166667\n") << "the vector ends the header";
}

TEST(PrintHeader, UnnamedStatePrintsAsNull) {
  TestModel m(2, 1, 2);
  fill_two_states(m);
  m.names[2] = nullptr;
  EXPECT_NE(header_of(m).find("2 , \"(null)\" , 1.500000 , 0.000000\n"), std::string::npos);
}

TEST(PrintPravlin, CellsFollowThePrintFlag) {
  TestModel m(2, 2, 2);
  fill_two_states(m);
  m.names[2] = nullptr;
  m.pv.init_year = 2000;
  const int chain1[] = {1, 2, 2}, chain2[] = {2, 2, 1};
  for (int t = 0; t <= 2; t++) {
    m.pv.pravlin[1][t] = chain1[t];
    m.pv.pravlin[2][t] = chain2[t];
  }
  struct Case {
    int flag;
    const char* table;
  } cases[] = {
      {0,
       "time , 1 , 2 \n 2000 , 0.000000 , 1.500000 \n 2001 , 1.500000 , 1.500000 \n"
       " 2002 , 1.500000 , 0.000000 \n"},
      {1, "time , 1 , 2 \n 2000 , 1 , 2 \n 2001 , 2 , 2 \n 2002 , 2 , 1 \n"},
      {2,
       "time , 1 , 2 \n 2000 , \"dry\" , \"(null)\" \n 2001 , \"(null)\" , \"(null)\" \n"
       " 2002 , \"(null)\" , \"dry\" \n"},
      {3, "time , 1 , 2 \n 2000 \n 2001 \n 2002 \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flag);
    m.pv.print_flag = c.flag;
    EXPECT_EQ(table_of(m), c.table);
  }
}

TEST(PrintPravlin, StepLabelsGoPastTheIntRange) {
  TestModel m(2, 1, 2);
  m.pv.init_year = INT_MAX;
  m.pv.print_flag = 1;
  for (int t = 0; t <= 2; t++)
    m.pv.pravlin[1][t] = 1;
  EXPECT_EQ(table_of(m), "time , 1 \n 2147483647 , 1 \n 2147483648 , 1 \n 2147483649 , 1 \n");
}

TEST(PrintPravlin, NullRecordWritesNothing) {
  FilePtr out = open_sink();
  printpravlin(out.get(), nullptr);
  printheader(out.get(), nullptr);
  EXPECT_EQ(read_all(out.get()), "");
}

TEST(FinishReportDeathTest, ReportFileThatCannotBeWrittenFailsTheRun) {
  TestModel m(2, 1, 2);
  static char full[] = "/dev/full";
  m.pv.outfilename = full;
  EXPECT_EXIT(
      {
        m.pv.out = std::fopen(full, "w");
        printpravlin(m.pv.out, &m.pv);
        finish_report(&m.pv);
        std::exit(0);
      },
      testing::ExitedWithCode(1), testing::Eq(" *** ERROR: Unable to write file (/dev/full)\n"));
}

TEST(FinishReportDeathTest, StandardOutputThatCannotBeWrittenFailsTheRun) {
  TestModel m(2, 1, 2);
  EXPECT_EXIT(
      {
        if (std::freopen("/dev/full", "w", stdout) == nullptr)
          std::exit(2);
        printpravlin(nullptr, &m.pv);
        finish_report(&m.pv);
        std::exit(0);
      },
      testing::ExitedWithCode(1), testing::Eq(" *** ERROR: Unable to write file (stdout)\n"));
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

// Without the memory for its cell texts and tiles, the writer makes each cell where it writes it.
TEST(PrintPravlin, WithoutItsExtraMemoryWritesTheSameTable) {
  std::mt19937_64 rng(8);
  TestModel m(9, 40, 60);
  fill_random_model(m, rng, 0.2);
  static char name[] = "s q";
  for (int s = 1; s <= 9; s++) {
    m.val[static_cast<std::size_t>(s)] = s * 1e5 / 7;
    m.names[static_cast<std::size_t>(s)] = s % 4 == 0 ? nullptr : name;
  }
  std::uniform_int_distribution<int> state(1, 9);
  for (int c = 1; c <= 40; c++) {
    for (int t = 0; t <= 60; t++)
      m.pv.pravlin[c][t] = state(rng);
  }
  for (int flag : {0, 1, 2}) {
    SCOPED_TRACE(flag);
    m.pv.print_flag = flag;
    EXPECT_EQ(table_of(m), literal_table(&m.pv));
    set_scratch_limit(0);
    EXPECT_EQ(table_of(m), literal_table(&m.pv));
    set_scratch_limit(SIZE_MAX);
  }
}
