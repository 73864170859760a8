// analyze_step_fast.cc - the steps x -> x P of a large chain as a gather over P^T's rows grouped
// by length, on all cores; the plain scatter for a small one.
// Part of pravlin; see README.md.
#include "analyze_step_fast.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <exception>
#include <vector>

#include "cores.h"
#include "scratch.h"

// P^T with a row for each state v and row 0 empty, its entries p[u][v] in increasing u. One
// write an entry straight to its row would land anywhere in the matrix, a miss of the cache
// each; so the entries go first, in increasing u, to the part of the matrix of their window of
// ROW_GROUP_WINDOW rows (one stream of writes a window), then within each window, from a copy
// that stays in the cache, to their rows. Both passes keep the order of u. Returns 0 when the
// memory cannot be had.
static int transpose_chain(const SPARSE_CHAIN* c, SPARSE_MATRIX* t) {
  const std::size_t entries = c->row_start[static_cast<std::size_t>(c->n) + 1];
  if (entries > static_cast<std::size_t>(INT_MAX))
    return 0;
  const Eigen::Index w = static_cast<Eigen::Index>(c->n) + 1;
  const Eigen::Index windows = (w + ROW_GROUP_WINDOW - 1) / ROW_GROUP_WINDOW;
  try {
    t->resize(w, w);
    t->resizeNonZeros(static_cast<Eigen::Index>(entries));
    int* start = t->outerIndexPtr();
    int* col = t->innerIndexPtr();
    double* value = t->valuePtr();
    // Fresh memory, touched once: a fault each 2 MiB rather than each 4 KiB.
    advise_huge_pages(col, entries * sizeof(int));
    advise_huge_pages(value, entries * sizeof(double));
    std::fill(start, start + w + 1, 0);
    for (std::size_t e = 0; e < entries; e++)
      start[c->to[e] + 1]++;
    for (Eigen::Index v = 0; v < w; v++)
      start[v + 1] += start[v];
    std::vector<std::uint16_t> offset(entries);  // each entry's row within its window
    std::vector<int> next(static_cast<std::size_t>(windows));
    for (Eigen::Index k = 0; k < windows; k++)
      next[static_cast<std::size_t>(k)] = start[k * ROW_GROUP_WINDOW];
    for (int u = 1; u <= c->n; u++) {
      for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
        const int v = c->to[e];
        const int at = next[static_cast<std::size_t>(v / ROW_GROUP_WINDOW)]++;
        col[at] = u;
        value[at] = c->p[e];
        offset[static_cast<std::size_t>(at)] = static_cast<std::uint16_t>(v % ROW_GROUP_WINDOW);
      }
    }
    std::vector<int> part_col, row_next(static_cast<std::size_t>(ROW_GROUP_WINDOW));
    std::vector<double> part_value;
    for (Eigen::Index k = 0; k < windows; k++) {
      const Eigen::Index base = k * ROW_GROUP_WINDOW;
      const Eigen::Index end = std::min(w, base + ROW_GROUP_WINDOW);
      const int first = start[base], last = start[end];
      part_col.assign(col + first, col + last);
      part_value.assign(value + first, value + last);
      for (Eigen::Index v = base; v < end; v++)
        row_next[static_cast<std::size_t>(v - base)] = start[v];
      for (int i = 0; i < last - first; i++) {
        const int at =
            row_next[offset[static_cast<std::size_t>(first) + static_cast<std::size_t>(i)]]++;
        col[at] = part_col[static_cast<std::size_t>(i)];
        value[at] = part_value[static_cast<std::size_t>(i)];
      }
    }
  } catch (const std::exception&) {  // bad_alloc
    return 0;
  }
  return 1;
}

void prepare_steps(const SPARSE_CHAIN* c, long steps, int path, CHAIN_STEPS* s) {
  *s = CHAIN_STEPS{c, 0, ROW_GROUPS{}, core_count()};
  const std::size_t entries = c->row_start[static_cast<std::size_t>(c->n) + 1];
  if (path == STEP_PATH_PLAIN)
    return;
  if (path == STEP_PATH_CHOOSE &&
      (entries < STEP_GROUPS_MIN_ENTRIES || steps < STEP_GROUPS_MIN_STEPS))
    return;
  for (std::size_t e = 0; e < entries; e++) {
    if (!std::isfinite(c->p[e]))
      return;
  }
  SPARSE_MATRIX t;
  if (!transpose_chain(c, &t))
    return;
  s->grouped = group_rows(t, &s->groups);
}

void take_step(const CHAIN_STEPS* s, const double* x, double* y) {
  if (s->grouped) {
    row_product_grouped(&s->groups, x, y, s->cores);
  } else {
    step_product(s->chain, x, y);
  }
}
