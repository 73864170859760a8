// fit_more_test.cc - pravlin-fit beyond one chain: groups and their test, higher orders and
// their comparison, and posterior draws carried to the answers.
// Part of pravlin; see README.md.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fit.h"
#include "fit/fit_test_cells.h"
#include "fit_draws.h"
#include "fit_extras.h"
#include "fit_groups.h"
#include "fit_order.h"
#include "fit_read.h"

using testing::HasSubstr;

// P(from -> to) of a model by label.
static double p(const FIT_DATA& d, const FIT_MODEL& m, const std::string& from,
                const std::string& to) {
  return cell_of(d, m, from, to).probability;
}

// Each text a file of its own, read as the program reads several inputs.
static void read_files(const FIT_OPTIONS& given, const std::vector<std::string>& texts,
                       FIT_DATA* data) {
  FIT_OPTIONS opt = given;
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < texts.size(); i++) {
    paths.push_back(testing::TempDir() + "fit_more_" + std::to_string(getpid()) + "_" +
                    std::to_string(i) + ".txt");
    std::ofstream(paths.back(), std::ios::binary) << texts[i];
  }
  for (const std::string& path : paths)
    opt.inputs.push_back(path.c_str());
  opt.input = opt.inputs[0];
  fit_read(&opt, data);
  for (const std::string& path : paths)
    std::remove(path.c_str());
}

// ---- groups --------------------------------------------------------------------------------

TEST(FitGroups, EachGroupFitsAsItsOwnDataAndTheTestIsTheLikelihoodGain) {
  FIT_OPTIONS opt = fit_default_options();
  opt.group_column = "g";
  opt.test_flag = 1;
  const std::string text =
      "id,t,state,g\n1,1,a,x\n1,2,b,x\n1,3,a,x\n1,4,b,x\n1,5,b,x\n"
      "2,1,a,y\n2,2,a,y\n2,3,a,y\n2,4,b,y\n2,5,a,y\n"
      "3,1,b,y\n3,2,a,y\n";
  FIT_DATA data;
  fit_read_text(&opt, text, "long.csv", &data);
  FIT_MODEL pooled;
  fit_estimate(&opt, &data, &pooled);
  FIT_EXTRAS extras;
  fit_groups(&opt, &data, &extras);
  ASSERT_EQ(extras.groups.size(), 2u);
  const char* alone[] = {"a b a b b\n", "a a a b a\nb a\n"};
  double gain = -pooled.log_likelihood;
  for (std::size_t g = 0; g < 2; g++) {
    SCOPED_TRACE(extras.groups[g].name);
    FIT_OPTIONS plain = fit_default_options();
    plain.states = {"a", "b"};
    FIT_DATA own;
    FIT_MODEL own_model;
    fit_read_text(&plain, alone[g], "own.txt", &own);
    fit_estimate(&plain, &own, &own_model);
    for (const char* from : {"a", "b"}) {
      for (const char* to : {"a", "b"}) {
        EXPECT_EQ(p(extras.groups[g].data, extras.groups[g].model, from, to),
                  p(own, own_model, from, to));
      }
    }
    EXPECT_EQ(extras.groups[g].data.nbr_sequences, own.nbr_sequences);
    gain += extras.groups[g].model.log_likelihood;
  }
  EXPECT_NEAR(extras.group_test.statistic, 2 * gain, 1e-12);
  // Rows a and b are seen in both groups, each with both destinations: 1 + 1.
  EXPECT_EQ(extras.group_test.df, 2);
}

