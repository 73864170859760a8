// fit_extras.cc - pravlin-fit's summary beyond the one chain: each group's fit and the test
// that they agree, the comparison of orders, and the answers over posterior draws.
// Part of pravlin; see README.md.
#include <cmath>

#include "fit.h"

static void text_answer(FILE* out, const FIT_ANSWER& a) {
  std::fprintf(out, "  %s %s", a.item.c_str(), a.from.c_str());
  if (!a.to.empty())
    std::fprintf(out, " -> %s", a.to.c_str());
  if (a.draws == 0)
    std::fprintf(out, "  no draws\n");
  else
    std::fprintf(out, "  %.6g  [%.6g, %.6g]\n", a.median, a.lower, a.upper);
}

void fit_write_extras(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                      const FIT_MODEL* model, const FIT_EXTRAS* extras) {
  (void)data;
  (void)model;
  if (!extras->groups.empty()) {
    std::fprintf(out, "groups: %zu\n", extras->groups.size());
    if (extras->group_test_flag) {
      const FIT_TEST& t = extras->group_test;
      std::fprintf(out, "same chain in every group: G2 %.6f, df %ld, p-value %.6g\n", t.statistic,
                   t.df, t.p_value);
    }
    for (const FIT_GROUP& g : extras->groups) {
      std::fprintf(out, "group %s: %lu sequence%s, %lu transition%s, log-likelihood %.6f\n",
                   g.name.c_str(), static_cast<unsigned long>(g.data.nbr_sequences),
                   g.data.nbr_sequences == 1 ? "" : "s",
                   static_cast<unsigned long>(g.data.nbr_transitions),
                   g.data.nbr_transitions == 1 ? "" : "s", g.model.log_likelihood);
      fit_write_rows(out, opt, &g.data, &g.model);
    }
  }
  if (extras->order_choice_flag) {
    const FIT_ORDER_CHOICE& c = extras->order_choice;
    const std::size_t top = c.rows.size() - 1;
    std::fprintf(out,
                 "orders 0 to %zu on the same %lu observations (the first %zu of each sequence "
                 "left out):\n",
                 top, static_cast<unsigned long>(c.observations), top);
    std::fprintf(out,
                 "  order  log-likelihood  parameters  AIC  BIC  G2 against next  df  p-value\n");
    for (std::size_t r = 0; r <= top; r++) {
      const FIT_ORDER_ROW& row = c.rows[r];
      std::fprintf(out, "  %zu  %.6f  %.15g  %.6f  %.6f", r, row.log_likelihood, row.parameters,
                   row.aic, row.bic);
      if (r < top) {
        std::fprintf(out, "  %.6f  %ld  %.6g\n", row.against_next.statistic, row.against_next.df,
                     row.against_next.p_value);
      } else {
        std::fprintf(out, "\n");
      }
    }
    std::fprintf(out, "BIC chooses order %ld, AIC order %ld\n", c.bic_order, c.aic_order);
  }
  if (extras->draws_flag) {
    const FIT_DRAWS& d = extras->draws;
    std::fprintf(out,
                 "posterior draws: %ld (seed %llu), medians and equal-tailed intervals at level "
                 "%g; %ld changed the chain's classes and are left out\n",
                 d.draws, static_cast<unsigned long long>(d.seed), opt->confidence,
                 d.classes_changed);
    for (const FIT_ANSWER& a : d.answers)
      text_answer(out, a);
  }
}

static std::string csv_number(double x) {
  return std::isnan(x) ? std::string() : fit_number(x);
}

void fit_write_extras_csv(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                          const FIT_MODEL* model, const FIT_EXTRAS* extras) {
  (void)opt;
  (void)data;
  (void)model;
  if (extras->group_test_flag) {
    const FIT_TEST& t = extras->group_test;
    std::fprintf(out, "group_test,,,,%zu,%s,,,%ld,%s\n", extras->groups.size(),
                 fit_number(t.statistic).c_str(), t.df, fit_number(t.p_value).c_str());
  }
  // Each group's rows follow its own line.
  for (const FIT_GROUP& g : extras->groups) {
    std::fputs("group,", out);
    fit_csv_text(out, g.name);
    std::fprintf(out, ",,%lu,%lu,%s,,,,\n", static_cast<unsigned long>(g.data.nbr_sequences),
                 static_cast<unsigned long>(g.data.nbr_transitions),
                 fit_number(g.model.log_likelihood).c_str());
    fit_write_rows_csv(out, &g.data, &g.model, "group_row", "group_transition");
  }
  if (extras->order_choice_flag) {
    const FIT_ORDER_CHOICE& c = extras->order_choice;
    for (std::size_t r = 0; r < c.rows.size(); r++) {
      const FIT_ORDER_ROW& row = c.rows[r];
      std::fprintf(out, "order_log_likelihood,,,%zu,%lu,%s,,,,\n", r,
                   static_cast<unsigned long>(c.observations),
                   fit_number(row.log_likelihood).c_str());
      std::fprintf(out, "order_parameters,,,%zu,,%s,,,,\n", r, fit_number(row.parameters).c_str());
      std::fprintf(out, "order_aic,,,%zu,,%s,,,,\n", r, fit_number(row.aic).c_str());
      std::fprintf(out, "order_bic,,,%zu,,%s,,,,\n", r, fit_number(row.bic).c_str());
      if (r + 1 < c.rows.size()) {
        std::fprintf(out, "order_test,,,%zu,,%s,,,%ld,%s\n", r,
                     fit_number(row.against_next.statistic).c_str(), row.against_next.df,
                     fit_number(row.against_next.p_value).c_str());
      }
    }
  }
  if (extras->draws_flag) {
    const FIT_DRAWS& d = extras->draws;
    std::fprintf(out, "draws,,,%ld,%ld,,,,,\n", d.draws, d.classes_changed);
    std::fprintf(out, "seed,,,%llu,,,,,,\n", static_cast<unsigned long long>(d.seed));
    for (const FIT_ANSWER& a : d.answers) {
      std::fprintf(out, "%s,", a.item.c_str());
      fit_csv_text(out, a.from);
      std::fputc(',', out);
      if (!a.to.empty())
        fit_csv_text(out, a.to);
      std::fprintf(out, ",%lu,,%s,%s,%s,,\n", static_cast<unsigned long>(a.draws),
                   csv_number(a.median).c_str(), csv_number(a.lower).c_str(),
                   csv_number(a.upper).c_str());
    }
  }
}
