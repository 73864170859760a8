// analyze_sparse_fast.h - the products of a large sparse matrix with a vector on all cores, for
// the iterative solves and Arnoldi's powers.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_SPARSE_FAST_H
#define PRAVLIN_ANALYZE_SPARSE_FAST_H

#include <cstddef>

#include "analyze_limits.h"
#include "analyze_matrix.h"

/// y[0..rows) = (a x) / scale, each row's sum taken from 0 in the order of the row's entries as
/// Eigen's a * x takes it, then divided: the same bits as (a * x) / scale. With cores above 1
/// and at least ROW_PRODUCT_MIN_ENTRIES entries, blocks of rows go to that many threads; the
/// answer is the same however they are shared. y must not overlap x.
void row_product(const SPARSE_MATRIX& a, const double* x, double* y, unsigned cores,
                 double scale = 1.0);

/// How many products row_product has taken in this process (for the benchmarks, which set the
/// time of one product beside the number a solve takes).
unsigned long row_product_count();

/// a as the matrix of Eigen's BiCGSTAB algorithm (Eigen::internal::bicgstab), which asks only
/// for its size and its products with vectors: those go through row_product.
struct rows_operand {
  const SPARSE_MATRIX* a;
  unsigned cores;  // as row_product's
  Eigen::Index rows() const {
    return a->rows();
  }
  Eigen::Index cols() const {
    return a->cols();
  }
};
typedef struct rows_operand ROWS_OPERAND;

/// a x by row_product: the same bits as Eigen's a * x.
Eigen::VectorXd operator*(const ROWS_OPERAND& a, const Eigen::VectorXd& x);

#endif
