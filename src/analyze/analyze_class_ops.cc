// analyze_class_ops.cc - one closed class as a chain of its own: local transitions,
// reversibility, and x = A# y for the group inverse of I - P (class_ops_build, group_inverse).
// Part of pravlin; see README.md.
#include "analyze_class_ops.h"

#include <Eigen/IterativeLinearSolvers>
#include <algorithm>
#include <cmath>
#include <exception>

#include "analyze_fill.h"
#include "analyze_sparse_fast.h"
#include "cancel.h"
#include "cores.h"

typedef Eigen::Triplet<double> ENTRY;

double balance_violation(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k, const double* pi) {
  double worst = 0.0;
  for (std::size_t i = cl->first[k]; i < cl->first[k + 1]; i++) {
    const int u = cl->member[i];
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      const int v = c->to[e];
      if (v <= u)
        continue;
      // Each row's entries are in increasing order of destination.
      const int* first = c->to.data() + c->row_start[v];
      const int* last = c->to.data() + c->row_start[v + 1];
      const int* back = std::lower_bound(first, last, u);
      if (back == last || *back != u)
        return HUGE_VAL;
      const double forward = pi[u] * c->p[e];
      const double backward = pi[v] * c->p[static_cast<std::size_t>(back - c->to.data())];
      const double larger = std::max(forward, backward);
      if (larger > 0.0)
        worst = std::max(worst, std::fabs(forward - backward) / larger);
    }
  }
  return worst;
}

void class_ops_build(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k, const double* pi,
                     CLASS_OPS* ops, int solver) {
  const int m = class_size(cl, k);
  ops->k = k;
  ops->m = m;
  ops->states = cl->member.data() + cl->first[k];
  ops->pi.assign(static_cast<std::size_t>(m), 0.0);
  ops->removed = 0;
  for (int i = 0; i < m; i++) {
    ops->pi[i] = pi[ops->states[i]];
    if (ops->pi[i] > ops->pi[ops->removed])
      ops->removed = i;
  }
  ops->reversible = balance_violation(c, cl, k, pi) <= REVERSIBLE_TOLERANCE;

  // P by rows, straight into its compressed arrays: a closed class's rows stay within it, and
  // each row's entries come in increasing order of destination, so of local index, as
  // setFromTriplets would sort them; the copy through triplets cost some 50 MB of fresh memory
  // on a class of 7.6 10^5 transitions, and a page fault for every 4 KiB of it.
  std::size_t entries = 0;
  for (int i = 0; i < m; i++)
    entries += c->row_start[ops->states[i] + 1] - c->row_start[ops->states[i]];
  ops->p.resize(m, m);
  ops->p.resizeNonZeros(static_cast<Eigen::Index>(entries));
  int* p_start = ops->p.outerIndexPtr();
  int* p_col = ops->p.innerIndexPtr();
  double* p_value = ops->p.valuePtr();
  ops->min_stay = 1.0;
  int at = 0;
  for (int i = 0; i < m; i++) {
    const int u = ops->states[i];
    double stay = 0.0;
    p_start[i] = at;
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      const int j = cl->position[c->to[e]] - 1;
      p_col[at] = j;
      p_value[at++] = c->p[e];
      if (j == i)
        stay = c->p[e];
    }
    ops->min_stay = std::min(ops->min_stay, stay);
  }
  p_start[m] = at;
  ops->direct = 0;
  ops->band = 0;
  if (solver)
    class_ops_solver(c, cl, ops);
}

int class_ops_band(const CLASS_OPS* ops) {
  const int r = ops->removed;
  int band = 0;
  for (int i = 0; i < ops->m; i++) {
    if (i == r)
      continue;
    for (SPARSE_MATRIX::InnerIterator e(ops->p, i); e; ++e) {
      const int j = static_cast<int>(e.col());
      if (j != r)
        band = std::max(band, std::abs((i - (i > r)) - (j - (j > r))));
    }
  }
  return band;
}