TEST(FitGroups, ATransitionAcrossAGroupChangeBelongsToTheGroupItLeaves) {
  // One id whose group changes along the way: x x y y x x y y.
  const std::string text =
      "id,t,state,phase\n1,1,a,x\n1,2,a,x\n1,3,b,y\n1,4,b,y\n1,5,a,x\n1,6,b,x\n1,7,a,y\n"
      "1,8,a,y\n";
  FIT_OPTIONS plain = fit_default_options();
  FIT_DATA alone;
  fit_read_text(&plain, text, "long.csv", &alone);
  FIT_MODEL without;
  fit_estimate(&plain, &alone, &without);
  FIT_OPTIONS opt = fit_default_options();
  opt.group_column = "phase";
  FIT_DATA data;
  fit_read_text(&opt, text, "long.csv", &data);
  FIT_MODEL together;
  fit_estimate(&opt, &data, &together);
  // All groups together are the fit without groups: a -> a 2 of 4.
  EXPECT_EQ(p(data, together, "a", "a"), 0.5);
  EXPECT_EQ(data.nbr_sequences, 1u);
  for (const char* from : {"a", "b"}) {
    for (const char* to : {"a", "b"})
      EXPECT_EQ(p(data, together, from, to), p(alone, without, from, to));
  }
  // x: a a, a -> b (into y), a b, b -> a (into y); y: b b, b -> a (into x), a a.
  FIT_EXTRAS extras;
  fit_groups(&opt, &data, &extras);
  ASSERT_EQ(extras.groups.size(), 2u);
  const FIT_GROUP& x = extras.groups[0];
  const FIT_GROUP& y = extras.groups[1];
  EXPECT_EQ(p(x.data, x.model, "a", "b"), 2.0 / 3);
  EXPECT_EQ(p(x.data, x.model, "b", "a"), 1.0);
  EXPECT_EQ(p(y.data, y.model, "b", "b"), 0.5);
  EXPECT_EQ(p(y.data, y.model, "a", "a"), 1.0);
  EXPECT_EQ(x.data.nbr_transitions + y.data.nbr_transitions, data.nbr_transitions);
  // Each group's sequences begin where the id enters it: x at a twice, y at b and at a.
  EXPECT_EQ(x.data.nbr_sequences, 2u);
  EXPECT_EQ(y.data.nbr_sequences, 2u);
  EXPECT_EQ(x.model.initial[0], 1.0);  // state 0 is a, the first label
  EXPECT_EQ(y.model.initial[0], 0.5);
}

TEST(FitGroups, SeveralCountMatricesTestAsTheSequencesTheyCount) {
  FIT_OPTIONS opt = fit_default_options();
  opt.test_flag = 1;
  FIT_DATA matrices;
  read_files(opt, {",a,b\na,3,2\nb,1,0\n", ",a,b\na,1,5\nb,3,1\n"}, &matrices);
  FIT_EXTRAS from_matrices;
  fit_groups(&opt, &matrices, &from_matrices);
  opt.groups_flag = 1;
  FIT_DATA sequences;
  read_files(opt, {"a a a a b a b\n", "a a b a b a b b a b\na b\n"}, &sequences);
  FIT_EXTRAS from_sequences;
  fit_groups(&opt, &sequences, &from_sequences);
  EXPECT_EQ(from_matrices.group_test.statistic, from_sequences.group_test.statistic);
  EXPECT_EQ(from_matrices.group_test.df, from_sequences.group_test.df);
  EXPECT_EQ(from_matrices.groups[1].model.log_likelihood,
            from_sequences.groups[1].model.log_likelihood);
}

TEST(FitGroups, TextsInMemoryAreReadAsSeveralFilesAreEachAGroupByItsName) {
  FIT_OPTIONS opt = fit_default_options();
  opt.groups_flag = 1;
  const std::vector<std::string> texts = {"a a b a\nb b a\n", "a b b\n"};
  FIT_DATA files, memory;
  read_files(opt, texts, &files);
  fit_read_texts(&opt, {texts[0], texts[1]}, {"early", "late"}, &memory);
  EXPECT_EQ(memory.name, "early, late");
  EXPECT_EQ(memory.groups.names, (std::vector<std::string>{"early", "late"}));
  EXPECT_EQ(memory.group_flag, 1);
  EXPECT_EQ(memory.group_sequences, files.group_sequences);
  FIT_EXTRAS from_files, from_memory;
  fit_groups(&opt, &files, &from_files);
  fit_groups(&opt, &memory, &from_memory);
  ASSERT_EQ(from_memory.groups.size(), 2u);
  for (std::size_t g = 0; g < 2; g++) {
    EXPECT_EQ(from_memory.groups[g].data.nbr_transitions,
              from_files.groups[g].data.nbr_transitions);
    EXPECT_EQ(from_memory.groups[g].model.log_likelihood,
              from_files.groups[g].model.log_likelihood);
  }
}

