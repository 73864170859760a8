// fit_periods.cc - pravlin-fit's --by-period: the list of periods, one matrix fitted to each,
// the G² test that one matrix serves them all, and the configuration with its periods.
// Part of pravlin; see README.md.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "config_write.h"
#include "fail.h"
#include "fit.h"
#include "fit_groups.h"
#include "fit_limits.h"
#include "fit_periods.h"
#include "fit_read.h"

[[noreturn]] static void malformed(const char* text) {
  fail(
      " *** ERROR: --by-period needs periods of steps such as 1-10,11- (FIRST-LAST, FIRST- or "
      "FIRST, separated by commas), not (%s)\n",
      text);
}

// A step: digits only, 1 to FIT_MAX_STEP. Advances *s past it; -1 when there is none.
static long read_step(const char** s) {
  if (**s < '0' || **s > '9')
    return -1;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(*s, &end, 10);
  *s = end;
  return errno != 0 || v < 1 || v > FIT_MAX_STEP ? -1 : v;
}

void fit_parse_periods(const char* text, FIT_OPTIONS* opt) {
  opt->period_first.clear();
  opt->period_last.clear();
  const char* s = text;
  for (;;) {
    const long first = read_step(&s);
    if (first < 0)
      malformed(text);
    long last = first;
    if (*s == '-') {
      s++;
      last = *s == ',' || *s == '\0' ? -1 : read_step(&s);
      if (last != -1 && last < first)
        malformed(text);
      if (*s != ',' && *s != '\0')
        malformed(text);
      if (last == -1 && s[-1] != '-')
        malformed(text);
    }
    if (*s != ',' && *s != '\0')
      malformed(text);
    if (!opt->period_last.empty() && opt->period_last.back() == -1)
      malformed(text);  // only the last period may be open
    opt->period_first.push_back(first);
    opt->period_last.push_back(last);
    if (*s == '\0')
      break;
    s++;
  }
  // In order from step 1, one after another, as pravlin reads a configuration's periods.
  for (std::size_t p = 0; p < opt->period_first.size(); p++) {
    const long expected = p == 0 ? 1 : opt->period_last[p - 1] + 1;
    if (p > 0 && opt->period_first[p] < expected) {
      fail(" *** ERROR: --by-period: the periods (%s) and (%s) overlap\n",
           fit_period_name(opt, p - 1).c_str(), fit_period_name(opt, p).c_str());
    }
    if (opt->period_first[p] > expected)
      fail(" *** ERROR: --by-period: no period holds step %ld\n", expected);
  }
}

std::string fit_period_name(const FIT_OPTIONS* opt, std::size_t p) {
  const long first = opt->period_first[p], last = opt->period_last[p];
  if (last == first)
    return std::to_string(first);
  return std::to_string(first) + "-" + (last < 0 ? std::string() : std::to_string(last));
}

// The transitions of period p alone, over all the labels, so that its states are numbered as
// the whole's are; its sequences and initial states are the whole's.
static void period_data(const FIT_DATA* all, std::uint64_t p, const std::string& name,
                        FIT_DATA* d) {
  d->form = all->form;
  d->name = name;
  d->labels = all->labels;
  d->given_states = all->given_states;
  d->checked = 1;  // the whole's labels were checked, and warned about, once
  d->longest = all->longest;
  d->dense_off = 1;
  d->first = all->first;
  d->nbr_sequences = all->nbr_sequences;
  add_tagged_pairs(all->period_pairs, p, d);
}

void fit_periods(const FIT_OPTIONS* opt, const FIT_DATA* data, FIT_EXTRAS* extras) {
  const std::size_t nbr = opt->period_first.size();
  extras->group_word = "period";
  extras->groups.resize(nbr);
  for (std::size_t p = 0; p < nbr; p++) {
    FIT_GROUP& period = extras->groups[p];
    period.name = fit_period_name(opt, p);
    period_data(data, p, period.name, &period.data);
    // Its rows would all be empty: a matrix made of the choice for unseen rows alone.
    if (period.data.nbr_transitions == 0)
      fail(" *** ERROR: the period (%s) has no transitions\n", period.name.c_str());
    fit_estimate(opt, &period.data, &period.model);
  }
  if (opt->test_flag && nbr > 1) {
    // Period and destination independent given the source: the period sits where the
    // homogeneity test's time block does.
    extras->group_test_flag = 1;
    fit_conditional_g2(&data->period_pairs, &extras->group_test);
  }
}

void fit_write_config_periods(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                              const FIT_MODEL* model, const FIT_EXTRAS* extras) {
  fit_write_config_head(out, opt, data, model);
  for (std::size_t p = 0; p < extras->groups.size(); p++) {
    const long first = opt->period_first[p];
    // An open period ends with the run; pravlin holds the last period after its end anyway.
    long last = opt->period_last[p];
    if (last < 0)
      last = model->nbr_years > first ? model->nbr_years : first;
    config_write_period_open(out, first, last);
    fit_write_transitions(out, "  ", &extras->groups[p].model);
    config_write_period_close(out);
  }
  config_write_close(out);
}
