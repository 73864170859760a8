// fit_run.cc - the order of pravlin-fit's stages, from the data read to every estimate.
// Part of pravlin; see README.md.
#include "fit_run.h"

#include "fit_draws.h"
#include "fit_groups.h"
#include "fit_options.h"
#include "fit_order.h"
#include "fit_periods.h"
#include "fit_read.h"

void fit_run(const FIT_OPTIONS* opt, FIT_RUN* run) {
  FIT_DATA* data = &run->data;
  fit_check_data(opt, data);
  run->fitted = data;
  if (opt->order > 1) {
    fit_tuples(opt, data, opt->order, &run->tuples);
    run->fitted = &run->tuples;
  }
  FIT_MODEL* model = &run->model;
  fit_estimate(opt, run->fitted, model);
  if (opt->order > 1)
    fit_tuple_parameters(data, &run->tuples, model);
  if (opt->test_flag && !data->matrix_flag) {
    fit_markov_test(run->fitted, &model->markov);
    fit_homogeneity_test(run->fitted, opt->blocks, &model->homogeneity);
  }
  FIT_EXTRAS* extras = &run->extras;
  if (data->group_flag)
    fit_groups(opt, data, extras);
  if (!opt->period_first.empty())
    fit_periods(opt, data, extras);
  if (opt->select_order > 0) {
    extras->order_choice_flag = 1;
    fit_select_order(data, opt->select_order, &extras->order_choice);
  }
  if (opt->draws > 0) {
    extras->draws_flag = 1;
    fit_draw(opt, run->fitted, model, &extras->draws);
  }
}

void fit_write_configuration(FILE* out, const FIT_OPTIONS* opt, const FIT_RUN* run) {
  if (!opt->period_first.empty())
    fit_write_config_periods(out, opt, run->fitted, &run->model, &run->extras);
  else
    fit_write_config(out, opt, run->fitted, &run->model);
}
