// simulate.cc - the chains' simulation: chain by chain (create_pravlin), every chain at once
// (create_all_pravlin), or checked ahead of a table drawn as it is written
// (simulate_without_table).
// Part of pravlin; see README.md.
#include "simulate.h"

#include "cancel.h"
#include "draw.h"
#include "periods.h"
#include "simulate_fast.h"
#include "sparse_read.h"
#include "tables.h"

// The state at step t (1..nbr_years) of a chain at ser after step t - 1, drawn as calc_state
// draws it: from the matrix of the period that holds t (*period, where the search starts, moves
// on with it), or from the one matrix. Does not return on failure.
static int calc_step(const PRAVLIN* pv, int ser, int t, std::size_t* period) {
  if (pv->periods == nullptr)
    return calc_transition(pv, ser);
  *period = period_of_step(pv->periods, t, *period);
  return calc_state(pv->periods->list[*period].transition_probability[ser], pv->nbr_states);
}

void create_pravlin(int n, PRAVLIN* pv) {
  if (pv == nullptr)
    fail(" *** ERROR: PRAVLIN NULL Pointer in create_pravlin()\n");
  if (n < 1 || n > pv->nbr_chains) {
    fail(" *** ERROR: n (%d) is less than 1 or greater than pv->nbr_chains (%d)\n", n,
         pv->nbr_chains);
  }
  int* chain = pv->pravlin[n];
  int ser = calc_state(pv->initial_probability, pv->nbr_states);
  chain[0] = ser;
  std::size_t period = 0;
  for (int i = 1; i <= pv->nbr_years; i++) {
    ser = calc_step(pv, ser, i, &period);
    chain[i] = ser;
  }
}

void create_all_pravlin(PRAVLIN* pv) {
  if (pv == nullptr)
    fail(" *** ERROR: PRAVLIN NULL Pointer in create_pravlin()\n");
  // The fast draws prepare one matrix's rows; a chain with periods is drawn chain by chain.
  if (pv->periods == nullptr && create_all_pravlin_fast(pv))
    return;
  for (int c = 1; c <= pv->nbr_chains; c++) {
    cancel_check();
    create_pravlin(c, pv);
  }
}

static const char OOM3[] = " *** ERROR: out of memory 3 in read_xml_file()\n";

// A row that no draw can miss: every entry a probability, one of them positive, and a total
// that reaches the largest draw below 1.0 (a draw of 1.0 falls back to the last positive
// state).
static bool row_never_misses(const double* p, int n) {
  double total = 0.0;
  bool positive = false;
  for (int i = 1; i <= n; i++) {
    if (!(p[i] >= 0.0 && p[i] <= 1.0))
      return false;
    positive = positive || p[i] > 0.0;
    total += p[i];
  }
  return positive && total >= 32766 / 32767.0;
}

// The same for the transitions out of state s of the one matrix. A sparse row leaves out only
// zeros, which add nothing to its total.
static bool transitions_never_miss(const PRAVLIN* pv, int s) {
  const SPARSE_ROWS* rows = pv->sparse_transitions;
  if (rows == nullptr)
    return row_never_misses(pv->transition_probability[s], pv->nbr_states);
  double total = 0.0;
  bool positive = false;
  const std::size_t end = rows->row_start[static_cast<std::size_t>(s) + 1];
  for (std::size_t k = rows->row_start[static_cast<std::size_t>(s)]; k < end; k++) {
    const double p = rows->entries[k].probability;
    if (!(p >= 0.0 && p <= 1.0))
      return false;
    positive = positive || p > 0.0;
    total += p;
  }
  return positive && total >= 32766 / 32767.0;
}

// Whether no draw of the run can miss: the initial probabilities and every row the steps draw
// from, each period's for a chain with periods.
static bool draws_never_miss(const PRAVLIN* pv) {
  const int n = pv->nbr_states;
  if (n < 1 || pv->initial_probability == nullptr || !row_never_misses(pv->initial_probability, n))
    return false;
  if (pv->periods != nullptr) {
    for (const CHAIN_PERIOD& p : pv->periods->list) {
      for (int s = 1; s <= n; s++) {
        if (!row_never_misses(p.transition_probability[s], n))
          return false;
      }
    }
    return true;
  }
  for (int s = 1; s <= n; s++) {
    if (!transitions_never_miss(pv, s))
      return false;
  }
  return true;
}

StepStates simulate_without_table(PRAVLIN* pv, int first, int last) {
  // Counted with the record's tables, since it lives as long as the run's writing.
  StepStates step(static_cast<int*>(alloc_table(
      static_cast<std::size_t>(last) - static_cast<std::size_t>(first) + 1, sizeof(int), OOM3)));
  if (draws_never_miss(pv)) {
    pravlin_rand_skip(draws_of_run(pv));
    return step;
  }
  // Rows validation did not vouch for: the chains are drawn once here, chain by chain and
  // without keeping them, so that a draw that finds no state ends the run before anything is
  // written, with the message and at the chain where the kept table's run would end.
  for (int c = 1; c <= pv->nbr_chains; c++) {
    int ser = calc_state(pv->initial_probability, pv->nbr_states);
    std::size_t period = 0;
    for (int t = 1; t <= pv->nbr_years; t++)
      ser = calc_step(pv, ser, t, &period);
  }
  return step;
}
