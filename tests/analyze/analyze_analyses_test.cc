// analyze_analyses_test.cc - pravlin-analyze's entropy rate and reversibility, committor, first
// passage, rewards and lumping: closed forms, the numbers numpy and R markovchain give (kept as
// data), and the refusals of bad sets and lump files.
// Part of pravlin; see README.md.
#include "analyze_requests.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "analyze_entropy.h"
#include "analyze_passage.h"
#include "analyze_rewards.h"
#include "analyze_test_util.h"
#include "config.h"
#include "config_write.h"
#include "tables.h"
#include "test_util.h"

// A file holding text, removed with the object.
struct TempFile {
  std::string path;
  explicit TempFile(const std::string& text) {
    char name[] = "/tmp/analyze_analyses_XXXXXX";
    const int fd = mkstemp(name);
    path = name;
    if (fd >= 0) {
      EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
      close(fd);
    }
  }
  ~TempFile() {
    std::remove(path.c_str());
  }
};

// ---------------------------------------------------------------- entropy and reversibility

static double h2(double a) {
  return -a * std::log(a) - (1 - a) * std::log(1 - a);
}

TEST(AnalyzeEntropy, WalksCyclesAndTwoStatesMatchTheClosedForms) {
  struct Case {
    const char* name;
    std::vector<std::vector<double>> rows;
    double nats;
    int reversible;
    double violation;
  };
  const double q = 0.25;
  const Case cases[] = {
      {"uniform walk on 4",
       {{q, q, q, q}, {q, q, q, q}, {q, q, q, q}, {q, q, q, q}},
       std::log(4.0),
       1,
       0.0},
      {"deterministic cycle", {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}}, 0.0, 0, 1.0},
      {"two states", {{0.7, 0.3}, {0.4, 0.6}}, 4.0 / 7 * h2(0.3) + 3.0 / 7 * h2(0.4), 1, 0.0},
      {"cycle with drift", {{0, 0.7, 0.3}, {0.3, 0, 0.7}, {0.7, 0.3, 0}}, h2(0.3), 0, 4.0 / 7},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    SPARSE_CHAIN c = chain_of(k.rows);
    CHAIN_CLASSES cl;
    find_classes(&c, &cl);
    std::vector<CLASS_ENTROPY> e;
    solve_entropy(&c, &cl, class_distributions(c, cl).data(), &e);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_NEAR(e[0].nats, k.nats, 1e-15);
    EXPECT_NEAR(e[0].bits, k.nats / std::log(2.0), 1e-15);
    EXPECT_EQ(e[0].reversible, k.reversible);
    EXPECT_NEAR(e[0].violation, k.violation, 1e-15);
  }
}

TEST(AnalyzeEntropy, EachClosedClassStandsAloneAndFlowsFromTransientStatesDoNotCount) {
  // 1 is transient and feeds both the pair {2, 3} and the absorbing 4.
  SPARSE_CHAIN c = chain_of({{0, 0.5, 0, 0.5}, {0, 0.2, 0.8, 0}, {0, 0.4, 0.6, 0}, {0, 0, 0, 1}});
  CHAIN_CLASSES cl;
  find_classes(&c, &cl);
  std::vector<CLASS_ENTROPY> e;
  solve_entropy(&c, &cl, class_distributions(c, cl).data(), &e);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_NEAR(e[0].nats, 1.0 / 3 * h2(0.2) + 2.0 / 3 * h2(0.4), 1e-15);
  EXPECT_EQ(e[0].reversible, 1);
  EXPECT_EQ(e[1].nats, 0.0);
  EXPECT_EQ(e[1].reversible, 1);
  EXPECT_EQ(e[1].from, 0);
}

// ---------------------------------------------------------------- committor and first passage

static COMMITTOR committor_of(const SPARSE_CHAIN& c, const std::vector<int>& a,
                              const std::vector<int>& b) {
  COMMITTOR_SETS sets{a, b};
  COMMITTOR q;
  solve_committor(&c, &sets, &q);
  return q;
}

TEST(AnalyzeCommittor, GamblersRuinMatchesTheClosedForm) {
  // Winning before ruin from i: (1 - r^i) / (1 - r^N), r = q / p; i / N for a fair game.
  for (double p : {0.5, 0.4, 0.7}) {
    SCOPED_TRACE(p);
    const int big_n = 30;
    SPARSE_CHAIN c = gamblers_ruin(big_n, p);
    COMMITTOR q = committor_of(c, {1}, {big_n + 1});
    const double r = (1 - p) / p;
    for (int i = 0; i <= big_n; i++) {
      const double want = p == 0.5 ? static_cast<double>(i) / big_n
                                   : (1 - std::pow(r, i)) / (1 - std::pow(r, big_n));
      EXPECT_NEAR(q.probability[i + 1], want, 1e-14) << "i " << i;
    }
  }
}

