// config_test.cc - the configuration mapping (read_xml_file): integer and real conversion,
// name matching, defaults, keyword values, the tables, every error message and the
// out-of-memory paths.
// Part of pravlin; see README.md.
#include "pravlin.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config.h"
#include "config_schema.h"
#include "config_stream.h"
#include "run.h"
#include "simulate.h"
#include "tables.h"
#include "test_util.h"

// ---------------------------------------------------------------- xml_atoi, xml_atof

TEST(XmlAtoi, ConvertsAsAtoiDoes) {
  EXPECT_EQ(xml_atoi(nullptr), 0);
  EXPECT_EQ(xml_atoi(""), 0);
  EXPECT_EQ(xml_atoi("2"), 2);
  EXPECT_EQ(xml_atoi("  \t\n\v\f\r42"), 42);
  EXPECT_EQ(xml_atoi("+3"), 3);
  EXPECT_EQ(xml_atoi("-7"), -7);
  EXPECT_EQ(xml_atoi("12abc"), 12);
  EXPECT_EQ(xml_atoi("2.9"), 2);
  EXPECT_EQ(xml_atoi("1e3"), 1);
  EXPECT_EQ(xml_atoi("0x10"), 0);
  EXPECT_EQ(xml_atoi("abc"), 0);
  EXPECT_EQ(xml_atoi("- 5"), 0);
  EXPECT_EQ(xml_atoi("+-5"), 0);
  EXPECT_EQ(xml_atoi("000000000000000000000000000007"), 7);
}

TEST(XmlAtoi, TheLessThanAConstructLeavesCounts) {
  // A comment before the digits leaves "<2", after them "2<".
  EXPECT_EQ(xml_atoi("<2"), 0);
  EXPECT_EQ(xml_atoi("2<"), 2);
}

TEST(XmlAtoi, SaturatesAtTheLimitsOfInt) {
  EXPECT_EQ(xml_atoi("2147483647"), INT_MAX);
  EXPECT_EQ(xml_atoi("2147483648"), INT_MAX);
  EXPECT_EQ(xml_atoi("99999999999"), INT_MAX);
  EXPECT_EQ(xml_atoi("99999999999999999999999999999999999999"), INT_MAX);
  EXPECT_EQ(xml_atoi("-2147483648"), INT_MIN);
  EXPECT_EQ(xml_atoi("-2147483649"), INT_MIN);
  EXPECT_EQ(xml_atoi("-99999999999"), INT_MIN);
  EXPECT_EQ(xml_atoi("-99999999999999999999999999999999999999"), INT_MIN);
}

TEST(XmlAtof, ConvertsAsAtofDoes) {
  EXPECT_EQ(xml_atof(nullptr), 0.0);
  EXPECT_EQ(xml_atof(""), 0.0);
  EXPECT_EQ(xml_atof("0.5"), 0.5);
  EXPECT_EQ(xml_atof(".5"), 0.5);
  EXPECT_EQ(xml_atof("1e-3"), 1e-3);
  EXPECT_EQ(xml_atof("1.5e1xyz"), 15.0);
  EXPECT_EQ(xml_atof("abc"), 0.0);
  EXPECT_EQ(xml_atof("<0.5"), 0.0);
  EXPECT_EQ(xml_atof("0.5<9"), 0.5);
  EXPECT_EQ(xml_atof("0.1"), std::atof("0.1"));
  EXPECT_EQ(xml_atof("1.0000001"), std::atof("1.0000001"));
  EXPECT_TRUE(std::isnan(xml_atof("nan")));
  EXPECT_TRUE(std::isnan(xml_atof("NaN")));
  EXPECT_TRUE(std::isinf(xml_atof("inf")));
  double negative_zero = xml_atof("-0");
  EXPECT_EQ(negative_zero, 0.0);
  EXPECT_TRUE(std::signbit(negative_zero));
}

// ---------------------------------------------------------------- reading a document

// A directory of its own for the files of one test, removed with it.
class ConfigTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pravlin_config_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    // The run keeps its tables and tree until the process ends; a test process releases them.
    for (PRAVLIN& pv : read_) {
      free_tables(&pv);
      free_XMLENTITY(pv.xml);
    }
    set_table_memory_limit(0);
    std::string cmd = "rm -rf '" + dir_ + "'";
    (void)std::system(cmd.c_str());
  }

  std::string path(const std::string& name) const {
    return dir_ + "/" + name;
  }

  // Writes text as config.xml and maps it onto pv, as the driver would. Does not return when
  // the mapping fails.
  void read(PRAVLIN* pv, const std::string& text) {
    init_pravlin(pv);
    xmlfile_ = path("config.xml");
    FILE* f = std::fopen(xmlfile_.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    pv->xmlfilename = xmlfile_.data();
    pv->in = std::fopen(xmlfile_.c_str(), "r");
    ASSERT_NE(pv->in, nullptr);
    read_xml_file(pv);
    keep_chains_table(pv);
    read_.push_back(*pv);
  }

  // Maps text and returns what the mapping wrote to standard error.
  std::string read_capturing(PRAVLIN* pv, const std::string& text) {
    testing::internal::CaptureStderr();
    read(pv, text);
    return testing::internal::GetCapturedStderr();
  }

  bool exists(const std::string& name) const {
    return access(path(name).c_str(), F_OK) == 0;
  }

  std::string dir_;
  std::string xmlfile_;
  std::vector<PRAVLIN> read_;
};

