// analyze_sparse_lu.h - the sparse LU that the solver of the analyses' systems and a class's
// group inverse share, compiled once, in analyze_sparse_lu.cc, for every file that uses it.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_SPARSE_LU_H
#define PRAVLIN_ANALYZE_SPARSE_LU_H

#include <Eigen/SparseLU>

/// A sparse LU with a fill-reducing ordering (COLAMD), of a matrix stored by columns.
typedef Eigen::SparseLU<Eigen::SparseMatrix<double>, Eigen::COLAMDOrdering<int>> SPARSE_LU;

extern template class Eigen::SparseLU<Eigen::SparseMatrix<double>, Eigen::COLAMDOrdering<int>>;
extern template class Eigen::internal::SparseLUImpl<double, int>;

#endif
