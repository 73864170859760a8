// analyze_among.cc - the reversed transitions, goal sets and systems over a set of states that
// the committor, rewards and lumping share (solve_among_set).
// Part of pravlin; see README.md.
#include "analyze_among.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>

#include "analyze_hitting.h"
#include "analyze_sparse.h"

void reverse_chain(const SPARSE_CHAIN* c, REVERSED_CHAIN* r) {
  const std::size_t n = static_cast<std::size_t>(c->n);
  r->in_start.assign(n + 2, 0);
  r->in_from.assign(c->to.size(), 0);
  r->in_p.assign(c->to.size(), 0.0);
  for (int v : c->to)
    r->in_start[static_cast<std::size_t>(v) + 1]++;
  for (std::size_t i = 1; i < n + 2; i++)
    r->in_start[i] += r->in_start[i - 1];
  std::vector<std::size_t> fill(r->in_start.begin(), r->in_start.end() - 1);
  // Sources in increasing order, since the rows are visited so.
  for (int u = 1; u <= c->n; u++) {
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      const std::size_t f = fill[c->to[e]]++;
      r->in_from[f] = u;
      r->in_p[f] = c->p[e];
    }
  }
}

void reach_backwards(const REVERSED_CHAIN* r, const std::vector<char>& pass,
                     std::vector<char>* marked) {
  std::vector<int> queue;
  const int n = static_cast<int>(marked->size()) - 1;
  for (int s = 1; s <= n; s++) {
    if ((*marked)[s])
      queue.push_back(s);
  }
  for (std::size_t head = 0; head < queue.size(); head++) {
    const int v = queue[head];
    for (std::size_t e = r->in_start[v]; e < r->in_start[v + 1]; e++) {
      const int u = r->in_from[e];
      if (!(*marked)[u] && pass[u]) {
        (*marked)[u] = 1;
        queue.push_back(u);
      }
    }
  }
}

void find_goal_sets(const SPARSE_CHAIN* c, const REVERSED_CHAIN* r, const std::vector<char>& stop,
                    const std::vector<char>& goal, GOAL_SETS* g) {
  const std::size_t n = static_cast<std::size_t>(c->n);
  std::vector<char> pass(n + 1, 0);
  for (int s = 1; s <= c->n; s++)
    pass[s] = static_cast<char>(stop[s] == 0);
  g->reaches = goal;
  reach_backwards(r, pass, &g->reaches);
  // A state may miss G when it can get, without stopping, to a stop outside G or to a state
  // from which G cannot be reached.
  std::vector<char> may_miss(n + 1, 0);
  for (int s = 1; s <= c->n; s++)
    may_miss[s] = static_cast<char>(g->reaches[s] == 0);
  reach_backwards(r, pass, &may_miss);
  g->certain.assign(n + 1, 0);
  g->uncertain.assign(n + 1, 0);
  g->nbr_certain = 0;
  g->nbr_uncertain = 0;
  for (int s = 1; s <= c->n; s++) {
    if (stop[s])
      continue;
    if (!may_miss[s]) {
      g->certain[s] = ++g->nbr_certain;
    } else if (g->reaches[s]) {
      g->uncertain[s] = ++g->nbr_uncertain;
    }
  }
}

// The band of the set's transitions in the order of index.
static int among_band(const SPARSE_CHAIN* c, const std::vector<int>& index) {
  int band = 0;
  for (int u = 1; u <= c->n; u++) {
    for (std::size_t e = c->row_start[u]; index[u] > 0 && e < c->row_start[u + 1]; e++) {
      if (index[c->to[e]] > 0)
        band = std::max(band, std::abs(index[c->to[e]] - index[u]));
    }
  }
  return band;
}