// ---- order ---------------------------------------------------------------------------------

TEST(FitOrder, TupleChainCountsTheWindowsOfEachRunOfObservations) {
  FIT_OPTIONS opt = fit_default_options();
  opt.order = 2;
  FIT_DATA data, tuples;
  fit_read_text(&opt, "a b a b b a\na b b\na b NA a b a\n", "data.txt", &data);
  fit_tuples(&opt, &data, 2, &tuples);
  FIT_MODEL m;
  fit_estimate(&opt, &tuples, &m);
  // a|b -> b|a in the first and third, a|b -> b|b in the first and second; nothing across NA.
  EXPECT_DOUBLE_EQ(p(tuples, m, "a|b", "b|a"), 0.5);
  EXPECT_DOUBLE_EQ(p(tuples, m, "a|b", "b|b"), 0.5);
  EXPECT_DOUBLE_EQ(p(tuples, m, "b|a", "a|b"), 1.0);
  EXPECT_DOUBLE_EQ(p(tuples, m, "b|b", "b|a"), 1.0);
  EXPECT_EQ(tuples.nbr_transitions, 6u);
  EXPECT_EQ(tuples.nbr_sequences, 3u);
  EXPECT_EQ(tuples.nbr_breaks, 1u);
}

TEST(FitOrder, OrdersAreScoredOnTheSameObservationsAndTestedByTheirGain) {
  std::mt19937_64 rng(5);
  std::string text;
  std::uint64_t expected = 0;
  for (int s = 0; s < 4; s++) {
    const int length = 50 + s * 7;
    for (int i = 0; i < length; i++)
      text += std::string(1, static_cast<char>('a' + rng() % 3)) + " ";
    text += "\n";
    expected += static_cast<std::uint64_t>(length - 3);
  }
  FIT_OPTIONS opt = fit_default_options();
  opt.select_order = 3;
  FIT_DATA data;
  fit_read_text(&opt, text, "data.txt", &data);
  FIT_ORDER_CHOICE choice;
  fit_select_order(&data, 3, &choice);
  EXPECT_EQ(choice.observations, expected);
  ASSERT_EQ(choice.rows.size(), 4u);
  // Order 0: the frequencies of the observations themselves.
  std::vector<double> n(3, 0);
  for (std::size_t i = 0, pos = 0; i < text.size(); i += 2) {
    if (text[i] == '\n') {
      i--;
      pos = 0;
      continue;
    }
    if (pos++ >= 3)
      n[static_cast<std::size_t>(text[i] - 'a')]++;
  }
  double ll0 = 0;
  for (const double c : n)
    ll0 += c * std::log(c / static_cast<double>(expected));
  EXPECT_NEAR(choice.rows[0].log_likelihood, ll0, 1e-9);
  for (std::size_t r = 0; r < 3; r++) {
    SCOPED_TRACE(r);
    EXPECT_NEAR(choice.rows[r].against_next.statistic,
                2 * (choice.rows[r + 1].log_likelihood - choice.rows[r].log_likelihood), 1e-9);
    EXPECT_EQ(choice.rows[r].parameters, std::pow(3.0, static_cast<double>(r)) * 2);
  }
}

// ---- draws ---------------------------------------------------------------------------------

static FIT_DRAWS draws_of(FIT_OPTIONS opt, const std::string& text) {
  FIT_DATA data;
  FIT_MODEL model;
  fit_read_text(&opt, text, "data.txt", &data);
  fit_estimate(&opt, &data, &model);
  FIT_DRAWS d;
  fit_draw(&opt, &data, &model, &d);
  return d;
}

TEST(FitDraws, AnyNumberOfThreadsDrawsTheSameAnswers) {
  FIT_OPTIONS opt = fit_default_options();
  opt.draws = 301;
  const std::string text = "a b c a a b c c a b\nb c a c b a\n";
  opt.threads = 1;
  const FIT_DRAWS one = draws_of(opt, text);
  for (const int threads : {2, 3, 8}) {
    SCOPED_TRACE(threads);
    opt.threads = threads;
    const FIT_DRAWS many = draws_of(opt, text);
    ASSERT_EQ(many.answers.size(), one.answers.size());
    for (std::size_t i = 0; i < one.answers.size(); i++) {
      EXPECT_EQ(many.answers[i].median, one.answers[i].median);
      EXPECT_EQ(many.answers[i].lower, one.answers[i].lower);
      EXPECT_EQ(many.answers[i].upper, one.answers[i].upper);
    }
  }
  opt.seed = 2;
  EXPECT_NE(draws_of(opt, text).answers[0].median, one.answers[0].median);
}

