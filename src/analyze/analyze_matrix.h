// analyze_matrix.h - the sparse matrices of pravlin-analyze's Eigen systems.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_MATRIX_H
#define PRAVLIN_ANALYZE_MATRIX_H

#include <Eigen/SparseCore>

/// By rows: the iterations' products then read each row once, in order.
typedef Eigen::SparseMatrix<double, Eigen::RowMajor> SPARSE_MATRIX;
/// Right-hand sides, by columns: an absorption system's column for a closed class holds only
/// the states that enter it at once, and a dense block of every transient state by every
/// closed class would be written, and paid for page by page, for nothing.
typedef Eigen::SparseMatrix<double> SPARSE_COLUMNS;

#endif
