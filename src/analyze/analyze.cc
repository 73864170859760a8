// analyze.cc - the structure of a chain: classes, periods, stationary distributions by GTH,
// absorption, n-step distributions.
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
#include "fast.h"

void sparse_chain_from_list(SPARSE_CHAIN* c, int n, const std::vector<TRANSITION_ENTRY>& list) {
  const std::size_t rows = static_cast<std::size_t>(n) + 2;
  c->n = n;
  c->row_start.assign(rows, 0);
  c->to.clear();
  c->p.clear();
  c->to.reserve(list.size());
  c->p.reserve(list.size());
  for (const TRANSITION_ENTRY& e : list) {
    c->to.push_back(e.to);
    c->p.push_back(e.probability);
    c->row_start[static_cast<std::size_t>(e.from) + 1]++;
  }
  for (std::size_t i = 1; i < rows; i++)
    c->row_start[i] += c->row_start[i - 1];
}

void sparse_chain_from_matrix(SPARSE_CHAIN* c, double** a, int n) {
  std::vector<TRANSITION_ENTRY> list;
  for (int i = 1; i <= n; i++) {
    for (int j = 1; j <= n; j++) {
      if (a[i][j] != 0.0)
        list.push_back(TRANSITION_ENTRY{i, j, a[i][j]});
    }
  }
  sparse_chain_from_list(c, n, list);
}

// Tarjan's algorithm with its call stack kept in a vector: a chain of 100,000 states in a line
// would otherwise recurse 100,000 frames deep. Components are numbered in the order found.
static int strong_components(const SPARSE_CHAIN* c, std::vector<int>* component) {
  const std::size_t n = static_cast<std::size_t>(c->n);
  std::vector<int> index(n + 1, 0), low(n + 1, 0);
  std::vector<char> on_stack(n + 1, 0);
  std::vector<std::size_t> next_edge(n + 1, 0);
  std::vector<int> stack, calls;
  component->assign(n + 1, 0);
  int counter = 0, found = 0;
  for (int s = 1; s <= c->n; s++) {
    if (index[s] != 0)
      continue;
    index[s] = low[s] = ++counter;
    stack.push_back(s);
    on_stack[s] = 1;
    next_edge[s] = c->row_start[s];
    calls.push_back(s);
    while (!calls.empty()) {
      const int v = calls.back();
      if (next_edge[v] < c->row_start[v + 1]) {
        const int w = c->to[next_edge[v]++];
        if (index[w] == 0) {
          index[w] = low[w] = ++counter;
          stack.push_back(w);
          on_stack[w] = 1;
          next_edge[w] = c->row_start[w];
          calls.push_back(w);
        } else if (on_stack[w]) {
          low[v] = std::min(low[v], index[w]);
        }
        continue;
      }
      calls.pop_back();
      if (!calls.empty())
        low[calls.back()] = std::min(low[calls.back()], low[v]);
      if (low[v] == index[v]) {
        found++;
        int w;
        do {
          w = stack.back();
          stack.pop_back();
          on_stack[w] = 0;
          (*component)[w] = found;
        } while (w != v);
      }
    }
  }
  return found;
}

// The period of class k: with breadth-first levels from one state, every transition u -> v
// inside the class closes a cycle whose length differs from a multiple of the period by
// level[u] + 1 - level[v]; their gcd is the period.
static int class_period(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k,
                        std::vector<int>* level, std::vector<int>* queue) {
  const int root = cl->member[cl->first[k]];
  queue->clear();
  queue->push_back(root);
  (*level)[root] = 0;
  int g = 0;
  for (std::size_t head = 0; head < queue->size(); head++) {
    const int u = (*queue)[head];
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      const int v = c->to[e];
      if (cl->class_of[v] != k)
        continue;
      if ((*level)[v] < 0) {
        (*level)[v] = (*level)[u] + 1;
        queue->push_back(v);
      } else {
        g = std::gcd(g, (*level)[u] + 1 - (*level)[v]);
      }
    }
  }
  return g;
}

