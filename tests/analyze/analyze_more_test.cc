// analyze_more_test.cc - pravlin-analyze's notes on how a file was read, the long run from the
// initial probabilities, hitting times against closed forms, the drawing and the JSON.
// Part of pravlin; see README.md.
#include "analyze_hitting.h"
#include "analyze_json.h"
#include "analyze_long_run.h"
#include "analyze_notes.h"
#include "analyze_solver.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "analyze_requests.h"
#include "analyze_states.h"
#include "config.h"
#include "table_lines.h"
#include "tables.h"
#include "test_util.h"

// Reads text as pravlin-analyze reads it, into pv and list, and returns its notes.
static std::vector<READ_NOTE> read_noting(const std::string& text, PRAVLIN* pv,
                                          std::vector<TRANSITION_ENTRY>* list) {
  init_pravlin(pv);
  pv->in = open_text(text).release();
  std::vector<READ_NOTE> notes;
  read_configuration(pv, READ_LIST, 0, list);
  collect_read_notes(pv, *list, &notes);
  return notes;
}

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

// ---------------------------------------------------------------- the long run

// The symmetric random walk on 0..n-1 (states 1..n) that turns back at both ends.
static SPARSE_CHAIN reflecting_walk(int n) {
  std::vector<TRANSITION_ENTRY> list;
  list.push_back(TRANSITION_ENTRY{1, 2, 1.0});
  for (int i = 2; i < n; i++) {
    list.push_back(TRANSITION_ENTRY{i, i - 1, 0.5});
    list.push_back(TRANSITION_ENTRY{i, i + 1, 0.5});
  }
  list.push_back(TRANSITION_ENTRY{n, n - 1, 1.0});
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, n, list);
  return c;
}

// Stationary distribution of every closed class, on its states.
static std::vector<double> class_distributions(const SPARSE_CHAIN& c, const CHAIN_CLASSES& cl) {
  std::vector<double> pi(static_cast<std::size_t>(c.n) + 1, 0.0);
  for (int k = 1; k <= cl.nbr_classes; k++) {
    if (cl.closed[k])
      class_stationary(&c, &cl, k, pi.data());
  }
  return pi;
}

TEST(AnalyzeLongRun, SymmetricWalkRecurrenceTimesMatchTheClosedForm) {
  // Edges are visited twice as rarely as inner states: 2(n - 1) and n - 1 steps between visits.
  for (int n : {3, 10, 101}) {
    SCOPED_TRACE(n);
    SPARSE_CHAIN c = reflecting_walk(n);
    CHAIN_CLASSES cl;
    find_classes(&c, &cl);
    ASSERT_EQ(cl.period[1], 2);
    std::vector<double> pi = class_distributions(c, cl);
    EXPECT_NEAR(1.0 / pi[1], 2.0 * (n - 1), 1e-12 * n);
    EXPECT_NEAR(1.0 / pi[n], 2.0 * (n - 1), 1e-12 * n);
    for (int s = 2; s < n; s++)
      EXPECT_NEAR(1.0 / pi[s], n - 1.0, 1e-12 * n) << "state " << s;
  }
}