void class_ops_solver(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, CLASS_OPS* ops) {
  const int m = ops->m;
  // I - P, and Q (the class without the state `removed`) as I - Q takes it. The diagonal of
  // I - P is each state's outflow, a sum of positive terms: 1 - P_ii would lose the digits of a
  // state that leaves with probability 1e-17.
  std::vector<ENTRY> a_entries, q_entries;
  a_entries.reserve(static_cast<std::size_t>(ops->p.nonZeros()) + static_cast<std::size_t>(m));
  const int r = ops->removed;
  for (int i = 0; i < m; i++) {
    const int u = ops->states[i];
    double out = 0.0;
    for (std::size_t e = c->row_start[u]; e < c->row_start[u + 1]; e++) {
      const int j = cl->position[c->to[e]] - 1;
      if (j == i)
        continue;
      out += c->p[e];
      a_entries.emplace_back(i, j, -c->p[e]);
      if (i != r && j != r)
        q_entries.emplace_back(i - (i > r), j - (j > r), -c->p[e]);
    }
    a_entries.emplace_back(i, i, out);
    if (i != r)
      q_entries.emplace_back(i - (i > r), i - (i > r), out);
  }
  ops->a.resize(m, m);
  ops->a.setFromTriplets(a_entries.begin(), a_entries.end());
  ops->a.makeCompressed();
  a_entries = std::vector<ENTRY>();

  // Within the band when it is narrow (a line): the solves then keep their relative accuracy
  // however slowly the class mixes, where a pivoting LU's error grows with the condition of
  // I - Q (10^15 on a birth-death line of 10^5 states with a drift).
  const int band = class_ops_band(ops);
  const std::size_t w = 2 * static_cast<std::size_t>(band) + 1;
  if (static_cast<double>(m) * band * band <= CLASS_BANDED_MAX_WORK) {
    try {
      ops->q_band.assign(static_cast<std::size_t>(m) * w, 0.0);
      ops->leave.assign(static_cast<std::size_t>(m), 0.0);
      for (const ENTRY& e : q_entries) {
        if (e.row() != e.col()) {
          const std::size_t i = static_cast<std::size_t>(e.row()) + 1;
          ops->q_band[i * w + static_cast<std::size_t>(e.col() - e.row() + band)] = -e.value();
        }
      }
      for (int i = 0; i < m; i++) {
        if (i == r)
          continue;
        for (std::size_t e = c->row_start[ops->states[i]]; e < c->row_start[ops->states[i] + 1];
             e++) {
          if (cl->position[c->to[e]] - 1 == r)
            ops->leave[static_cast<std::size_t>(i - (i > r)) + 1] = c->p[e];
        }
      }
      ops->band = std::max(band, 1);
      if (band == 0) {  // no transition within Q: a band of 1, all zero
        ops->q_band.assign(static_cast<std::size_t>(m) * 3, 0.0);
      }
      ops->direct = 1;
      return;
    } catch (const std::exception&) {  // bad_alloc: the sparse LU may still manage
      ops->q_band = std::vector<double>();
      ops->leave = std::vector<double>();
    }
  }
  // The LU only where an estimate of its fill says it is cheap (a grid): on a random structure
  // it fills in toward the dense matrix, and BiCGSTAB on I - P, well conditioned on the
  // complement of 1 when the class mixes fast, does better.
  SPARSE_MATRIX q(m - 1, m - 1);
  q.setFromTriplets(q_entries.begin(), q_entries.end());
  q.makeCompressed();
  q_entries = std::vector<ENTRY>();
  if (lu_fits(q, LU_MAX_ENTRIES, LU_MAX_WORK)) {
    try {
      sparse_lu_factor(&ops->lu, Eigen::SparseMatrix<double>(q));
      ops->direct = ops->lu.info() == Eigen::Success;
    } catch (const std::exception&) {  // bad_alloc: the iterations need less
      ops->direct = 0;
    }
    cancel_check();  // a stop, caught above as the factorisation's failure
  }
}