TEST(AnalyzeCommittor, UnreachableSetsGiveExactlyZeroAndUnavoidableOnesExactlyOne) {
  // 1 may go to B = {2} or into the closed pair {3, 4}; 5 can only reach B; 6 only the pair;
  // A = {4}.
  SPARSE_CHAIN c = chain_of({{0, 0.3, 0.3, 0, 0, 0.4},
                             {0, 1, 0, 0, 0, 0},
                             {0, 0, 0.5, 0.5, 0, 0},
                             {0, 0, 0.5, 0.5, 0, 0},
                             {0.2, 0.8, 0, 0, 0, 0},
                             {0, 0, 1, 0, 0, 0}});
  COMMITTOR q = committor_of(c, {4}, {2});
  EXPECT_EQ(q.probability[2], 1.0);
  EXPECT_EQ(q.probability[3], 0.0);
  EXPECT_EQ(q.probability[4], 0.0);
  EXPECT_EQ(q.probability[6], 0.0);
  EXPECT_NEAR(q.probability[1], 0.3, 1e-15);
  EXPECT_NEAR(q.probability[5], 0.2 * 0.3 + 0.8, 1e-15);
}

TEST(AnalyzeCommittorDeathTest, BadSetsAreRefusedWithOneLine) {
  TestModel m(3, 1, 2);
  std::string names[] = {"", "a", "b", "c"};
  for (int s = 1; s <= 3; s++)
    m.names[s] = names[s].data();
  const std::pair<const char*, const char*> cases[] = {
      {"a",
       " *** ERROR: --committor needs two sets of states A:B, each separated by commas, "
       "not (a)\n"},
      {"a:b:c",
       " *** ERROR: --committor needs two sets of states A:B, each separated by "
       "commas, not (a:b:c)\n"},
      {":b", " *** ERROR: --committor: set A is empty\n"},
      {"a,#2:", " *** ERROR: --committor: set B is empty\n"},
      {"a,#2:b", " *** ERROR: --committor: state #2 is in both A and B\n"},
      {"a:d", " *** ERROR: --committor: no state is named (d)\n"},
      {"#4:a", " *** ERROR: --committor: no state is numbered (#4): the states are #1 to #3\n"},
      {"a:,b",
       " *** ERROR: --committor: an empty item in (,b): give states by name, or as #N "
       "by number, separated by commas\n"},
  };
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(text);
    COMMITTOR_SETS sets;
    EXPECT_EXIT(parse_committor(&m.pv, text, &sets), testing::ExitedWithCode(1),
                testing::Eq(message));
  }
  COMMITTOR_SETS sets;
  parse_committor(&m.pv, "#3,a:b", &sets);
  EXPECT_EQ(sets.a, (std::vector<int>{3, 1}));
  EXPECT_EQ(sets.b, (std::vector<int>{2}));
}

TEST(AnalyzePassage, TwoStatesGiveGeometricPassageAndReturnTimes) {
  // Leaving 1 with a, 2 with b: from 1, T into 2 is geometric; from 2 it is the return time.
  const double a = 0.3, b = 0.4;
  SPARSE_CHAIN c = chain_of({{1 - a, a}, {b, 1 - b}});
  TestModel m(2, 1, 2);
  for (int start = 1; start <= 2; start++) {
    SCOPED_TRACE(start);
    m.init = {0, start == 1 ? 1.0 : 0.0, start == 2 ? 1.0 : 0.0};
    m.pv.initial_probability = m.init.data();
    FIRST_PASSAGE f;
    solve_passage(&m.pv, &c, {2}, 8, &f);
    double left = 1.0;
    for (int n = 1; n <= 8; n++) {
      const double want = start == 1 ? std::pow(1 - a, n - 1) * a
                          : n == 1   ? 1 - b
                                     : b * std::pow(1 - a, n - 2) * a;
      EXPECT_NEAR(f.probability[n], want, 1e-15) << "n " << n;
      left -= want;
    }
    EXPECT_NEAR(f.beyond, left, 1e-15);
  }
}