TEST(AnalyzeLongRun, StartIsCarriedToEachClosedClassByItsEntryProbability) {
  // From 1: to the periodic pair {2, 3} with 0.5 / 0.7, to the absorbing 4 with 0.2 / 0.7.
  SPARSE_CHAIN c = chain_of({{0.3, 0.5, 0, 0.2}, {0, 0, 1, 0}, {0, 1, 0, 0}, {0, 0, 0, 1}});
  CHAIN_CLASSES cl;
  find_classes(&c, &cl);
  std::vector<double> pi = class_distributions(c, cl);
  struct Case {
    std::vector<double> start;  // [n + 1]
    std::vector<double> share;  // [n + 1]
    int periodic;
  };
  const Case cases[] = {
      {{0, 1, 0, 0, 0}, {0, 0, 2.5 / 7, 2.5 / 7, 2.0 / 7}, 1},
      {{0, 0.5, 0, 0, 0.5}, {0, 0, 1.25 / 7, 1.25 / 7, 0.5 + 1.0 / 7}, 1},
      {{0, 0, 0, 0, 1}, {0, 0, 0, 0, 1}, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "start on 4 " << k.start[4]);
    TestModel m(4, 1, 2);
    m.init = k.start;
    m.pv.initial_probability = m.init.data();
    LONG_RUN lr;
    solve_long_run(&m.pv, &c, &cl, pi.data(), &lr);
    for (int s = 1; s <= 4; s++)
      EXPECT_NEAR(lr.share[s], k.share[s], 1e-15) << "state " << s;
    EXPECT_EQ(lr.periodic, k.periodic);
  }
}

// ---------------------------------------------------------------- hitting

static HITTING hitting_of(const SPARSE_CHAIN& c, const std::vector<int>& targets) {
  HITTING h;
  solve_hitting(&c, targets, &h);
  return h;
}

TEST(AnalyzeHitting, GamblersRuinMatchesTheClosedForm) {
  // Reaching n is winning; reaching either end is the game's duration.
  struct Case {
    int n;
    double p;
    double tolerance;  // relative
  };
  const int large = kSanitized ? 10000 : 100000;
  const Case cases[] = {{10, 0.4, 1e-13}, {10, 0.5, 1e-13}, {10, 0.7, 1e-13}, {large, 0.5, 1e-6}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "n " << k.n << " p " << k.p);
    SPARSE_CHAIN c = gamblers_ruin(k.n, k.p);
    HITTING win = hitting_of(c, {k.n + 1});
    HITTING end = hitting_of(c, {1, k.n + 1});
    const double r = (1 - k.p) / k.p;
    for (int i = 1; i < k.n; i += 1 + k.n / 50) {
      SCOPED_TRACE(testing::Message() << "fortune " << i);
      double p_win, steps;
      if (k.p == 0.5) {
        p_win = static_cast<double>(i) / k.n;
        steps = static_cast<double>(i) * (k.n - i);
      } else {
        p_win = (1 - std::pow(r, i)) / (1 - std::pow(r, k.n));
        steps = i / (1 - 2 * k.p) - k.n / (1 - 2 * k.p) * p_win;
      }
      EXPECT_NEAR(win.probability[i + 1], p_win, k.tolerance * p_win);
      EXPECT_TRUE(std::isinf(win.steps[i + 1]));  // ruin is possible: the win may never come
      EXPECT_EQ(end.probability[i + 1], 1.0);
      EXPECT_NEAR(end.steps[i + 1], steps, k.tolerance * steps);
    }
  }
}

TEST(AnalyzeHitting, SymmetricWalkReturnsInTheMeanRecurrenceTime) {
  for (int n : {3, 10, 1000}) {
    SCOPED_TRACE(n);
    SPARSE_CHAIN c = reflecting_walk(n);
    for (int j : {1, n / 2 + 1}) {
      SCOPED_TRACE(testing::Message() << "target " << j);
      HITTING h = hitting_of(c, {j});
      const double want = j == 1 ? 2.0 * (n - 1) : n - 1.0;
      EXPECT_NEAR(h.return_time, want, 1e-9 * want);
    }
  }
}