using ConfigDeathTest = ConfigTest;

// The states and transitions of a two-state chain, to go with any settings.
static const char kBody[] =
    "<state><ser>1</ser><name>dry</name><value>0</value>"
    "<initial_probability>1</initial_probability></state>"
    "<state><ser>2</ser><name>wet</name><value>1</value>"
    "<initial_probability>0</initial_probability></state>"
    "<transition><from>1</from><to><state>1</state><probability>0.7</probability></to>"
    "<to><state>2</state><probability>0.3</probability></to></transition>"
    "<transition><from>2</from><to><state>1</state><probability>1</probability></to>"
    "</transition>";

static std::string doc(const std::string& settings, const std::string& body = kBody) {
  return "<pravlin>" + settings + body + "</pravlin>\n";
}

static const char kTwo[] = "<nbr_states>2</nbr_states>";

TEST_F(ConfigTest, MinimalDocumentTakesEveryDefault) {
  PRAVLIN pv;
  EXPECT_EQ(read_capturing(&pv, doc(kTwo)), "");
  EXPECT_EQ(pv.nbr_states, 2);
  EXPECT_EQ(pv.init_year, 0);
  EXPECT_EQ(pv.nbr_years, 50);
  EXPECT_EQ(pv.nbr_chains, 10);
  EXPECT_EQ(pv.print_header, 0);
  EXPECT_EQ(pv.print_flag, 0);
  EXPECT_EQ(pv.calc_flag, 1);
  EXPECT_EQ(pv.max_iteration, 100);
  EXPECT_EQ(pv.max_error, 1e-6);
  EXPECT_EQ(pv.debug, 0);
  EXPECT_EQ(pv.outfilename, nullptr);
  EXPECT_EQ(pv.out, nullptr);
  ASSERT_NE(pv.xml, nullptr);
  EXPECT_STREQ(pv.xml->name, "pravlin");
}

TEST_F(ConfigTest, FillsTheTablesOneBasedWithSlotZeroZero) {
  PRAVLIN pv;
  read(&pv, doc(std::string(kTwo) + "<nbr_years>3</nbr_years><nbr_chains>2</nbr_chains>"));
  EXPECT_EQ(pv.state_name[0], nullptr);
  EXPECT_STREQ(pv.state_name[1], "dry");
  EXPECT_STREQ(pv.state_name[2], "wet");
  EXPECT_EQ(pv.val[0], 0.0);
  EXPECT_EQ(pv.val[1], 0.0);
  EXPECT_EQ(pv.val[2], 1.0);
  EXPECT_EQ(pv.initial_probability[0], 0.0);
  EXPECT_EQ(pv.initial_probability[1], 1.0);
  EXPECT_EQ(pv.initial_probability[2], 0.0);
  for (int i = 0; i <= 2; i++) {
    ASSERT_NE(pv.transition_probability[i], nullptr);
    EXPECT_EQ(pv.transition_probability[i][0], 0.0);
    EXPECT_EQ(pv.transition_probability[0][i], 0.0);
    EXPECT_EQ(pv.steady_state_probability[i], 0.0);
  }
  EXPECT_EQ(pv.transition_probability[1][1], 0.7);
  EXPECT_EQ(pv.transition_probability[1][2], 0.3);
  EXPECT_EQ(pv.transition_probability[2][1], 1.0);
  EXPECT_EQ(pv.transition_probability[2][2], 0.0);
  for (int c = 0; c <= 2; c++) {
    ASSERT_NE(pv.pravlin[c], nullptr);
    for (int t = 0; t <= 3; t++)
      EXPECT_EQ(pv.pravlin[c][t], 0);
  }
}

TEST_F(ConfigTest, NamesPointIntoTheDocumentTree) {
  // The tree as the tree reader reads it: the stream path keeps the names of plain states
  // beside their tables instead (still owned by the tree).
  set_stream_reading(0);
  PRAVLIN pv;
  read(&pv, doc(kTwo));
  set_stream_reading(1);
  // root -> nbr_states, state 1 -> ser, name
  const XMLENTITY* state1 = pv.xml->child->next;
  ASSERT_NE(state1, nullptr);
  EXPECT_STREQ(state1->name, "state");
  const XMLENTITY* name = state1->child->next;
  EXPECT_EQ(pv.state_name[1], name->s);
}

TEST_F(ConfigTest, SettingsAfterTheStatesStillSizeTheTables) {
  PRAVLIN pv;
  read(&pv, "<pravlin>" + std::string(kBody) +
                "<nbr_states>3</nbr_states><nbr_years>4</nbr_years></pravlin>");
  EXPECT_EQ(pv.nbr_states, 3);
  EXPECT_EQ(pv.nbr_years, 4);
  EXPECT_EQ(pv.state_name[3], nullptr);
  EXPECT_EQ(pv.transition_probability[3][3], 0.0);
}

