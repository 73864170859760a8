// analyze_sparse_fast.cc - the products of a large sparse matrix with a vector, blocks of rows
// on all cores (row_product), and over rows grouped by length (row_product_grouped).
// Part of pravlin; see README.md.
#include "analyze_sparse_fast.h"

#include <algorithm>
#include <atomic>
#include <utility>
#include <vector>

#include "cancel.h"
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

int group_rows(const SPARSE_MATRIX& a, ROW_GROUPS* g) {
  const Eigen::Index n = a.rows();
  const std::size_t entries = static_cast<std::size_t>(a.nonZeros());
  const int* start = a.outerIndexPtr();
  const int* col = a.innerIndexPtr();
  const double* v = a.valuePtr();
  const Eigen::Index windows = (n + ROW_GROUP_WINDOW - 1) / ROW_GROUP_WINDOW;
  // A window has as many groups as lengths, at most one a row.
  std::size_t most_groups = 0;
  for (Eigen::Index w = 0; w < windows; w++) {
    const Eigen::Index rows = std::min(n - w * ROW_GROUP_WINDOW, ROW_GROUP_WINDOW);
    const int in_window = start[w * ROW_GROUP_WINDOW + rows] - start[w * ROW_GROUP_WINDOW];
    most_groups += static_cast<std::size_t>(std::min<Eigen::Index>(rows, in_window + 1));
  }
  *g = ROW_GROUPS{};
  ROW_GROUPS h{n,
               windows,
               scratch<std::uint16_t>(static_cast<std::size_t>(n)),
               scratch<int>(entries),
               scratch<double>(entries),
               scratch<int>(most_groups),
               scratch<int>(most_groups),
               scratch<std::size_t>(static_cast<std::size_t>(windows) + 1),
               scratch<std::size_t>(static_cast<std::size_t>(windows) + 1)};
  if (!h.order || !h.col || !h.value || !h.length || !h.count || !h.group || !h.entry)
    return 0;
  advise_huge_pages(h.col.get(), entries * sizeof(int));
  advise_huge_pages(h.value.get(), entries * sizeof(double));
  // A counting sort of each window's rows by length; next[L] is where the next row of length L
  // goes in the window's order, place[L] where its entries go.
  std::vector<std::size_t> rows_of, next, place;
  std::size_t groups = 0, entry = 0;
  for (Eigen::Index w = 0; w < windows; w++) {
    const Eigen::Index base = w * ROW_GROUP_WINDOW;
    const Eigen::Index end = std::min(n, base + ROW_GROUP_WINDOW);
    h.group[w] = groups;
    h.entry[w] = entry;
    int longest = 0;
    for (Eigen::Index r = base; r < end; r++)
      longest = std::max(longest, start[r + 1] - start[r]);
    rows_of.assign(static_cast<std::size_t>(longest) + 1, 0);
    next.resize(rows_of.size());
    place.resize(rows_of.size());
    for (Eigen::Index r = base; r < end; r++)
      rows_of[static_cast<std::size_t>(start[r + 1] - start[r])]++;
    std::size_t row_at = static_cast<std::size_t>(base), entry_at = entry;
    for (std::size_t length = 0; length < rows_of.size(); length++) {
      next[length] = row_at;
      place[length] = entry_at;
      if (rows_of[length] == 0)
        continue;
      h.length[groups] = static_cast<int>(length);
      h.count[groups] = static_cast<int>(rows_of[length]);
      groups++;
      row_at += rows_of[length];
      entry_at += rows_of[length] * length;
    }
    for (Eigen::Index r = base; r < end; r++) {
      const std::size_t length = static_cast<std::size_t>(start[r + 1] - start[r]);
      h.order[next[length]++] = static_cast<std::uint16_t>(r - base);
      std::copy(col + start[r], col + start[r + 1], h.col.get() + place[length]);
      std::copy(v + start[r], v + start[r + 1], h.value.get() + place[length]);
      place[length] += length;
    }
    entry = entry_at;
  }
  h.group[windows] = groups;
  h.entry[windows] = entry;
  *g = std::move(h);
  return 1;
}