TEST(FitDraws, ANeverSeenTransitionStaysImpossibleWithoutAPrior) {
  // c absorbs: under maximum likelihood every draw keeps it so, and a and b transient.
  FIT_OPTIONS opt = fit_default_options();
  opt.draws = 200;
  const FIT_DRAWS d = draws_of(opt, "a b c c\na a b c\nb a c\n");
  EXPECT_EQ(d.classes_changed, 0);
  for (const FIT_ANSWER& a : d.answers) {
    SCOPED_TRACE(a.item + " " + a.from);
    if (!a.none.empty())
      continue;  // the Kemeny constant an absorbing chain lacks
    EXPECT_EQ(a.draws, 200u);
    EXPECT_LE(a.lower, a.median);
    EXPECT_LE(a.median, a.upper);
    if (a.item == "absorption" || a.item == "stationary") {
      EXPECT_EQ(a.lower, 1.0);  // one closed class: certain
    }
    if (a.item == "steps_to_absorption") {
      EXPECT_GE(a.lower, 1.0);
    }
  }
}

TEST(FitDraws, ManyObservationsNarrowTheIntervalAroundTheEstimate) {
  std::mt19937_64 rng(9);
  std::string text;
  char s = 'a';
  for (int i = 0; i < 200000; i++) {
    // a -> b 0.3, b -> a 0.6: pi(a) = 2/3.
    const double u = std::uniform_real_distribution<double>(0, 1)(rng);
    s = s == 'a' ? (u < 0.3 ? 'b' : 'a') : (u < 0.6 ? 'a' : 'b');
    text += s;
    text += ' ';
  }
  FIT_OPTIONS opt = fit_default_options();
  opt.draws = 400;
  const FIT_DRAWS d = draws_of(opt, text + "\n");
  ASSERT_EQ(d.answers[0].item, "stationary");
  EXPECT_LT(d.answers[0].upper - d.answers[0].lower, 0.02);
  EXPECT_NEAR(d.answers[0].median, 2.0 / 3.0, 0.01);
  // The entropy rate: pi(a) H(0.3) + pi(b) H(0.6), in nats.
  const auto h = [](double q) { return -q * std::log(q) - (1 - q) * std::log(1 - q); };
  const FIT_ANSWER& e = d.answers[4];
  ASSERT_EQ(e.item, "entropy_rate");
  EXPECT_LT(e.lower, 2.0 / 3.0 * h(0.3) + 1.0 / 3.0 * h(0.6));
  EXPECT_GT(e.upper, 2.0 / 3.0 * h(0.3) + 1.0 / 3.0 * h(0.6));
  // The Kemeny constant: 1 / (0.3 + 0.6).
  const FIT_ANSWER& k = d.answers[5];
  ASSERT_EQ(k.item, "kemeny_constant");
  EXPECT_LT(k.lower, 1 / 0.9);
  EXPECT_GT(k.upper, 1 / 0.9);
  EXPECT_LT(k.upper - k.lower, 0.02);
}

