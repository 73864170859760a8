// analyze_sparse_fast.h - the products of a large sparse matrix with a vector on all cores, for
// the iterative solves and Arnoldi's powers.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_SPARSE_FAST_H
#define PRAVLIN_ANALYZE_SPARSE_FAST_H

#include <cstddef>
#include <cstdint>

#include "analyze_limits.h"
#include "analyze_matrix.h"
#include "scratch.h"

/// y[0..rows) = (a x) / scale, each row's sum taken from 0 in the order of the row's entries as
/// Eigen's a * x takes it, then divided: the same bits as (a * x) / scale. With cores above 1
/// and at least ROW_PRODUCT_MIN_ENTRIES entries, blocks of rows go to that many threads; the
/// answer is the same however they are shared. y must not overlap x.
void row_product(const SPARSE_MATRIX& a, const double* x, double* y, unsigned cores,
                 double scale = 1.0);

/// A matrix's rows grouped for row_product_grouped: within each window of ROW_GROUP_WINDOW
/// rows, the rows of one length together, their entries copied in that order. A product then
/// walks every group with a loop of fixed length, whose end the processor foresees; the rows of
/// a chain's P^T vary in length, and a loop that ends at a different entry each row costs a
/// mispredicted branch a row, as much as the row's loads (bench/RESULTS.md). Each row's entries
/// keep their order, so each sum is the same.
struct row_groups {
  Eigen::Index rows;             // the matrix's
  Eigen::Index windows;          // ceil(rows / ROW_GROUP_WINDOW)
  Scratch<std::uint16_t> order;  // [rows] each window's rows by group, offsets in the window
  Scratch<int> col;              // [entries] the entries' columns, in the order of the groups
  Scratch<double> value;         // [entries] their values
  Scratch<int> length;           // [groups] the length of each group's rows
  Scratch<int> count;            // [groups] its number of rows
  Scratch<std::size_t> group;    // [windows + 1] each window's first group
  Scratch<std::size_t> entry;    // [windows + 1] each window's first entry
};
typedef struct row_groups ROW_GROUPS;

/// The fewest entries of a matrix whose rows an iterative solve groups before its products.
const std::size_t ROW_GROUPS_MIN_ENTRIES = 1 << 16;

/// Rows a window: their offsets fit 16 bits, and a window's part of y stays in the first cache.
const Eigen::Index ROW_GROUP_WINDOW = 4096;

/// Groups a's rows into *g; returns 0, leaving *g empty, when its memory (a second copy of the
/// entries, and 2 bytes a row) cannot be had: the caller then takes row_product.
int group_rows(const SPARSE_MATRIX& a, ROW_GROUPS* g);

/// row_product's answer, bit for bit, from g = a's rows grouped by group_rows: y[0..rows) =
/// (a x) / scale, the windows shared out over the cores as row_product shares its rows.
void row_product_grouped(const ROW_GROUPS* g, const double* x, double* y, unsigned cores,
                         double scale = 1.0);

/// How many products row_product has taken in this process (for the benchmarks, which set the
/// time of one product beside the number a solve takes).
unsigned long row_product_count();

/// a as the matrix of Eigen's BiCGSTAB algorithm (Eigen::internal::bicgstab), which asks only
/// for its size and its products with vectors: those go through row_product, or
/// row_product_grouped when a's rows are grouped.
struct rows_operand {
  const SPARSE_MATRIX* a;
  unsigned cores;            // as row_product's
  const ROW_GROUPS* groups;  // a's rows grouped, or null
  Eigen::Index rows() const {
    return a->rows();
  }
  Eigen::Index cols() const {
    return a->cols();
  }
};
typedef struct rows_operand ROWS_OPERAND;

/// a x by row_product or row_product_grouped: the same bits as Eigen's a * x.
Eigen::VectorXd operator*(const ROWS_OPERAND& a, const Eigen::VectorXd& x);

#endif