// Mass that can no longer reach the target settles the passage: every later step is 0, and
// the mass off the targets stays what it is, however many steps are asked.
TEST(AnalyzePassage, MassThatCanNoLongerReachTheTargetSettlesIt) {
  struct Case {
    const char* name;
    std::vector<std::vector<double>> rows;
    std::vector<double> start;
    double first, beyond;
  };
  const Case cases[] = {
      {"start in another closed class",
       {{0, 1, 0, 0}, {0.5, 0.5, 0, 0}, {0, 0, 0, 1}, {0, 0, 1, 0}},
       {0, 1, 0, 0, 0},
       0.0,
       1.0},
      {"half hits, half is absorbed elsewhere",
       {{0, 0.5, 0.5}, {1, 0, 0}, {0, 0, 1}},
       {0, 1, 0, 0},
       0.5,
       0.5},
  };
  const long steps = 1000000;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    SPARSE_CHAIN c = chain_of(k.rows);
    TestModel m(static_cast<int>(k.rows.size()), 1, 2);
    m.init = k.start;
    m.pv.initial_probability = m.init.data();
    FIRST_PASSAGE f;
    // Far past the work allowed, were every step taken.
    solve_passage(&m.pv, &c, {k.rows.size() == 4 ? 3 : 2}, steps, &f, 1000.0);
    ASSERT_EQ(f.probability.size(), static_cast<std::size_t>(steps) + 1);
    EXPECT_EQ(f.probability[1], k.first);
    EXPECT_EQ(*std::max_element(f.probability.begin() + 2, f.probability.end()), 0.0);
    EXPECT_EQ(f.beyond, k.beyond);
  }
}

TEST(AnalyzePassageDeathTest, RunPastItsWorkUnsettledIsRefusedWithTheEstimate) {
  SPARSE_CHAIN c = chain_of({{1 - 1e-9, 1e-9}, {0.5, 0.5}});
  TestModel m(2, 1, 2);
  m.init = {0, 1, 0};
  m.pv.initial_probability = m.init.data();
  FIRST_PASSAGE f;
  EXPECT_EXIT(solve_passage(&m.pv, &c, {2}, 1000, &f, 100.0), testing::ExitedWithCode(1),
              testing::Eq(" *** ERROR: --passage 1000: about 5.0e+03 transitions followed (1000 "
                          "steps of 4), beyond the limit of 1e+02, and the passage is not "
                          "settled after 20 steps\n"));
}

// ---------------------------------------------------------------- rewards

TEST(AnalyzeRewards, GamblersRuinCollectsItsDurationAndEachEndItsOwnValue) {
  // Value 1 on every inner state: the total before absorption is the game's duration, i (N - i)
  // for a fair game; the ends, absorbing, average their own values.
  const int big_n = 12;
  SPARSE_CHAIN c = gamblers_ruin(big_n, 0.5);
  CHAIN_CLASSES cl;
  find_classes(&c, &cl);
  TestModel m(big_n + 1, 1, 2);
  for (int s = 2; s <= big_n; s++)
    m.val[s] = 1.0;
  m.val[big_n + 1] = -3.0;
  m.init[7] = 1.0;
  std::vector<double> after(m.init);
  step_distribution(&c, &after, 5);
  REWARDS r;
  solve_rewards(&m.pv, &c, &cl, class_distributions(c, cl).data(), &after, 5, {}, &r);
  EXPECT_EQ(r.average, (std::vector<double>{0.0, -3.0}));
  // Five fair steps from 6 of 12 stay inside.
  EXPECT_NEAR(r.after_steps, 1.0, 1e-15);
  ASSERT_EQ(r.transient.size(), static_cast<std::size_t>(big_n - 1));
  for (int i = 1; i < big_n; i++)
    EXPECT_NEAR(r.before_absorption[i - 1], i * (big_n - i), 1e-12) << "i " << i;
}

TEST(AnalyzeRewards, TotalBeforeTheTargetIsUndefinedWhereItMayBeMissed) {
  // 1 reaches the target 2 for certain after a geometric stay; 3 may fall into 4 for good.
  SPARSE_CHAIN c = chain_of({{0.75, 0.25, 0, 0}, {0, 1, 0, 0}, {0, 0.5, 0, 0.5}, {0, 0, 0, 1}});
  CHAIN_CLASSES cl;
  find_classes(&c, &cl);
  TestModel m(4, 1, 2);
  m.val = {0, 2.0, 5.0, -1.0, 1.0};
  REWARDS r;
  solve_rewards(&m.pv, &c, &cl, class_distributions(c, cl).data(), nullptr, -1, {2}, &r);
  EXPECT_NEAR(r.before_target[1], 2.0 * 4, 1e-15);
  EXPECT_EQ(r.before_target[2], 0.0);
  EXPECT_TRUE(std::isnan(r.before_target[3]));
  EXPECT_TRUE(std::isnan(r.before_target[4]));
  // 3 may miss the target, 4 never meets it: told apart in the hitting section's words.
  EXPECT_EQ(r.reach, (std::vector<char>{0, 2, 2, 1, 0}));
  EXPECT_EQ(r.steps, -1);
}