// Kemeny's constant: sum over j of pi_j times the mean first passage time from i to j (0 for
// j = i) is the same from every state i; and each return time is 1 / pi_j.
TEST(AnalyzeHitting, MeanFirstPassageTimesGiveKemenysConstantFromEveryState) {
  const std::vector<std::vector<std::vector<double>>> chains = {
      {{0.7, 0.3}, {0.4, 0.6}},
      {{0, 1, 0}, {0.5, 0, 0.5}, {0, 1, 0}},
      {{0.1, 0.6, 0.3, 0}, {0.2, 0.2, 0.2, 0.4}, {0, 0, 0.5, 0.5}, {0.9, 0, 0, 0.1}},
      {{0.5, 0.5, 0, 0}, {0, 0.5, 0.5, 0}, {0, 0, 0.5, 0.5}, {1e-9, 0, 0, 1 - 1e-9}},
  };
  for (const auto& rows : chains) {
    const int n = static_cast<int>(rows.size());
    SCOPED_TRACE(testing::Message() << "states " << n << " first row " << rows[0][0]);
    SPARSE_CHAIN c = chain_of(rows);
    CHAIN_CLASSES cl;
    find_classes(&c, &cl);
    std::vector<double> pi = class_distributions(c, cl);
    std::vector<double> kemeny(static_cast<std::size_t>(n) + 1, 0.0);
    for (int j = 1; j <= n; j++) {
      HITTING h = hitting_of(c, {j});
      EXPECT_NEAR(h.return_time * pi[j], 1.0, 1e-9) << "return to " << j;
      for (int i = 1; i <= n; i++)
        kemeny[i] += pi[j] * h.steps[i];
    }
    for (int i = 2; i <= n; i++)
      EXPECT_NEAR(kemeny[i], kemeny[1], 1e-9 * kemeny[1]) << "from " << i;
  }
}

TEST(AnalyzeHitting, LargeChainsGivePassageTimesOfTheClosedFormAndReturnTimesOfOneOverPi) {
  // Beyond the dense size: a fast-mixing chain, whose system less one state is nearly singular,
  // and a slow line, on which the sparse solvers lose digits. On the line, the steps from k to
  // k - 1 are S_k / q_k with S_k = 1 + (p_k / q_(k+1)) S_(k+1) and S_n = 1.
  const int n = kSanitized ? 3000 : 10000;
  struct Case {
    bool line;
    int target;
  };
  for (const Case& k : {Case{true, 1}, Case{true, n / 2}, Case{false, 1}, Case{false, n}}) {
    SCOPED_TRACE(testing::Message() << (k.line ? "line" : "random") << " to " << k.target);
    std::mt19937_64 rng(5);
    std::vector<double> up, down;
    SPARSE_CHAIN c = k.line ? birth_death_line(n, &rng, &up, &down) : random_ring_chain(n, &rng);
    CHAIN_CLASSES cl;
    find_classes(&c, &cl);
    const std::vector<double> pi = class_distributions(c, cl);
    HITTING h = hitting_of(c, {k.target});
    EXPECT_TRUE(h.trusted);
    EXPECT_LE(h.steps_residual, 1e-12);
    EXPECT_NEAR(h.return_time * pi[k.target], 1.0, 1e-10);
    HITTING handed;  // the analysis hands over the distribution it has solved already
    solve_hitting(&c, {k.target}, &handed, pi.data());
    EXPECT_EQ(handed.steps, h.steps);
    if (!k.line || k.target != 1)
      continue;
    std::vector<double> s(n + 1, 1.0);
    for (int i = n - 1; i >= 2; i--)
      s[i] = 1.0 + up[i] / down[i + 1] * s[i + 1];
    double steps = 0.0;
    for (int i = 2; i <= n; i++) {
      steps += s[i] / down[i];
      ASSERT_NEAR(h.steps[i], steps, 1e-8 * steps) << "from " << i;
    }
  }
}

// A chain of n states, from each the given moves (to, probability).
static SPARSE_CHAIN chain_of_rows(int n,
                                  const std::vector<std::vector<std::pair<int, double>>>& rows) {
  std::vector<TRANSITION_ENTRY> list;
  for (int i = 1; i <= n; i++) {
    for (const auto& [to, p] : rows[static_cast<std::size_t>(i) - 1])
      list.push_back(TRANSITION_ENTRY{i, to, p});
  }
  sort_transitions(&list);
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, n, list);
  return c;
}

