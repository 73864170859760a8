// fit_extras.cc - pravlin-fit's summary beyond the one chain: each group's fit and the test
// that they agree, the comparison of orders, and the answers over posterior draws.
// Part of pravlin; see README.md.
#include <algorithm>
#include <cmath>
#include <string>

#include "fit.h"
#include "fit_extras.h"
#include "fit_limits.h"

static void text_answer(FILE* out, const FIT_ANSWER& a) {
  if (!a.none.empty()) {
    std::fprintf(out, "  %s%s%s  %s\n", a.item.c_str(), a.from.empty() ? "" : " ", a.from.c_str(),
                 a.why.c_str());
    return;
  }
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
    const char* word = extras->group_word;
    std::fprintf(out, "%ss: %zu\n", word, extras->groups.size());
    if (extras->group_test_flag) {
      const FIT_TEST& t = extras->group_test;
      std::fprintf(out, "same chain in every %s: G2 %.6f, df %ld, p-value %.6g\n", word,
                   t.statistic, t.df, t.p_value);
    }
    for (const FIT_GROUP& g : extras->groups) {
      std::fprintf(out, "%s %s: %lu sequence%s, %lu transition%s, log-likelihood %.6f\n", word,
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
    std::fprintf(out, "%s_test,,,,%zu,%s,,,%ld,%s\n", extras->group_word, extras->groups.size(),
                 fit_number(t.statistic).c_str(), t.df, fit_number(t.p_value).c_str());
  }
  // Each group's rows follow its own line.
  const std::string word = extras->group_word;
  for (const FIT_GROUP& g : extras->groups) {
    std::fprintf(out, "%s,", word.c_str());
    fit_csv_text(out, g.name);
    std::fprintf(out, ",,%lu,%lu,%s,,,,\n", static_cast<unsigned long>(g.data.nbr_sequences),
                 static_cast<unsigned long>(g.data.nbr_transitions),
                 fit_number(g.model.log_likelihood).c_str());
    fit_write_rows_csv(out, &g.data, &g.model, (word + "_row").c_str(),
                       (word + "_transition").c_str(), (word + "_unseen_transitions").c_str());
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
      if (!a.none.empty()) {
        if (!a.from.empty())
          fit_csv_text(out, a.from);
        std::fprintf(out, ",,0,,%s,,,,\n", a.none.c_str());
        continue;
      }
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

// ---- the table for a person ------------------------------------------------------------------

// A label cut to at most width bytes, at a character's start, marked with "~" where cut.
static std::string cut(const std::string& label, std::size_t width) {
  if (label.size() <= width)
    return label;
  std::size_t n = width - 1;
  while (n > 0 && (static_cast<unsigned char>(label[n]) & 0xC0) == 0x80)
    n--;
  return label.substr(0, n) + "~";
}

static std::string cell_text(const FIT_MODEL* model, double p, double lower, double upper) {
  char buf[96];
  if (!model->has_counts || std::isnan(lower))
    std::snprintf(buf, sizeof buf, "%.3f", p);
  else
    std::snprintf(buf, sizeof buf, "%.3f [%.3f,%.3f]", p, lower, upper);
  return buf;
}

static void test_line(FILE* out, const char* name, const FIT_TEST& t) {
  std::fprintf(out, "%-27s G2 %.4g  df %ld  p %.3g\n", name, t.statistic, t.df, t.p_value);
}

void fit_write_table(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                     const FIT_MODEL* model, const FIT_EXTRAS* extras, int width) {
  const std::size_t k = model->rows.size();
  const std::vector<std::string>& names = data->labels.names;
  const std::size_t shown = std::min(k, FIT_TABLE_STATES);
  std::fprintf(out, "%s: %lu sequence%s, %lu transition%s, %zu states, %s\n", data->name.c_str(),
               static_cast<unsigned long>(data->nbr_sequences), data->nbr_sequences == 1 ? "" : "s",
               static_cast<unsigned long>(data->nbr_transitions),
               data->nbr_transitions == 1 ? "" : "s", k,
               opt->estimator == ESTIMATOR_MLE
                   ? "maximum likelihood"
                   : (opt->estimator == ESTIMATOR_LAPLACE ? "Laplace smoothing"
                                                          : "Dirichlet posterior mean"));
  // The matrix, its columns in blocks as wide as the terminal allows.
  std::vector<std::vector<std::string>> text(shown, std::vector<std::string>(shown));
  std::size_t cell_w = 0, label_w = 9;
  for (std::size_t s = 0; s < shown; s++) {
    const FIT_ROW& row = model->rows[s];
    std::size_t next = 0;
    for (std::size_t j = 0; j < shown; j++) {
      while (next < row.cells.size() && row.cells[next].to < j)
        next++;
      const bool in = next < row.cells.size() && row.cells[next].to == j;
      text[s][j] = in ? cell_text(model, row.cells[next].probability, row.cells[next].lower,
                                  row.cells[next].upper)
                      : cell_text(model, row.rest, row.rest_lower, row.rest_upper);
      cell_w = std::max(cell_w, text[s][j].size());
    }
    label_w = std::max(label_w, std::min<std::size_t>(names[model->order[s]].size(), 16));
  }
  cell_w = std::max<std::size_t>(cell_w, 5) + 2;
  const std::size_t per_block =
      std::max<std::size_t>(1, (static_cast<std::size_t>(width) - label_w - 1) / cell_w);
  for (std::size_t c0 = 0; c0 < shown; c0 += per_block) {
    const std::size_t c1 = std::min(shown, c0 + per_block);
    std::fprintf(out, "%-*s ", static_cast<int>(label_w), "from\\to");
    // The last column unpadded: no blanks at the lines' ends.
    const auto put = [&](const std::string& cell, std::size_t j) {
      std::fprintf(out, "%-*s", j + 1 < c1 ? static_cast<int>(cell_w) : 0, cell.c_str());
    };
    for (std::size_t j = c0; j < c1; j++)
      put(cut(names[model->order[j]], cell_w - 2), j);
    std::fputc('\n', out);
    for (std::size_t s = 0; s < shown; s++) {
      std::fprintf(out, "%-*s ", static_cast<int>(label_w),
                   cut(names[model->order[s]], label_w).c_str());
      for (std::size_t j = c0; j < c1; j++)
        put(text[s][j], j);
      std::fputc('\n', out);
    }
  }
  if (shown < k) {
    std::fprintf(out, "(%zu of %zu states shown; --listing or --summary FILE gives them all)\n",
                 shown, k);
  }
  if (model->has_counts) {
    std::fprintf(out, "log-likelihood %.6g, parameters %ld, AIC %.6g, BIC %.6g\n",
                 model->log_likelihood, model->parameters, model->aic, model->bic);
  }
  if (opt->test_flag && !data->matrix_flag) {
    test_line(out, "Markov property", model->markov);
    test_line(out, "time-homogeneity", model->homogeneity);
  }
  if (extras->group_test_flag)
    test_line(out, (std::string("same chain in every ") + extras->group_word).c_str(),
              extras->group_test);
  if (!extras->groups.empty()) {
    for (const FIT_GROUP& g : extras->groups) {
      std::fprintf(out, "%s %s: %lu transitions, log-likelihood %.6g\n", extras->group_word,
                   g.name.c_str(), static_cast<unsigned long>(g.data.nbr_transitions),
                   g.model.log_likelihood);
    }
  }
  if (extras->order_choice_flag) {
    const FIT_ORDER_CHOICE& c = extras->order_choice;
    std::fprintf(out, "order  log-likelihood  parameters  AIC  BIC  (%lu observations)\n",
                 static_cast<unsigned long>(c.observations));
    for (std::size_t r = 0; r < c.rows.size(); r++) {
      std::fprintf(out, "%5zu  %.6g  %.6g  %.6g  %.6g%s\n", r, c.rows[r].log_likelihood,
                   c.rows[r].parameters, c.rows[r].aic, c.rows[r].bic,
                   static_cast<long>(r) == c.bic_order ? "  <- BIC" : "");
    }
  }
  if (extras->draws_flag) {
    const FIT_DRAWS& d = extras->draws;
    std::fprintf(out, "over %ld draws (seed %llu), median [%g interval]; %ld changed the classes\n",
                 d.draws, static_cast<unsigned long long>(d.seed), opt->confidence,
                 d.classes_changed);
    // What each line is of. A closed class's name is shown whole: "class 1, the whole chain"
    // cut to 16 bytes reads as some other class; the column is widened to the longest line
    // naming one. The states' labels are cut.
    const std::size_t lines = std::min(d.answers.size(), 2 * FIT_TABLE_STATES);
    std::vector<std::string> what(lines);
    int what_w = 36;
    for (std::size_t i = 0; i < lines; i++) {
      const FIT_ANSWER& a = d.answers[i];
      const bool from_class = a.item == "entropy_rate" || a.item == "kemeny_constant";
      const bool to_class = a.item == "absorption";
      what[i] = a.item;
      if (!a.from.empty())
        what[i] += " " + (from_class ? a.from : cut(a.from, 16));
      if (!a.to.empty())
        what[i] += " -> " + (to_class ? a.to : cut(a.to, 16));
      if (from_class)
        what_w = std::max(what_w, static_cast<int>(what[i].size()));
    }
    for (std::size_t i = 0; i < lines; i++) {
      const FIT_ANSWER& a = d.answers[i];
      if (!a.none.empty())
        std::fprintf(out, "  %-*s %s\n", what_w, what[i].c_str(), a.why.c_str());
      else if (a.draws == 0)
        std::fprintf(out, "  %-*s no draws\n", what_w, what[i].c_str());
      else
        std::fprintf(out, "  %-*s %.4g [%.4g, %.4g]\n", what_w, what[i].c_str(), a.median, a.lower,
                     a.upper);
    }
    if (d.answers.size() > lines) {
      std::fprintf(out, "(%zu more; --summary FILE gives them all)\n",
                   d.answers.size() - 2 * FIT_TABLE_STATES);
    }
  }
}
