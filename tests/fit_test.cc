// fit_test.cc - pravlin-fit: the estimators and model checks on hand-computed examples, every
// input form, bad input, the dense pair table against the hash map, R's markovchain, and a
// simulated model recovered.
// Part of pravlin; see README.md.
#include "fit.h"

#include <fcntl.h>
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

#include "test_util.h"

static FIT_OPTIONS default_options() {
  FIT_OPTIONS opt{};
  opt.form = FORM_AUTO;
  opt.estimator = ESTIMATOR_MLE;
  opt.empty = EMPTY_ABSORBING;
  opt.nbr_chains = -1;
  opt.nbr_years = -1;
  opt.confidence = 0.95;
  opt.blocks = 2;
  return opt;
}

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
    FIT_OPTIONS opt = default_options();
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
  FIT_OPTIONS opt = default_options();
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
  FIT_OPTIONS opt = default_options();
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
  FIT_OPTIONS opt = default_options();
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
    FIT_OPTIONS opt = default_options();
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
  FIT_OPTIONS opt = default_options();
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

// ---- input forms -----------------------------------------------------------------------------

TEST(FitRead, EveryFormGivesTheSameCounts) {
  // One chain, dry dry wet dry and wet wet dry, in every form.
  struct Case {
    const char* name;
    FIT_FORM form;
    std::string text;
  } cases[] = {
      {"sequences", FORM_SEQUENCES, "dry dry wet dry\nwet,wet, dry\n"},
      {"quoted", FORM_SEQUENCES, "\"dry\" dry \"w\"\"et\" dry\n\"w\"\"et\" \"w\"\"et\" dry\n"},
      {"long", FORM_LONG,
       "ID,T,State\n1,3,wet\n2,1,wet\n1,1,dry\n2,2,wet\n1,2,dry\n2,3,dry\n"
       "1,4,dry\n"},
      {"report", FORM_REPORT,
       "PRAVLIN VERSION , 1.0\nnbr_states , 2\ntime , 1 , 2 \n 1990 , \"dry\" , \"wet\" \n"
       " 1991 , \"dry\" , \"wet\" \n 1992 , \"wet\" , \"dry\" \n 1993 , \"dry\" , NA \n"},
      {"labelled matrix", FORM_MATRIX, "\"\",dry,wet\nwet,2,1\ndry,1,1\n"},
      {"matrix", FORM_MATRIX, "dry,wet\r\n1,1\r\n2,1\r\n"},
      {"byte-order mark", FORM_SEQUENCES,
       "\xEF\xBB\xBF"
       "dry dry wet dry\nwet wet dry\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fitted f;
    fit(default_options(), c.text, &f);
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

TEST(FitRead, ProbabilityMatrixRowsAreTakenAsGiven) {
  Fitted f;
  fit(default_options(), ",a,b\na,0.25,0.75\nb,1,0\n", &f);
  EXPECT_TRUE(f.data.probability_flag);
  EXPECT_EQ(f.p("a", "b"), 0.75);
  EXPECT_EQ(f.p("b", "a"), 1.0);
  EXPECT_EQ(f.model.has_counts, 0);
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
        const FIT_OPTIONS opt = default_options();
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
  struct Case {
    std::string text;
    const char* message;
    std::vector<std::string> states = {};
  } cases[] = {
      {"", " *** ERROR: data.txt: no observations\n"},
      {"\n\n  \n", " *** ERROR: data.txt: no observations\n"},
      {"a\n", " *** ERROR: data.txt: no transitions: every sequence holds one observation\n"},
      {"a a a\n",
       " *** ERROR: data.txt: one state only (a): pravlin needs at least 2; add others "
       "with --states\n"},
      {"a,b\n1,2\n3\n", " *** ERROR: data.txt:3: 1 fields, where the first line has 2\n"},
      {"a,b\n1,2\n3,-1\n", " *** ERROR: data.txt:3:3: not a count or a probability (-1)\n"},
      {"a,b\n1,2\n3,x\n", " *** ERROR: data.txt:3:3: not a count or a probability (x)\n"},
      {"a,b\n1,2\n0,0\n",
       " *** ERROR: data.txt: the row of (b) is all zeros: give --empty "
       "absorbing or --empty uniform\n"},
      {"a b\nc d\xFF\n", " *** ERROR: data.txt:2:4: byte 0xff is not UTF-8\n"},
      {"a b\nc \xC3\x28\n", " *** ERROR: data.txt:2:3: byte 0xc3 is not UTF-8\n"},
      {std::string("a b\nc d\0e\n", 10), " *** ERROR: data.txt:2:4: NUL byte\n"},
      {"a b\n\"c d\n", " *** ERROR: data.txt:2:1: quoted field not closed on its line\n"},
      {"a,b\n\"c\"d,e\n", " *** ERROR: data.txt:2:4: text after a closing quote\n"},
      {"a b " + big_label + "\n", " *** ERROR: data.txt:1:5: a label longer than 65536 bytes\n"},
      {"id,state\n1,a\n1\n", " *** ERROR: data.txt:3: 1 fields, where the first line has 2\n"},
      {"id,t,state\n1,1,a\n1,1,b\n",
       " *** ERROR: data.txt:3: a second row for the same id and "
       "t (line 2 has the first)\n"},
      {"time , 1 , 2 \n 0 , 1 , 2 \n 1 , 1 \n",
       " *** ERROR: data.txt:3: 2 fields, where the first line has 3\n"},
      // Labels that pravlin's reader would read as other names.
      {"a \"b<c\" a\n",
       " *** ERROR: data.txt: the label (b<c) holds \"<\", which pravlin would read as markup\n"},
      {"a,\"b \",a\n",
       " *** ERROR: data.txt: the label (b ) begins or ends with white space, which pravlin would "
       "drop\n"},
      {"a b a\n", " *** ERROR: --states: a label holds control character 0x0a\n", {"c\nd"}},
      {"a b a\n", " *** ERROR: --states: a label holds byte 0xe9, which is not UTF-8\n", {"\xE9"}},
      {"a b a\n",
       " *** ERROR: data.txt: the label (\tc) begins or ends with white space, which pravlin "
       "would drop\n",
       {"\tc"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    FIT_OPTIONS opt = default_options();
    opt.states = c.states;
    EXPECT_EXIT(
        {
          Fitted f;
          fit(opt, c.text, &f);
        },
        testing::ExitedWithCode(1), testing::Eq(c.message));
  }
}

// ---- pair counts ---------------------------------------------------------------------------

// Every row's cells (destination, count), as the estimate sees them.
static std::vector<std::vector<std::pair<std::uint32_t, std::uint64_t>>> counted(
    const std::string& text) {
  const FIT_OPTIONS opt = default_options();
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
  FIT_OPTIONS opt = default_options();
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
  std::ifstream in(FIT_SOURCE_DIR "/tests/fit_markovchain.txt");
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
      fit(default_options(), line.substr(9) + "\n", f);
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
  error_check_pravlin(&pv);
  pravlin_rand_reset();
  for (int c = 1; c <= pv.nbr_chains; c++)
    create_pravlin(c, &pv);
  FilePtr report = open_sink();
  printpravlin(report.get(), &pv);
  const std::string text = read_all(report.get());
  free_tables(&pv);
  free_XMLENTITY(pv.xml);

  FIT_OPTIONS opt = default_options();
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
  const FIT_OPTIONS opt = default_options();
  Fitted f;
  fit(opt, data + "\n", &f);
  FilePtr config = open_sink();
  fit_write_config(config.get(), &opt, &f.data, &f.model);
  PRAVLIN pv;
  init_pravlin(&pv);
  pv.in = open_text(read_all(config.get())).release();
  read_xml_file(&pv);
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