TEST(AnalyzeRewards, ValuesThatAreNotFiniteMakeWhatMeetsThemInfiniteOrUndefined) {
  // 1 and 2 are transient, 1 moving to 2 or to the absorbing 3, 2 only to the absorbing 4; the
  // closed class {5, 6} is never met from them.
  SPARSE_CHAIN c = chain_of({{0, 0.5, 0.5, 0, 0, 0},
                             {0, 0, 0, 1, 0, 0},
                             {0, 0, 1, 0, 0, 0},
                             {0, 0, 0, 1, 0, 0},
                             {0, 0, 0, 0, 0, 1},
                             {0, 0, 0, 0, 1, 0}});
  CHAIN_CLASSES cl;
  find_classes(&c, &cl);
  const std::vector<double> pi = class_distributions(c, cl);
  struct Case {
    std::vector<double> val;  // [0] unused
    double before_1, before_2, average_56;
  };
  const double inf = HUGE_VAL;
  const Case cases[] = {
      {{0, 1, inf, 0, 0, 1, 1}, inf, inf, 1.0}, {{0, -inf, 1, 0, 0, 1, 1}, -inf, 1.0, 1.0},
      {{0, 1, NAN, 0, 0, 1, 1}, NAN, NAN, 1.0}, {{0, inf, -inf, 0, 0, 2, 0}, NAN, -inf, 1.0},
      {{0, 1, 2, 0, 0, inf, 1}, 2.0, 2.0, inf},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::PrintToString(k.val));
    TestModel m(6, 1, 2);
    m.val = k.val;
    std::vector<double> after(7, 0.0);
    after[1] = 1.0;  // where the chain stands after the steps: all on 1
    REWARDS r;
    solve_rewards(&m.pv, &c, &cl, pi.data(), &after, 3, {}, &r);
    ASSERT_EQ(r.transient, (std::vector<int>{1, 2}));
    EXPECT_THAT(r.before_absorption,
                testing::ElementsAre(testing::NanSensitiveDoubleEq(k.before_1),
                                     testing::NanSensitiveDoubleEq(k.before_2)));
    EXPECT_THAT(r.average.back(), testing::NanSensitiveDoubleEq(k.average_56));
    // A state the chain does not stand on adds nothing, whatever its value.
    EXPECT_THAT(r.after_steps, testing::NanSensitiveDoubleEq(k.val[1]));
  }
}

// ---------------------------------------------------------------- agreement with numpy and R

// A chain of the fixtures with its values and initial probabilities.
struct FixtureChain {
  std::vector<std::vector<double>> rows;
  std::unique_ptr<TestModel> model;
};

static void start_chain(FixtureChain* f, int n) {
  f->rows.assign(static_cast<std::size_t>(n), std::vector<double>(static_cast<std::size_t>(n)));
  f->model = std::make_unique<TestModel>(n, 1, 2);
}

// The numbers of one fixture chain, by key and place.
typedef std::map<std::string, std::map<int, double>> EXPECTED;

static void check_numpy_chain(const FixtureChain& f, const std::map<std::string, int>& setting,
                              const std::vector<int>& a, const std::vector<int>& b,
                              const EXPECTED& want, const std::vector<int>& undefined) {
  SPARSE_CHAIN c = chain_of(f.rows);
  CHAIN_CLASSES cl;
  find_classes(&c, &cl);
  const std::vector<double> pi = class_distributions(c, cl);
  const PRAVLIN* pv = &f.model->pv;
  auto close = [](double got, double ref) {
    return std::fabs(got - ref) <= 1e-10 * std::fmax(1, std::fabs(ref));
  };
  std::vector<CLASS_ENTROPY> e;
  solve_entropy(&c, &cl, pi.data(), &e);
  for (const CLASS_ENTROPY& x : e) {
    const int k = static_cast<int>(&x - e.data()) + 1;
    EXPECT_PRED2(close, x.nats, want.at("entropy").at(k)) << "class " << k;
    EXPECT_EQ(x.reversible, want.at("reversible").at(k)) << "class " << k;
  }
  const int target = setting.at("target");
  std::vector<double> after(pv->initial_probability, pv->initial_probability + c.n + 1);
  step_distribution(&c, &after, setting.at("steps"));
  REWARDS r;
  solve_rewards(pv, &c, &cl, pi.data(), &after, setting.at("steps"), {target}, &r);
  for (std::size_t k = 0; k < r.average.size(); k++)
    EXPECT_PRED2(close, r.average[k], want.at("long_run").at(static_cast<int>(k) + 1));
  EXPECT_PRED2(close, r.after_steps, want.at("after_steps").at(0));
  for (std::size_t i = 0; i < r.before_absorption.size(); i++) {
    EXPECT_PRED2(close, r.before_absorption[i],
                 want.at("before_absorption").at(static_cast<int>(i) + 1));
  }
  for (int s = 1; s <= c.n; s++) {
    if (std::find(undefined.begin(), undefined.end(), s) != undefined.end()) {
      EXPECT_TRUE(std::isnan(r.before_target[s])) << "state " << s;
    } else {
      EXPECT_PRED2(close, r.before_target[s], want.at("before_target").at(s)) << "state " << s;
    }
  }
  FIRST_PASSAGE fp;
  solve_passage(pv, &c, {target}, setting.at("passage"), &fp);
  for (int n = 1; n <= setting.at("passage"); n++)
    EXPECT_PRED2(close, fp.probability[n], want.at("passage").at(n)) << "n " << n;
  EXPECT_PRED2(close, fp.beyond, want.at("beyond").at(0));
  COMMITTOR q = committor_of(c, a, b);
  for (int s = 1; s <= c.n; s++)
    EXPECT_PRED2(close, q.probability[s], want.at("committor").at(s)) << "state " << s;
  LUMP_PARTITION part;
  read_lump_partition(pv, "value", &part);
  LUMPED_CHAIN l;
  lump_chain(pv, &c, &part, LUMP_TOLERANCE, &l);
  EXPECT_NEAR(l.violation, want.at("lump_violation").at(0), 1e-15);
}

