// fit_draws_test.cc - posterior draws carried to the answers: the same for any number of
// threads, an unseen transition, the intervals, and the Kemeny constant of each class.
// Part of pravlin; see README.md.
#include "fit_draws.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "fit.h"
#include "fit/fit_test_cells.h"
#include "fit_extras.h"
#include "fit_read.h"

using testing::HasSubstr;

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
