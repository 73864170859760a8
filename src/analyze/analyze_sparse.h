// analyze_sparse.h - the sparse solver that pravlin-analyze's stationary distributions,
// absorption and hitting share, for the sources that build its Eigen systems.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_SPARSE_H
#define PRAVLIN_ANALYZE_SPARSE_H

#include <Eigen/Dense>

#include "analyze_chain.h"
#include "analyze_limits.h"
#include "analyze_matrix.h"

/// Solves a x = b for every column of b, the methods in turn until one brings the residual under
/// goal: BiCGSTAB with a diagonal preconditioner (computed once, the columns shared out over the
/// cores), then a sparse LU with a fill-reducing ordering (one factorisation for all columns),
/// refined in long double. The residual is the largest of the columns' in the 1-norm: relative
/// to 1 + ||x||_1 when steps_column is 0 (a stationary distribution's weights); else column 0
/// relative to ||b||_1 and the others as they are. An answer with a negative entry is impossible
/// for every system solved here (weights, probabilities, steps) and is never preferred to one
/// without. x keeps the best answer; it is left empty when no method could run.
SOLVE_RESULT solve_with_goal(const SPARSE_MATRIX& a, const SPARSE_COLUMNS& b, Eigen::MatrixXd* x,
                             int steps_column, double goal);

/// BiCGSTAB alone, as solve_with_goal's first method, with the residual measured as it does
/// (NaN when the solver could not start, and x left empty). For a singular system that is
/// consistent, where a factorisation would have nothing to offer.
SOLVE_RESULT solve_iteratively(const SPARSE_MATRIX& a, const SPARSE_COLUMNS& b, Eigen::MatrixXd* x,
                               int steps_column, double goal);

/// ||pi P - pi||_1 over closed class k.
double stationary_residual(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k, const double* pi);
/// class_stationary by the sparse solver alone, whatever the class's size: the first state's
/// weight fixed at 1, the others from the remaining equations of pi (I - P) = 0, then all
/// normalised. BiCGSTAB with a diagonal preconditioner first, then a sparse LU with a
/// fill-reducing ordering when the first misses goal. Does not fail: the residual says how well
/// it did.
SOLVE_RESULT sparse_class_stationary(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k,
                                     double* pi, double goal);
/// The absorption systems by the sparse solver alone, whatever their size, as
/// sparse_class_stationary does. Does not fail: ab->how says how well it did.
void sparse_absorption(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, ABSORPTION* ab, double goal);

#endif