TEST_F(ConfigTest, FirstEightCharactersDecide) {
  PRAVLIN pv;
  std::string err = read_capturing(
      &pv, doc("<nbr_statesx>2</nbr_statesx><init_yea>1990</init_yea>"
               "<NBR_YEARS_TOTAL>3</NBR_YEARS_TOTAL><nbr_chai>4</nbr_chai>"
               "<print_fl>name</print_fl><print_headings>yes</print_headings>"
               "<steadyst><max_iter>7</max_iter><max_erroneous>0.25</max_erroneous></steadyst>",
               "<state><ser>1</ser><initial_value>0.5</initial_value><valid>3</valid></state>"
               "<state><ser>2</ser><initial_pxx>0.5</initial_pxx><val>4</val></state>"
               "<transition><from>1</from><to><state>2</state><probabil>0.5</probabil></to>"
               "</transition>"));
  EXPECT_EQ(err, "");
  EXPECT_EQ(pv.nbr_states, 2);
  EXPECT_EQ(pv.init_year, 1990);
  EXPECT_EQ(pv.nbr_years, 3);
  EXPECT_EQ(pv.nbr_chains, 4);
  EXPECT_EQ(pv.print_flag, 2);
  EXPECT_EQ(pv.print_header, 1);
  EXPECT_EQ(pv.max_iteration, 7);
  EXPECT_EQ(pv.max_error, 0.25);
  EXPECT_EQ(pv.initial_probability[1], 0.5);
  EXPECT_EQ(pv.val[1], 3.0);
  EXPECT_EQ(pv.initial_probability[2], 0.5);
  EXPECT_EQ(pv.val[2], 4.0);
  EXPECT_EQ(pv.transition_probability[1][2], 0.5);
}

TEST_F(ConfigTest, ShorterNamesAndLongerExactNamesAreUnknown) {
  PRAVLIN pv;
  std::string err = read_capturing(
      &pv, doc("<nbr_sta>5</nbr_sta><nbr_states>2</nbr_states><init_ye>7</init_ye>"
               "<debugx>1</debugx><filenames>x.csv</filenames>"
               "<steadystate><calcx>no</calcx><max_ite>5</max_ite></steadystate>",
               "<state><ser>1</ser><serx>2</serx><namex>n</namex><va>3</va>"
               "<initial>0.9</initial><initial_probability>1</initial_probability></state>"
               "<transition><from>1</from><fromx>2</fromx><tos></tos><to><state>1</state>"
               "<states>2</states><probabi>1</probabi></to></transition>"));
  EXPECT_EQ(err,
            " *** WARNING: Unknown tag (nbr_sta) ignored\n"
            " *** WARNING: Unknown tag (init_ye) ignored\n"
            " *** WARNING: Unknown tag (debugx) ignored\n"
            " *** WARNING: Unknown tag (filenames) ignored\n"
            " *** WARNING: Unknown tag (calcx) ignored\n"
            " *** WARNING: Unknown tag (max_ite) ignored\n"
            " *** WARNING: Unknown tag (serx) ignored\n"
            " *** WARNING: Unknown tag (namex) ignored\n"
            " *** WARNING: Unknown tag (va) ignored\n"
            " *** WARNING: Unknown tag (initial) ignored\n"
            " *** WARNING: Unknown tag (fromx) ignored\n"
            " *** WARNING: Unknown tag (tos) ignored\n"
            " *** WARNING: Unknown tag (states) ignored\n"
            " *** WARNING: Unknown tag (probabi) ignored\n");
  EXPECT_EQ(pv.nbr_states, 2);
  EXPECT_EQ(pv.init_year, 0);
  EXPECT_EQ(pv.debug, 0);
  EXPECT_EQ(pv.outfilename, nullptr);
  EXPECT_EQ(pv.calc_flag, 1);
  EXPECT_EQ(pv.max_iteration, 100);
  EXPECT_EQ(pv.state_name[1], nullptr);
  EXPECT_EQ(pv.val[1], 0.0);
  EXPECT_EQ(pv.initial_probability[1], 1.0);
  EXPECT_EQ(pv.transition_probability[1][1], 0.0);
}

TEST_F(ConfigTest, ElementNamesInAnyCaseTextAsWritten) {
  PRAVLIN pv;
  std::string err = read_capturing(
      &pv,
      "<PRAVLIN><NBR_STATES>2</NBR_STATES><Print_Flag>SER</Print_Flag>"
      "<STATE><SER>1</SER><NAME>Dry</NAME><INITIAL_PROBABILITY>1</INITIAL_PROBABILITY>"
      "</STATE></PRAVLIN>");
  EXPECT_EQ(err, "");
  EXPECT_EQ(pv.print_flag, 1);
  EXPECT_STREQ(pv.state_name[1], "Dry");
  EXPECT_STREQ(pv.xml->child->name, "nbr_states");
}

