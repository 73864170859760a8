// analyze.cc - stationary distributions by GTH, dense or within a band, absorption by
// elimination, n-step distributions.
// Part of pravlin; see README.md.
#include "analyze.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <numeric>

#include "analyze_sparse.h"
#include "analyze_states.h"
#include "analyze_step_fast.h"

// rows x cols doubles, zero-filled; 0 when they cannot be had. A block bigger than memory is
// refused before asking: the kernel would grant it and kill the process when it is touched.
static int dense_block(std::vector<double>* block, std::size_t rows, std::size_t cols) {
  if (rows != 0 && cols > SIZE_MAX / sizeof(double) / rows)
    return 0;
  if (!dense_fits(rows * cols))
    return 0;
  try {
    block->assign(rows * cols, 0.0);
  } catch (const std::exception&) {  // bad_alloc, or length_error for an impossible size
    return 0;
  }
  return 1;
}

void gth_stationary(double* a, int m, double* x) {
  const std::size_t w = static_cast<std::size_t>(m) + 1;
  // Fold state k into states 1..k-1: its outflow to them is a sum of positive terms, where
  // 1 - a[k][k] would cancel for a state that almost never leaves.
  for (int k = m; k >= 2; k--) {
    const double* ak = a + k * w;
    double s = 0.0;
    for (int j = 1; j < k; j++)
      s += ak[j];
    for (int i = 1; i < k; i++) {
      double* ai = a + i * w;
      if (ai[k] == 0.0)
        continue;
      ai[k] /= s;
      for (int j = 1; j < k; j++)
        ai[j] += ai[k] * ak[j];
    }
  }
  x[1] = 1.0;
  double total = 1.0;
  for (int j = 2; j <= m; j++) {
    double v = 0.0;
    for (int i = 1; i < j; i++)
      v += x[i] * a[i * w + j];
    x[j] = v;
    total += v;
  }
  for (int j = 1; j <= m; j++)
    x[j] /= total;
}

int class_bandwidth(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k) {
  int band = 0;
  for (std::size_t i = cl->first[k]; i < cl->first[k + 1]; i++) {
    const int u = cl->member[i];
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++)
      band = std::max(band, std::abs(cl->position[c->to[e]] - cl->position[u]));
  }
  return band;
}

void gth_banded_stationary(double* a, int m, int band, double* x) {
  // a[i][j] lives at a[i * w + j - i + band]. Folding state k touches only rows and columns
  // k - band .. k - 1, which stay within the band: the band never fills in.
  const std::size_t w = 2 * static_cast<std::size_t>(band) + 1;
  auto at = [&](int i, int j) -> double& {
    return a[static_cast<std::size_t>(i) * w + static_cast<std::size_t>(j - i + band)];
  };
  for (int k = m; k >= 2; k--) {
    const int low = std::max(1, k - band);
    double s = 0.0;
    for (int j = low; j < k; j++)
      s += at(k, j);
    for (int i = low; i < k; i++) {
      double& ik = at(i, k);
      if (ik == 0.0)
        continue;
      ik /= s;
      for (int j = low; j < k; j++)
        at(i, j) += ik * at(k, j);
    }
  }
  x[1] = 1.0;
  double total = 1.0;
  for (int j = 2; j <= m; j++) {
    double v = 0.0;
    for (int i = std::max(1, j - band); i < j; i++)
      v += x[i] * at(i, j);
    x[j] = v;
    total += v;
  }
  for (int j = 1; j <= m; j++)
    x[j] /= total;
}

void banded_elimination(double* a, int m, int band, double* s, double* b, int nb) {
  // Eliminating state k touches rows and columns k + 1 .. k + band only, so the band never
  // fills in.
  const std::size_t w = 2 * static_cast<std::size_t>(band) + 1;
  const std::size_t cols = static_cast<std::size_t>(nb);
  auto at = [&](int i, int j) -> double& {
    return a[static_cast<std::size_t>(i) * w + static_cast<std::size_t>(j - i + band)];
  };
  std::vector<double> d(static_cast<std::size_t>(m) + 1, 0.0);
  for (int k = 1; k <= m; k++) {
    const int high = std::min(m, k + band);
    double dk = s[k];
    for (int j = k + 1; j <= high; j++)
      dk += at(k, j);
    d[k] = dk;
    for (int i = k + 1; i <= high; i++) {
      double& ik = at(i, k);
      if (ik == 0.0)
        continue;
      const double f = ik / dk;
      ik = 0.0;
      for (int j = k + 1; j <= high; j++) {
        if (j != i)
          at(i, j) += f * at(k, j);
      }
      s[i] += f * s[k];
      for (std::size_t j = 0; j < cols; j++)
        b[static_cast<std::size_t>(i) * cols + j] += f * b[static_cast<std::size_t>(k) * cols + j];
    }
  }
  for (int k = m; k >= 1; k--) {
    const int high = std::min(m, k + band);
    for (std::size_t j = 0; j < cols; j++) {
      double v = b[static_cast<std::size_t>(k) * cols + j];
      for (int i = k + 1; i <= high; i++)
        v += at(k, i) * b[static_cast<std::size_t>(i) * cols + j];
      b[static_cast<std::size_t>(k) * cols + j] = v / d[k];
    }
  }
}

