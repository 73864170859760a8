// fit_run_test.cc - the stages fit_run runs, as the options ask for them.
// Part of pravlin; see README.md.
#include "fit_run.h"

#include <gtest/gtest.h>

#include "fit.h"
#include "fit_read.h"

TEST(FitRun, RunsTheStagesTheOptionsAskForOnTheDataOrItsTuples) {
  const struct {
    const char* name;
    long order;
    long select_order;
    int test_flag;
    long draws;
  } runs[] = {
      {"first order alone", 1, 0, 0, 0},
      {"second order, tested", 2, 0, 1, 0},
      {"orders compared, with draws", 1, 2, 0, 5},
  };
  for (const auto& r : runs) {
    SCOPED_TRACE(r.name);
    FIT_OPTIONS opt = fit_default_options();
    opt.order = r.order;
    opt.select_order = r.select_order;
    opt.test_flag = r.test_flag;
    opt.draws = r.draws;
    FIT_RUN run;
    fit_read_text(&opt, "a b a b b a a b\na b b a b\nb a a b a b\n", "data.txt", &run.data);
    fit_run(&opt, &run);
    EXPECT_EQ(run.fitted, r.order > 1 ? &run.tuples : &run.data);
    EXPECT_EQ(run.model.rows.size(), run.fitted->labels.names.size());
    EXPECT_EQ(run.model.markov.df > 0, r.test_flag != 0);
    EXPECT_EQ(run.extras.order_choice_flag, r.select_order > 0);
    EXPECT_EQ(run.extras.order_choice.rows.size(), r.select_order > 0 ? 3u : 0u);
    EXPECT_EQ(run.extras.draws_flag, r.draws > 0);
    EXPECT_EQ(run.extras.draws.draws, r.draws);
  }
}