TEST_F(ConfigTest, KeywordValues) {
  struct Row {
    const char* text;
    int print_flag, print_header, calc_flag;
  };
  // Each keyword element starts from print_flag 1, print_header 1, calc_flag 0.
  const Row rows[] = {
      {"VAL", 0, 1, 0},  {"val", 0, 1, 0},  {"SER", 1, 1, 0},   {"ser", 1, 1, 0},
      {"NAME", 2, 1, 0}, {"name", 2, 1, 0}, {"Name", 1, 1, 0},  {"2", 1, 1, 0},
      {"YES", 1, 1, 1},  {"yes", 1, 1, 1},  {"1", 1, 1, 1},     {"Yes", 1, 1, 0},
      {"NO", 1, 0, 0},   {"no", 1, 0, 0},   {"0", 1, 0, 0},     {"No", 1, 1, 0},
      {"true", 1, 1, 0}, {"", 1, 1, 0},     {" yes ", 1, 1, 1}, {"yes no", 1, 1, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    PRAVLIN pv;
    std::string t = r.text;
    read(&pv, doc(std::string(kTwo) +
                  "<print_flag>ser</print_flag><print_header>yes</print_header>"
                  "<steadystate><calc>no</calc><calc>" +
                  t +
                  "</calc></steadystate>"
                  "<print_flag>" +
                  t + "</print_flag><print_header>" + t + "</print_header>"));
    EXPECT_EQ(pv.print_flag, r.print_flag);
    EXPECT_EQ(pv.print_header, r.print_header);
    EXPECT_EQ(pv.calc_flag, r.calc_flag);
  }
}

TEST_F(ConfigTest, DefaultsReplaceSmallValuesOnly) {
  const struct {
    const char* settings;
    int nbr_years, nbr_chains, max_iteration;
    double max_error;
  } cases[] = {
      {"<nbr_years>1</nbr_years><nbr_chains>0</nbr_chains>"
       "<steadystate><max_iteration>0</max_iteration><max_error>0</max_error></steadystate>",
       50, 10, 100, 1e-6},
      {"<nbr_years>-4</nbr_years><nbr_chains>-1</nbr_chains>"
       "<steadystate><max_iteration>-5</max_iteration><max_error>-0.5</max_error></steadystate>"
       "<init_year>-12</init_year>",
       50, 10, 100, 1e-6},
      {"<nbr_years>2</nbr_years><nbr_chains>1</nbr_chains>"
       "<steadystate><max_iteration>1</max_iteration><max_error>1e-300</max_error></steadystate>",
       2, 1, 1, 1e-300},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings);
    PRAVLIN pv;
    read(&pv, doc(std::string(kTwo) + c.settings));
    EXPECT_EQ(pv.nbr_years, c.nbr_years);
    EXPECT_EQ(pv.nbr_chains, c.nbr_chains);
    EXPECT_EQ(pv.max_iteration, c.max_iteration);
    EXPECT_EQ(pv.max_error, c.max_error);
  }
  // A negative year is a label, not a small value: it stays.
  PRAVLIN pv;
  read(&pv, doc(std::string(kTwo) + "<init_year>-12</init_year>"));
  EXPECT_EQ(pv.init_year, -12);
}

TEST_F(ConfigTest, MaxErrorThatIsNotAboveZeroTakesTheDefault) {
  for (const char* text : {"nan", "-nan", "-inf", "-0", "0x0"}) {
    SCOPED_TRACE(text);
    PRAVLIN pv;
    read(&pv,
         doc(std::string(kTwo) + "<steadystate><max_error>" + text + "</max_error></steadystate>"));
    EXPECT_EQ(pv.max_error, 1e-6);
  }
}

TEST_F(ConfigTest, IntegerSettingsSaturate) {
  PRAVLIN pv;
  read(&pv, doc(std::string(kTwo) + "<init_year>99999999999</init_year>"
                                    "<steadystate><max_iteration>99999999999</max_iteration>"
                                    "</steadystate><debug>-99999999999</debug>"));
  EXPECT_EQ(pv.init_year, INT_MAX);
  EXPECT_EQ(pv.max_iteration, INT_MAX);
  EXPECT_EQ(pv.debug, INT_MIN);
}

TEST_F(ConfigTest, CommentsPassInTheRootAndAreUnknownInContainers) {
  PRAVLIN pv;
  std::string err = read_capturing(
      &pv, doc(std::string(kTwo) + "<!-- root --><![CDATA[root]]><?pi root?>"
                                   "<steadystate><!-- s --><![CDATA[s]]></steadystate>",
               "<state><!-- a --><ser>1</ser><?pi?><initial_probability>1"
               "</initial_probability></state>"
               "<transition><from>1</from><![CDATA[t]]><to><!-- b --><state>2</state></to>"
               "</transition>"));
  EXPECT_EQ(err,
            " *** WARNING: Unknown tag (comment) ignored\n"
            " *** WARNING: Unknown tag (cdata) ignored\n"
            " *** WARNING: Unknown tag (comment) ignored\n"
            " *** WARNING: Unknown tag (processing instruction) ignored\n"
            " *** WARNING: Unknown tag (cdata) ignored\n"
            " *** WARNING: Unknown tag (comment) ignored\n");
}

TEST_F(ConfigTest, ACommentLeavesALessThanInTheValue) {
  PRAVLIN pv;
  read(&pv, doc("<nbr_states>2<!-- two --></nbr_states>",
                "<state><ser>1</ser><name>a<!-- x -->b</name><value><![CDATA[9]]>5</value>"
                "<initial_probability>1</initial_probability></state>"
                "<state><ser>2</ser><name><!-- x --></name></state>"));
  EXPECT_EQ(pv.nbr_states, 2);
  EXPECT_STREQ(pv.state_name[1], "a<b");
  EXPECT_EQ(pv.val[1], 0.0);
  EXPECT_STREQ(pv.state_name[2], "<");
}