TEST(SmallExactHitting, CyclesGiveWholeStepsThatAreTrusted) {
  // Around a cycle of n states, state s reaches 1 in exactly n + 1 - s steps.
  for (int n : {2, 3, 7, 50}) {
    SCOPED_TRACE(n);
    std::vector<std::vector<std::pair<int, double>>> rows;
    for (int i = 1; i <= n; i++)
      rows.push_back({{i % n + 1, 1.0}});
    HITTING h = hitting_of(chain_of_rows(n, rows), {1});
    EXPECT_TRUE(h.trusted);
    EXPECT_EQ(h.steps_residual, 0.0);
    for (int s = 2; s <= n; s++)
      EXPECT_EQ(h.steps[s], n + 1 - s) << "from " << s;
    EXPECT_EQ(h.return_time, n);
  }
}

TEST(SmallExactHitting, LinesGiveTheBitsOfTheAbsorptionSection) {
  // A line into its last state, absorbing: the steps and the chance to reach it are what the
  // absorption section prints, bit for bit. Moves up with p, else down (or stays at 1); with a
  // ruin at 1 the target may be missed.
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> up(0.05, 0.95);
  for (int n : {3, 7, 40}) {
    for (int kind = 0; kind < 3; kind++) {  // sure steps, random steps, gambler's ruin
      SCOPED_TRACE(testing::Message() << n << " states, kind " << kind);
      std::vector<std::vector<std::pair<int, double>>> rows;
      for (int i = 1; i < n; i++) {
        const double p = kind == 0 ? 1.0 : up(rng);
        if (kind == 2 && i == 1) {
          rows.push_back({{1, 1.0}});
        } else if (p == 1.0) {
          rows.push_back({{i + 1, 1.0}});
        } else {
          rows.push_back({{i == 1 ? 1 : i - 1, 1.0 - p}, {i + 1, p}});
        }
      }
      rows.push_back({{n, 1.0}});
      SPARSE_CHAIN c = chain_of_rows(n, rows);
      CHAIN_CLASSES cl;
      find_classes(&c, &cl);
      ABSORPTION ab;
      solve_absorption(&c, &cl, &ab);
      HITTING h = hitting_of(c, {n});
      EXPECT_TRUE(h.trusted);
      const std::size_t nb = static_cast<std::size_t>(ab.nbr_closed) + 1;
      for (int i = 1; i <= ab.nbr_transient; i++) {
        const int s = ab.state[i];
        if (kind == 2) {
          EXPECT_EQ(h.probability[s], ab.probability[i * nb + nb - 1]) << "from " << s;
        } else {
          EXPECT_EQ(h.steps[s], ab.steps[i]) << "from " << s;
        }
      }
      if (kind == 0) {
        EXPECT_EQ(h.steps[1], n - 1);
      }
    }
  }
}

TEST(SmallExactHitting, StatesThatCannotReachTheTargetAreSaidNeverToReachIt) {
  // 1 may fall into 3, which never leaves; 3 never reaches 2.
  SPARSE_CHAIN c = chain_of({{0.5, 0.25, 0.25}, {0, 1, 0}, {0, 0, 1}});
  std::vector<int> targets = {2};
  HITTING h = hitting_of(c, targets);
  TestModel m(3, 1, 2);
  FilePtr out = open_sink();
  print_hitting(out.get(), &m.pv, &c, targets, &h, 2);
  const std::string text = read_all(out.get());
  EXPECT_NE(text.find("  1: probability 0.50, steps infinite (it may never be reached)\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  3: probability 0.00, steps infinite (it is never reached)\n"),
            std::string::npos)
      << text;
}

// ---------------------------------------------------------------- squaring solver

