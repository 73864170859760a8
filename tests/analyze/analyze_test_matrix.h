// analyze_test_matrix.h - a chain's transitions as the sparse matrix by rows that the solvers
// take, for the tests of the sparse solvers (apart, since it brings in Eigen's headers).
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_TEST_MATRIX_H
#define PRAVLIN_ANALYZE_TEST_MATRIX_H

#include <cstddef>
#include <vector>

#include "analyze_sparse.h"

// The chain's transitions as a sparse matrix by rows.
inline SPARSE_MATRIX matrix_of(const SPARSE_CHAIN& c) {
  std::vector<Eigen::Triplet<double>> entries;
  for (int u = 1; u <= c.n; u++) {
    for (std::size_t e = c.row_start[u]; e < c.row_start[u + 1]; e++)
      entries.emplace_back(u - 1, c.to[e] - 1, c.p[e]);
  }
  SPARSE_MATRIX a(c.n, c.n);
  a.setFromTriplets(entries.begin(), entries.end());
  a.makeCompressed();
  return a;
}

#endif