void find_classes(const SPARSE_CHAIN* c, CHAIN_CLASSES* cl) {
  const std::size_t n = static_cast<std::size_t>(c->n);
  std::vector<int> component;
  const int found = strong_components(c, &component);

  // Tarjan finds sinks first; a reader expects classes in the order of their states.
  std::vector<int> renumber(static_cast<std::size_t>(found) + 1, 0);
  int k = 0;
  cl->class_of.assign(n + 1, 0);
  for (int s = 1; s <= c->n; s++) {
    if (renumber[component[s]] == 0)
      renumber[component[s]] = ++k;
    cl->class_of[s] = renumber[component[s]];
  }
  cl->nbr_classes = k;

  const std::size_t classes = static_cast<std::size_t>(k);
  cl->first.assign(classes + 2, 0);
  for (int s = 1; s <= c->n; s++)
    cl->first[static_cast<std::size_t>(cl->class_of[s]) + 1]++;
  for (std::size_t i = 1; i < classes + 2; i++)
    cl->first[i] += cl->first[i - 1];
  cl->member.assign(n, 0);
  std::vector<std::size_t> fill(cl->first.begin(), cl->first.end() - 1);
  cl->position.assign(n + 1, 0);
  for (int s = 1; s <= c->n; s++) {
    const int k2 = cl->class_of[s];
    cl->position[s] = static_cast<int>(fill[k2] - cl->first[k2]) + 1;
    cl->member[fill[k2]++] = s;
  }

  cl->closed.assign(classes + 1, 1);
  cl->closed[0] = 0;
  for (int u = 1; u <= c->n; u++) {
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      if (cl->class_of[c->to[e]] != cl->class_of[u])
        cl->closed[cl->class_of[u]] = 0;
    }
  }
  cl->nbr_closed = 0;
  for (int j = 1; j <= k; j++)
    cl->nbr_closed += cl->closed[j];

  cl->period.assign(classes + 1, 0);
  std::vector<int> level(n + 1, -1), queue;
  for (int j = 1; j <= k; j++)
    cl->period[j] = class_period(c, cl, j, &level, &queue);
}

int class_size(const CHAIN_CLASSES* cl, int k) {
  return static_cast<int>(cl->first[k + 1] - cl->first[k]);
}

std::string class_name(const CHAIN_CLASSES* cl, int k) {
  return "class " + std::to_string(k) + (cl->nbr_classes == 1 ? ", the whole chain" : "");
}

int next_closed_class(const CHAIN_CLASSES* cl, int k) {
  for (k++; k <= cl->nbr_classes; k++) {
    if (cl->closed[k] && class_size(cl, k) > 1)
      return k;
  }
  return 0;
}

int squaring_can_converge(const CHAIN_CLASSES* cl) {
  if (cl->nbr_closed != 1)
    return 0;
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (cl->closed[k])
      return cl->period[k] == 1;
  }
  return 0;
}

int dense_fits(std::size_t count) {
  return count <= physical_memory() / sizeof(double);
}

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

void absorption_sets(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, ABSORPTION* ab,
                     std::vector<int>* local, std::vector<int>* column) {
  local->assign(static_cast<std::size_t>(c->n) + 1, 0);
  column->assign(static_cast<std::size_t>(cl->nbr_classes) + 1, 0);
  ab->state.assign(1, 0);
  ab->closed_class.assign(1, 0);
  for (int s = 1; s <= c->n; s++) {
    if (cl->closed[cl->class_of[s]])
      continue;
    ab->state.push_back(s);
    (*local)[s] = static_cast<int>(ab->state.size()) - 1;
  }
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (!cl->closed[k])
      continue;
    ab->closed_class.push_back(k);
    (*column)[k] = static_cast<int>(ab->closed_class.size()) - 1;
  }
  ab->nbr_transient = static_cast<int>(ab->state.size()) - 1;
  ab->nbr_closed = static_cast<int>(ab->closed_class.size()) - 1;
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

// x = x P.
static void one_step(const SPARSE_CHAIN* c, std::vector<double>* x, std::vector<double>* y) {
  std::fill(y->begin(), y->end(), 0.0);
  for (int u = 1; u <= c->n; u++) {
    const double xu = (*x)[u];
    if (xu == 0.0)
      continue;
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      (*y)[c->to[e]] += xu * c->p[e];
    }
  }
  x->swap(*y);
}

// The most transitions --steps follows, summed over its steps, before its repeat is found: a
// run that has not repeated by then is refused with the estimate, steps times transitions (a
// line of 3000 states asked for 10^9 steps would take hours).
static const double STEPS_WORK_MAX = 1e10;

void step_distribution(const SPARSE_CHAIN* c, std::vector<double>* x, long steps) {
  std::vector<double> y(x->size(), 0.0);
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
    one_step(c, x, &y);
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