TEST(SquaringSolver, RunsOnlyWhereTheSquaringsItCannotAvoidAreCheap) {
  // Around a cycle, with or without a pause at each state: aperiodic chains may stop after one
  // squaring, periodic ones run all of max_iteration.
  struct Case {
    int n;
    bool pause;
    int max_iteration;
    int squarings;
    bool run;
  };
  const Case cases[] = {
      {3, false, 20, 20, true},     {1000, true, 100, 1, true},    {1001, true, 100, 1, false},
      {215, false, 100, 100, true}, {216, false, 100, 100, false}, {464, false, 10, 10, true},
      {465, false, 10, 10, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.n << (k.pause ? " pausing" : " cycling"));
    std::vector<std::vector<std::pair<int, double>>> rows;
    for (int i = 1; i <= k.n; i++) {
      if (k.pause) {
        rows.push_back({{i, 0.5}, {i % k.n + 1, 0.5}});
      } else {
        rows.push_back({{i % k.n + 1, 1.0}});
      }
    }
    SPARSE_CHAIN c = chain_of_rows(k.n, rows);
    CHAIN_CLASSES cl;
    find_classes(&c, &cl);
    TestModel m(2, 1, 2);
    m.pv.max_iteration = k.max_iteration;
    const SQUARING_COST cost = estimate_squaring(&m.pv, &c, &cl);
    EXPECT_EQ(cost.squarings, k.squarings);
    EXPECT_EQ(cost.worth, k.run);
    EXPECT_EQ(cost.work, 1.0 * k.n * k.n * k.n);
    EXPECT_EQ(cost.bytes, 24.0 * (k.n + 1) * (k.n + 1));
  }
}

TEST(AnalyzeReport, FixedNumbersAreWhatPrintfWrites) {
  const double values[] = {0.0,      -0.0,          0.5,  0.125,    2.5,       1e-300,
                           1.0 / 3,  123456.654321, 1e22, -7.25e15, DBL_MAX,   -DBL_MAX,
                           HUGE_VAL, -HUGE_VAL,     NAN,  -NAN,     0.9999995, 5e-7};
  for (double v : values) {
    for (int precision : {0, 1, 2, 6, 17, 40}) {
      char want[512];
      std::snprintf(want, sizeof want, "%.*f", precision, v);
      std::string got;
      format_fixed(got, v, precision);
      EXPECT_EQ(got, want) << "precision " << precision;
    }
  }
}

// ---------------------------------------------------------------- JSON

