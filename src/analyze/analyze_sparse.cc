// analyze_sparse.cc - stationary distributions and absorption of classes too large for a dense
// solve, by Eigen's sparse solvers, with the residual of every solve.
// Part of pravlin; see README.md.
#include "analyze_sparse.h"

#include <Eigen/IterativeLinearSolvers>
#include <algorithm>
#include <cmath>
#include <exception>
#include <vector>

#include "analyze_fill.h"
#include "analyze_sparse_fast.h"
#include "analyze_sparse_lu.h"
#include "cancel.h"
#include "cores.h"
#include "scratch.h"

typedef Eigen::Triplet<double> ENTRY;

double stationary_residual(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k,
                           const double* pi) {
  // pi P - pi over the class: a closed class sends nothing outside itself.
  const int m = class_size(cl, k);
  const int* states = cl->member.data() + cl->first[k];
  std::vector<double> flow(static_cast<std::size_t>(m) + 1, 0.0);
  for (int i = 1; i <= m; i++) {
    const int u = states[i - 1];
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++)
      flow[cl->position[c->to[e]]] += pi[u] * c->p[e];
  }
  double r = 0.0;
  for (int i = 1; i <= m; i++)
    r += std::fabs(flow[i] - pi[states[i - 1]]);
  return r;
}

// The residual r = a x - b of column j in the 1-norm. For a stationary distribution
// (steps_column 0) it is taken relative to 1 + ||x||_1, the total before normalisation, so that
// it measures ||pi P - pi||_1; for absorption, column 0 (the steps) is taken relative to
// ||b||_1 and the others (probabilities) as they are.
static double column_residual(const Eigen::VectorXd& r, const Eigen::VectorXd& x,
                              const Eigen::VectorXd& b, int steps_column, Eigen::Index j) {
  double norm = r.lpNorm<1>();
  if (!steps_column) {
    norm /= 1.0 + x.lpNorm<1>();
  } else if (j == 0) {
    norm /= b.lpNorm<1>();
  }
  return norm;
}

// The largest of residuals[0..count-1]; NaN wins, where fmax would drop it.
static double largest_of(const double* residuals, Eigen::Index count) {
  double largest = 0.0;
  for (Eigen::Index j = 0; j < count; j++)
    largest = (residuals[j] > largest || std::isnan(residuals[j])) ? residuals[j] : largest;
  return largest;
}

// The largest of the columns' residuals.
static double largest_residual(const SPARSE_MATRIX& a, const Eigen::MatrixXd& x,
                               const SPARSE_COLUMNS& b, int steps_column) {
  std::vector<double> residuals(static_cast<std::size_t>(b.cols()));
  Eigen::VectorXd rhs, column;
  for (Eigen::Index j = 0; j < b.cols(); j++) {
    rhs = b.col(j);
    column = x.col(j);
    residuals[j] = column_residual(a * column - rhs, column, rhs, steps_column, j);
  }
  return largest_of(residuals.data(), b.cols());
}

// The columns part, part + parts, ... of a x = b by BiCGSTAB, into x, and their residuals into
// residuals; *most becomes the most rounds a column took, or stays 0 when the solver cannot
// start. Eigen's BiCGSTAB algorithm, as Eigen::BiCGSTAB runs it, on a as a ROWS_OPERAND: a lone
// part has the cores to itself for its products.
static void solve_columns(const SPARSE_MATRIX& a, const ROW_GROUPS* groups, const SPARSE_COLUMNS& b,
                          Eigen::MatrixXd* x, double* residuals, int steps_column, double goal,
                          unsigned part, unsigned parts, int* most) {
  const ROWS_OPERAND op{&a, parts == 1 ? core_count() : 1, groups};
  Eigen::DiagonalPreconditioner<double> preconditioner;
  preconditioner.compute(a);
  if (preconditioner.info() != Eigen::Success)
    return;
  const double tolerance = 1e-13;
  Eigen::VectorXd rhs;
  for (Eigen::Index j = part; j < b.cols(); j += parts) {
    rhs = b.col(j);
    Eigen::VectorXd column = Eigen::VectorXd::Zero(b.rows());
    double last = HUGE_VAL;
    int round = 1;
    for (; round <= 20; round++) {
      Eigen::Index iterations = 100;
      double error = tolerance;
      Eigen::internal::bicgstab(op, rhs, column, preconditioner, iterations, error);
      const Eigen::VectorXd r = op * column - rhs;
      residuals[j] = column_residual(r, column, rhs, steps_column, j);
      if (residuals[j] <= goal * 1e-4 || !(residuals[j] < last * 0.1))
        break;
      // A new round starts from this residual, and would stop at once, changing nothing, when
      // it already meets the solver's own measure (its 2-norm relative to b's).
      if (!(r.squaredNorm() > tolerance * tolerance * rhs.squaredNorm()))
        break;
      last = residuals[j];
    }
    *most = std::max(*most, std::min(round, 20));
    x->col(j) = column;
  }
}

