// analyze_sparse_lu.cc - Eigen's sparse LU, instantiated here once (SPARSE_LU).
// Part of pravlin; see README.md.
#include "analyze_sparse_lu.h"

template class Eigen::SparseLU<Eigen::SparseMatrix<double>, Eigen::COLAMDOrdering<int>>;
template class Eigen::internal::SparseLUImpl<double, int>;
