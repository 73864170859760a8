// analyze_fill.h - whether a sparse LU factorisation is worth trying: an estimate of its fill.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_FILL_H
#define PRAVLIN_ANALYZE_FILL_H

#include "analyze_matrix.h"

/// 1 when the Cholesky factor of the pattern of a + a^T under an approximate minimum degree
/// order has at most most_entries entries and at most most_work work (the sum of the squares
/// of its column counts): an estimate, whatever the order of a's rows, of what a sparse LU of
/// the square matrix a would cost. Time and memory in proportion to a's entries plus the
/// limits: the counting stops as soon as either passes its limit.
int lu_fits(const SPARSE_MATRIX& a, double most_entries, double most_work);

#endif