// BiCGSTAB with a diagonal preconditioner, in rounds of a few iterations, given up as soon as a
// round fails to cut the residual tenfold: on a fast-mixing chain it converges in a few dozen
// iterations of work in proportion to the transitions; on a slow-mixing one (a long line) it
// would crawl for thousands, and the sparse LU does better there. The columns are independent
// systems with the same matrix and preconditioner: they are shared out over the cores, each
// column's rounds on its own, and every column's answer is the same however they are shared.
static int iterative_solve(const SPARSE_MATRIX& a, const SPARSE_COLUMNS& b, Eigen::MatrixXd* x,
                           int steps_column, double goal, int* rounds, double* residual) {
  const unsigned parts = static_cast<unsigned>(
      std::min<Eigen::Index>(core_count(), std::max<Eigen::Index>(1, b.cols())));
  // Every column is written before the answer is used: a part that fails discards it all.
  x->resize(b.rows(), b.cols());
  advise_huge_pages(x->data(), static_cast<std::size_t>(x->size()) * sizeof(double));
  std::vector<int> most(parts, 0);
  std::vector<char> failed(parts, 0);
  std::vector<double> residuals(static_cast<std::size_t>(b.cols()));
  // The products' fast form, when its memory can be had; worth its one pass over the entries
  // only where the entries are many.
  ROW_GROUPS groups{};
  const int grouped =
      static_cast<std::size_t>(a.nonZeros()) >= ROW_GROUPS_MIN_ENTRIES && group_rows(a, &groups);
  run_parts(parts, [&](unsigned part) {
    // Memory refused on a thread of its own would end the process without a word: the part
    // gives up instead, and the caller moves on to the next method on its own thread.
    try {
      solve_columns(a, grouped ? &groups : nullptr, b, x, residuals.data(), steps_column, goal,
                    part, parts, &most[part]);
    } catch (const std::exception&) {
      failed[part] = 1;
    }
  });
  // Every part has a column at least: a round count of 0 is a solver that could not start.
  if (std::count(most.begin(), most.end(), 0) > 0 ||
      std::count(failed.begin(), failed.end(), 1) > 0)
    return 0;
  *rounds = *std::max_element(most.begin(), most.end());
  *residual = largest_of(residuals.data(), b.cols());
  return 1;
}

// A sparse LU with a fill-reducing ordering: exact to rounding whatever the mixing, and cheap
// on chains of few long-range transitions (a line, a grid); on a random graph its fill grows
// toward the dense matrix's, which is why it comes second. A slow-mixing chain makes the system
// ill-conditioned (a line of 10^4 states loses 8 digits), so the answer is refined with
// residuals summed in long double: each round wins back what the extra bits allow.
static int direct_solve(const SPARSE_MATRIX& a, const SPARSE_COLUMNS& sparse_b,
                        Eigen::MatrixXd* x) {
  SPARSE_LU lu;
  sparse_lu_factor(&lu, a);
  if (lu.info() != Eigen::Success)
    return 0;
  const Eigen::MatrixXd b = sparse_b;
  *x = sparse_lu_solve(lu, b);
  if (lu.info() != Eigen::Success)
    return 0;
  Eigen::MatrixXd r(b.rows(), b.cols());
  for (int round = 0; round < 3; round++) {
    for (Eigen::Index j = 0; j < b.cols(); j++) {
      for (Eigen::Index i = 0; i < a.outerSize(); i++) {
        long double v = b(i, j);
        for (SPARSE_MATRIX::InnerIterator e(a, i); e; ++e)
          v -= static_cast<long double>(e.value()) * (*x)(e.col(), j);
        r(i, j) = static_cast<double>(v);
      }
    }
    *x += sparse_lu_solve(lu, r);
  }
  return 1;
}

