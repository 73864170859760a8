// fit_test.cc - pravlin-fit: the estimators and model checks on hand-computed examples, every
// input form, bad input, the dense pair table against the hash map, R's markovchain, and a
// simulated model recovered.
// Part of pravlin; see README.md.
#include "fit.h"
#include "fit_read.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "draw.h"
#include "report.h"
#include "run.h"
#include "scratch.h"
#include "simulate.h"
#include "tables.h"
#include "test_util.h"
#include "validate.h"

struct Fitted {
  FIT_DATA data;
  FIT_MODEL model;
  // P(from -> to) by label, as written to the configuration.
  double p(const std::string& from, const std::string& to) const {
    const FIT_ROW& row = model.rows[state(from)];
    const std::size_t j = state(to);
    for (const FIT_CELL& c : row.cells) {
      if (c.to == j)
        return c.probability;
    }
    return row.rest;
  }
  const FIT_CELL* cell(const std::string& from, const std::string& to) const {
    for (const FIT_CELL& c : model.rows[state(from)].cells) {
      if (c.to == state(to))
        return &c;
    }
    return nullptr;
  }
  std::size_t state(const std::string& label) const {
    for (std::size_t s = 0; s < model.order.size(); s++) {
      if (data.labels.names[model.order[s]] == label)
        return s;
    }
    ADD_FAILURE() << "no state " << label;
    return 0;
  }
};

static void fit(const FIT_OPTIONS& opt, const std::string& text, Fitted* f) {
  fit_read_text(&opt, text, "data.txt", &f->data);
  fit_estimate(&opt, &f->data, &f->model);
}

// ---- estimators ----------------------------------------------------------------------------

TEST(FitEstimate, EstimatorsMatchHandComputedRows) {
  // a -> a 1, a -> b 2; b -> a 1, b -> b 1; c never seen. Intervals from R (qnorm, qbeta).
  const std::string data = "a a b\nb a b b\n";
  struct Case {
    FIT_ESTIMATOR estimator;
    double alpha;
    double ab, ba, ca, cc;   // P(a -> b), P(b -> a), P(c -> a), P(c -> c)
    double ab_low, ab_high;  // interval of P(a -> b)
  } cases[] = {
      {ESTIMATOR_MLE, 0, 2.0 / 3, 0.5, 0, 1, 0.207659600802048, 0.938508055279604},
      {ESTIMATOR_LAPLACE, 1, 0.5, 0.4, 1.0 / 3, 1.0 / 3, 0.207659600802048, 0.938508055279604},
      {ESTIMATOR_PRIOR, 1, 0.5, 0.4, 1.0 / 3, 1.0 / 3, 0.146632799634673, 0.853367200365327},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.estimator);
    FIT_OPTIONS opt = fit_default_options();
    opt.estimator = c.estimator;
    opt.alpha = c.alpha;
    opt.states = {"a", "b", "c"};
    Fitted f;
    fit(opt, data, &f);
    EXPECT_NEAR(f.p("a", "b"), c.ab, 1e-15);
    EXPECT_NEAR(f.p("b", "a"), c.ba, 1e-15);
    EXPECT_NEAR(f.p("c", "a"), c.ca, 1e-15);
    EXPECT_NEAR(f.p("c", "c"), c.cc, 1e-15);
    ASSERT_NE(f.cell("a", "b"), nullptr);
    EXPECT_NEAR(f.cell("a", "b")->lower, c.ab_low, 1e-12);
    EXPECT_NEAR(f.cell("a", "b")->upper, c.ab_high, 1e-12);
    EXPECT_EQ(f.model.rows[f.state("a")].total, 3u);
    EXPECT_EQ(f.model.empty_rows, 1u);
  }
}

TEST(FitEstimate, SummaryFiguresMatchHandComputedValues) {
  FIT_OPTIONS opt = fit_default_options();
  Fitted f;
  fit(opt, "a a b\nb a NA b b\n,a,b,\n", &f);
  EXPECT_EQ(f.data.nbr_sequences, 3u);
  EXPECT_EQ(f.data.nbr_transitions, 5u);  // the NA breaks b -> a -> b
  EXPECT_EQ(f.data.nbr_breaks, 3u);       // NA and the two empty cells
  EXPECT_EQ(f.model.nbr_chains, 3);
  EXPECT_EQ(f.model.nbr_years, 4);  // the longest line has 5 positions
  EXPECT_NEAR(f.model.initial[f.state("a")], 2.0 / 3, 1e-15);
  // a -> a 1, a -> b 2, b -> a 1, b -> b 1; the value from R.
  EXPECT_NEAR(f.model.log_likelihood, -3.29583686600433, 1e-12);
  EXPECT_EQ(f.model.parameters, 2);
  EXPECT_NEAR(f.model.aic, 4 - 2 * f.model.log_likelihood, 1e-12);
  EXPECT_NEAR(f.model.bic, 2 * std::log(5.0) - 2 * f.model.log_likelihood, 1e-12);
}

TEST(FitEstimate, RowsWithoutObservationsFollowTheChoice) {
  FIT_OPTIONS opt = fit_default_options();
  opt.states = {"x"};
  Fitted absorbing;
  fit(opt, "a b a\n", &absorbing);
  EXPECT_EQ(absorbing.p("x", "x"), 1.0);
  EXPECT_EQ(absorbing.p("x", "a"), 0.0);
  EXPECT_EQ(absorbing.model.rows[absorbing.state("x")].kind, ROW_ABSORBING);
  opt.empty = EMPTY_UNIFORM;
  Fitted uniform;
  fit(opt, "a b a\n", &uniform);
  EXPECT_NEAR(uniform.p("x", "a"), 1.0 / 3, 1e-15);
  EXPECT_EQ(uniform.model.rows[uniform.state("x")].kind, ROW_UNIFORM);
}