// The Kemeny constant of each closed class of more than one state. Given probabilities are
// not drawn, nor are the rows of a maximum likelihood fit with one destination each, so every
// draw is the chain itself and the interval shrinks to its constant.
TEST(FitDrawsKemeny, EachClassOfSeveralStatesGetsItsConstantOrSaysWhyNot) {
  struct Expected {
    std::string from;  // the class, named as pravlin-analyze names it
    double k;
    std::string none;  // "": a number
  };
  const std::string whole = "class 1, the whole chain";
  std::string cycle_2001;
  for (int i = 0; i <= 2001; i++) {
    cycle_2001 += 's';
    cycle_2001 += std::to_string(i % 2001);
    cycle_2001 += ' ';
  }
  const struct {
    const char* name;
    std::string text;
    std::vector<Expected> kemeny;
  } cases[] = {
      // P = [[1-a, a], [b, 1-b]]: K = 1 / (a + b).
      {"two states, a 0.3 and b 0.2", ",a,b\na,0.7,0.3\nb,0.2,0.8\n", {{whole, 2.0, ""}}},
      {"two states, a 0.9 and b 0.6", ",a,b\na,0.1,0.9\nb,0.6,0.4\n", {{whole, 1 / 1.5, ""}}},
      // The eigenvalues besides 1 are the other cube roots of 1: K = (3 - 1) / 2.
      {"a cycle of three", ",a,b,c\na,0,1,0\nb,0,0,1\nc,1,0,0\n", {{whole, 1.0, ""}}},
      // Each class as a chain of its own; the transient state and the lone absorbing one
      // have none.
      {"two classes, a transient state and an absorbing one",
       ",a,b,c,d,e,f\na,0.5,0.5,0,0,0,0\nb,0.5,0.5,0,0,0,0\nc,0,0,0,1,0,0\nd,0,0,1,0,0,0\n"
       "e,0.25,0,0.25,0,0.25,0.25\nf,0,0,0,0,0,1\n",
       {{"class 1", 1.0, ""}, {"class 2", 0.5, ""}}},
      {"absorbing", ",a,b,c\na,0.5,0.25,0.25\nb,0.25,0.5,0.25\nc,0,0,1\n", {{"", 0, "absorbing"}}},
      {"a class beyond the exact constant's size", cycle_2001 + "\n", {{whole, 0, "not_drawn"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FIT_OPTIONS opt = fit_default_options();
    opt.draws = 7;
    const FIT_DRAWS d = draws_of(opt, c.text);
    std::vector<const FIT_ANSWER*> found;
    for (const FIT_ANSWER& a : d.answers) {
      if (a.item == "kemeny_constant")
        found.push_back(&a);
    }
    ASSERT_EQ(found.size(), c.kemeny.size());
    for (std::size_t j = 0; j < found.size(); j++) {
      const FIT_ANSWER& a = *found[j];
      EXPECT_EQ(a.from, c.kemeny[j].from);
      EXPECT_EQ(a.none, c.kemeny[j].none);
      if (!a.none.empty()) {
        EXPECT_EQ(a.draws, 0u);
        continue;
      }
      EXPECT_EQ(a.draws, 7u);
      EXPECT_NEAR(a.median, c.kemeny[j].k, 1e-13);
      EXPECT_EQ(a.lower, a.median);
      EXPECT_EQ(a.upper, a.median);
    }
  }
}

// The table and the CSV's line for an absorbing chain are in the case fit_draws_same_bytes.
TEST(FitDrawsKemeny, ListingAndCsvGiveTheConstantAsTheEntropyRateAndNoNumberWhenAbsorbing) {
  FIT_OPTIONS opt = fit_default_options();
  opt.draws = 3;
  const auto written = [&](const std::string& matrix, bool csv) {
    FIT_DATA data;
    FIT_MODEL model;
    FIT_EXTRAS extras;
    extras.draws_flag = 1;
    fit_read_text(&opt, matrix, "m.csv", &data);
    fit_estimate(&opt, &data, &model);
    fit_draw(&opt, &data, &model, &extras.draws);
    char* buf = nullptr;
    std::size_t size = 0;
    FILE* out = open_memstream(&buf, &size);
    if (csv)
      fit_write_extras_csv(out, &opt, &data, &model, &extras);
    else
      fit_write_extras(out, &opt, &data, &model, &extras);
    std::fclose(out);
    std::string text = buf;
    std::free(buf);
    return text;
  };
  const std::string two = ",a,b\na,0.7,0.3\nb,0.2,0.8\n", ends = ",a,b\na,0.5,0.5\nb,0,1\n";
  EXPECT_THAT(written(two, false),
              HasSubstr("\n  kemeny_constant class 1, the whole chain  2  [2, 2]\n"));
  EXPECT_THAT(written(two, true),
              HasSubstr("\nkemeny_constant,\"class 1, the whole chain\",,3,,2,2,2,,\n"));
  EXPECT_THAT(written(ends, false),
              HasSubstr("\n  kemeny_constant  none: the chain is absorbing\n"));
}
