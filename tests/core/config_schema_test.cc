// config_schema_test.cc - the words the configuration's settings take: every word in both
// cases, the words refused, the word a writer writes and the list a note gives.
// Part of pravlin; see README.md.
#include "config_schema.h"

#include <gtest/gtest.h>

#include <string>

TEST(ConfigWords, EachWordStandsForItsValueAndOthersForNone) {
  struct Row {
    ConfigWords words;
    const char* text;
    int value;  // -1: refused
  };
  const Row rows[] = {
      {WORDS_YES_NO, "YES", 1},        {WORDS_YES_NO, "yes", 1},
      {WORDS_YES_NO, "1", 1},          {WORDS_YES_NO, "NO", 0},
      {WORDS_YES_NO, "no", 0},         {WORDS_YES_NO, "0", 0},
      {WORDS_YES_NO, "Yes", -1},       {WORDS_YES_NO, "nO", -1},
      {WORDS_YES_NO, "true", -1},      {WORDS_YES_NO, "01", -1},
      {WORDS_YES_NO, "", -1},          {WORDS_YES_NO, "yes ", -1},
      {WORDS_YES_NO, "val", -1},       {WORDS_PRINT_FLAG, "VAL", 0},
      {WORDS_PRINT_FLAG, "val", 0},    {WORDS_PRINT_FLAG, "SER", 1},
      {WORDS_PRINT_FLAG, "ser", 1},    {WORDS_PRINT_FLAG, "NAME", 2},
      {WORDS_PRINT_FLAG, "name", 2},   {WORDS_PRINT_FLAG, "Name", -1},
      {WORDS_PRINT_FLAG, "value", -1}, {WORDS_PRINT_FLAG, "na", -1},
      {WORDS_PRINT_FLAG, "1", -1},     {WORDS_PRINT_FLAG, "yes", -1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.words == WORDS_YES_NO ? "yes/no " : "print_flag ") + r.text);
    EXPECT_EQ(config_word_value(r.words, r.text), r.value);
  }
}

TEST(ConfigWords, TheWrittenWordIsLowerCaseAndReadsBack) {
  EXPECT_STREQ(config_word(WORDS_YES_NO, 1), "yes");
  EXPECT_STREQ(config_word(WORDS_YES_NO, 0), "no");
  EXPECT_STREQ(config_word(WORDS_PRINT_FLAG, 0), "val");
  EXPECT_STREQ(config_word(WORDS_PRINT_FLAG, 1), "ser");
  EXPECT_STREQ(config_word(WORDS_PRINT_FLAG, 2), "name");
  EXPECT_EQ(config_word(WORDS_YES_NO, 2), nullptr);
  EXPECT_EQ(config_word(WORDS_PRINT_FLAG, -1), nullptr);
  EXPECT_EQ(config_word(WORDS_PRINT_FLAG, 3), nullptr);
}

TEST(ConfigWords, TheListNamesEveryWordTheReaderTakes) {
  for (ConfigWords words : {WORDS_YES_NO, WORDS_PRINT_FLAG}) {
    const std::string list = config_word_list(words);
    SCOPED_TRACE(list);
    std::size_t start = 0;
    int listed = 0;
    while (start <= list.size()) {
      std::size_t end = list.find(", ", start);
      if (end == std::string::npos)
        end = list.size();
      EXPECT_GE(config_word_value(words, list.substr(start, end - start).c_str()), 0);
      listed++;
      start = end + 2;
    }
    EXPECT_EQ(listed, 6);
  }
}