TEST(AnalyzeJson, DocumentHasTheDocumentedLayoutAndRoundTripsItsNumbers) {
  // trial (transient, a quote and a byte that is not UTF-8 in its name) ends in {2, 3} or 4.
  static const char text[] =
      "<pravlin><nbr_states>4</nbr_states><print_flag>Name</print_flag>"
      "<state><ser>1</ser><name>\"tr\\ial\"\xff</name><initial_probability>1"
      "</initial_probability></state>"
      "<state><ser>2</ser><name>m</name></state><state><ser>3</ser><name>y</name></state>"
      "<state><ser>4</ser><name>c</name></state>"
      "<transition><from>1</from><to><state>1</state><probability>0.3</probability></to>"
      "<to><state>2</state><probability>0.5</probability></to>"
      "<to><state>4</state><probability>0.2</probability></to></transition>"
      "<transition><from>2</from><to><state>2</state><probability>0.8</probability></to>"
      "<to><state>3</state><probability>0.2</probability></to></transition>"
      "<transition><from>3</from><to><state>2</state><probability>0.1</probability></to>"
      "<to><state>3</state><probability>0.9</probability></to></transition>"
      "<transition><from>4</from><to><state>4</state><probability>1</probability></to>"
      "</transition></pravlin>";
  PRAVLIN pv;
  std::vector<TRANSITION_ENTRY> list;
  testing::internal::CaptureStderr();
  const std::vector<READ_NOTE> notes = read_noting(text, &pv, &list);
  error_check_transitions(&pv, &list);
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, 4, list);
  ANALYZE_OPTIONS opt = {6,    3,       nullptr, 1,   nullptr, nullptr, 0, nullptr,
                         1e-9, nullptr, 0,       0.0, 0,       0,       0, PER_STATE_MAX,
                         -1,   0,       0.0,     0,   nullptr, 0,       0, 0};
  FilePtr out = open_sink();
  const ANALYSIS_REQUESTS requests{};
  print_analysis_json(out.get(), &pv, &c, &opt, notes, {3}, &requests);
  testing::internal::GetCapturedStderr();
  const nlohmann::ordered_json doc = nlohmann::ordered_json::parse(read_all(out.get()));

  using T = nlohmann::ordered_json::value_t;
  const std::pair<const char*, std::vector<T>> layout[] = {
      {"configuration", {T::string}},
      {"notes", {T::array}},
      {"states", {T::array}},
      {"transitions", {T::number_unsigned}},
      {"classes", {T::array}},
      {"absorbing_states", {T::array}},
      {"irreducible", {T::boolean}},
      {"aperiodic", {T::boolean}},
      {"regular", {T::boolean}},
      {"stationary", {T::array}},
      {"mean_recurrence_times", {T::array}},
      {"stationary_distribution", {T::array, T::null}},
      {"long_run", {T::object, T::null}},
      {"entropy_rate", {T::array}},
      {"reversibility", {T::array}},
      {"solver", {T::object}},
      {"absorption", {T::object, T::null}},
      {"hitting", {T::object, T::null}},
      {"steps", {T::object, T::null}},
      {"rewards", {T::object, T::null}},
      {"committor", {T::object, T::null}},
      {"passage", {T::object, T::null}},
      {"lump", {T::object, T::null}},
      {"spectrum", {T::array, T::null}},
      {"mixing", {T::array, T::null}},
      {"kemeny", {T::object, T::null}},
      {"drawing", {T::object, T::null}},
  };
  ASSERT_EQ(doc.size(), std::size(layout));
  auto key = doc.begin();
  for (const auto& [name, types] : layout) {
    SCOPED_TRACE(name);
    EXPECT_EQ(key.key(), name);
    EXPECT_NE(std::find(types.begin(), types.end(), key->type()), types.end());
    ++key;
  }
  EXPECT_EQ(doc["notes"][0]["kind"], "keyword_not_known");
  EXPECT_EQ(doc["states"][0]["name"], "\"tr\\ial\"\xef\xbf\xbd");
  EXPECT_EQ(doc["stationary_distribution"], nullptr);

  // Every number reads back to the bits it was computed with.
  CHAIN_CLASSES cl;
  find_classes(&c, &cl);
  std::vector<double> pi = class_distributions(c, cl);
  EXPECT_EQ(doc["stationary"][0]["probability"][0].get<double>(), pi[2]);
  EXPECT_EQ(doc["stationary"][0]["probability"][1].get<double>(), pi[3]);
  EXPECT_EQ(doc["mean_recurrence_times"][0]["steps"][1].get<double>(), 1.0 / pi[3]);
  ABSORPTION ab;
  solve_absorption(&c, &cl, &ab);
  EXPECT_EQ(doc["absorption"]["transient"][0]["steps"].get<double>(), ab.steps[1]);
  EXPECT_EQ(doc["absorption"]["transient"][0]["probability"][0].get<double>(),
            ab.probability[1 * 3 + 1]);
  LONG_RUN lr;
  solve_long_run(&pv, &c, &cl, pi.data(), &lr);
  for (int s = 1; s <= 4; s++)
    EXPECT_EQ(doc["long_run"]["distribution"][s - 1].get<double>(), lr.share[s]) << s;
  HITTING h = hitting_of(c, {3});
  EXPECT_EQ(doc["hitting"]["probability"][0].get<double>(), h.probability[1]);
  EXPECT_EQ(doc["hitting"]["steps"][0], nullptr);
  EXPECT_EQ(doc["steps"]["count"], 3);
  free_tables(&pv);
  free_XMLENTITY(pv.xml);
}