SOLVE_RESULT solve_with_goal(const SPARSE_MATRIX& a, const SPARSE_COLUMNS& b, Eigen::MatrixXd* x,
                             int steps_column, double goal) {
  static const char* const kMethods[] = {"BiCGSTAB with diagonal preconditioner", "sparse LU"};
  SOLVE_RESULT how = {kMethods[0], 1, NAN};
  int possible = 0;
  for (int method = 0; method < 2; method++) {
    cancel_check();  // a stop in the iterations leaves them without an answer
    Eigen::MatrixXd y;
    int rounds = 0;
    double residual = NAN;
    // The LU is skipped when its estimated fill is too much to finish in seconds (a random
    // graph can take many minutes and gigabytes): the iterations' answer stands.
    if (method == 0) {
      if (!iterative_solve(a, b, &y, steps_column, goal, &rounds, &residual))
        continue;
    } else {
      if (!lu_fits(a, LU_MAX_ENTRIES, LU_MAX_WORK) || !direct_solve(a, b, &y))
        continue;
      residual = largest_residual(a, y, b, steps_column);
    }
    // Weights, probabilities and steps are never negative: cancellation has eaten such an
    // answer's small entries, whatever its residual says.
    const int y_possible = y.size() == 0 || y.minCoeff() >= 0.0;
    if (std::isnan(how.residual) || y_possible > possible ||
        (y_possible == possible && residual < how.residual)) {
      how = SOLVE_RESULT{kMethods[method], 1, residual};
      possible = y_possible;
      x->swap(y);
    }
    // A residual bounds the error only as well as the system is conditioned. Quick convergence
    // (three rounds at most) shows a well-conditioned system; a slow one (a long line) can
    // leave small entries wrong in their leading digits under a residual near the goal, and the
    // direct method gets those right. The LU is not tried lightly: on a random chain its fill
    // grows toward the dense matrix's.
    if (possible && how.residual <= goal &&
        (method == 1 || rounds <= 3 || how.residual <= goal * 1e-4))
      break;
  }
  return how;
}

SOLVE_RESULT solve_iteratively(const SPARSE_MATRIX& a, const SPARSE_COLUMNS& b, Eigen::MatrixXd* x,
                               int steps_column, double goal) {
  int rounds = 0;
  double residual = NAN;
  if (!iterative_solve(a, b, x, steps_column, goal, &rounds, &residual))
    *x = Eigen::MatrixXd();
  cancel_check();
  return SOLVE_RESULT{"BiCGSTAB with diagonal preconditioner", 1, residual};
}