// y - (pi . y) 1: the part of y that I - P reaches.
static Eigen::VectorXd project(const CLASS_OPS* ops, const Eigen::VectorXd& y) {
  const Eigen::Map<const Eigen::VectorXd> pi(ops->pi.data(), ops->m);
  return y.array() - pi.dot(y);
}

// One column by the LU: with x_removed = 0, the other equations are (I - Q) x = y, and the one
// left out follows from them, since pi (I - P) = 0 and pi . y = 0.
static Eigen::VectorXd direct_column(const CLASS_OPS* ops, const Eigen::VectorXd& y) {
  const int m = ops->m, r = ops->removed;
  Eigen::VectorXd b(m - 1);
  for (int i = 0; i < m; i++) {
    if (i != r)
      b(i - (i > r)) = y(i);
  }
  const Eigen::VectorXd z = sparse_lu_solve(ops->lu, b);
  Eigen::VectorXd x(m);
  for (int i = 0; i < m; i++)
    x(i) = i == r ? 0.0 : z(i - (i > r));
  return x;
}

// All columns within the band, at once: each right side split into its positive and negative
// parts, both solved without subtraction, so that each keeps its relative accuracy; the one
// subtraction is their difference. x_removed = 0, as for the LU.
static void banded_columns(const CLASS_OPS* ops, const Eigen::MatrixXd& y, Eigen::MatrixXd* x) {
  const int m = ops->m, r = ops->removed;
  const std::size_t nb = 2 * static_cast<std::size_t>(y.cols());
  std::vector<double> a = ops->q_band, s = ops->leave;
  std::vector<double> b(static_cast<std::size_t>(m) * nb, 0.0);
  for (int i = 0; i < m; i++) {
    if (i == r)
      continue;
    const std::size_t row = static_cast<std::size_t>(i - (i > r)) + 1;
    for (Eigen::Index j = 0; j < y.cols(); j++) {
      const double v = y(i, j);
      b[row * nb + 2 * static_cast<std::size_t>(j) + (v < 0.0)] = std::fabs(v);
    }
  }
  banded_elimination(a.data(), m - 1, ops->band, s.data(), b.data(), static_cast<int>(nb));
  x->resize(m, y.cols());
  for (int i = 0; i < m; i++) {
    const std::size_t row = static_cast<std::size_t>(i - (i > r)) + 1;
    for (Eigen::Index j = 0; j < y.cols(); j++) {
      const std::size_t at = row * nb + 2 * static_cast<std::size_t>(j);
      (*x)(i, j) = i == r ? 0.0 : b[at] - b[at + 1];
    }
  }
}

