// analyze_notes_test.cc - pravlin-analyze's notes on how a file was read: each lenient reading
// noted with its element and text, none for a plain file.
// Part of pravlin; see README.md.
#include "analyze_notes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analyze_test_util.h"
#include "config.h"
#include "tables.h"

// A two-state configuration with body spliced in at the root, read as pravlin-analyze reads it.
static std::vector<READ_NOTE> notes_of(const std::string& body) {
  const std::string text =
      "<pravlin><nbr_states>2</nbr_states>"
      "<state><ser>1</ser><name>a</name><initial_probability>1</initial_probability></state>"
      "<transition><from>2</from><to><state>1</state><probability>1</probability></to>"
      "</transition>" +
      body + "</pravlin>";
  PRAVLIN pv;
  std::vector<TRANSITION_ENTRY> list;
  testing::internal::CaptureStderr();
  std::vector<READ_NOTE> notes = read_noting(text, &pv, &list);
  testing::internal::GetCapturedStderr();
  free_tables(&pv);
  free_XMLENTITY(pv.xml);
  return notes;
}

static const char kRow1[] = "<transition><from>1</from><to><state>1</state>";

TEST(AnalyzeNotes, EachLenientReadingIsNotedWithItsElementAndText) {
  struct Case {
    const char* body;
    const char* kind;
    const char* element;
    const char* where;
    const char* text;
    const char* message;  // a part of the message
  };
  const std::string row = kRow1;
  const std::string p_abc = row + "<probability>abc</probability></to></transition>";
  const std::string p_comma = row + "<probability>0,6</probability></to></transition>";
  const std::string p_typo = row + "<probabilty>1</probabilty></to></transition>";
  const std::string p_far = row + "<probability>0.05</probability></to></transition>";
  const std::string comment = row + "<!-- c --><probability>1</probability></to></transition>";
  const Case cases[] = {
      {p_abc.c_str(), "number_not_read", "probability", "transition from 1 to 1", "abc",
       "not a number: read as 0"},
      {p_comma.c_str(), "number_partly_read", "probability", "transition from 1 to 1", "0,6",
       "up to \",6\": read as 0"},
      {"<state><ser>2</ser><value>3/10</value></state>", "number_partly_read", "value", "state 2",
       "3/10", "up to \"/10\": read as 3"},
      {"<nbr_chains>1e5x</nbr_chains>", "number_partly_read", "nbr_chains", "", "1e5x",
       "up to \"e5x\": read as 1"},
      {"<init_year>99999999999</init_year>", "number_out_of_range", "init_year", "", "99999999999",
       "read as 2147483647"},
      {"<print_flag>Name</print_flag>", "keyword_not_known", "print_flag", "", "Name",
       "not one of VAL"},
      {"<print_flag>names</print_flag>", "keyword_not_known", "print_flag", "", "names",
       "not one of VAL"},
      {"<print_header>true</print_header>", "keyword_not_known", "print_header", "", "true",
       "not one of YES"},
      {"<steadystate><calc>Yes</calc></steadystate>", "keyword_not_known", "calc", "steadystate",
       "Yes", "not one of YES"},
      {"<debug>yes</debug>", "keyword_not_known", "debug", "", "yes", "debug takes a number"},
      {"<nbr_years>1</nbr_years>", "default_replaced", "nbr_years", "", "1",
       "replaced by the default 50"},
      {"<steadystate><max_error>-1</max_error></steadystate>", "default_replaced", "max_error",
       "steadystate", "-1", "default 1e-6"},
      {p_typo.c_str(), "name_abbreviated", "probabilty", "transition from 1 to 1", "1",
       "read as <probability>"},
      {"<nbr_statesx>2</nbr_statesx>", "name_abbreviated", "nbr_statesx", "", "2",
       "read as <nbr_states>"},
      {comment.c_str(), "markup_in_container", "comment", "transition from 1 to 1", " c ",
       "inside <to>"},
      {"<state><ser>2</ser><![CDATA[x]]></state>", "markup_in_container", "cdata", "state 2", "x",
       "inside <state>"},
      {"<state><ser>2</ser><name>b<!-- -->c</name></state>", "markup_in_text", "name", "state 2",
       "b<c", "keeps a \"<\""},
      {p_far.c_str(), "total_far_from_one", "probability", "transition from 1", "", "total 0.05"},
      {"<state><ser>2</ser><value>nan</value></state>", "value_not_finite", "value", "state 2",
       "nan", "read as nan"},
      {"<state><ser>2</ser><value>-1e999</value></state>", "value_not_finite", "value", "state 2",
       "-1e999", "read as -inf"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.body);
    std::vector<READ_NOTE> notes = notes_of(k.body);
    ASSERT_EQ(notes.size(), 1u) << notes[0].kind << " " << notes.back().kind;
    EXPECT_EQ(notes[0].kind, k.kind);
    EXPECT_EQ(notes[0].element, k.element);
    EXPECT_EQ(notes[0].where, k.where);
    EXPECT_EQ(notes[0].text, k.text);
    EXPECT_NE(notes[0].message.find(k.message), std::string::npos) << notes[0].message;
  }
}

TEST(AnalyzeNotes, PlainFileAndWeightsOfOneGiveNone) {
  const std::string weights = std::string(kRow1) +
                              "<probability>1</probability></to><to><state>2</state>"
                              "<probability>1</probability></to></transition>"
                              "<nbr_years>2</nbr_years><steadystate><calc>no</calc>"
                              "</steadystate><print_flag>name</print_flag><debug>1</debug>";
  EXPECT_TRUE(notes_of(weights).empty());
}
