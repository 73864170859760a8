// analyze_sparse_fast.cc - the products of a large sparse matrix with a vector, blocks of rows
// on all cores (row_product).
// Part of pravlin; see README.md.
#include "analyze_sparse_fast.h"

#include <algorithm>
#include <atomic>

#include "cores.h"

// How many entries ahead the product asks for x's entry: the columns of a random chain's rows
// are scattered over x, and each load that misses the cache would otherwise wait its turn. Far
// enough ahead it pays on a product alone, a few ahead not at all, and in a whole solve on a
// busy machine the gain is within the noise (doc/design/solvers.md, "Measurements").
static const int kPrefetchAhead = 64;

// Rows first..last-1. The sum starts from +0 and adds each entry's product in turn, as Eigen's
// product does (SparseDenseProduct.h, processRow); it then stores 0 + 1 * sum, which is the sum
// itself, since a sum that starts from +0 is never -0. The prefetches change no value.
static void product_rows(const SPARSE_MATRIX& a, const double* x, double* y, Eigen::Index first,
                         Eigen::Index last, double scale) {
  const int* start = a.outerIndexPtr();
  const int* col = a.innerIndexPtr();
  const double* v = a.valuePtr();
  const int ahead_end = start[last] - kPrefetchAhead;
  for (Eigen::Index i = first; i < last; i++) {
    double sum = 0.0;
    for (int e = start[i]; e < start[i + 1]; e++) {
      if (e < ahead_end)
        __builtin_prefetch(x + col[e + kPrefetchAhead]);
      sum += v[e] * x[col[e]];
    }
    y[i] = scale == 1.0 ? sum : sum / scale;
  }
}

static std::atomic<unsigned long> products{0};

unsigned long row_product_count() {
  return products.load(std::memory_order_relaxed);
}

void row_product(const SPARSE_MATRIX& a, const double* x, double* y, unsigned cores, double scale) {
  products.fetch_add(1, std::memory_order_relaxed);
  const Eigen::Index n = a.rows();
  const std::size_t entries = static_cast<std::size_t>(a.nonZeros());
  if (cores <= 1 || entries < ROW_PRODUCT_MIN_ENTRIES) {
    product_rows(a, x, y, 0, n, scale);
    return;
  }
  // Blocks of about equal entries, not rows: a row's work is its entries.
  const int* start = a.outerIndexPtr();
  run_parts(cores, [&](unsigned part) {
    auto boundary = [&](unsigned p) {
      const double share = static_cast<double>(entries) * p / cores;
      return static_cast<Eigen::Index>(std::lower_bound(start, start + n, static_cast<int>(share)) -
                                       start);
    };
    product_rows(a, x, y, part == 0 ? 0 : boundary(part),
                 part + 1 == cores ? n : boundary(part + 1), scale);
  });
}

Eigen::VectorXd operator*(const ROWS_OPERAND& a, const Eigen::VectorXd& x) {
  Eigen::VectorXd y(a.a->rows());
  row_product(*a.a, x.data(), y.data(), a.cores);
  return y;
}
