// validate.cc - checks on the model as a whole, and normalisation (error_check_pravlin).
// Part of pravlin; see README.md.
#include "pravlin.h"

#include <algorithm>
#include <cstddef>

// The checks that come before any transition row: names, then the initial probabilities.
static void check_states(PRAVLIN* pv) {
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
    for (int i = 1; i <= n; i++)
      pv->initial_probability[i] /= prob_sum;
  }
}

// Refuses a row of state i that totals 0; true when the row must be divided by its total.
static bool row_needs_scaling(int i, double prob_sum) {
  if (prob_sum <= 0.0)
    fail(" *** ERROR: zero total transition_probability for state (%d)\n", i);
  if (prob_sum == 1.0)
    return false;
  warn(" *** WARNING: normalizing transition_probability for state (%d) by %f\n", i, prob_sum);
  return true;
}

void error_check_pravlin(PRAVLIN* pv) {
  if (pv == nullptr)
    fail(" *** ERROR: NULL pointer for pv in error_check_pravlin()\n");
  check_states(pv);
  const int n = pv->nbr_states;
  for (int i = 1; i <= n; i++) {
    double* row = pv->transition_probability[i];
    double prob_sum = 0.0;
    for (int j = 1; j <= n; j++)
      prob_sum += row[j];
    if (row_needs_scaling(i, prob_sum)) {
      for (int j = 1; j <= n; j++)
        row[j] /= prob_sum;
    }
  }
}

static bool before(const TRANSITION_ENTRY& a, const TRANSITION_ENTRY& b) {
  return a.from != b.from ? a.from < b.from : a.to < b.to;
}

void error_check_transitions(PRAVLIN* pv, std::vector<TRANSITION_ENTRY>* transitions) {
  if (pv == nullptr)
    fail(" *** ERROR: NULL pointer for pv in error_check_pravlin()\n");
  check_states(pv);
  // The list becomes the matrix's rows: a stable sort keeps document order within a pair, so
  // the last entry is the one the matrix would hold. Zeros are dropped, since adding 0.0 to a
  // total changes no bit of it, and the sums then run in the matrix's column order.
  std::vector<TRANSITION_ENTRY>& t = *transitions;
  std::stable_sort(t.begin(), t.end(), before);
  std::size_t kept = 0;
  for (std::size_t e = 0; e < t.size(); e++) {
    if (e + 1 < t.size() && t[e + 1].from == t[e].from && t[e + 1].to == t[e].to)
      continue;
    if (t[e].probability != 0.0)
      t[kept++] = t[e];
  }
  t.resize(kept);

  std::size_t e = 0;
  for (int i = 1; i <= pv->nbr_states; i++) {
    const std::size_t first = e;
    double prob_sum = 0.0;
    for (; e < t.size() && t[e].from == i; e++)
      prob_sum += t[e].probability;
    if (row_needs_scaling(i, prob_sum)) {
      for (std::size_t k = first; k < e; k++)
        t[k].probability /= prob_sum;
    }
  }
}
