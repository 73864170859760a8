// fit_periods.h - pravlin-fit's --by-period: one matrix fitted to each period of steps, written
// as the configuration's periods, and the test that one matrix serves them all.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FIT_PERIODS_H
#define PRAVLIN_FIT_PERIODS_H

#include <cstdio>
#include <string>

#include "fit.h"

/// Reads --by-period's list (FIRST-LAST, FIRST- or FIRST, separated by commas) into
/// opt->period_first and opt->period_last. Does not return on a list that is malformed, on
/// periods that overlap, or on a step that no period holds.
void fit_parse_periods(const char* text, FIT_OPTIONS* opt);
/// A period as the summary names it: "1-10", "11-" or "7".
std::string fit_period_name(const FIT_OPTIONS* opt, std::size_t p);
/// Each period's own fit, in extras->groups, and with --test the G² test that every period
/// follows one matrix. Does not return when a period has no transitions.
void fit_periods(const FIT_OPTIONS* opt, const FIT_DATA* data, FIT_EXTRAS* extras);
/// The configuration of the whole fit (its states, initial probabilities, nbr_years and
/// nbr_chains), with each period's matrix in a period element in place of the one matrix.
void fit_write_config_periods(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                              const FIT_MODEL* model, const FIT_EXTRAS* extras);

#endif