TEST(FitEstimate, EveryRowTotalsExactlyOneAddedInColumnOrder) {
  // Ten destinations of one count each: ten additions of 0.1 give 0.9999999999999999.
  std::string line;
  for (int round = 0; round < 3; round++) {
    for (int j = 0; j < 10; j++)
      line += "h s" + std::to_string(j) + " ";
  }
  FIT_OPTIONS opt = fit_default_options();
  opt.sort_flag = 1;
  Fitted f;
  fit(opt, line + "\n", &f);
  for (std::size_t s = 0; s < f.model.rows.size(); s++) {
    double sum = 0;
    for (std::size_t j = 0; j < f.model.rows.size(); j++)
      sum += f.p(f.data.labels.names[f.model.order[s]], f.data.labels.names[f.model.order[j]]);
    EXPECT_EQ(sum, 1.0) << "row " << s;
  }
}

TEST(FitEstimate, ExtremePriorsAndLevelsGiveIntervalsWithinZeroAndOne) {
  // a -> b 3, b -> a 2. These once spun for minutes in Boost's inverse, or threw from it.
  struct Case {
    double alpha;
    double level;
    std::vector<std::string> states;
  } cases[] = {
      {1e20, 0.95, {}},
      {1e30, 0.95, {}},
      {1e300, 0.95, {}},
      {1e-300, 0.95, {}},
      {0.5, 0.9999999999, {"a", "b", "z"}},
      {1, 1e-12, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "--prior " << c.alpha << " --confidence " << c.level);
    FIT_OPTIONS opt = fit_default_options();
    opt.estimator = ESTIMATOR_PRIOR;
    opt.alpha = c.alpha;
    opt.confidence = c.level;
    opt.states = c.states;
    Fitted f;
    fit(opt, "a b a b a b\n", &f);
    for (const FIT_ROW& row : f.model.rows) {
      std::vector<std::pair<double, double>> intervals{{row.rest_lower, row.rest_upper}};
      for (const FIT_CELL& cell : row.cells)
        intervals.emplace_back(cell.lower, cell.upper);
      for (const auto& [lower, upper] : intervals) {
        EXPECT_TRUE(lower >= 0 && lower <= upper && upper <= 1) << lower << " " << upper;
      }
    }
  }
  // Where both shapes are huge: Beta(1e20 + 3, 1e20) is normal, 1.96 sd to either side.
  FIT_OPTIONS opt = fit_default_options();
  opt.estimator = ESTIMATOR_PRIOR;
  opt.alpha = 1e20;
  Fitted huge;
  fit(opt, "a b a b a b\n", &huge);
  const FIT_CELL* ab = huge.cell("a", "b");
  ASSERT_NE(ab, nullptr);
  const double sd = std::sqrt(0.25 / 2e20);
  EXPECT_NEAR(ab->upper - ab->lower, 2 * 1.959963984540054 * sd, 1e-5 * sd);
  EXPECT_NEAR((ab->upper + ab->lower) / 2, 0.5, 1e-5 * sd);
  // Where Boost's inverse fails (shape 0.5, tail 5e-11): near 0, I_x(1/2, 3) is
  // 2 sqrt(x) / B(1/2, 3), and B(1/2, 3) = 16/15.
  opt.alpha = 0.5;
  opt.confidence = 0.9999999999;
  opt.states = {"a", "b", "z"};
  Fitted tail;
  fit(opt, "a b a b a b\n", &tail);
  const double x = 0.5e-10 / 2 * 16 / 15;
  EXPECT_NEAR(tail.model.rows[tail.state("b")].rest_lower, x * x, 1e-6 * x * x);
}