TEST(AnalyzeFixtures, EveryAnalysisAgreesWithNumpy) {
  std::ifstream in(FIT_SOURCE_DIR "/tests/analyze/analyze_numpy.txt");
  ASSERT_TRUE(in.good());
  std::string line, key;
  FixtureChain f;
  std::map<std::string, int> setting;
  std::vector<int> a, b, undefined;
  EXPECTED want;
  int checked = 0;
  auto finish = [&]() {
    if (f.model != nullptr) {
      SCOPED_TRACE(testing::Message() << "chain " << checked + 1);
      check_numpy_chain(f, setting, a, b, want, undefined);
      checked++;
    }
  };
  while (std::getline(in, line)) {
    std::istringstream words(line);
    words >> key;
    if (key.empty() || key[0] == '#')
      continue;
    int i = 0, j = 0;
    double v = 0;
    std::string text;
    if (key == "chain") {
      finish();
      words >> i;
      start_chain(&f, i);
      want.clear();
      a.clear();
      b.clear();
      undefined.clear();
    } else if (key == "p") {
      words >> i >> j >> v;
      f.rows[i - 1][j - 1] = v;
    } else if (key == "value" || key == "initial") {
      words >> i >> v;
      (key == "value" ? f.model->val : f.model->init)[i] = v;
    } else if (key == "steps" || key == "target") {
      words >> setting[key];
    } else if (key == "passage" && line.find(' ', 8) == std::string::npos) {
      words >> setting[key];
    } else if (key == "a" || key == "b") {
      while (words >> i)
        (key == "a" ? a : b).push_back(i);
    } else if (key == "after_steps" || key == "beyond" || key == "lump_violation") {
      words >> want[key][0];
    } else {
      words >> i >> text;
      if (text == "-")
        undefined.push_back(i);
      else
        want[key][i] = std::stod(text);
    }
  }
  finish();
  EXPECT_EQ(checked, 4);
}

