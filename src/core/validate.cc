// validate.cc - checks on the model as a whole, and normalisation (error_check_pravlin).
// Part of pravlin; see README.md.
#include "validate.h"

#include <cmath>

#include "fail.h"
#include "periods.h"

// A total within this of 1.0 misses it by the rounding of its terms' sum alone: about 4500
// units in the last place of 1.0, the error of thousands of rounded additions. A total
// further off was written so.
static constexpr double kRoundingOnly = 1e-12;

// The line that follows a normalizing warning when the total misses 1.0 by rounding alone:
// the rescaling then changes the probabilities by no more than that rounding.
static void warn_rounding_only(double prob_sum) {
  if (std::fabs(prob_sum - 1.0) <= kRoundingOnly)
    warn(" *** WARNING: the total, %.17g, differs from 1 only by rounding\n", prob_sum);
}

void error_check_states(PRAVLIN* pv) {
  const int n = pv->nbr_states;
  for (int i = 1; i <= n; i++) {
    if (pv->state_name[i] == nullptr)
      warn(" *** WARNING: Missing NAME for STATE (%d)\n", i);
  }

  double prob_sum = 0.0;
  for (int i = 1; i <= n; i++)
    prob_sum += pv->initial_probability[i];
  if (prob_sum <= 0.0)
    fail(" *** ERROR: zero total initial_probability for all states\n");
  // Exact comparison: a total that misses 1.0 only by rounding is rescaled too.
  if (prob_sum != 1.0) {
    warn(" *** WARNING: normalizing initial_probability for all states by %f\n", prob_sum);
    warn_rounding_only(prob_sum);
    for (int i = 1; i <= n; i++)
      pv->initial_probability[i] /= prob_sum;
  }
}

int error_check_row_total(int i, double prob_sum) {
  if (prob_sum <= 0.0)
    fail(" *** ERROR: zero total transition_probability for state (%d)\n", i);
  if (prob_sum == 1.0)
    return 0;
  warn(" *** WARNING: normalizing transition_probability for state (%d) by %f\n", i, prob_sum);
  warn_rounding_only(prob_sum);
  return 1;
}

// Checks and rescales the rows of one matrix.
static void error_check_rows(double** matrix, int n) {
  for (int i = 1; i <= n; i++) {
    double* row = matrix[i];
    double prob_sum = 0.0;
    for (int j = 1; j <= n; j++)
      prob_sum += row[j];
    if (error_check_row_total(i, prob_sum)) {
      for (int j = 1; j <= n; j++)
        row[j] /= prob_sum;
    }
  }
}

void error_check_pravlin(PRAVLIN* pv) {
  if (pv == nullptr)
    fail(" *** ERROR: NULL pointer for pv in error_check_pravlin()\n");
  const WarnBatch batch;  // a row a warning, for every row to rescale
  error_check_states(pv);
  // A chain with periods has its rows checked period by period, with the same messages; the
  // record's matrix is the last period's.
  if (pv->periods != nullptr) {
    for (const CHAIN_PERIOD& p : pv->periods->list)
      error_check_rows(p.transition_probability, pv->nbr_states);
    return;
  }
  error_check_rows(pv->transition_probability, pv->nbr_states);
}
