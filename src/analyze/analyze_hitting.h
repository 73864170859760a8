// analyze_hitting.h - hitting a set of target states from every state.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_HITTING_H
#define PRAVLIN_ANALYZE_HITTING_H

#include <cstdio>
#include <vector>

#include "analyze.h"
#include "analyze_sparse.h"

/// I - Q over the states with index[s] > 0 (numbered 1..m), Q the transitions among them; the
/// diagonal is each state's outflow to other states, never 1 - P[s][s].
SPARSE_MATRIX among_matrix(const SPARSE_CHAIN* c, const std::vector<int>& index, int m);

/// Hitting a set of states from every state: by elimination up to DENSE_MAX_STATES states (and
/// within a narrow band beyond), else through sparse solves.
struct hitting {
  std::vector<double> probability;  // [n + 1] of ever reaching the target; 1 on it
  std::vector<double> steps;        // [n + 1] expected steps to reach it; HUGE_VAL where infinite
                                    // (the probability is below 1); 0 on it
  double probability_residual;      // largest |(I - Q) x - b| of each solve, relative to
                                    // 2 max|x| + max|b|
  double steps_residual;
  int trusted;  // 0 when a residual misses the goal or a number is impossible beyond rounding
                // (steps below 1, a probability outside 0..1, by more than 1e-12): an
                // ill-conditioned system, such as a slow line
  double return_time;  // for a single target that every state reaches for certain, its mean
                       // return time (and steps[] are mean first passage times); else -1
};
typedef struct hitting HITTING;

/// Fills h for the target states (1..n). pi: the stationary distribution of a chain with one
/// closed class, when the caller has solved it already (1..n), or null. Does not return on
/// failure.
void solve_hitting(const SPARSE_CHAIN* c, const std::vector<int>& targets, HITTING* h,
                   const double* pi = nullptr);
/// The hitting section of the text output.
void print_hitting(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c,
                   const std::vector<int>& targets, const HITTING* h, int precision);

#endif