// count rows of `length` entries each (known when the compiler unrolls it), from col and value,
// their offsets in the window at order; each sum as product_rows takes it.
template <int kLength>
static void product_group(const int* col, const double* value, const std::uint16_t* order,
                          int count, int length, const double* x, double* y, double scale) {
  const int each = kLength > 0 ? kLength : length;
  for (int k = 0; k < count; k++) {
    double sum = 0.0;
    for (int e = 0; e < each; e++)
      sum += value[e] * x[col[e]];
    y[order[k]] = scale == 1.0 ? sum : sum / scale;
    col += each;
    value += each;
  }
}

// Windows first..last-1 of g.
static void product_windows(const ROW_GROUPS* g, const double* x, double* y, Eigen::Index first,
                            Eigen::Index last, double scale) {
  for (Eigen::Index w = first; w < last; w++) {
    const int* col = g->col.get() + g->entry[w];
    const double* value = g->value.get() + g->entry[w];
    const std::uint16_t* order = g->order.get() + w * ROW_GROUP_WINDOW;
    double* yw = y + w * ROW_GROUP_WINDOW;
    for (std::size_t k = g->group[w]; k < g->group[w + 1]; k++) {
      const int length = g->length[k], count = g->count[k];
      switch (length) {  // the common lengths of a chain's rows, each a loop of its own
        case 1:
          product_group<1>(col, value, order, count, length, x, yw, scale);
          break;
        case 2:
          product_group<2>(col, value, order, count, length, x, yw, scale);
          break;
        case 3:
          product_group<3>(col, value, order, count, length, x, yw, scale);
          break;
        case 4:
          product_group<4>(col, value, order, count, length, x, yw, scale);
          break;
        case 5:
          product_group<5>(col, value, order, count, length, x, yw, scale);
          break;
        case 6:
          product_group<6>(col, value, order, count, length, x, yw, scale);
          break;
        case 7:
          product_group<7>(col, value, order, count, length, x, yw, scale);
          break;
        case 8:
          product_group<8>(col, value, order, count, length, x, yw, scale);
          break;
        default:
          product_group<0>(col, value, order, count, length, x, yw, scale);
          break;
      }
      col += static_cast<std::size_t>(count) * static_cast<std::size_t>(length);
      value += static_cast<std::size_t>(count) * static_cast<std::size_t>(length);
      order += count;
    }
  }
}

void row_product_grouped(const ROW_GROUPS* g, const double* x, double* y, unsigned cores,
                         double scale) {
  products.fetch_add(1, std::memory_order_relaxed);
  const std::size_t entries = g->entry[g->windows];
  if (cores <= 1 || entries < ROW_PRODUCT_MIN_ENTRIES) {
    product_windows(g, x, y, 0, g->windows, scale);
    return;
  }
  const std::size_t* entry = g->entry.get();
  run_parts(cores, [&](unsigned part) {
    auto boundary = [&](unsigned p) {
      const double share = static_cast<double>(entries) * p / cores;
      return static_cast<Eigen::Index>(
          std::lower_bound(entry, entry + g->windows, static_cast<std::size_t>(share)) - entry);
    };
    product_windows(g, x, y, part == 0 ? 0 : boundary(part),
                    part + 1 == cores ? g->windows : boundary(part + 1), scale);
  });
}

Eigen::VectorXd operator*(const ROWS_OPERAND& a, const Eigen::VectorXd& x) {
  cancel_check();  // once per iteration of the solvers
  Eigen::VectorXd y(a.a->rows());
  if (a.groups != nullptr) {
    row_product_grouped(a.groups, x.data(), y.data(), a.cores);
  } else {
    row_product(*a.a, x.data(), y.data(), a.cores);
  }
  return y;
}