TEST_F(ConfigTest, AttributesAreNeverConsulted) {
  PRAVLIN pv;
  std::string err = read_capturing(
      &pv, doc("<nbr_states value=\"5\">2</nbr_states><filename name=\"x\"/>",
               "<state ser=\"2\"><ser>1</ser><initial_probability p=\"0\">1"
               "</initial_probability></state>"
               "<transition from=\"2\"><from>1</from><to state=\"2\"><state>1</state>"
               "<probability>1</probability></to></transition>"));
  EXPECT_EQ(err, "");
  EXPECT_EQ(pv.nbr_states, 2);
  EXPECT_EQ(pv.outfilename, nullptr);
  EXPECT_EQ(pv.initial_probability[1], 1.0);
  EXPECT_EQ(pv.initial_probability[2], 0.0);
  EXPECT_EQ(pv.transition_probability[1][1], 1.0);
}

TEST_F(ConfigTest, LaterElementsOverwriteAndTransitionsMerge) {
  PRAVLIN pv;
  read(&pv, doc(kTwo,
                "<state><ser>1</ser><name>a</name><value>1</value>"
                "<initial_probability>0.5</initial_probability></state>"
                "<state><ser>1</ser><initial_probability>0.25</initial_probability></state>"
                "<transition><to><state>1</state><probability>0.9</probability></to>"
                "<from>2</from><from>1</from></transition>"
                "<transition><from>1</from><to><state>2</state><probability>0.3</probability>"
                "</to><to><state>1</state></to></transition>"));
  EXPECT_EQ(pv.state_name[1], nullptr);
  EXPECT_EQ(pv.val[1], 0.0);
  EXPECT_EQ(pv.initial_probability[1], 0.25);
  EXPECT_EQ(pv.transition_probability[1][1], 0.0);
  EXPECT_EQ(pv.transition_probability[1][2], 0.3);
  EXPECT_EQ(pv.transition_probability[2][1], 0.0);
}

TEST_F(ConfigTest, EmptyElementTagsReadAsEmptyText) {
  PRAVLIN pv;
  std::string err = read_capturing(
      &pv, doc(std::string(kTwo) +
                   "<print_flag>name</print_flag><print_flag/><print_header>yes</print_header>"
                   "<print_header/><init_year/><debug/><steadystate/>"
                   "<steadystate><calc/><max_iteration/><max_error/></steadystate>",
               "<state><ser>1</ser><name/><value/><initial_probability>1"
               "</initial_probability></state>"
               "<transition><from>1</from><to><state>2</state><probability/></to>"
               "</transition>"));
  EXPECT_EQ(err, "");
  EXPECT_EQ(pv.print_flag, 2);
  EXPECT_EQ(pv.print_header, 1);
  EXPECT_EQ(pv.calc_flag, 1);
  EXPECT_EQ(pv.max_iteration, 100);
  EXPECT_EQ(pv.max_error, 1e-6);
  EXPECT_EQ(pv.state_name[1], nullptr);
  EXPECT_EQ(pv.transition_probability[1][2], 0.0);
}

TEST_F(ConfigTest, ZeroAndOneAreLegalProbabilities) {
  PRAVLIN pv;
  read(&pv, doc(kTwo,
                "<state><ser>1</ser><initial_probability>1</initial_probability></state>"
                "<state><ser>2</ser><initial_probability>-0</initial_probability></state>"
                "<transition><from>1</from><to><state>1</state><probability>0</probability>"
                "</to><to><state>2</state><probability>1.0</probability></to></transition>"));
  EXPECT_EQ(pv.initial_probability[1], 1.0);
  EXPECT_EQ(pv.initial_probability[2], 0.0);
  EXPECT_EQ(pv.transition_probability[1][2], 1.0);
}

TEST_F(ConfigTest, ReportFileOpenedAndLastFilenameWins) {
  PRAVLIN pv;
  std::string first = path("first.csv"), second = path("report.csv");
  read(&pv, doc(std::string(kTwo) + "<filename>" + first + "</filename><filename>" + second +
                "</filename>"));
  ASSERT_NE(pv.out, nullptr);
  EXPECT_NE(pv.out, stdout);
  EXPECT_STREQ(pv.outfilename, second.c_str());
  std::fclose(pv.out);
  EXPECT_TRUE(exists("report.csv"));
  EXPECT_FALSE(exists("first.csv"));
}

TEST_F(ConfigTest, EmptyElementFilenameForgetsAnEarlierOne) {
  PRAVLIN pv;
  read(&pv, doc(std::string(kTwo) + "<filename>" + path("report.csv") + "</filename><filename/>"));
  EXPECT_EQ(pv.outfilename, nullptr);
  EXPECT_EQ(pv.out, nullptr);
  EXPECT_FALSE(exists("report.csv"));
}

TEST_F(ConfigTest, UnopenableReportFileFallsBackToStdout) {
  PRAVLIN pv;
  std::string bad = path("no_such_dir/report.csv");
  std::string err =
      read_capturing(&pv, doc(std::string(kTwo) + "<filename>" + bad + "</filename>"));
  EXPECT_EQ(err, "*** ERROR: Unable to open file (" + bad + ") for writing, using stdout\n");
  EXPECT_EQ(pv.out, stdout);
  EXPECT_STREQ(pv.outfilename, bad.c_str());

  PRAVLIN empty;
  err = read_capturing(&empty, doc(std::string(kTwo) + "<filename></filename>"));
  EXPECT_EQ(err, "*** ERROR: Unable to open file () for writing, using stdout\n");
  EXPECT_EQ(empty.out, stdout);
  ASSERT_NE(empty.outfilename, nullptr);
  EXPECT_STREQ(empty.outfilename, "");
}

