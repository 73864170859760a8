// validate.h - the model's validation, and its two halves, which the sparse rows' validation
// shares.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_VALIDATE_H
#define PRAVLIN_VALIDATE_H

#include "pravlin.h"

/// Warns about unnamed states, refuses zero totals, and rescales the initial probabilities and
/// each transition row to total 1. Does not return on error.
void error_check_pravlin(PRAVLIN* pv);

/// The first half of error_check_pravlin: the missing-name warnings, then the check and the
/// rescaling of the initial probabilities. Does not return on error.
void error_check_states(PRAVLIN* pv);
/// The check of the transition row of state i, whose entries total prob_sum: refuses a zero
/// total, warns about one that is not exactly 1 (on a second line, when it misses 1 by rounding
/// alone, that it does so) and then returns 1 (the row must be divided by
/// prob_sum); returns 0 when the row stays as it is. Does not return on error.
int error_check_row_total(int i, double prob_sum);

#endif
