// analyze.h - the solves that the analysis of a chain starts from: stationary distributions by
// GTH, absorption by elimination, n-step distributions.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_H
#define PRAVLIN_ANALYZE_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "analyze_chain.h"
#include "analyze_limits.h"
#include "analyze_step.h"

/// Grassmann-Taksar-Heyman: the stationary distribution x[1..m] of the irreducible m x m
/// matrix held 1-based and row-major in a[(m + 1) * (m + 1)], which it overwrites. Uses no
/// subtraction and no diagonal entry, so tiny probabilities keep their relative accuracy.
void gth_stationary(double* a, int m, double* x);

/// gth_stationary on a matrix held by bands: a[i * (2 band + 1) + j - i + band] is entry (i, j)
/// for |i - j| <= band, rows 1..m (row 0 unused). The same folding in the same order, restricted
/// to the band, which it never leaves: time m band^2, memory m band.
void gth_banded_stationary(double* a, int m, int band, double* x);
/// The largest distance between the places (within class k) of a transition's two states.
int class_bandwidth(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k);
/// Solves (D - Q) x = b for the m states of a set that the chain may leave, without
/// subtraction: Q held by bands as gth_banded_stationary holds its matrix (zero diagonal),
/// s[1..m] the probability of leaving the set from each state, and D the outflow, s plus the
/// row of Q. The right sides b[i * nb + j] (rows 1..m) must not be negative; x overwrites them.
/// Overwrites a and s; time m band^2, memory m band.
void banded_elimination(double* a, int m, int band, double* s, double* b, int nb);

/// The stationary distribution of closed class k into pi[s] for its states s; other entries of
/// pi[1..n] are left as they are. GTH up to DENSE_MAX_STATES states; beyond, GTH within the
/// band when the class's transitions keep close to their states (a line), else the sparse
/// solver. Fails when the dense matrix cannot fit in memory, or when the residual misses goal,
/// or an entry comes out negative.
SOLVE_RESULT class_stationary(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k, double* pi,
                              double goal = ANALYZE_RESIDUAL_GOAL);

/// Fills ab for the chain's transient states: by dense elimination up to DENSE_MAX_STATES of
/// them, by the sparse solver beyond. Fails when the dense system cannot fit in memory, or when
/// the sparse solve cannot bring the residual under goal.
void solve_absorption(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, ABSORPTION* ab,
                      double goal = ANALYZE_RESIDUAL_GOAL);

/// Replaces x[1..n] by x P, steps times. Once the distribution repeats exactly (a fixed point,
/// or a cycle of a periodic chain), the steps left are cut to their remainder modulo the
/// cycle's length: that gives the same bits. A run still going after two seconds shows its
/// progress on standard error when that is a terminal. path (a step_path) picks the product of
/// each step; every path gives the same bits.
void step_distribution(const SPARSE_CHAIN* c, std::vector<double>* x, long steps,
                       int path = STEP_PATH_CHOOSE);

#endif