TEST(SliceFileName, PutsTheRangeBeforeTheExtension) {
  const struct {
    const char* name;
    const char* sliced;
  } cases[] = {
      {"credit.csv", "credit.1-4.csv"},
      {"out/credit.csv", "out/credit.1-4.csv"},
      {"report", "report.1-4"},
      {"runs.d/report", "runs.d/report.1-4"},
      {".report", ".report.1-4"},
      {"dir/.report", "dir/.report.1-4"},
      {"chains.tar.gz", "chains.tar.1-4.gz"},
      {"./report", "./report.1-4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(slice_file_name(c.name, 1, 4), c.sliced);
  }
}

// ---------------------------------------------------------------- errors

struct ErrorCase {
  const char* what;
  std::string text;
  std::string message;  // all of standard error
};

TEST_F(ConfigDeathTest, EveryMappingErrorEndsTheRunWithItsMessage) {
  const std::string two = kTwo;
  const ErrorCase cases[] = {
      {"no markup", "just text\n", " *** ERROR: (0) Error encountered in reading XML file\n"},
      {"empty", "", " *** ERROR: (0) Error encountered in reading XML file\n"},
      {"unclosed root", "<pravlin><nbr_states>2</nbr_states>",
       " *** ERROR: (1) Error encountered in reading XML file\n"},
      {"doctype", "<pravlin><!DOCTYPE x>" + two + "</pravlin>",
       " *** ERROR: (2) Error encountered in reading XML file\n"},
      {"xml declaration", "<?xml version=\"1.0\"?>" + doc(two),
       " *** ERROR:  (processing instruction) Not a pravlin XML file\n"},
      {"comment first", "<!-- c -->" + doc(two), " *** ERROR:  (comment) Not a pravlin XML file\n"},
      {"other root", "<Markov>" + two + "</Markov>",
       " *** ERROR:  (markov) Not a pravlin XML file\n"},
      {"longer root", "<pravlinx>" + two + "</pravlinx>",
       " *** ERROR:  (pravlinx) Not a pravlin XML file\n"},
      {"no nbr_states", doc("<bogus/>"),
       " *** WARNING: Unknown tag (bogus) ignored\n"
       " *** ERROR: nbr_states (0) must be greater than 1\n"},
      {"one state", doc("<nbr_states>1</nbr_states>"),
       " *** ERROR: nbr_states (1) must be greater than 1\n"},
      {"comment before digits", doc("<nbr_states><!-- c -->2</nbr_states>"),
       " *** ERROR: nbr_states (0) must be greater than 1\n"},
      {"ser above", doc(two, "<state><ser>3</ser><name>c</name></state>"),
       " *** ERROR: For STATE (c) SER (3) is < 1 or > NBR_STATES (2)\n"},
      {"ser as attribute", doc(two, "<state ser=\"1\"><name>a</name></state>"),
       " *** ERROR: For STATE (a) SER (0) is < 1 or > NBR_STATES (2)\n"},
      {"unnamed ser", doc(two, "<state><ser>-1</ser></state>"),
       " *** ERROR: For STATE ((null)) SER (-1) is < 1 or > NBR_STATES (2)\n"},
      {"empty state", doc(two, "<state/>"),
       " *** ERROR: For STATE ((null)) SER (0) is < 1 or > NBR_STATES (2)\n"},
      {"initial above 1",
       doc(two,
           "<state><ser>1</ser><name>a</name><initial_probability>1.0000001"
           "</initial_probability></state>"),
       " *** ERROR: For STATE (a) illegal INITIAL_PROBABILITY (1.000000)\n"},
      {"initial below 0 unnamed",
       doc(two, "<state><ser>1</ser><initial_probability>-1e-9</initial_probability></state>"),
       " *** ERROR: For STATE ((null)) illegal INITIAL_PROBABILITY (-0.000000)\n"},
      {"initial nan",
       doc(two,
           "<state><ser>2</ser><name>b</name><initial_probability>nan"
           "</initial_probability></state>"),
       " *** ERROR: For STATE (b) illegal INITIAL_PROBABILITY (nan)\n"},
      {"ser checked before probability",
       doc(two,
           "<state><ser>5</ser><name>e</name><initial_probability>2"
           "</initial_probability></state>"),
       " *** ERROR: For STATE (e) SER (5) is < 1 or > NBR_STATES (2)\n"},
      {"from missing", doc(two, "<transition><x/><to><state>1</state></to></transition>"),
       " *** WARNING: Unknown tag (x) ignored\n"
       " *** ERROR: TRANSITION FROM (0) is < 1 or > NBR_STATES (2)\n"},
      {"from above", doc(two, "<transition><from>3</from></transition>"),
       " *** ERROR: TRANSITION FROM (3) is < 1 or > NBR_STATES (2)\n"},
      {"from checked before the to entries",
       doc(two, "<transition><to><state>9</state></to><from>0</from></transition>"),
       " *** ERROR: TRANSITION FROM (0) is < 1 or > NBR_STATES (2)\n"},
      {"to without state",
       doc(two, "<transition><from>2</from><to><probability>1</probability></to></transition>"),
       " *** ERROR: TRANSITION FROM (2) TO (0) is < 1 or > NBR_STATES (2)\n"},
      {"to above", doc(two, "<transition><from>1</from><to><state>3</state></to></transition>"),
       " *** ERROR: TRANSITION FROM (1) TO (3) is < 1 or > NBR_STATES (2)\n"},
      {"probability above 1",
       doc(two,
           "<transition><from>1</from><to><state>2</state><probability>1.5</probability>"
           "</to></transition>"),
       " *** ERROR: For TRANSITION FROM (1) TO (2)  illegal PROBABILITY (1.500000)\n"},
      {"probability below 0",
       doc(two,
           "<transition><from>1</from><to><state>2</state><probability>-0.25"
           "</probability></to></transition>"),
       " *** ERROR: For TRANSITION FROM (1) TO (2)  illegal PROBABILITY (-0.250000)\n"},
      {"probability nan",
       doc(two,
           "<transition><from>2</from><to><state>1</state><probability>NaN"
           "</probability></to></transition>"),
       " *** ERROR: For TRANSITION FROM (2) TO (1)  illegal PROBABILITY (nan)\n"},
      {"probability infinite",
       doc(two,
           "<transition><from>2</from><to><state>1</state><probability>inf"
           "</probability></to></transition>"),
       " *** ERROR: For TRANSITION FROM (2) TO (1)  illegal PROBABILITY (inf)\n"},
      {"warnings before the error, in document order",
       doc(two + "<steadystate><x1/></steadystate><x2/>",
           "<state><x3/><ser>1</ser><initial_probability>1</initial_probability></state>"
           "<transition><x4/><from>1</from><to><x5/><state>4</state></to></transition>"),
       " *** WARNING: Unknown tag (x1) ignored\n"
       " *** WARNING: Unknown tag (x2) ignored\n"
       " *** WARNING: Unknown tag (x3) ignored\n"
       " *** WARNING: Unknown tag (x4) ignored\n"
       " *** WARNING: Unknown tag (x5) ignored\n"
       " *** ERROR: TRANSITION FROM (1) TO (4) is < 1 or > NBR_STATES (2)\n"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.what);
    expect_read_fails(c.text, c.message);
  }
}

TEST_F(ConfigDeathTest, NullInputStream) {
  PRAVLIN pv;
  init_pravlin(&pv);
  EXPECT_EXIT(read_xml_file(&pv), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: NULL pointer for FILE pv->in in read_xml_file()\n"));
}

TEST_F(ConfigDeathTest, SecondPassErrorLeavesAnEmptyReportFile) {
  std::string report = path("report.csv");
  EXPECT_EXIT(
      {
        PRAVLIN pv;
        read(&pv, doc(std::string(kTwo) + "<filename>" + report + "</filename>",
                      "<state><ser>9</ser></state>"));
        std::exit(0);
      },
      testing::ExitedWithCode(1), testing::HasSubstr("SER (9)"));
  EXPECT_TRUE(exists("report.csv"));
  FILE* f = std::fopen(report.c_str(), "r");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fgetc(f), EOF);
  std::fclose(f);
}

TEST_F(ConfigDeathTest, FirstPassErrorCreatesNoReportFile) {
  std::string report = path("report.csv");
  EXPECT_EXIT(
      {
        PRAVLIN pv;
        read(&pv, doc("<nbr_states>1</nbr_states><filename>" + report + "</filename>"));
        std::exit(0);
      },
      testing::ExitedWithCode(1),
      testing::Eq(" *** ERROR: nbr_states (1) must be greater than 1\n"));
  EXPECT_FALSE(exists("report.csv"));
}

// ---------------------------------------------------------------- out of memory

static double physical_gib() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long page_size = sysconf(_SC_PAGESIZE);
  return static_cast<double>(pages) * static_cast<double>(page_size) / (1024.0 * 1024 * 1024);
}