// GTH over the band of a class whose transitions all stay within band places of their state,
// when the band is narrow enough to be cheap; 0 when it is not (or its memory cannot be had).
static int banded_class_stationary(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k,
                                   double* pi) {
  const int m = class_size(cl, k);
  const int band = class_bandwidth(c, cl, k);
  const double work = static_cast<double>(m) * band * band;
  if (work > BANDED_MAX_WORK)
    return 0;
  const std::size_t w = 2 * static_cast<std::size_t>(band) + 1;
  std::vector<double> a;
  if (!dense_block(&a, static_cast<std::size_t>(m) + 1, w))
    return 0;
  const int* states = cl->member.data() + cl->first[k];
  for (int i = 1; i <= m; i++) {
    const int u = states[i - 1];
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      const int j = cl->position[c->to[e]];
      a[static_cast<std::size_t>(i) * w + static_cast<std::size_t>(j - i + band)] = c->p[e];
    }
  }
  std::vector<double> x(static_cast<std::size_t>(m) + 1, 0.0);
  gth_banded_stationary(a.data(), m, band, x.data());
  for (int i = 1; i <= m; i++)
    pi[states[i - 1]] = x[i];
  return 1;
}

SOLVE_RESULT class_stationary(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k, double* pi,
                              double goal) {
  const int m = class_size(cl, k);
  const int* states = cl->member.data() + cl->first[k];
  // Work in proportion to the class alone: a chain of a million absorbing states has a million
  // classes.
  if (m == 1) {
    pi[states[0]] = 1.0;
    return SOLVE_RESULT{"GTH", 0, 0.0};
  }
  if (m > DENSE_MAX_STATES) {
    SOLVE_RESULT how;
    if (banded_class_stationary(c, cl, k, pi)) {
      how = SOLVE_RESULT{"GTH within the band", 1, stationary_residual(c, cl, k, pi)};
    } else {
      how = sparse_class_stationary(c, cl, k, pi, goal);
    }
    if (!(how.residual <= goal)) {
      fail(
          " *** ERROR: the stationary distribution of class %d (%d states) has a residual of "
          "%.1e, above the accuracy goal of %.0e: no sparse method did better\n",
          k, m, how.residual, goal);
    }
    // The residual bounds the error against the largest entries only: cancellation can leave a
    // small one negative under a tiny residual. Such an answer is no distribution.
    for (int i = 0; i < m; i++) {
      if (!(pi[states[i]] >= 0.0)) {
        fail(
            " *** ERROR: the stationary distribution of class %d (%d states) came out with an "
            "impossible entry (%.1e for state %d) under a residual of %.1e: the system is too "
            "ill-conditioned for the sparse solve\n",
            k, m, pi[states[i]], states[i], how.residual);
      }
    }
    return how;
  }
  const std::size_t w = static_cast<std::size_t>(m) + 1;
  std::vector<double> a;
  if (!dense_block(&a, w, w)) {
    fail(" *** ERROR: a class of %d states is too big for a dense solve in memory\n", m);
  }
  for (int i = 1; i <= m; i++) {
    const int u = states[i - 1];
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      a[static_cast<std::size_t>(i) * w + cl->position[c->to[e]]] = c->p[e];
    }
  }
  std::vector<double> x(w, 0.0);
  gth_stationary(a.data(), m, x.data());
  for (int i = 1; i <= m; i++)
    pi[states[i - 1]] = x[i];
  return SOLVE_RESULT{"GTH", 0, stationary_residual(c, cl, k, pi)};
}

