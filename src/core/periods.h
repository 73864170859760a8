// periods.h - the periods of a chain whose matrix changes with the step: what the reader keeps
// of each, and the matrix that draws a step.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_PERIODS_H
#define PRAVLIN_PERIODS_H

#include <cstddef>
#include <vector>

#include "pravlin.h"

/// One transition as the configuration gives it (sparse_read.h), which whoever reads or fills a
/// period's list includes.
struct transition_entry;

/// One period: the draws of steps first..last take its matrix. Step t is the draw that moves a
/// chain from its state at step t - 1 to its state at step t (1..nbr_years). The periods follow
/// each other without gap or overlap from step 1, and the last one's matrix is held after its
/// end.
struct chain_period {
  int first;
  int last;
  // [N+1][N+1], as the record's transition_probability; null for a reader of the transitions
  // as a list (READ_LIST), which has them in entries instead, in document order.
  double** transition_probability;
  std::vector<transition_entry> entries;
};
typedef struct chain_period CHAIN_PERIOD;

/// A configuration's periods, in document order, which is also the order of their steps. The
/// record's transition_probability is then the last period's matrix, which the steady state
/// and the header describe.
struct chain_periods {
  std::vector<CHAIN_PERIOD> list;
};
typedef struct chain_periods CHAIN_PERIODS;

/// The index of the period whose matrix draws step t, starting the search at period `from`
/// (steps are drawn in increasing order): the period holding t, or the last one after its end.
inline std::size_t period_of_step(const CHAIN_PERIODS* periods, int t, std::size_t from) {
  while (from + 1 < periods->list.size() && t > periods->list[from].last)
    from++;
  return from;
}

#endif