TEST(AnalyzeFixtures, CommittorPassageAndRewardsAgreeWithMarkovchain) {
  std::ifstream in(FIT_SOURCE_DIR "/tests/analyze/analyze_markovchain.txt");
  ASSERT_TRUE(in.good());
  std::string line, key, name;
  FixtureChain f;
  SPARSE_CHAIN c;
  std::map<int, std::map<int, double>> total;  // expectedRewards by n, then state
  int checked = 0;
  // States "1,4" as numbers.
  auto states = [](const std::string& text) {
    std::vector<int> s;
    std::istringstream parts(text);
    std::string part;
    while (std::getline(parts, part, ','))
      s.push_back(std::stoi(part));
    return s;
  };
  auto start_at = [&](int s) {
    std::fill(f.model->init.begin(), f.model->init.end(), 0.0);
    f.model->init[s] = 1.0;
  };
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    std::istringstream words(line);
    words >> key;
    if (key == "chain") {
      int n = 0;
      words >> name >> n;
      start_chain(&f, n);
      total.clear();
      continue;
    }
    if (key == "p" || key == "reward") {
      int i = 0, j = 0;
      double v = 0;
      if (key == "p") {
        words >> i >> j >> v;
        f.rows[i - 1][j - 1] = v;
      } else {
        words >> i >> v;
        f.model->val[i] = v;
      }
      c = chain_of(f.rows);
      continue;
    }
    SCOPED_TRACE(name + ": " + line);
    const PRAVLIN* pv = &f.model->pv;
    if (key == "committorAB") {
      // R's gives the chance of A before B: the committor with the sets the other way round.
      std::string a, b;
      int s = 0;
      double q = 0;
      words >> a >> b >> s >> q;
      EXPECT_NEAR(committor_of(c, states(b), states(a)).probability[s], q, 1e-15);
    } else if (key == "firstPassage") {
      int from = 0, n = 0, j = 0;
      double p = 0;
      words >> from >> n >> j >> p;
      start_at(from);
      FIRST_PASSAGE fp;
      solve_passage(pv, &c, {j}, n, &fp);
      EXPECT_NEAR(fp.probability[n], p, 1e-15);
    } else if (key == "expectedRewards") {
      int n = 0, s = 0;
      words >> n >> s >> total[n][s];
      if (n == 0)
        continue;
      start_at(s);
      std::vector<double> after(f.model->init);
      step_distribution(&c, &after, n);
      CHAIN_CLASSES cl;
      find_classes(&c, &cl);
      REWARDS r;
      solve_rewards(pv, &c, &cl, class_distributions(c, cl).data(), &after, n, {}, &r);
      EXPECT_NEAR(r.after_steps, total[n][s] - total[n - 1][s], 1e-14);
    } else if (key == "expectedRewardsBeforeHittingA") {
      // R sums steps 1..n in single precision; the value of the start comes first here.
      std::string hit;
      int s = 0, n = 0;
      double v = 0;
      words >> hit >> s >> n >> v;
      CHAIN_CLASSES cl;
      find_classes(&c, &cl);
      REWARDS r;
      solve_rewards(pv, &c, &cl, class_distributions(c, cl).data(), nullptr, -1, states(hit), &r);
      EXPECT_NEAR(r.before_target[s] - f.model->val[s], v, 1e-5 * std::fmax(1, std::fabs(v)));
    } else {
      continue;
    }
    checked++;
  }
  EXPECT_GT(checked, 300);
}

// ---------------------------------------------------------------- lumping

static LUMPED_CHAIN lumped(const PRAVLIN* pv, const SPARSE_CHAIN& c, const char* how,
                           double tolerance = LUMP_TOLERANCE) {
  LUMP_PARTITION part;
  read_lump_partition(pv, how, &part);
  if (part.by == LUMP_COARSEST)
    refine_lumpable(&c, tolerance, &part);
  LUMPED_CHAIN l;
  lump_chain(pv, &c, &part, tolerance, &l);
  return l;
}

TEST(AnalyzeLump, ValueBlocksGiveTheLumpedChainAndTheirWidestSpread) {
  // {1, 2} (value 0) moves into {3, 4} with 0.5 from both. {3, 4} (value 1) moves into {1, 2}
  // with 0.5 and 0.25: a spread of 0.25, as into itself.
  SPARSE_CHAIN c = chain_of(
      {{0.25, 0.25, 0.5, 0}, {0.5, 0, 0.25, 0.25}, {0.5, 0, 0, 0.5}, {0.125, 0.125, 0.75, 0}});
  TestModel m(4, 1, 2);
  m.val = {0, 0, 0, 1, 1};
  m.init = {0, 0.5, 0.25, 0.25, 0};
  LUMPED_CHAIN l = lumped(&m.pv, c, "value");
  EXPECT_EQ(l.chain.n, 2);
  EXPECT_EQ(l.lumpable, 0);
  EXPECT_EQ(l.violation, 0.25);
  EXPECT_EQ(l.from, 2);
  EXPECT_EQ(l.into, 1);
  EXPECT_EQ(l.chain.to, (std::vector<int>{1, 2, 1, 2}));
  EXPECT_EQ(l.chain.p, (std::vector<double>{0.5, 0.5, 0.375, 0.625}));
  EXPECT_EQ(l.initial[1], 0.75);
  EXPECT_EQ(l.value[2], 1.0);
}