void solve_absorption(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, ABSORPTION* ab, double goal) {
  std::vector<int> local, column;
  absorption_sets(c, cl, ab, &local, &column);
  const int t = ab->nbr_transient;
  const int kc = ab->nbr_closed;
  if (t > DENSE_MAX_STATES) {
    sparse_absorption(c, cl, ab, goal);
    if (!(ab->how.residual <= goal)) {
      fail(
          " *** ERROR: the absorption systems of %d transient states have a residual of %.1e, "
          "above the accuracy goal of %.0e: no sparse method did better\n",
          t, ab->how.residual, goal);
    }
    return;
  }
  ab->how = SOLVE_RESULT{"elimination", 0, 0.0};
  const std::size_t w = static_cast<std::size_t>(t) + 1;
  const std::size_t nb = static_cast<std::size_t>(kc) + 1;

  // q: transitions between distinct transient states, held by bands (a set of transient states
  // in a line keeps a narrow one; the widest is the dense matrix); b: column 0 all 1 (steps),
  // column j the probability of entering closed class j at once; s: the row sums of I - Q, the
  // probability of leaving the transient states at once. I - Q itself is never formed: its
  // diagonal is always taken as s plus the row's remaining outflow, so nothing is ever
  // subtracted. The elimination skips only entries outside the band, which are zero: the bits
  // are those of the whole matrix.
  int band = 0;
  for (int i = 1; i <= t; i++) {
    const int u = ab->state[i];
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      if (local[c->to[e]] != 0)
        band = std::max(band, std::abs(local[c->to[e]] - i));
    }
  }
  const std::size_t width = 2 * static_cast<std::size_t>(band) + 1;
  std::vector<double> q, b;
  if (!dense_block(&q, w, width) || !dense_block(&b, w, nb)) {
    fail(" *** ERROR: %d transient states are too many for a dense solve in memory\n", t);
  }
  std::vector<double> s(w, 0.0);
  for (int i = 1; i <= t; i++) {
    const int u = ab->state[i];
    b[i * nb] = 1.0;
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      const int v = c->to[e];
      if (local[v] != 0) {
        if (v != u)
          q[i * width + static_cast<std::size_t>(local[v] - i + band)] = c->p[e];
      } else {
        b[i * nb + column[cl->class_of[v]]] += c->p[e];
        s[i] += c->p[e];
      }
    }
  }
  banded_elimination(q.data(), t, band, s.data(), b.data(), kc + 1);

  ab->steps.assign(w, 0.0);
  ab->probability.assign(w * nb, 0.0);
  for (int i = 1; i <= t; i++) {
    ab->steps[i] = b[i * nb];
    for (std::size_t j = 1; j < nb; j++)
      ab->probability[i * nb + j] = b[i * nb + j];
  }
}

// The most transitions --steps follows, summed over its steps, before its repeat is found: a
// run that has not repeated by then is refused with the estimate, steps times transitions (a
// line of 3000 states asked for 10^9 steps would take hours).
static const double STEPS_WORK_MAX = 1e10;

void step_distribution(const SPARSE_CHAIN* c, std::vector<double>* x, long steps, int path) {
  std::vector<double> y(x->size(), 0.0);
  CHAIN_STEPS chain_steps;
  prepare_steps(c, steps, path, &chain_steps);
  // Brent's cycle finding: saved is the distribution at the last power of two; a repeat of it
  // after cycle steps means every later step repeats too, so only the remainder of the steps
  // left modulo cycle needs doing. Floating point reaches such a repeat soon: a fixed point for
  // an aperiodic chain, a cycle of the period for a periodic one.
  std::vector<double> saved = *x;
  long power = 1, cycle = 0;
  int found = 0;
  const int terminal = isatty(STDERR_FILENO);
  const auto start = std::chrono::steady_clock::now();
  auto shown = start;
  int progress = 0;
  const long asked = steps;
  const double per_step = static_cast<double>(c->row_start[c->n + 1]) + 1.0;
  for (long step = 0; step < steps; step++) {
    if (!found && per_step * static_cast<double>(step + 1) > STEPS_WORK_MAX) {
      if (progress)
        std::fprintf(stderr, "%60s\r", "");
      fail(
          " *** ERROR: --steps %ld: about %.1e transitions followed (%ld steps of %.0f), beyond "
          "the limit of %.0e, and the distribution has not come back to an earlier one after "
          "%ld steps\n",
          asked, per_step * static_cast<double>(asked), asked, per_step - 1.0, STEPS_WORK_MAX,
          step);
    }
    take_step(&chain_steps, x->data(), y.data());
    x->swap(y);
    if (!found) {
      cycle++;
      if (*x == saved) {
        found = 1;
        steps = step + 1 + (steps - step - 1) % cycle;
      } else if (cycle == power) {
        saved = *x;
        power *= 2;
        cycle = 0;
      }
    }
    if (terminal && (step & 63) == 0) {
      const auto now = std::chrono::steady_clock::now();
      if (now - start > std::chrono::seconds(2) && now - shown > std::chrono::seconds(1)) {
        std::fprintf(stderr, "pravlin-analyze: step %ld of %ld\r", step + 1, steps);
        shown = now;
        progress = 1;
      }
    }
  }
  if (progress)
    std::fprintf(stderr, "%60s\r", "");
}
