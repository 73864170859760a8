// analyze_states_test.cc - states named on the command line by the one rule of pravlin-analyze,
// and names shown so that they cannot act on a terminal.
// Part of pravlin; see README.md.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analyze.h"
#include "analyze_states.h"
#include "test_util.h"

// A chain of n states named as given (null: unnamed).
struct NamedModel {
  TestModel m;
  std::vector<std::string> text;
  NamedModel(int n, const std::vector<const char*>& names) : m(n, 1, 2), text(names.size()) {
    for (std::size_t i = 0; i < names.size(); i++) {
      if (names[i] == nullptr)
        continue;
      text[i] = names[i];
      m.pv.state_name[i + 1] = text[i].data();
    }
  }
};

// ---------------------------------------------------------------- naming states

TEST(NamingStates, HashNumbersAStateAndABareWordNamesOne) {
  // pravlin-fit numbers states as they first appear: state 1 may well be named "3".
  NamedModel named(4, {"3", "1", "six", "#2"});
  NamedModel words(3, {"dry", "wet", nullptr});  // no name a number could be meant for
  NamedModel unnamed(4, {});
  struct Case {
    const NamedModel* model;
    const char* list;
    std::vector<int> states;
  };
  const Case cases[] = {
      {&named, "3", {1}},          {&named, "#3", {3}},        {&named, "1,six", {2, 3}},
      {&named, "#1,3,#4", {1, 4}},  // the same state twice counts once, in the first place
      {&named, "six,six", {3}},    {&named, "#004", {4}},      {&named, "#2", {2}},
      {&unnamed, "3", {3}},        {&unnamed, "#3,2", {3, 2}}, {&words, "2,dry", {2, 1}},
      {&words, "3,#3", {3}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.list);
    std::vector<int> got;
    EXPECT_EQ(resolve_states(&k.model->m.pv, k.list, "--target", &got),
              static_cast<int>(k.states.size()));
    EXPECT_EQ(got, k.states);
  }
  EXPECT_EQ(resolve_state(&named.m.pv, "six", "lumps.txt:2"), 3);
}

TEST(NamingStatesDeathTest, WhatCouldBeMisreadIsRefusedWithOneLine) {
  NamedModel named(4, {"3", "wet", "wet", nullptr});
  NamedModel decimals(2, {"6.0", "b"});  // names that begin as numbers: 1 may mean "1.0"
  NamedModel negative(2, {"a", "-1"});
  NamedModel unnamed(3, {});
  struct Case {
    const NamedModel* model;
    const char* list;
    const char* message;
  };
  const Case cases[] = {
      {&named, "2",
       " *** ERROR: --target: no state is named (2); write #2 for the state numbered 2\n"},
      {&named, "9", " *** ERROR: --target: no state is named (9)\n"},
      {&named, "dry", " *** ERROR: --target: no state is named (dry)\n"},
      {&named, "#5", " *** ERROR: --target: no state is numbered (#5): the states are #1 to #4\n"},
      {&named, "#0", " *** ERROR: --target: no state is numbered (#0): the states are #1 to #4\n"},
      {&named, "#99999999999",
       " *** ERROR: --target: no state is numbered (#99999999999): the "
       "states are #1 to #4\n"},
      {&named, "wet",
       " *** ERROR: --target: more than one state is named (wet), #2 and #3 among "
       "them: give the one meant by its number, as #2\n"},
      {&named, "3,,wet",
       " *** ERROR: --target: an empty item in (3,,wet): give states by name, "
       "or as #N by number, separated by commas\n"},
      {&named, "3,",
       " *** ERROR: --target: an empty item in (3,): give states by name, or as #N "
       "by number, separated by commas\n"},
      {&named, "\x1b[2J", " *** ERROR: --target: no state is named (\\x1b[2J)\n"},
      {&decimals, "1",
       " *** ERROR: --target: no state is named (1); write #1 for the state "
       "numbered 1\n"},
      {&negative, "2",
       " *** ERROR: --target: no state is named (2); write #2 for the state "
       "numbered 2\n"},
      {&unnamed, "4", " *** ERROR: --target: no state is numbered (4): the states are #1 to #3\n"},
      {&unnamed, "a", " *** ERROR: --target: no state is named (a)\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.list);
    std::vector<int> got;
    EXPECT_EXIT(resolve_states(&k.model->m.pv, k.list, "--target", &got),
                testing::ExitedWithCode(1), testing::Eq(k.message));
  }
}

// ---------------------------------------------------------------- escaping

TEST(Escaping, ControlCharactersAndBackslashesAreShownAsEscapes) {
  struct Case {
    const char* text;
    const char* shown;
  };
  const Case cases[] = {
      {"plain name", "plain name"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},
      {"tab\there\nline\r\x7f", "tab\\x09here\\x0aline\\x0d\\x7f"},
      {"back\\slash", "back\\\\slash"},
      {"csi \xc2\x9b"
       "2J",
       "csi \\xc2\\x9b2J"},  // U+009B, the C1 CSI, as UTF-8
      {"latin-1 \x9b"
       "2J \xe9t\xe9",
       "latin-1 \\x9b2J \\xe9t\\xe9"},                          // bytes not UTF-8
      {"\xc0\xaf \xed\xa0\x80", "\\xc0\\xaf \\xed\\xa0\\x80"},  // overlong, surrogate
      {"nbsp\xc2\xa0", "nbsp\xc2\xa0"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.shown);
    EXPECT_EQ(shown(k.text), k.shown);
  }
}

TEST(Escaping, Utf8LengthAcceptsOnlyTheShortestFormOfAScalarValue) {
  struct Case {
    const char* bytes;
    int length;
  };
  const Case cases[] = {
      {"a", 1},
      {"\xc3\xa9", 2},
      {"\xc0\xaf", 0},          // "/" in two bytes: overlong
      {"\xc1\xbf", 0},          // overlong
      {"\xe0\x80\xaf", 0},      // overlong in three
      {"\xe0\xa0\x80", 3},      // U+0800
      {"\xed\x9f\xbf", 3},      // U+D7FF
      {"\xed\xa0\x80", 0},      // U+D800, a surrogate
      {"\xed\xbf\xbf", 0},      // U+DFFF
      {"\xef\xbf\xbd", 3},      // U+FFFD
      {"\xf0\x8f\xbf\xbf", 0},  // overlong in four
      {"\xf0\x90\x80\x80", 4},  // U+10000
      {"\xf4\x8f\xbf\xbf", 4},  // U+10FFFF
      {"\xf4\x90\x80\x80", 0},  // beyond U+10FFFF
      {"\xf5\x80\x80\x80", 0},
      {"\xc3", 0},  // cut short by the end of the text
      {"\xe2\x82", 0},
      {"\x80", 0},  // a continuation alone
      {"\xff", 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(k.bytes)));
    EXPECT_EQ(utf8_length(reinterpret_cast<const unsigned char*>(k.bytes)), k.length);
  }
}
