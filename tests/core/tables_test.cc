// tables_test.cc - the record's tables: counts an int index cannot walk, the memory limit,
// and releasing the tables so that one process can read configuration after configuration.
// Part of pravlin; see README.md.
#include "pravlin.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "simulate.h"
#include "tables.h"
#include "test_util.h"

// A two-state chain under the given settings.
static std::string chain(const std::string& settings) {
  return "<pravlin>" + settings +
         "<state><ser>1</ser><name>dry</name><initial_probability>1</initial_probability></state>"
         "<state><ser>2</ser><name>wet</name></state>"
         "<transition><from>1</from><to><state>2</state><probability>1</probability></to>"
         "</transition>"
         "<transition><from>2</from><to><state>1</state><probability>1</probability></to>"
         "</transition></pravlin>";
}

// Every test that lowers the limit puts it back, so that the order of tests does not matter.
class TableLimitTest : public testing::Test {
 protected:
  void TearDown() override {
    set_table_memory_limit(0);
  }
};
using TableLimitDeathTest = TableLimitTest;

TEST(TableCountDeathTest, CountsAnIntIndexCannotReachAreRefusedWhateverTheMemory) {
  // An int loop up to INT_MAX never ends. On a machine with the memory to grant these tables,
  // a year count of INT_MAX took 16 GiB and the simulation then wrote far outside its row.
  // Such a table is now drawn as it is written, with 64-bit loops (StreamPravlin, KeepChainsTable).
  EXPECT_EXIT(alloc_table(static_cast<std::size_t>(INT_MAX) + 1, 1, "refused\n"),
              testing::ExitedWithCode(1), testing::Eq("refused\n"));
  EXPECT_EXIT(
      {
        double* rows[3];
        alloc_rows(rows, 2, INT_MAX, "refused\n");
        std::exit(0);
      },
      testing::ExitedWithCode(1), testing::Eq("refused\n"));
}

TEST_F(TableLimitDeathTest, EachTableGroupEndsInItsOwnMessage) {
  // Under a 64 KiB limit: 10000 states need 480 KB of per-state arrays; 100 states fit those
  // but not their 80 KB of transition rows; 2 states and 20000 chains fit both, and their
  // table is drawn as it is written, but not in the 80 KB of one state per chain it needs.
  set_table_memory_limit(64 * 1024);
  expect_read_fails(chain("<nbr_states>10000</nbr_states>"), kOom1);
  expect_read_fails(chain("<nbr_states>100</nbr_states>"), kOom2);
  EXPECT_EXIT(
      {
        PRAVLIN pv;
        read_text(&pv, chain("<nbr_states>2</nbr_states><nbr_chains>20000</nbr_chains>"
                             "<nbr_years>100</nbr_years>"));
        simulate_without_table(&pv, 1, pv.nbr_chains);
        std::exit(0);
      },
      testing::ExitedWithCode(1), testing::Eq(kOom3));
}

TEST_F(TableLimitDeathTest, DocumentTreeEstimateIsCountedBeforeTheFileIsRead) {
  // The tree is estimated at 12 bytes a byte of the file: some 4 KB for this one.
  const std::string text = chain("");
  ASSERT_GT(12 * text.size(), 3000U);
  set_table_memory_limit(3000);
  expect_read_fails(text, " *** ERROR: Out of memory in alloc_XMLENTITY()\n");
}

TEST_F(TableLimitDeathTest, TablesCountTogetherAgainstTheLimit) {
  set_table_memory_limit(1000);
  EXPECT_EXIT(
      {
        // Up to the limit exactly, then one byte more.
        void* first = alloc_table(100, 8, "refused\n");
        void* second = alloc_table(25, 8, "refused\n");
        (void)first;
        (void)second;
        std::fputs("granted 1000\n", stderr);
        alloc_table(1, 1, "refused\n");
        std::exit(0);
      },
      testing::ExitedWithCode(1), testing::Eq("granted 1000\nrefused\n"));
}

TEST_F(TableLimitTest, FreedTablesNoLongerCount) {
  // Forty configurations of some 1.5 KB of tables and a tree estimated at 5 KB each, one after
  // another, under an 8 KiB limit: only a process that forgot the freed tables would run out.
  set_table_memory_limit(8192);
  for (int run = 0; run < 40; run++) {
    PRAVLIN pv;
    read_text(&pv, chain("<nbr_states>2</nbr_states><nbr_chains>10</nbr_chains>"
                         "<nbr_years>20</nbr_years>"));
    ASSERT_NE(pv.pravlin[10], nullptr);
    EXPECT_EQ(pv.pravlin[10][20], 0);
    EXPECT_EQ(pv.transition_probability[2][1], 1.0);
    free_tables(&pv);
    EXPECT_EQ(pv.transition_probability, nullptr);
    EXPECT_EQ(pv.pravlin, nullptr);
    free_XMLENTITY(pv.xml);
  }
}
