// analyze_fill.cc - what a sparse LU of a system would cost under a fill-reducing order, counted
// before the factorisation is tried (lu_fits).
// Part of pravlin; see README.md.
#include "analyze_fill.h"

#include <Eigen/OrderingMethods>
#include <vector>

// The LU's own order (COLAMD, with pivoting by rows) is known only once it runs, and the band of
// the system in its given order says nothing: a line numbered at random has a band near n and a
// trivial LU. The symmetric pattern A + A^T under a minimum degree order is what the LU would
// face at best; its Cholesky factor tells a line or a grid (fill within a small factor of the
// matrix, or n log n) from a random graph (fill toward n^2 / 2), and is counted without forming
// it: row k of L is the set of nodes reached in the elimination tree from the entries of row k
// of the permuted pattern, each node once.
int lu_fits(const SPARSE_MATRIX& a, double most_entries, double most_work) {
  typedef Eigen::SparseMatrix<double, Eigen::ColMajor, int> PATTERN;
  const int n = static_cast<int>(a.rows());
  // Absolute values, so that no entry of A + A^T cancels away from the pattern.
  PATTERN s = a.cwiseAbs();
  s = s + PATTERN(s.transpose());
  Eigen::PermutationMatrix<Eigen::Dynamic, Eigen::Dynamic, int> order;
  Eigen::AMDOrdering<int>()(s, order);
  // order.indices()[k] is the state eliminated k-th; place is its inverse.
  const int* eliminated = order.indices().data();
  std::vector<int> place(static_cast<std::size_t>(n));
  for (int k = 0; k < n; k++)
    place[eliminated[k]] = k;

  // The elimination tree, by ancestors with path compression (Liu).
  std::vector<int> parent(static_cast<std::size_t>(n), -1), ancestor(parent);
  for (int k = 0; k < n; k++) {
    for (PATTERN::InnerIterator e(s, eliminated[k]); e; ++e) {
      int next = 0;
      for (int i = place[e.index()]; i != -1 && i < k; i = next) {
        next = ancestor[i];
        ancestor[i] = k;
        if (next == -1)
          parent[i] = k;
      }
    }
  }
  ancestor = std::vector<int>();

  // Each column of L starts with its diagonal; the work of a column of c entries is c^2, so a
  // new entry in it adds 2c + 1. The counting stops at the first row past either limit: on a
  // random graph it would otherwise take time in proportion to the fill it is there to refuse.
  std::vector<int> flag(static_cast<std::size_t>(n), -1), count(static_cast<std::size_t>(n), 1);
  double entries = n, work = n;
  for (int k = 0; k < n; k++) {
    flag[k] = k;
    for (PATTERN::InnerIterator e(s, eliminated[k]); e; ++e) {
      for (int i = place[e.index()]; i < k && flag[i] != k; i = parent[i]) {
        flag[i] = k;
        work += 2.0 * count[i] + 1.0;
        count[i]++;
        entries++;
      }
    }
    if (entries > most_entries || work > most_work)
      return 0;
  }
  return 1;
}
