// analyze_step.h - one step of a distribution over a chain, x -> x P: the plain scatter that
// --steps and --horizon take, and the faster path's choice.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_STEP_H
#define PRAVLIN_ANALYZE_STEP_H

#include "analyze_chain.h"

/// y[1..n] = x P (y[0] = 0): each y[v] starts from +0 and adds x[u] p[u][v] over the rows u that
/// reach v, u ascending, skipping each x[u] == 0. x and y hold n + 1 entries and must not
/// overlap.
void step_product(const SPARSE_CHAIN* c, const double* x, double* y);

/// Which product a run of steps takes (CHAIN_STEPS in analyze_step_fast.h): the faster one when
/// the chain is large enough to pay for it, or either one forced (for tests and benchmarks).
enum step_path {
  STEP_PATH_CHOOSE,   // grouped from STEP_GROUPS_MIN_ENTRIES and _STEPS on, else plain
  STEP_PATH_PLAIN,    // step_product
  STEP_PATH_GROUPED,  // the grouped rows of P^T whenever their memory can be had
};

#endif
