// analyze_step.cc - one step of a distribution over a chain, x -> x P, scattered row by row.
// Part of pravlin; see README.md.
#include "analyze_step.h"

#include <algorithm>

void step_product(const SPARSE_CHAIN* c, const double* x, double* y) {
  std::fill(y, y + c->n + 1, 0.0);
  for (int u = 1; u <= c->n; u++) {
    const double xu = x[u];
    if (xu == 0.0)
      continue;
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++)
      y[c->to[e]] += xu * c->p[e];
  }
}