// With the tables limited to 1 MiB, each message on any machine.
TEST_F(ConfigDeathTest, EachTableGroupHasItsOwnOutOfMemoryMessage) {
  const struct {
    const char* settings;
    const char* message;
  } cases[] = {
      // a per-state array of 200001 pointers or doubles: 1.6 MB
      {"<nbr_states>200000</nbr_states>", kOom1},
      // per-state arrays of 8 kB each, then 1001 rows of 1001 doubles: 8 MB
      {"<nbr_states>1000</nbr_states>", kOom2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings);
    set_table_memory_limit(1 << 20);
    expect_read_fails(doc(c.settings), c.message);
  }
}

TEST_F(ConfigDeathTest, EndlessStreamIsReadOnlyAsFarAsAFileWhoseTreeWouldFit) {
  // /dev/zero never ends: under a 12 MiB limit, its first 1 MiB is all that may be read.
  set_table_memory_limit(std::size_t{12} << 20);
  EXPECT_EXIT(
      {
        PRAVLIN pv;
        init_pravlin(&pv);
        pv.in = std::fopen("/dev/zero", "r");
        read_configuration(&pv, READ_MATRIX, 0);
        std::exit(0);
      },
      testing::ExitedWithCode(1), testing::Eq(" *** ERROR: Out of memory in alloc_XMLENTITY()\n"));
}

