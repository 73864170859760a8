// analyze_sparse_lu.h - the sparse LU that the solver of the analyses' systems and a class's
// group inverse share, compiled once, in analyze_sparse_lu.cc, for every file that uses it;
// and its factorisation and solves with a check for a stop around each.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_SPARSE_LU_H
#define PRAVLIN_ANALYZE_SPARSE_LU_H

#include <Eigen/SparseLU>

#include "cancel.h"

/// A sparse LU with a fill-reducing ordering (COLAMD), of a matrix stored by columns.
typedef Eigen::SparseLU<Eigen::SparseMatrix<double>, Eigen::COLAMDOrdering<int>> SPARSE_LU;

extern template class Eigen::SparseLU<Eigen::SparseMatrix<double>, Eigen::COLAMDOrdering<int>>;
extern template class Eigen::internal::SparseLUImpl<double, int>;

// Eigen's factorisation and solves cannot be stopped midway: a stop asked for (Ctrl-C in the
// Python module) while one runs fails the check made as it ends, so a call waits for the one
// factorisation or solve under way and goes no further.

/// lu->compute(a) between two cancel_check()s.
inline void sparse_lu_factor(SPARSE_LU* lu, const Eigen::SparseMatrix<double>& a) {
  cancel_check();
  lu->compute(a);
  cancel_check();
}

/// lu.solve(b), of b's own type, between two cancel_check()s.
template <typename Rhs>
typename Rhs::PlainObject sparse_lu_solve(const SPARSE_LU& lu, const Rhs& b) {
  cancel_check();
  typename Rhs::PlainObject x = lu.solve(b);
  cancel_check();
  return x;
}

#endif