// A small random chain of k states copied `copies` times, (a, c) the state c k + a: it moves
// where a moves, to a copy drawn at random. Values repeat the small chain's, 0 or 1.
static SPARSE_CHAIN copied_chain(int k, int copies, TestModel* m, std::mt19937* rng) {
  std::uniform_real_distribution<double> u(0.01, 1.0);
  std::uniform_int_distribution<int> pick(0, copies - 1);
  std::vector<std::vector<double>> small(static_cast<std::size_t>(k),
                                         std::vector<double>(static_cast<std::size_t>(k), 0.0));
  for (auto& row : small) {
    double total = 0;
    for (double& p : row)
      total += p = u(*rng) < 0.5 ? 0.0 : u(*rng);
    row[0] += 0.1;
    for (double& p : row)
      p /= total + 0.1;
  }
  const int n = k * copies;
  std::vector<std::vector<double>> rows(static_cast<std::size_t>(n),
                                        std::vector<double>(static_cast<std::size_t>(n), 0.0));
  for (int s = 0; s < n; s++) {
    for (int b = 0; b < k; b++) {
      if (small[s % k][b] > 0)
        rows[s][pick(*rng) * k + b] += small[s % k][b];
    }
    m->val[s + 1] = (s % k) % 2;
  }
  return chain_of(rows);
}

TEST(AnalyzeLump, CoarsestFindsTheCopiesOfASmallChainAndItsChain) {
  std::mt19937 rng(5);
  const int k = 7, copies = 9;
  TestModel m(k * copies, 1, 2);
  SPARSE_CHAIN c = copied_chain(k, copies, &m, &rng);
  LUMPED_CHAIN l = lumped(&m.pv, c, "coarsest");
  ASSERT_EQ(l.chain.n, k);
  EXPECT_EQ(l.lumpable, 1);
  for (int s = 1; s <= c.n; s++)
    EXPECT_EQ(l.part.block_of[s], (s - 1) % k + 1) << "state " << s;
  // Within the tolerance a state whose rows differ by 1e-12 stays; with none it is split.
  const std::size_t e1 = c.row_start[1];
  std::size_t e2 = e1 + 1;
  while (e2 < c.row_start[2] && (c.to[e2] - 1) % k == (c.to[e1] - 1) % k)
    e2++;
  ASSERT_LT(e2, c.row_start[2]);
  c.p[e1] += 1e-12;
  c.p[e2] -= 1e-12;
  EXPECT_EQ(lumped(&m.pv, c, "coarsest").chain.n, k);
  EXPECT_GT(lumped(&m.pv, c, "coarsest", 0.0).chain.n, k);
}

// The coarsest lumpable refinement the slow way: every state's block and probabilities into
// each block as its signature, split by signature until nothing changes. Blocks numbered in
// the order of their lowest state.
static std::vector<int> naive_coarsest(const SPARSE_CHAIN& c, std::vector<int> block) {
  for (std::size_t before = 0;;) {
    std::map<std::pair<int, std::map<int, double>>, int> signature;
    std::vector<int> next(block.size(), 0);
    for (int s = 1; s <= c.n; s++) {
      std::map<int, double> into;
      for (std::size_t e = c.row_start[s]; e < c.row_start[s + 1]; e++)
        into[block[c.to[e]]] += c.p[e];
      next[s] =
          signature.emplace(std::make_pair(block[s], into), signature.size() + 1).first->second;
    }
    block = next;
    if (signature.size() == before)
      break;
    before = signature.size();
  }
  std::map<int, int> renamed;
  for (int s = 1; s <= c.n; s++)
    block[s] = renamed.emplace(block[s], renamed.size() + 1).first->second;
  return block;
}

TEST(AnalyzeLump, CoarsestMatchesTheSlowRefinementOnRandomChains) {
  // Probabilities in eighths, so that every sum is exact in any order and the tolerance 0.
  std::mt19937 rng(3);
  for (int round = 0; round < 40; round++) {
    const int k = 2 + round % 6, copies = 1 + round % 4, n = k * copies;
    std::vector<std::vector<int>> small(static_cast<std::size_t>(k));
    for (auto& row : small) {
      for (int eighth = 0; eighth < 8; eighth++)
        row.push_back(static_cast<int>(rng() % static_cast<unsigned>(k)));
    }
    std::vector<std::vector<double>> rows(static_cast<std::size_t>(n),
                                          std::vector<double>(static_cast<std::size_t>(n), 0.0));
    TestModel m(n, 1, 2);
    for (int s = 0; s < n; s++) {
      for (int b : small[static_cast<std::size_t>(s % k)])
        rows[s][static_cast<int>(rng() % static_cast<unsigned>(copies)) * k + b] += 0.125;
      m.val[s + 1] = (s % k) % (1 + round % 3);
    }
    SCOPED_TRACE(testing::Message() << "round " << round << ", " << k << " states x " << copies);
    SPARSE_CHAIN c = chain_of(rows);
    LUMP_PARTITION values;
    read_lump_partition(&m.pv, "value", &values);
    const LUMPED_CHAIN l = lumped(&m.pv, c, "coarsest", 0.0);
    EXPECT_EQ(l.part.block_of, naive_coarsest(c, values.block_of));
    EXPECT_EQ(l.violation, 0.0);
  }
}