SOLVE_RESULT sparse_class_stationary(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k,
                                     double* pi, double goal) {
  const int m = class_size(cl, k);
  const int* states = cl->member.data() + cl->first[k];
  // The first state's weight is fixed at 1; for every other state j of the class,
  // pi_j (outflow of j) - sum over i != 1, j of pi_i P_ij = P_1j, with the outflow summed over
  // j's transitions to other states rather than taken as 1 - P_jj. Unknowns 0..m-2 are the
  // class's states 2..m. Row j - 2 gathers the transitions into j: the matrix is built by rows
  // directly, in two passes over the class's transitions, the sources in increasing order so
  // that each row's columns come in order, as Eigen keeps them.
  std::vector<ENTRY> first;
  SPARSE_MATRIX a(m - 1, m - 1);
  int* start = a.outerIndexPtr();
  std::size_t entries = 0;
  for (int i = 2; i <= m; i++) {
    const int u = states[i - 1];
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      const int j = cl->position[c->to[e]];
      if (j != i && j != 1) {
        start[j - 1]++;
        entries++;
      }
    }
    start[i - 1]++;  // the diagonal
    entries++;
  }
  for (int r = 0; r < m - 1; r++)
    start[r + 1] += start[r];
  a.resizeNonZeros(static_cast<Eigen::Index>(entries));
  int* col = a.innerIndexPtr();
  double* value = a.valuePtr();
  std::vector<int> next(start, start + m - 1);
  for (int i = 1; i <= m; i++) {
    const int u = states[i - 1];
    double out = 0.0;
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      const int j = cl->position[c->to[e]];
      if (j == i)
        continue;
      out += c->p[e];
      if (i == 1) {
        first.push_back(ENTRY(j - 2, 0, c->p[e]));
      } else if (j != 1) {
        col[next[j - 2]] = i - 2;
        value[next[j - 2]++] = -c->p[e];
      }
    }
    if (i != 1) {
      col[next[i - 2]] = i - 2;
      value[next[i - 2]++] = out;
    }
  }
  SPARSE_COLUMNS b(m - 1, 1);
  b.setFromTriplets(first.begin(), first.end());

  Eigen::MatrixXd x;
  SOLVE_RESULT how = solve_with_goal(a, b, &x, 0, goal);
  if (x.rows() != m - 1)
    return how;
  double total = 1.0;
  for (int i = 0; i < m - 1; i++)
    total += x(i, 0);
  pi[states[0]] = 1.0 / total;
  for (int i = 2; i <= m; i++)
    pi[states[i - 1]] = x(i - 2, 0) / total;
  how.residual = stationary_residual(c, cl, k, pi);
  return how;
}

void sparse_absorption(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, ABSORPTION* ab,
                       double goal) {
  std::vector<int> local, column;
  absorption_sets(c, cl, ab, &local, &column);
  const int t = ab->nbr_transient;
  const std::size_t nb = static_cast<std::size_t>(ab->nbr_closed) + 1;
  // Row i of I - Q, with its diagonal taken as state i's outflow to every other state; column 0
  // of b is all 1 (the steps), column j the probability of entering closed class j at once.
  std::vector<ENTRY> entries, rhs;
  entries.reserve(c->row_start[c->n + 1]);
  for (int i = 1; i <= t; i++) {
    const int u = ab->state[i];
    double out = 0.0;
    rhs.push_back(ENTRY(i - 1, 0, 1.0));
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      const int v = c->to[e];
      if (v == u)
        continue;
      out += c->p[e];
      if (local[v] != 0) {
        entries.push_back(ENTRY(i - 1, local[v] - 1, -c->p[e]));
      } else {
        // Several transitions into one closed class add up, in the row's order.
        rhs.push_back(ENTRY(i - 1, column[cl->class_of[v]], c->p[e]));
      }
    }
    entries.push_back(ENTRY(i - 1, i - 1, out));
  }
  SPARSE_MATRIX a(t, t);
  a.setFromTriplets(entries.begin(), entries.end());
  entries = std::vector<ENTRY>();
  a.makeCompressed();
  SPARSE_COLUMNS b(t, static_cast<Eigen::Index>(nb));
  b.setFromTriplets(rhs.begin(), rhs.end());
  rhs = std::vector<ENTRY>();

  Eigen::MatrixXd x;
  ab->how = solve_with_goal(a, b, &x, 1, goal);
  const std::size_t w = static_cast<std::size_t>(t) + 1;
  ab->steps.assign(w, 0.0);
  ab->probability.reserve(w * nb);
  advise_huge_pages(ab->probability.data(), w * nb * sizeof(double));
  ab->probability.assign(w * nb, 0.0);
  if (x.rows() != t)
    return;
  for (int i = 1; i <= t; i++) {
    ab->steps[i] = x(i - 1, 0);
    for (std::size_t j = 1; j < nb; j++)
      ab->probability[i * nb + j] = x(i - 1, static_cast<Eigen::Index>(j));
  }
}