// Elimination within the band, as absorption's: the diagonal of I - Q is the outflow, never
// 1 - P[s][s]. 0 when the memory cannot be had.
static int eliminate_among(const SPARSE_CHAIN* c, const std::vector<int>& index, int m, int band,
                           std::vector<double>* b, int nb) {
  const std::size_t w = 2 * static_cast<std::size_t>(band) + 1;
  const std::size_t cols = static_cast<std::size_t>(nb);
  const std::size_t rows = static_cast<std::size_t>(m) + 1;
  if (w > SIZE_MAX / sizeof(double) / rows || !dense_fits(rows * w + rows * cols))
    return 0;
  std::vector<double> a, s, y;
  try {
    a.assign(rows * w, 0.0);
    s.assign(rows, 0.0);
    y.assign(rows * cols, 0.0);
  } catch (const std::exception&) {  // the sparse solver may still manage
    return 0;
  }
  for (int u = 1; u <= c->n; u++) {
    const int i = index[u];
    if (i <= 0)
      continue;
    const std::size_t row = static_cast<std::size_t>(i);
    for (std::size_t j = 0; j < cols; j++)
      y[row * cols + j] = (*b)[(row - 1) * cols + j];
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      const int v = c->to[e];
      if (v == u)
        continue;
      if (index[v] > 0) {
        a[row * w + static_cast<std::size_t>(index[v] - i + band)] = c->p[e];
      } else {
        s[row] += c->p[e];
      }
    }
  }
  banded_elimination(a.data(), m, band, s.data(), y.data(), nb);
  std::copy(y.begin() + static_cast<std::ptrdiff_t>(cols), y.end(), b->begin());
  return 1;
}

// The largest of the columns' ||a x - b||_1 / ||b||_1 (0 for a column of b all 0).
static double among_set_residual(const SPARSE_MATRIX& a, const Eigen::MatrixXd& x,
                                 const Eigen::MatrixXd& b) {
  double largest = 0.0;
  for (Eigen::Index j = 0; j < b.cols(); j++) {
    const double size = b.col(j).lpNorm<1>();
    const double r = (a * x.col(j) - b.col(j)).lpNorm<1>();
    const double relative = size > 0.0 ? r / size : r;
    largest = relative > largest || std::isnan(relative) ? relative : largest;
  }
  return largest;
}

SOLVE_RESULT solve_among_set(const SPARSE_CHAIN* c, const std::vector<int>& index, int m,
                             std::vector<double>* b, int nb, const char* what) {
  if (m == 0)
    return SOLVE_RESULT{"elimination", 0, 0.0};
  const int band = among_band(c, index);
  if (m <= DENSE_MAX_STATES && eliminate_among(c, index, m, band, b, nb))
    return SOLVE_RESULT{"elimination", 0, 0.0};
  const SPARSE_MATRIX a = among_matrix(c, index, m);
  const Eigen::MatrixXd rhs =
      Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>(
          b->data(), m, nb);
  SOLVE_RESULT how;
  Eigen::MatrixXd x;
  if (m > DENSE_MAX_STATES && static_cast<double>(m) * band * band <= BANDED_MAX_WORK &&
      eliminate_among(c, index, m, band, b, nb)) {
    x = Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>(
        b->data(), m, nb);
    how = SOLVE_RESULT{"elimination within the band", 1, 0.0};
  } else {
    // Three digits beyond the goal, in the solver's own measure; the residual below decides.
    how = solve_with_goal(a, rhs.sparseView(), &x, 1, AMONG_RESIDUAL_GOAL * 1e-3);
    if (x.rows() != m) {
      fail(" *** ERROR: the %s system of %d states could not be solved\n", what, m);
    }
    for (int i = 0; i < m; i++) {
      for (int j = 0; j < nb; j++)
        (*b)[static_cast<std::size_t>(i) * static_cast<std::size_t>(nb) + j] = x(i, j);
    }
  }
  how.residual = among_set_residual(a, x, rhs);
  if (!(how.residual <= AMONG_RESIDUAL_GOAL)) {
    fail(
        " *** ERROR: the %s system of %d states has a residual of %.1e, above the accuracy goal "
        "of %.0e: no sparse method did better\n",
        what, m, how.residual, AMONG_RESIDUAL_GOAL);
  }
  return how;
}

void print_among_residual(FILE* out, const SOLVE_RESULT* how) {
  if (how->sparse) {
    std::fprintf(out, "  residual |(I - Q) x - b|_1 / |b|_1 %.1e (sparse solve: %s)\n",
                 how->residual, how->method);
  }
}
