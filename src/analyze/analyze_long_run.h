// analyze_long_run.h - the long run from the initial probabilities, and the mean recurrence times.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_LONG_RUN_H
#define PRAVLIN_ANALYZE_LONG_RUN_H

#include <cstdio>
#include <vector>

#include "analyze.h"

/// Where the chain spends its time in the long run, started from the initial probabilities.
struct long_run {
  std::vector<double> enter;  // [nbr_classes + 1] probability of ending in each closed class
  std::vector<double> share;  // [n + 1] enter[class] * stationary probability; 0 if transient
  int periodic;               // 1 when a closed class with enter > 0 has a period above 1
};
typedef struct long_run LONG_RUN;

/// Fills lr from the initial probabilities and pi[1..n], the stationary distribution of each
/// closed class on its states. Solves the absorption systems only when a transient state has
/// positive initial probability: into *ab when given and not yet solved (ab->state empty), so
/// that the caller can keep them; an ab already solved is used as it is. Does not return on
/// failure.
void solve_long_run(const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                    const double* pi, LONG_RUN* lr, ABSORPTION* ab = nullptr);

/// The mean recurrence times (1 / pi) of the states of every closed class, and lr, the long run
/// from the initial probabilities of a chain with several closed classes (null for one).
void print_long_run(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                    const double* pi, const LONG_RUN* lr, int precision);

#endif