TEST(AnalyzeLump, FileGivesStatesByNameOrNumberAndBlocksByTheirLastWord) {
  TestModel m(4, 1, 2);
  std::string names[] = {"", "dry", "light rain", "rain", "storm"};
  for (int s = 1; s <= 4; s++)
    m.names[s] = names[s].data();
  // A byte-order mark before the first state is skipped.
  TempFile file("\xEF\xBB\xBFrain, wet\n\n  light rain   wet\r\n#1 dry\nstorm,wild\n");
  LUMP_PARTITION part;
  read_lump_partition(&m.pv, file.path.c_str(), &part);
  EXPECT_EQ(part.by, LUMP_FILE);
  EXPECT_EQ(part.block_of, (std::vector<int>{0, 1, 2, 2, 3}));
  EXPECT_EQ(part.name, (std::vector<std::string>{"", "dry", "wet", "wild"}));
}

TEST(AnalyzeLumpDeathTest, BadFilesAreRefusedWithOneLine) {
  TestModel m(3, 1, 2);
  std::string names[] = {"", "a", "b", "c"};
  for (int s = 1; s <= 3; s++)
    m.names[s] = names[s].data();
  const std::pair<std::string, const char*> cases[] = {
      {"a x\nb\n", ":2: needs a state and its block"},
      {"a x\n, y\n", ":2: needs a state and its block"},
      {"a x\nd y\n", ":2: no state is named (d)"},
      {"a x\n#1 y\n", ":2: state #1 is given a block twice"},
      {"a x\nb y\n", ": state #3 has no block"},
      {"a x<y\n", ":1: a block's name cannot hold \"<\""},
      {std::string("a x\0y\nb x\0z\nc x\n", 16), ":1: a block's name cannot hold a NUL byte"},
  };
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(text);
    TempFile file(text);
    LUMP_PARTITION part;
    EXPECT_EXIT(read_lump_partition(&m.pv, file.path.c_str(), &part), testing::ExitedWithCode(1),
                testing::Eq(" *** ERROR: " + file.path + message + "\n"));
  }
}

TEST(AnalyzeLump, RowsAreMovedByAFewUlpsToTotalExactlyOneAddedInOrder) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 2000; trial++) {
    std::vector<double> row(1 + trial % 9);
    double total = 0.0;
    for (double& p : row)
      total += p = u(rng) * (trial % 3 == 0 ? 1e-12 : 1.0);
    for (double& p : row)
      p /= total;
    std::vector<double> moved = row;
    total_exactly_one(moved.data(), moved.size());
    double sum = 0.0;
    for (std::size_t i = 0; i < row.size(); i++) {
      sum += moved[i];
      EXPECT_NEAR(moved[i], row[i], 1e-15);
    }
    EXPECT_EQ(sum, 1.0) << "trial " << trial;
  }
}

TEST(AnalyzeLump, WrittenConfigurationReadsBackAsTheLumpedChain) {
  std::mt19937 rng(11);
  TestModel m(15, 3, 7);
  SPARSE_CHAIN c = copied_chain(5, 3, &m, &rng);
  m.init[1] = 0.25;
  m.init[9] = 0.75;
  LUMPED_CHAIN l = lumped(&m.pv, c, "value");
  TempFile out("");
  write_lumped_configuration(out.path.c_str(), &m.pv, &l);
  PRAVLIN pv;
  init_pravlin(&pv);
  pv.xmlfilename = out.path.data();
  std::vector<TRANSITION_ENTRY> list;
  testing::internal::CaptureStderr();
  open_configuration(&pv);
  read_configuration(&pv, READ_LIST, 0, &list);
  error_check_transitions(&pv, &list);
  // Every row, and the initial probabilities, total exactly 1: nothing is rescaled.
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_EQ(pv.nbr_states, 2);
  EXPECT_EQ(pv.nbr_chains, 3);
  EXPECT_EQ(pv.nbr_years, 7);
  EXPECT_STREQ(pv.state_name[2], "1");
  ASSERT_EQ(list.size(), l.chain.to.size());
  for (std::size_t e = 0; e < list.size(); e++) {
    EXPECT_EQ(list[e].to, l.chain.to[e]);
    EXPECT_NEAR(list[e].probability, l.chain.p[e], 1e-15);
  }
  for (int b = 1; b <= 2; b++) {
    EXPECT_EQ(pv.val[b], l.value[b]);
    EXPECT_NEAR(pv.initial_probability[b], l.initial[b], 1e-15);
  }
  free_tables(&pv);
  free_XMLENTITY(pv.xml);
}