double group_inverse(const CLASS_OPS* ops, const Eigen::MatrixXd& y, Eigen::MatrixXd* x) {
  const int m = ops->m;
  const Eigen::Index cols = y.cols();
  x->resize(m, cols);
  const Eigen::Map<const Eigen::VectorXd> pi(ops->pi.data(), m);
  if (ops->band > 0) {
    Eigen::MatrixXd b(m, cols);
    for (Eigen::Index j = 0; j < cols; j++)
      b.col(j) = project(ops, y.col(j));
    banded_columns(ops, b, x);
    double worst = 0.0;
    for (Eigen::Index j = 0; j < cols; j++) {
      x->col(j).array() -= pi.dot(x->col(j));
      const double size = b.col(j).lpNorm<1>() + x->col(j).lpNorm<1>();
      const double r = (ops->a * x->col(j) - b.col(j)).lpNorm<1>();
      worst = std::max(worst, size > 0.0 ? r / size : r);
    }
    return worst;
  }
  std::vector<double> residuals(static_cast<std::size_t>(cols), NAN);
  // Each column on its own, the columns shared out over the cores: every answer is the same
  // however they are shared.
  const unsigned parts =
      static_cast<unsigned>(std::min<Eigen::Index>(core_count(), std::max<Eigen::Index>(1, cols)));
  std::vector<char> failed(parts, 0);
  run_parts(parts, [&](unsigned part) {
    try {
      Eigen::BiCGSTAB<SPARSE_MATRIX, Eigen::DiagonalPreconditioner<double>> solver;
      if (!ops->direct) {
        solver.setTolerance(1e-13);
        solver.setMaxIterations(2000);
        solver.compute(ops->a);
      }
      for (Eigen::Index j = part; j < cols; j += parts) {
        const Eigen::VectorXd b = project(ops, y.col(j));
        Eigen::VectorXd column;
        if (ops->direct) {
          // One round of refinement: a slow class leaves I - Q ill-conditioned.
          column = direct_column(ops, b);
          column += direct_column(ops, project(ops, b - ops->a * column));
        } else {
          column = solver.solve(b);
        }
        column.array() -= pi.dot(column);
        const double size = b.lpNorm<1>() + column.lpNorm<1>();
        const double r = (ops->a * column - b).lpNorm<1>();
        residuals[static_cast<std::size_t>(j)] = size > 0.0 ? r / size : r;
        x->col(j) = column;
      }
    } catch (const std::exception&) {  // memory refused on a thread of its own
      failed[part] = 1;
    }
  });
  cancel_check();  // a stop, caught above as a part's failure
  if (std::count(failed.begin(), failed.end(), 1) > 0)
    return NAN;
  double worst = 0.0;
  for (double r : residuals)
    worst = (r > worst || std::isnan(r)) ? r : worst;
  return worst;
}

void class_operator_apply(const CLASS_OPERATOR* op, const double* x_in, double* y_out) {
  const CLASS_OPS* ops = op->ops;
  const int m = ops->m;
  const Eigen::Map<const Eigen::VectorXd> x(x_in, m);
  Eigen::Map<Eigen::VectorXd> y(y_out, m);
  const Eigen::Map<const Eigen::VectorXd> pi(ops->pi.data(), m);
  switch (op->kind) {  // ORDER CLASS_OPERATOR
    case CLASS_POWER: {
      // Since (P - 1 pi')^k = P^k - 1 pi', x is deflated once before and once after; between,
      // only rounding brings the eigenvalue 1 back, and it fades no faster than it came.
      Eigen::VectorXd t = x.array() - pi.dot(x), u(m);
      for (int i = 0; i < op->power; i++) {
        row_product(ops->p, t.data(), u.data(), core_count(), op->scale);
        t.swap(u);
      }
      y = t.array() - pi.dot(t);
      return;
    }
    case CLASS_INVERSE:
    case CLASS_SYMMETRIC_INVERSE: {
      Eigen::MatrixXd b = x, z;
      if (op->kind == CLASS_SYMMETRIC_INVERSE)
        b = x.cwiseQuotient(*op->u);
      if (!(group_inverse(ops, b, &z) <= GROUP_INVERSE_GOAL))
        op->failed = 1;
      if (op->kind == CLASS_SYMMETRIC_INVERSE) {
        y = z.col(0).cwiseProduct(*op->u);
      } else {
        y = z.col(0);
      }
      return;
    }
    case CLASS_SYMMETRIC:
      row_product(*op->s, x_in, y_out, core_count());
      y -= *op->u * op->u->dot(x);
      return;
  }
}

void class_operator_product(const void* op, const double* x, double* y) {
  class_operator_apply(static_cast<const CLASS_OPERATOR*>(op), x, y);
}

Eigen::MatrixXd real_basis(const Eigen::MatrixXcd& v) {
  Eigen::MatrixXd parts(v.rows(), 2 * v.cols());
  parts << v.real(), v.imag();
  Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(parts.rows(), parts.cols());
  qr.setThreshold(1e-6);
  qr.compute(parts);
  return (qr.householderQ() * Eigen::MatrixXd::Identity(v.rows(), parts.cols()))
      .leftCols(qr.rank());
}

void print_class_label(FILE* out, const CHAIN_CLASSES* cl, int k) {
  std::fputs(class_name(cl, k).c_str(), out);
}