TEST(FitEstimate, StatesNumberedByStatesOptionThenByValueOrAppearance) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> states;
    int sort;
    std::vector<std::string> order;
  } cases[] = {
      {"numbers by value", "3 1 10 2 3\n", {}, 0, {"1", "2", "3", "10"}},
      {"equal values in order of appearance", "2 1.0 1 2\n", {}, 0, {"1.0", "1", "2"}},
      {"words in order of appearance", "b a c b\n", {}, 0, {"b", "a", "c"}},
      {"words by their bytes with --sort", "b a c b\n", {}, 1, {"a", "b", "c"}},
      {"--states first, in their order", "3 1 2 3\n", {"2", "z"}, 1, {"2", "z", "1", "3"}},
      {"--states before words", "x 1 x\n", {"z"}, 0, {"z", "x", "1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FIT_OPTIONS opt = fit_default_options();
    opt.states = c.states;
    opt.sort_flag = c.sort;
    Fitted f;
    fit(opt, c.text, &f);
    std::vector<std::string> order;
    for (const std::uint32_t label : f.model.order)
      order.push_back(f.data.labels.names[label]);
    EXPECT_EQ(order, c.order);
  }
}

// The summary as text.
static std::string summary_of(const FIT_OPTIONS& opt, const Fitted& f) {
  FilePtr out = open_sink();
  fit_write_summary(out.get(), &opt, &f.data, &f.model);
  return read_all(out.get());
}

TEST(FitEstimate, UnobservedTransitionsOfAnObservedRowGetTheirUpperBound) {
  // a -> b twice: a -> a and a -> c are never seen, in 2. Wilson's upper bound for 0 in n is
  // z^2 / (n + z^2).
  const FIT_OPTIONS opt = fit_default_options();
  Fitted f;
  fit(opt, "a b a b c\n", &f);
  const double z = 1.959963984540054;
  const FIT_ROW& a = f.model.rows[f.state("a")];
  EXPECT_EQ(a.rest, 0.0);
  EXPECT_EQ(a.rest_lower, 0.0);
  EXPECT_NEAR(a.rest_upper, z * z / (2 + z * z), 1e-12);
  const std::string summary = summary_of(opt, f);
  EXPECT_NE(summary.find("a: 2 transitions\n  -> b  2  1  [0.34238, 1]\n"
                         "  -> each other state  0  0  [0, 0.65762]\n"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("b: 2 transitions\n  -> a  1  0.5  [0.0945312, 0.905469]\n"
                         "  -> c  1  0.5  [0.0945312, 0.905469]\n"
                         "  -> each other state  0  0  [0, 0.65762]\n"),
            std::string::npos)
      << summary;
  EXPECT_EQ(summary.find("c: 1 transition"), std::string::npos);
  // The CSV gives the same bound, one line a row, its to empty.
  FilePtr out = open_sink();
  fit_write_summary_csv(out.get(), &opt, &f.data, &f.model);
  const std::string csv = read_all(out.get());
  const std::string upper = fit_number(a.rest_upper);
  EXPECT_NE(csv.find("transition,\"a\",\"b\",2,2,1,"), std::string::npos) << csv;
  EXPECT_NE(csv.find("unseen_transitions,\"a\",,0,2,0,0," + upper + ",,\n"), std::string::npos)
      << csv;
  EXPECT_NE(csv.find("unseen_transitions,\"b\",,0,2,0,0," + upper + ",,\n"), std::string::npos)
      << csv;
  EXPECT_EQ(csv.find("unseen_transitions,\"c\""), std::string::npos) << csv;
}

// ---- the configuration -----------------------------------------------------------------------

TEST(FitConfig, CommentCountsRightAndQuotesOnlyTextXmlAllows) {
  struct Case {
    const char* name;  // the input's name
    const char* text;
    const char* comment;    // what the comment says after "pravlin-fit 1.0: "
    const char* init_year;  // its element, or empty
  } cases[] = {
      {"one.txt", "a b\n", "maximum likelihood from one.txt (sequences), 1 sequence, 1 transition",
       ""},
      {"two.txt", "a b a\nb a\n",
       "maximum likelihood from two.txt (sequences), 2 sequences, 3 transitions", ""},
      {"caf\xE9.txt", "a b\n",
       "maximum likelihood from the input (sequences), 1 sequence, 1 transition", ""},
      {"a--b.txt", "a b\n",
       "maximum likelihood from the input (sequences), 1 sequence, 1 transition", ""},
      {"r.csv", "time , 1 \n -7 , \"a\" \n -6 , \"b\" \n",
       "maximum likelihood from r.csv (report), 1 sequence, 1 transition",
       "<init_year>-7</init_year>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FIT_OPTIONS opt = fit_default_options();
    Fitted f;
    fit_read_text(&opt, c.text, c.name, &f.data);
    fit_estimate(&opt, &f.data, &f.model);
    FilePtr out = open_sink();
    fit_write_config(out.get(), &opt, &f.data, &f.model);
    const std::string config = read_all(out.get());
    EXPECT_NE(config.find(std::string("<!-- pravlin-fit 1.0: ") + c.comment + " -->"),
              std::string::npos)
        << config;
    EXPECT_EQ(config.find("<init_year>") != std::string::npos, c.init_year[0] != '\0');
    EXPECT_NE(config.find(c.init_year), std::string::npos);
    // The report then names each state with its number, for pravlin-plot's axis.
    EXPECT_NE(config.find("<print_header>yes</print_header>"), std::string::npos);
  }
}

// ---- input forms -----------------------------------------------------------------------------

// Each text written to a file of its own and read as the program reads its inputs, a buffer at
// a time, into f->data; then estimated unless only_read.
static void fit_files(FIT_OPTIONS opt, const std::vector<std::string>& texts, Fitted* f,
                      bool only_read = false) {
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < texts.size(); i++) {
    paths.push_back(testing::TempDir() + "fit_input_" + std::to_string(getpid()) + "_" +
                    std::to_string(i) + ".csv");
    std::ofstream(paths.back(), std::ios::binary) << texts[i];
  }
  for (const std::string& p : paths)
    opt.inputs.push_back(p.c_str());
  opt.input = opt.inputs[0];
  fit_read(&opt, &f->data);
  if (!only_read)
    fit_estimate(&opt, &f->data, &f->model);
  for (const std::string& p : paths)
    std::remove(p.c_str());
}

// The text without its last line break: every reader must take the last line as whole.
static std::string without_final_line_break(std::string text) {
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0)
    text.resize(text.size() - 2);
  else if (!text.empty() && text.back() == '\n')
    text.pop_back();
  return text;
}

TEST(FitRead, EveryFormGivesTheSameCounts) {
  // One chain, dry dry wet dry and wet wet dry, in every form.
  struct Case {
    const char* name;
    FIT_FORM form;
    std::string text;
  } cases[] = {
      {"sequences", FORM_SEQUENCES, "dry dry wet dry\nwet,wet, dry\n"},
      {"quoted", FORM_SEQUENCES, "\"dry\" dry \"w\"\"et\" dry\n\"w\"\"et\" \"w\"\"et\" \"dry\"\n"},
      {"long", FORM_LONG,
       "ID,T,State\n1,3,wet\n2,1,wet\n1,1,dry\n2,2,wet\n1,2,dry\n2,3,dry\n"
       "1,4,dry\n"},
      {"report", FORM_REPORT,
       "PRAVLIN VERSION , 1.0\nnbr_states , 2\ntime , 1 , 2 \n 1990 , \"dry\" , \"wet\" \n"
       " 1991 , \"dry\" , \"wet\" \n 1992 , \"wet\" , \"dry\" \n 1993 , \"dry\" , NA \n"},
      {"slice", FORM_REPORT,
       "time , 7 , 8 \n 0 , \"dry\" , \"wet\" \n 1 , \"dry\" , \"wet\" \n 2 , \"wet\" , \"dry\" \n"
       " 3 , \"dry\" , \n"},
      {"labelled matrix", FORM_MATRIX, "\"\",dry,wet\nwet,2,1\ndry,1,1\n"},
      {"matrix", FORM_MATRIX, "dry,wet\r\n1,1\r\n2,1\r\n"},
      {"byte-order mark", FORM_SEQUENCES,
       "\xEF\xBB\xBF"
       "dry dry wet dry\nwet wet dry\n"},
  };
  // Read from memory (0), from a file (1), and from streams of buffers of 4 to 9 bytes, which
  // fields, quotes, line breaks and the byte-order mark span.
  for (const Case& c : cases) {
    for (const bool cut : {false, true}) {
      for (int how = 0; how <= 9; how = how == 1 ? 4 : how + 1) {
        SCOPED_TRACE(std::string(c.name) + (cut ? ", no final line break" : "") + ", read " +
                     std::to_string(how));
        const std::string text = cut ? without_final_line_break(c.text) : c.text;
        const FIT_OPTIONS opt = fit_default_options();
        Fitted f;
        if (how == 0) {
          fit(opt, text, &f);
        } else if (how == 1) {
          fit_files(opt, {text}, &f);
        } else {
          FilePtr in = open_text(text);
          fit_read_stream(&opt, in.get(), "data.txt", static_cast<std::size_t>(how), &f.data);
          fit_estimate(&opt, &f.data, &f.model);
        }
        EXPECT_EQ(f.data.form, c.form);
        const std::string wet = std::string(c.name) == "quoted" ? "w\"et" : "wet";
        ASSERT_EQ(f.data.labels.names.size(), 2u);
        EXPECT_EQ(f.data.nbr_transitions, 5u);
        EXPECT_EQ(f.p("dry", "dry"), 0.5);
        EXPECT_EQ(f.p(wet, "dry"), 2.0 / 3);
        if (c.form != FORM_MATRIX) {
          EXPECT_EQ(f.data.nbr_sequences, 2u);
          EXPECT_EQ(f.model.first[f.state("dry")], 1u);
        }
      }
    }
  }
  // A file of one line of commas without a final line break: its first read meets the end.
  Fitted one_line;
  fit_files(fit_default_options(), {"a,b,a,b,b,a"}, &one_line);
  EXPECT_EQ(one_line.data.form, FORM_SEQUENCES);
  EXPECT_EQ(one_line.data.nbr_transitions, 5u);
}

TEST(FitRead, InputsLongerThanABufferAreReadWhole) {
  // A buffer holds 1 MiB: the last label and the blanks after it span two, without a line
  // break at the end; and a matrix's header longer than a buffer is still seen as one.
  const std::string blanks(std::size_t{1} << 20, ' ');
  std::string sequence, long_table = "id,t,state\n", header;
  for (int i = 0; i < 200000; i++) {
    sequence += i % 2 ? "b " : "a ";
    long_table += "1," + std::to_string(i) + (i % 2 ? ",b\n" : ",a\n");
  }
  for (int i = 0; i < 70000; i++)
    header += (i ? ",label" : "label") + std::to_string(1000000 + i);
  std::string row_of_zeros;
  for (int i = 1; i < 70000; i++)
    row_of_zeros += ",0";
  struct Case {
    const char* name;
    std::string text;
    FIT_FORM form;
    std::uint64_t transitions;
  } cases[] = {
      {"sequence", sequence + "c" + blanks, FORM_SEQUENCES, 200000},
      {"long table", long_table + "1,200000,c" + blanks, FORM_LONG, 200000},
      {"matrix", header + "\n1" + row_of_zeros, FORM_MATRIX, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fitted f;
    fit_files(fit_default_options(), {c.text}, &f, true);
    EXPECT_EQ(f.data.form, c.form);
    EXPECT_EQ(f.data.nbr_transitions, c.transitions);
    // A matrix is kept as its rows were read, not as a table of every label against every label.
    if (c.form == FORM_MATRIX)
      EXPECT_EQ(f.data.matrix.size(), 70000u);
    else
      EXPECT_EQ(f.data.labels.names.back(), "c");
  }
}

// Each lead byte's range at its edges: overlong forms, UTF-16 surrogates, code points beyond
// U+10FFFF, cut or bad continuations, and the characters XML does not allow.
TEST(FitRead, NotXmlFindsTheFirstByteOfAnIllFormedOrForbiddenCharacter) {
  const std::size_t none = std::string::npos;
  const struct {
    const char* text;
    std::size_t at;
  } cases[] = {
      {"plain\t\r\n", none},
      {"a\xC3\xA9", none},
      {"\xC0\x80", 0},
      {"\xC1\xBF", 0},
      {"\xC2\x80\xDF\xBF", none},
      {"x\xE0\x9F\x80", 1},
      {"\xE0\xA0\x80", none},
      {"\xED\x9F\xBF", none},
      {"\xED\xA0\x80", 0},
      {"\xEF\xBF\xBD", none},
      {"\xEF\xBF\xBE", 0},
      {"ab\xEF\xBF\xBF", 2},
      {"\xF0\x8F\xBF\xBF", 0},
      {"\xF0\x90\x80\x80", none},
      {"\xF4\x8F\xBF\xBF", none},
      {"\xF4\x90\x80\x80", 0},
      {"\xF5\x80\x80\x80", 0},
      {"a\xE2\x82", 1},
      {"\xE2\x28\xA1", 0},
      {"\xF1\x80\x80\x28", 0},
      {"a\x01\xFF", 1},
      {"ab\xFF\x01", 2},
      {"\x80", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    EXPECT_EQ(fit_not_xml(c.text), c.at);
  }
}

TEST(FitReadLong, TimesOrderAsNumbersOrAsIsoDatesOfOneForm) {
  // Each table holds one sequence, which must come out in this order.
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> order;
  } cases[] = {
      {"numbers", "id,t,state\n1,10,c\n1,2,b\n1,1,a\n1,1e3,d", {"a", "b", "c", "d"}},
      {"decimals", "t,state\n1.5,c\n-1,a\n0.5,b\n", {"a", "b", "c"}},
      {"dates", "id,t,state\n1,2024-01-10,c\n1,2024-01-02,a\n1,2024-01-05,b\n", {"a", "b", "c"}},
      {"date and time",
       "id,t,state\nx,2024-01-02T10:00:00Z,b\nx,2024-01-02T09:30:00Z,a\n",
       {"a", "b"}},
      {"time of day", "id,time,state\n1,09:30:00,b\n1,09:05:00,a\n1,23:59:60,c\n", {"a", "b", "c"}},
      {"leap day", "id,t,state\n1,2024-03-01,b\n1,2024-02-29,a\n1,2000-02-29,z\n", {"z", "a", "b"}},
      {"file order", "state,note\nb,x\na,y\nc,z\n", {"b", "a", "c"}},
      {"quoted NA is a label", "id,t,state\n1,1,a\n1,2,\"NA\"\n1,3,a\n", {"a", "NA", "a"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fitted f;
    fit(fit_default_options(), c.text, &f);
    EXPECT_EQ(f.data.form, FORM_LONG);
    EXPECT_EQ(f.data.nbr_sequences, 1u);
    EXPECT_EQ(f.data.nbr_transitions, c.order.size() - 1);
    for (std::size_t i = 0; i + 1 < c.order.size(); i++) {
      SCOPED_TRACE(c.order[i] + " -> " + c.order[i + 1]);
      ASSERT_NE(f.cell(c.order[i], c.order[i + 1]), nullptr);
    }
  }
  // Naming the columns means the long form, although this one looks like a matrix.
  FIT_OPTIONS opt = fit_default_options();
  opt.columns = "person,visit,rating";
  Fitted named;
  fit(opt, "person,visit,rating\n1,2,4\n1,1,3\n", &named);
  EXPECT_EQ(named.data.form, FORM_LONG);
  EXPECT_NE(named.cell("3", "4"), nullptr);
}

TEST(FitReadMatrix, ProbabilityRowsAreTakenAsGivenWhateverTheirTotal) {
  struct Case {
    const char* name;
    std::string text;
    double ab, ba;
  } cases[] = {
      {"probabilities", ",a,b\na,0.25,0.75\nb,1,0\n", 0.75, 1.0},
      // Weights whose total overflows to infinity are divided by their largest first.
      {"weights beyond the range of a total", ",a,b\na,1e308,1.7e308\nb,0.5,0", 1.7 / 2.7, 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fitted f;
    fit(fit_default_options(), c.text, &f);
    EXPECT_TRUE(f.data.probability_flag);
    EXPECT_NEAR(f.p("a", "b"), c.ab, 1e-15);
    EXPECT_EQ(f.p("b", "a"), c.ba);
    EXPECT_EQ(f.p("a", "a") + f.p("a", "b"), 1.0);
    EXPECT_EQ(f.model.has_counts, 0);
  }
}

TEST(FitReadReport, EachColumnOfEachTableIsOneChain) {
  const std::string table12 = "time , 1 , 2 \n 1990 , \"a\" , \"b\" \n 1991 , \"b\" , \"a\" \n";
  const std::string table34 = "time , 3 , 4 \n 1990 , \"a\" , \"a\" \n 1991 , \"b\" , \"a\" \n";
  const std::string header = "PRAVLIN VERSION , 1.0\ntime , Tue Dec  8 00:51:18 2026\n";
  struct Case {
    const char* name;
    std::vector<std::string> inputs;
    std::uint64_t sequences;
    int year_flag;  // the configuration gives init_year 1990
    int values_flag;
  } cases[] = {
      {"a slice", {table34}, 2, 1, 0},
      {"slices one after another", {header + table12 + table34}, 4, 1, 0},
      {"slices as inputs", {header + table12, table34}, 4, 1, 0},
      {"whole reports one after another", {header + table12 + header + table12}, 4, 1, 0},
      {"a step label beyond an int", {"time , 1 \n 1e300 , \"a\" \n 1e300 , \"b\" "}, 1, 0, 0},
      {"values",
       {"time , 1 , 2 \n 0 , 1.000000 , -2.500000 \n 1 , -2.500000 , 1.000000 "},
       2,
       1,
       1},
      {"state numbers", {"time , 1 \n 0 , 1 \n 1 , 2 \n"}, 1, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fitted f;
    fit_files(fit_default_options(), c.inputs, &f);
    EXPECT_EQ(f.data.form, FORM_REPORT);
    EXPECT_EQ(f.data.nbr_sequences, c.sequences);
    EXPECT_EQ(f.data.nbr_transitions, c.sequences);
    EXPECT_EQ(f.data.init_year_flag, c.year_flag);
    EXPECT_EQ(f.data.values_flag, c.values_flag);
  }
}

// A terminal gives an end of input for each Ctrl-D, and more input after it: one ends the data.
TEST(FitReadDeathTest, OneEndOfInputOnATerminalEndsTheData) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  const char typed[] = "a b a\n\004c d\n\004\004\004";  // ends to spare if read past
  ASSERT_EQ(write(master, typed, sizeof typed - 1), static_cast<ssize_t>(sizeof typed - 1));
  EXPECT_EXIT(
      {
        dup2(slave, STDIN_FILENO);
        const FIT_OPTIONS opt = fit_default_options();
        FIT_DATA data;
        fit_read(&opt, &data);
        std::exit(static_cast<int>(data.nbr_transitions));
      },
      testing::ExitedWithCode(2), testing::Eq(""));
  close(slave);
  close(master);
}

TEST(FitReadDeathTest, BadInputGetsOneLineAndStatusOne) {
  const std::string big_label(FIT_MAX_LABEL + 10, 'x');
  // One row of 2050 counts near 2^53, beyond what 64 bits can total.
  std::string huge_counts;
  for (int i = 0; i < 2050; i++)
    huge_counts += (i ? ",s" : "s") + std::to_string(i);
  huge_counts += "\n9007199254740990";
  for (int i = 1; i < 2050; i++)
    huge_counts += ",9007199254740990";
  struct Case {
    std::string text;
    const char* message;
    std::vector<std::string> states = {};
    std::string columns = {};
    FIT_FORM form = FORM_AUTO;
  } cases[] = {
      {"", " *** ERROR: data.txt: no observations\n"},
      {"\n\n  \n", " *** ERROR: data.txt: no observations\n"},
      {"a\n", " *** ERROR: data.txt: no transitions: every sequence holds one observation\n"},
      {"a a a\n",
       " *** ERROR: data.txt: one state only (a): pravlin needs at least 2; add others "
       "with --states\n"},
      {"a,b\n1,2\n3\n", " *** ERROR: data.txt:3: 1 field, where the first line has 2\n"},
      {"a,b\n1,2\n3", " *** ERROR: data.txt:3: 1 field, where the first line has 2\n"},
      {"a,b\n1,2\n3,-1\n", " *** ERROR: data.txt:3:3: not a count or a probability (-1)\n"},
      {"a,b\n1,2\n3,x", " *** ERROR: data.txt:3:3: not a count or a probability (x)\n"},
      // Found by fit_fuzz: an empty row label.
      {"\"\",dry,wet\nwet,4,1\n,1yZr:1",
       " *** ERROR: data.txt:3:1: the row label () is not in the header\n"},
      {"a,b\n1,2\n0,0\n",
       " *** ERROR: data.txt: the row of (b) is all zeros: give --empty "
       "absorbing or --empty uniform\n"},
      {huge_counts, " *** ERROR: data.txt: the counts total more than 18446744073709551615\n"},
      {"a b\nc d\xFF", " *** ERROR: data.txt:2:4: byte 0xff is not UTF-8\n"},
      {"a b\nc \xC3\x28\n", " *** ERROR: data.txt:2:3: byte 0xc3 is not UTF-8\n"},
      {std::string("a b\nc d\0e\n", 10), " *** ERROR: data.txt:2:4: NUL byte\n"},
      {"a b\n\"c d", " *** ERROR: data.txt:2:1: quoted field not closed on its line\n"},
      {"a,b\n\"c\"d,e\n", " *** ERROR: data.txt:2:4: text after a closing quote\n"},
      {"a b " + big_label + "\n", " *** ERROR: data.txt:1:5: a label longer than 65536 bytes\n"},
      // The long form's rows and times.
      {"id,state\n1,a\n1", " *** ERROR: data.txt:3: 1 field, where the first line has 2\n"},
      {"id,t,state\n1,1,a\n1,1,b\n",
       " *** ERROR: data.txt:3: a second row for the same id and "
       "t (line 2 has the first)\n"},
      {"id,t,state\n1,1,a\n1,1.0,b",
       " *** ERROR: data.txt:3: a second row for the same id and "
       "t (line 2 has the first)\n"},
      {"id,t,state\n1,1,a\n1,,b\n1,10,a\n",
       " *** ERROR: data.txt:3:3: the time () is not a number like the first row's (1)\n"},
      {"id,t,state\n1,1,a\n1,NA,b\n1,10,a\n",
       " *** ERROR: data.txt:3:3: the time (NA) is not a number like the first row's (1)\n"},
      {"id,t,state\n1,2024-01-02,a\n1,2024-1-3,b\n",
       " *** ERROR: data.txt:3:3: the time (2024-1-3) is not a date or time of the first row's "
       "form (2024-01-02)\n"},
      {"id,t,state\n1,soon,a\n",
       " *** ERROR: data.txt:2:3: the time (soon) is neither a number nor an ISO 8601 date or "
       "time\n"},
      // Times of the right shape that the calendar or the clock does not have.
      {"id,t,state\n1,2024-01-02,a\n1,2024-13-01,b\n",
       " *** ERROR: data.txt:3:3: the time (2024-13-01) has a month, day, hour, minute or second "
       "out of range\n"},
      {"id,t,state\n1,2023-02-29,a\n",
       " *** ERROR: data.txt:2:3: the time (2023-02-29) has a month, day, hour, minute or second "
       "out of range\n"},
      {"id,t,state\n1,24:00,a\n",
       " *** ERROR: data.txt:2:3: the time (24:00) has a month, day, hour, minute or second out "
       "of range\n"},
      {"id,t,state\n1,2024-01-02T10:60,a\n",
       " *** ERROR: data.txt:2:3: the time (2024-01-02T10:60) has a month, day, hour, minute or "
       "second out of range\n"},
      // Columns that one name could mean.
      {"id,t,state,State\n1,1,a,b\n",
       " *** ERROR: data.txt:1: two columns named (state) in the header: columns 3 and 4\n"},
      {"ID,t,state,id\n1,1,a,2\n",
       " *** ERROR: data.txt:1: two columns named (id) in the header: columns 1 and 4\n"},
      {"person,visit\n1,2\n",
       " *** ERROR: --columns names the columns of the long form, not of "
       "--input matrix\n",
       {},
       "person,visit,rating",
       FORM_MATRIX},
      // Reports.
      {"time , 1 , 2 \n 0 , 1 , 2 \n 1 , 1 \n",
       " *** ERROR: data.txt:3: 2 fields, where the first line has 3\n"},
      {"time , 1 \n 0 , \"a\" \ntime , x \n 1 , \"b\" \n",
       " *** ERROR: data.txt:3: a \"time\" line that does not number the chains\n"},
      {"PRAVLIN VERSION , 1.0\ntime , Tue Dec  8 00:51:18 2026\n",
       " *** ERROR: data.txt: a report without its \"time\" line\n"},
      {"time , 1 , 2 \n 0 , 0.000000 , 0.000000 \n 1 , 0.000000 , 0.000000 ",
       " *** ERROR: data.txt: the report prints values (print_flag val), all 0.000000, not "
       "states: put <print_flag>name</print_flag> in its configuration and run it again\n"},
      // Labels that pravlin's reader would read as other names, or XML tools refuse.
      {"a \"b<c\" a\n",
       " *** ERROR: data.txt: the label (b<c) holds \"<\", which pravlin would read as markup\n"},
      {"a,\"b \",a\n",
       " *** ERROR: data.txt: the label (b ) begins or ends with white space, which pravlin would "
       "drop\n"},
      {"a b\xEF\xBF\xBE a",
       " *** ERROR: data.txt: the label (b\xEF\xBF\xBE) holds U+FFFE, which XML does not allow\n"},
      {"a b a\n", " *** ERROR: --states: a label holds control character 0x0a\n", {"c\nd"}},
      {"a b a\n", " *** ERROR: --states: a label holds byte 0xe9, which is not UTF-8\n", {"\xE9"}},
      {"a b a\n",
       " *** ERROR: data.txt: the label (\tc) begins or ends with white space, which pravlin "
       "would drop\n",
       {"\tc"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    FIT_OPTIONS opt = fit_default_options();
    opt.states = c.states;
    opt.columns = c.columns;
    opt.form = c.form;
    EXPECT_EXIT(
        {
          Fitted f;
          fit(opt, c.text, &f);
        },
        testing::ExitedWithCode(1), testing::Eq(c.message));
  }
  // A long table or a matrix is one input: a second is refused.
  EXPECT_EXIT(
      {
        Fitted f;
        fit_files(fit_default_options(), {"id,t,state\n1,1,a\n1,2,b\n", "a b\n"}, &f);
      },
      testing::ExitedWithCode(1),
      testing::EndsWith(": a second input, but a long table is read from one input alone\n"));
}

// ---- pair counts ---------------------------------------------------------------------------

// Every row's cells (destination, count), as the estimate sees them.
static std::vector<std::vector<std::pair<std::uint32_t, std::uint64_t>>> counted(
    const std::string& text) {
  const FIT_OPTIONS opt = fit_default_options();
  FIT_DATA data;
  fit_read_text(&opt, text, "data.txt", &data);
  FIT_MODEL model;
  fit_estimate(&opt, &data, &model);
  std::vector<std::vector<std::pair<std::uint32_t, std::uint64_t>>> rows;
  for (const FIT_ROW& row : model.rows) {
    rows.emplace_back();
    for (const FIT_CELL& c : row.cells)
      rows.back().emplace_back(c.to, c.count);
  }
  return rows;
}

TEST(FitPairs, DenseTableCountsAsTheHashMapDoes) {
  // Few states; enough to widen the table several times; more than it takes.
  for (const int k : {5, 300, static_cast<int>(FIT_DENSE_STATES) + 50}) {
    SCOPED_TRACE(k);
    std::mt19937 rng(static_cast<unsigned>(k));
    std::string text;
    for (int line = 0; line < 40; line++) {
      for (int n = 0; n < 500; n++) {
        text += 's';
        text += std::to_string(rng() % static_cast<unsigned>(k));
        text += ' ';
      }
      text += '\n';
    }
    const auto dense = counted(text);
    set_scratch_limit(0);  // no table: the hash map takes every pair
    const auto hashed = counted(text);
    set_scratch_limit(SIZE_MAX);
    EXPECT_EQ(dense, hashed);
  }
}

// ---- model checks ----------------------------------------------------------------------------

TEST(FitModelCheck, GSquaredMatchesHandComputedTables) {
  // Statistics from an independent count of the triples and blocks; p-values from R's pchisq.
  FIT_OPTIONS opt = fit_default_options();
  opt.test_flag = 1;
  Fitted f;
  fit(opt, "a b a a b b a a b\nb b a b a b\n", &f);
  FIT_TEST markov, homogeneity;
  fit_markov_test(&f.data, &markov);
  fit_homogeneity_test(&f.data, 2, &homogeneity);
  EXPECT_NEAR(markov.statistic, 3.2779318006711935, 1e-12);
  EXPECT_EQ(markov.df, 2);
  EXPECT_NEAR(markov.p_value, 0.19418074074074076, 1e-12);
  EXPECT_NEAR(homogeneity.statistic, 0.4249082138217639, 1e-12);
  EXPECT_EQ(homogeneity.df, 2);
  EXPECT_NEAR(homogeneity.p_value, 0.80859742450360472, 1e-12);
}

// ---- R's markovchain -------------------------------------------------------------------------

// verifyMarkovProperty as markovchain 0.9.1 defines it: Pearson's sum over the triples seen in
// the sequence cut to a multiple of 3, against n_ij. p_jk with p the fit of the whole sequence.
static double markovchain_statistic(const std::vector<std::string>& s, const Fitted& f) {
  const std::size_t n = s.size() - s.size() % 3;
  std::map<std::vector<std::string>, double> triples, pairs;
  for (std::size_t i = 0; i + 2 < n; i++) {
    triples[{s[i], s[i + 1], s[i + 2]}] += 1;
    pairs[{s[i], s[i + 1]}] += 1;
  }
  double x2 = 0;
  for (const auto& [t, count] : triples) {
    const double expected = pairs[{t[0], t[1]}] * f.p(t[1], t[2]);
    x2 += (count - expected) * (count - expected) / expected;
  }
  return x2;
}

TEST(FitPeer, AgreesWithMarkovchainFixture) {
  std::ifstream in(FIT_SOURCE_DIR "/tests/fit/fit_markovchain.txt");
  ASSERT_TRUE(in.good());
  std::string line, word;
  std::vector<std::string> seq;
  Fitted* f = nullptr;
  std::vector<Fitted> fits(3);
  int checked = 0;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    words >> word;
    if (word == "sequence") {
      seq.clear();
      std::string label;
      while (words >> label)
        seq.push_back(label);
      f = &fits[static_cast<std::size_t>(checked++)];
      fit(fit_default_options(), line.substr(9) + "\n", f);
    } else if (word == "mle") {
      std::string from, to;
      double p = 0;
      words >> from >> to >> p;
      EXPECT_NEAR(f->p(from, to), p, 1e-12) << from << " -> " << to;
    } else if (word == "loglik") {
      double ll = 0;
      words >> ll;
      EXPECT_NEAR(f->model.log_likelihood, ll, 1e-12);
    } else if (word == "statistic") {
      double x2 = 0;
      words >> x2;
      EXPECT_NEAR(markovchain_statistic(seq, *f), x2, 1e-12);
    }
  }
  EXPECT_EQ(checked, 3);
}

// ---- round trip ------------------------------------------------------------------------------

TEST(FitRoundTrip, RecoversTheModelPravlinSimulated) {
  // Rows of binary fractions, which add to exactly 1: pravlin leaves them as they are.
  const double truth[3][3] = {{0.5, 0.25, 0.25}, {0.25, 0.5, 0.25}, {0.0, 0.375, 0.625}};
  std::string config =
      "<pravlin><nbr_states>3</nbr_states><nbr_years>400</nbr_years><nbr_chains>150</nbr_chains>"
      "<print_flag>ser</print_flag><steadystate><calc>no</calc></steadystate>";
  for (int i = 1; i <= 3; i++) {
    config += "<state><ser>" + std::to_string(i) + "</ser><name>s" + std::to_string(i) +
              "</name><initial_probability>" + (i == 1 ? "1" : "0") +
              "</initial_probability></state><transition><from>" + std::to_string(i) + "</from>";
    for (int j = 1; j <= 3; j++) {
      config += "<to><state>" + std::to_string(j) + "</state><probability>" +
                std::to_string(truth[i - 1][j - 1]) + "</probability></to>";
    }
    config += "</transition>";
  }
  config += "</pravlin>";
  PRAVLIN pv;
  init_pravlin(&pv);
  pv.in = open_text(config).release();
  read_xml_file(&pv);
  keep_chains_table(&pv);
  error_check_pravlin(&pv);
  pravlin_rand_reset();
  for (int c = 1; c <= pv.nbr_chains; c++)
    create_pravlin(c, &pv);
  FilePtr report = open_sink();
  printpravlin(report.get(), &pv);
  const std::string text = read_all(report.get());
  free_tables(&pv);
  free_XMLENTITY(pv.xml);

  FIT_OPTIONS opt = fit_default_options();
  opt.sort_flag = 1;
  Fitted f;
  fit(opt, text, &f);
  ASSERT_EQ(f.data.form, FORM_REPORT);
  EXPECT_EQ(f.model.nbr_chains, 150);
  EXPECT_EQ(f.model.nbr_years, 400);
  double g2 = 0;
  long df = 0;
  for (int i = 0; i < 3; i++) {
    const std::string from = std::to_string(i + 1);
    const auto n = static_cast<double>(f.model.rows[f.state(from)].total);
    for (int j = 0; j < 3; j++) {
      const std::string to = std::to_string(j + 1);
      const double p = truth[i][j];
      const double se = std::sqrt(p * (1 - p) / n);
      SCOPED_TRACE(from + " -> " + to);
      EXPECT_LE(std::fabs(f.p(from, to) - p), 5 * se);
      const double count = f.p(from, to) * n;
      if (count > 0)
        g2 += 2 * count * std::log(count / (n * p));
      df += p > 0 ? 1 : 0;
    }
    df -= 1;
  }
  const boost::math::chi_squared_distribution<double> chi(static_cast<double>(df));
  EXPECT_GT(boost::math::cdf(boost::math::complement(chi, g2)), 0.001);
}

TEST(FitRoundTrip, LabelsComeBackFromPravlinAsWritten) {
  // Through the configuration to pravlin's state names, and through its report back to fit.
  const std::vector<std::string> labels = {"R&D",   "c>d",         "a\"b",
                                           "x]]>y", "tab\tinside", std::string(5000, 'L')};
  std::string data;
  for (int round = 0; round < 2; round++) {
    for (const std::string& l : labels)
      data += "\"" + (l == "a\"b" ? std::string("a\"\"b") : l) + "\" ";
  }
  const FIT_OPTIONS opt = fit_default_options();
  Fitted f;
  fit(opt, data + "\n", &f);
  FilePtr config = open_sink();
  fit_write_config(config.get(), &opt, &f.data, &f.model);
  PRAVLIN pv;
  init_pravlin(&pv);
  pv.in = open_text(read_all(config.get())).release();
  read_xml_file(&pv);
  keep_chains_table(&pv);
  error_check_pravlin(&pv);
  ASSERT_EQ(pv.nbr_states, static_cast<int>(labels.size()));
  for (int s = 1; s <= pv.nbr_states; s++)
    EXPECT_EQ(pv.state_name[s], labels[static_cast<std::size_t>(s - 1)]);
  pravlin_rand_reset();
  for (int c = 1; c <= pv.nbr_chains; c++)
    create_pravlin(c, &pv);
  FilePtr report = open_sink();
  printpravlin(report.get(), &pv);
  free_tables(&pv);
  free_XMLENTITY(pv.xml);
  Fitted back;
  fit(opt, read_all(report.get()), &back);
  EXPECT_EQ(back.data.labels.names, labels);
}
