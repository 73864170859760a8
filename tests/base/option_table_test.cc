// option_table_test.cc - the option table's parser: long and short names, values, missing
// values, unknown options, repeats and options that exclude each other, "--" and the first
// operand; and the --help lines it lays out.
// Part of pravlin; see README.md.
#include "option_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The parser's results below name these by their index, 0 to 5.
static const OPTION OPTIONS[] = {
    {"-o", "--output", "FILE", "write to FILE", nullptr, nullptr},
    {"-q", "--quiet", nullptr, "say nothing\nat all", nullptr, nullptr},
    {nullptr, "--table", nullptr, "\na table", "form", nullptr},
    {nullptr, "--listing", nullptr, "a listing", "form", nullptr},
    {nullptr, "--hidden", nullptr, nullptr, nullptr, nullptr},
    {nullptr, "--a-very-long-name", "X", "still on its line", nullptr, nullptr},
};

static OPTION_TABLE table(bool double_dash, bool stop_at_operand) {
  return OPTION_TABLE{OPTIONS, 6, 16, "head\n", "tail\n", nullptr, double_dash, stop_at_operand};
}

// Every argument as the parser hands it on, one "index written value times excluded" each.
static std::vector<std::string> parse_all(const OPTION_TABLE& t, std::vector<std::string> args) {
  args.insert(args.begin(), "program");
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  OPTION_PARSE p;
  std::vector<std::string> found;
  for (;;) {
    const OPTION_FOUND o = next_option(&t, static_cast<int>(argv.size()), argv.data(), &p);
    if (o.index == OPTION_END)
      return found;
    found.push_back(std::to_string(o.index) + " " + o.written + " " +
                    (o.value != nullptr ? o.value : "-") + " " + std::to_string(o.times) + " " +
                    (o.excluded != nullptr ? o.excluded : "-"));
  }
}

TEST(OptionTableParser, ReadsEachArgumentAsToday) {
  const std::string operand = std::to_string(OPTION_OPERAND);
  const std::string unknown = std::to_string(OPTION_UNKNOWN);
  const struct {
    const char* what;
    bool double_dash, stop_at_operand;
    std::vector<std::string> args;
    std::vector<std::string> found;
  } cases[] = {
      {"short and long names are one option, counted together",
       false,
       false,
       {"-o", "a", "--output", "b"},
       {"0 -o a 1 -", "0 --output b 2 -"}},
      {"a value is the next argument, whatever it looks like",
       false,
       false,
       {"--output", "--quiet"},
       {"0 --output --quiet 1 -"}},
      {"a value missing at the end is null",
       false,
       false,
       {"-q", "-o"},
       {"1 -q - 1 -", "0 -o - 1 -"}},
      {"an unknown option is handed on as written; - is an operand",
       false,
       false,
       {"--nope", "-", "-x"},
       {unknown + " --nope - 0 -", operand + " - - 0 -", unknown + " -x - 0 -"}},
      {"an option excluded by one of its group names the first",
       false,
       false,
       {"--listing", "--table", "--table"},
       {"3 --listing - 1 -", "2 --table - 1 --listing", "2 --table - 2 --listing"}},
      {"a hidden option is parsed", false, false, {"--hidden"}, {"4 --hidden - 1 -"}},
      {"without double_dash, -- is an unknown option",
       false,
       false,
       {"--"},
       {unknown + " -- - 0 -"}},
      {"with double_dash, -- makes the rest operands",
       true,
       false,
       {"x", "--", "-q", "--"},
       {operand + " x - 0 -", operand + " -q - 0 -", operand + " -- - 0 -"}},
      {"options may follow operands",
       false,
       false,
       {"x", "-q"},
       {operand + " x - 0 -", "1 -q - 1 -"}},
      {"with stop_at_operand, the first operand ends the options",
       false,
       true,
       {"x", "-q"},
       {operand + " x - 0 -", operand + " -q - 0 -"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(parse_all(table(c.double_dash, c.stop_at_operand), c.args), c.found);
  }
}

TEST(OptionTableHelp, LaysOutEachListedOptionAtTheColumn) {
  const OPTION_TABLE t = table(false, false);
  EXPECT_EQ(option_help(&t),
            "head\n"
            "  -o, --output FILE  write to FILE\n"  // past the column: two blanks after the names
            "  -q, --quiet   say nothing\n"
            "                at all\n"
            "  --table\n"  // a text that starts with a line break stands under the names
            "                a table\n"
            "  --listing     a listing\n"
            "  --a-very-long-name X  still on its line\n"
            "tail\n");
}