TEST_F(ConfigDeathTest, OutOfMemory1ForThePerStateArraysAndRowTables) {
  // INT_MAX states: five per-state tables of 16 GiB each, plus a 16 GiB chain row table.
  if (physical_gib() >= 96.0)
    GTEST_SKIP() << "the tables fit in this machine's memory";
  expect_read_fails(doc("<nbr_states>2147483647</nbr_states><nbr_chains>2147483647</nbr_chains>"),
                    kOom1);
  expect_read_fails(doc("<nbr_states>99999999999</nbr_states><nbr_chains>99999999999</nbr_chains>"),
                    kOom1);
}

TEST_F(ConfigDeathTest, OutOfMemory2ForTheTransitionRows) {
  // 1000001 rows of 1000001 doubles: 8 TB.
  expect_read_fails(doc("<nbr_states>1000000</nbr_states>"), kOom2);
  // 65536 states: 32 GiB of rows, while the per-state arrays stay small.
  if (physical_gib() < 30.0) {
    expect_read_fails(doc("<nbr_states>65536</nbr_states>"), kOom2);
  }
}

TEST_F(ConfigDeathTest, OutOfMemory3ForTheChainRows) {
  // 2^31 - 1 rows of 2^31 ints are read without a table, and drawn as they are written in one
  // state per chain: 8 GiB, refused under a 1 GiB limit before anything is drawn. The count + 1
  // of nbr_years must not overflow an int.
  set_table_memory_limit(std::size_t{1} << 30);
  EXPECT_EXIT(
      {
        PRAVLIN pv;
        read_text(&pv,
                  doc(std::string(kTwo) +
                      "<nbr_chains>99999999999</nbr_chains><nbr_years>2147483647</nbr_years>"));
        simulate_without_table(&pv, 1, pv.nbr_chains);
        std::exit(0);
      },
      testing::ExitedWithCode(1), testing::Eq(kOom3));
}

TEST_F(ConfigDeathTest, OutOfMemoryLeavesTheReportFileEmpty) {
  std::string report = path("report.csv");
  EXPECT_EXIT(
      {
        PRAVLIN pv;
        read(&pv, doc("<nbr_states>1000000</nbr_states><filename>" + report + "</filename>"));
        std::exit(0);
      },
      testing::ExitedWithCode(1), testing::Eq(kOom2));
  EXPECT_TRUE(exists("report.csv"));
}

TEST(ConfigName, EachPlaceMatchesItsOwnNamesByTheirRule) {
  // in_full: the name is the keyword itself, not only its first characters.
  const struct {
    const char* name;
    ConfigPlace place;
    ConfigName expected;
    bool in_full;
  } cases[] = {
      {"nbr_states", IN_ROOT, CFG_NBR_STATES, true},
      {"nbr_stat", IN_ROOT, CFG_NBR_STATES, false},  // the first 8 characters
      {"nbr_sta", IN_ROOT, CFG_UNKNOWN, false},      // a shorter name never matches
      {"nbr_statesxyz", IN_ROOT, CFG_NBR_STATES, false},
      {"print_header", IN_ROOT, CFG_PRINT_HEADER, true},
      {"debugging", IN_ROOT, CFG_UNKNOWN, false},  // whole names only
      {"state", IN_ROOT, CFG_STATE, true},
      {"state", IN_TO, CFG_TO_STATE, true},
      {"state", IN_STATE, CFG_UNKNOWN, false},
      {"valxyz", IN_STATE, CFG_VALUE, false},  // the first 3 characters
      {"value", IN_STATE, CFG_VALUE, true},
      {"initial_", IN_STATE, CFG_INITIAL_PROBABILITY, false},
      {"initial_probability", IN_STATE, CFG_INITIAL_PROBABILITY, true},
      {"probabil", IN_TO, CFG_PROBABILITY, false},
      {"probability", IN_TO, CFG_PROBABILITY, true},
      {"to", IN_TRANSITION, CFG_TO, true},
      {"t", IN_TRANSITION, CFG_UNKNOWN, false},
      {"calc", IN_STEADYSTATE, CFG_CALC, true},
      {"max_iterations", IN_STEADYSTATE, CFG_MAX_ITERATION, false},
      {"pravlin", IN_DOCUMENT, CFG_PRAVLIN, true},
      {"pravlin", IN_ROOT, CFG_UNKNOWN, false},
      {"", IN_ROOT, CFG_UNKNOWN, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    XMLENTITY x{};
    x.name = const_cast<char*>(c.name);
    EXPECT_EQ(config_name(&x, c.place), c.expected);
    // A name as the document spells it, which the stream reads without a tree: A to Z count as
    // a to z, and the name's length, not a terminator, ends it.
    const std::size_t len = std::strlen(c.name);
    std::string spelt = std::string(c.name) + "zz<";
    for (std::size_t i = 0; i < len; i += 2)
      spelt[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(spelt[i])));
    EXPECT_EQ(config_name_of(spelt.data(), len, c.place), c.expected);
    EXPECT_EQ(config_name_in_full(c.expected, len), c.in_full);
  }
  XMLENTITY unnamed{};
  EXPECT_EQ(config_name(&unnamed, IN_ROOT), CFG_UNKNOWN);
}
