// analyze_step.h - one step of a distribution over a chain, x -> x P: the scatter that --steps
// and --horizon take.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_STEP_H
#define PRAVLIN_ANALYZE_STEP_H

#include "analyze_chain.h"

/// y[1..n] = x P (y[0] = 0): each y[v] starts from +0 and adds x[u] p[u][v] over the rows u that
/// reach v, u ascending, skipping each x[u] == 0. x and y hold n + 1 entries and must not
/// overlap.
void step_product(const SPARSE_CHAIN* c, const double* x, double* y);

#endif
