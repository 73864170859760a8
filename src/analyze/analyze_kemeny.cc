// analyze_kemeny.cc - the Kemeny constant of a closed class: exact from the fundamental matrix
// of the class without one state, by elimination without subtraction, or estimated by
// Hutchinson's trace estimator on the group inverse of I - P (solve_kemeny, print_kemeny).
// Part of pravlin; see README.md.
#include "analyze_kemeny.h"

#include <algorithm>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <exception>
#include <random>
#include <vector>

#include "analyze_class_ops.h"
#include "analyze_krylov.h"

int chain_is_absorbing(const CHAIN_CLASSES* cl) {
  if (cl->nbr_closed == cl->nbr_classes)
    return 0;
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (cl->closed[k] && class_size(cl, k) > 1)
      return 0;
  }
  return 1;
}

// The exact constant. With N = (I - Q)^-1 for the class without state r (the expected visits to
// j from i before r is reached), N_jj = pi_j (m_jr + m_rj) and N 1 = m_.r, so that
// K = sum_j pi_j m_rj = tr N - sum_j pi_j m_jr. N's entries are all positive, and the
// elimination below, GTH's on the system (the diagonal of I - Q always a state's outflow),
// finds the diagonal and the row sums without a subtraction: each to nearly full precision
// however slowly the class mixes. The one subtraction is the last, between two sums of
// positive terms of which the first is the larger.
static int dense_kemeny(const CLASS_OPS* ops, double* value) {
  const int n = ops->m - 1, r = ops->removed;
  const std::size_t w = static_cast<std::size_t>(n);
  if (!dense_fits(2 * w * w + 6 * w))
    return 0;
  std::vector<double> a, lower, s(w, 0.0), steps(w, 1.0), d(w, 0.0);
  try {
    a.assign(w * w, 0.0);
    lower.assign(w * w, 0.0);
  } catch (const std::exception&) {
    return 0;
  }
  for (int i = 0; i < ops->m; i++) {
    if (i == r)
      continue;
    const std::size_t li = static_cast<std::size_t>(i - (i > r));
    for (SPARSE_MATRIX::InnerIterator e(ops->p, i); e; ++e) {
      const int j = static_cast<int>(e.col());
      if (j == i)
        continue;
      if (j == r) {
        s[li] += e.value();
      } else {
        a[li * w + static_cast<std::size_t>(j - (j > r))] = e.value();
      }
    }
  }
  // Forward: lower[k * n + i] keeps the multiplier of row k into row i, so that column i of
  // L^-1 is later built along rows.
  for (std::size_t k = 0; k < w; k++) {
    const double* ak = a.data() + k * w;
    double dk = s[k];
    for (std::size_t j = k + 1; j < w; j++)
      dk += ak[j];
    d[k] = dk;
    for (std::size_t i = k + 1; i < w; i++) {
      double* ai = a.data() + i * w;
      if (ai[k] == 0.0)
        continue;
      const double f = ai[k] / dk;
      lower[k * w + i] = f;
      ai[k] = 0.0;
      for (std::size_t j = k + 1; j < w; j++)
        ai[j] += f * ak[j];
      // A return to i through k is no outflow of i.
      ai[i] = 0.0;
      s[i] += f * s[k];
      steps[i] += f * steps[k];
    }
  }
  for (std::size_t k = w; k-- > 0;) {
    double v = steps[k];
    for (std::size_t j = k + 1; j < w; j++)
      v += a[k * w + j] * steps[j];
    steps[k] = v / d[k];
  }
  // N_ii = sum over k >= i of (U^-1)_ik (L^-1)_ki: row i of U^-1 (h) and column i of L^-1 (g)
  // are built together, k increasing, each from positive terms.
  double trace = 0.0;
  std::vector<double> g(w), h(w);
  for (std::size_t i = 0; i < w; i++) {
    std::fill(g.begin() + static_cast<std::ptrdiff_t>(i), g.end(), 0.0);
    std::fill(h.begin() + static_cast<std::ptrdiff_t>(i), h.end(), 0.0);
    g[i] = 1.0;
    h[i] = 1.0;
    double nii = 0.0;
    for (std::size_t k = i; k < w; k++) {
      const double hk = h[k] / d[k], gk = g[k];
      nii += hk * gk;
      const double* uk = a.data() + k * w;
      const double* lk = lower.data() + k * w;
      for (std::size_t l = k + 1; l < w; l++) {
        h[l] += hk * uk[l];
        g[l] += gk * lk[l];
      }
    }
    trace += nii;
  }
  double passage = 0.0;
  for (int i = 0; i < ops->m; i++) {
    if (i != r)
      passage += ops->pi[i] * steps[static_cast<std::size_t>(i - (i > r))];
  }
  *value = trace - passage;
  return 1;
}

// tr P and tr P^2 of the class, exactly as sums of positive terms.
static void small_traces(const CLASS_OPS* ops, double* t1, double* t2) {
  *t1 = 0.0;
  *t2 = 0.0;
  for (int i = 0; i < ops->m; i++) {
    for (SPARSE_MATRIX::InnerIterator e(ops->p, i); e; ++e) {
      const int j = static_cast<int>(e.col());
      if (j == i)
        *t1 += e.value();
      // P_ji, from row j, whose entries are in increasing order of column.
      const int start = static_cast<int>(ops->p.outerIndexPtr()[j]);
      const int end = static_cast<int>(ops->p.outerIndexPtr()[j + 1]);
      const int* cols = ops->p.innerIndexPtr();
      const int* at = std::lower_bound(cols + start, cols + end, i);
      if (at != cols + end && *at == i)
        *t2 += e.value() * ops->p.valuePtr()[at - cols];
    }
  }
}

// An orthonormal basis (m x r) of the space of the eigenvalues of A# largest in modulus, those
// of P next to 1: on a slow class they hold most of the trace, and a probe's share of them, a
// square of a sum of signs, makes the estimate's spread large and its distribution skewed. Empty
// when there is no LU to make it cheap, or Arnoldi does not converge.
static Eigen::MatrixXd slow_space(const CLASS_OPS* ops) {
  const int m = ops->m;
  const int want = std::min(KEMENY_DEFLATED, m - 2);
  if (!ops->direct || want < 1)
    return Eigen::MatrixXd(m, 0);
  // A solve that misses its goal only makes the basis less useful: the probes check their own.
  CLASS_OPERATOR op{ops, CLASS_INVERSE, 0, 1.0, nullptr, nullptr};
  const KRYLOV_OPERATOR k{m, &op, class_operator_product};
  Eigen::VectorXcd values;
  Eigen::MatrixXcd vectors;
  if (!krylov_arnoldi(&k, want, std::min(m, 2 * want + 10), 200, 1e-8, &values, &vectors))
    return Eigen::MatrixXd(m, 0);
  return real_basis(vectors);
}

// The estimate. K = tr A#, and A# = (I - Pi) + (P - Pi) + (P^2 - Pi) + M with M = P^3 A#: the
// first three traces are known exactly, and M's entries fade as the class mixes. Over an
// orthonormal basis Q of the slow space and its complement, tr M = tr(Q' M Q) + tr of M on the
// complement: the first is computed, the second estimated by Hutchinson's estimator, the mean of
// v' M v' over vectors v of random signs projected on the complement. Each probe is one solve;
// the interval is Student's, from the probes' spread.
static void estimate_kemeny(const CLASS_OPS* ops, CLASS_KEMENY* km) {
  const int m = ops->m;
  double t1, t2;
  small_traces(ops, &t1, &t2);
  const Eigen::MatrixXd q = slow_space(ops);
  km->deflated = static_cast<int>(q.cols());
  // M applied to the columns of x, and the worst residual of the solves.
  auto apply_m = [&](const Eigen::MatrixXd& x, Eigen::MatrixXd* y) {
    const double residual = group_inverse(ops, x, y);
    for (Eigen::Index j = 0; j < y->cols(); j++) {
      Eigen::VectorXd z = y->col(j);
      for (int t = 0; t < 3; t++)
        z = ops->p * z;
      y->col(j) = z;
    }
    return residual;
  };
  double known = (m - 1.0) + (t1 - 1.0) + (t2 - 1.0);
  double worst = 0.0;
  if (q.cols() > 0) {
    Eigen::MatrixXd mq;
    worst = apply_m(q, &mq);
    known += (q.array() * mq.array()).sum();
  }
  std::mt19937_64 draw(0x6b656d656e79ULL + static_cast<unsigned long long>(ops->k));
  const int batch = 16;
  std::vector<double> sample;
  for (int done = 0; done < KEMENY_PROBES && worst <= GROUP_INVERSE_GOAL; done += batch) {
    const int cols = std::min(batch, KEMENY_PROBES - done);
    Eigen::MatrixXd v(m, cols), mv;
    for (int j = 0; j < cols; j++) {
      unsigned long long bits = 0;
      for (int i = 0; i < m; i++) {
        if (i % 64 == 0)
          bits = draw();
        v(i, j) = (bits & 1) ? 1.0 : -1.0;
        bits >>= 1;
      }
    }
    if (q.cols() > 0)
      v -= q * (q.transpose() * v);
    const double residual = apply_m(v, &mv);
    worst = (residual > worst || std::isnan(residual)) ? residual : worst;
    for (int j = 0; j < cols; j++)
      sample.push_back(v.col(j).dot(mv.col(j)));
  }
  km->residual = worst;
  km->probes = static_cast<int>(sample.size());
  if (!(worst <= GROUP_INVERSE_GOAL)) {
    km->refused =
        "the probes' sparse solves did not converge: the class mixes too slowly for BiCGSTAB, "
        "and a sparse LU of it would fill in";
    return;
  }
  const double count = static_cast<double>(sample.size());
  double mean = 0.0;
  for (double x : sample)
    mean += x;
  mean /= count;
  double spread = 0.0;
  for (double x : sample)
    spread += (x - mean) * (x - mean);
  const double sd = std::sqrt(spread / (count - 1.0));
  const boost::math::students_t t(count - 1.0);
  const double half = boost::math::quantile(t, 0.975) * sd / std::sqrt(count);
  km->value = known + mean;
  km->low = km->value - half;
  km->high = km->value + half;
}

void solve_kemeny(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k, const double* pi,
                  CLASS_KEMENY* km) {
  *km = CLASS_KEMENY{};
  km->k = k;
  km->m = class_size(cl, k);
  km->value = km->low = km->high = NAN;
  CLASS_OPS ops;
  class_ops_build(c, cl, k, pi, &ops, km->m > KEMENY_DENSE_MAX);
  if (km->m <= KEMENY_DENSE_MAX) {
    km->method = "exact, by dense elimination";
    if (!dense_kemeny(&ops, &km->value)) {
      fail(" *** ERROR: a class of %d states is too big for a dense solve in memory\n", km->m);
    }
    km->exact = 1;
    km->low = km->high = km->value;
    return;
  }
  km->method = ops.band > 0 ? "Hutchinson's trace estimator, each probe an elimination within "
                              "the band"
               : ops.direct ? "Hutchinson's trace estimator, each probe a sparse LU solve"
                            : "Hutchinson's trace estimator, each probe a BiCGSTAB solve";
  estimate_kemeny(&ops, km);
}

void print_kemeny(FILE* out, const CHAIN_CLASSES* cl, const std::vector<CLASS_KEMENY>& kemeny,
                  int precision) {
  if (chain_is_absorbing(cl)) {
    std::fprintf(out,
                 "\nKemeny constant: none, the chain is absorbing: it ends in one of its "
                 "absorbing states, from which no other state is ever reached\n");
    return;
  }
  std::fprintf(out,
               "\nKemeny constant (sum over j of pi_j times the mean first passage time from i "
               "to j, the same for every i):\n");
  // Every state absorbing: no class has a passage between two states to measure.
  if (next_closed_class(cl, 0) == 0) {
    std::fprintf(out, "  none: every state is absorbing, a closed class of one state\n");
    return;
  }
  if (cl->nbr_closed != cl->nbr_classes || cl->nbr_closed > 1) {
    std::fprintf(out,
                 "  the chain is not irreducible: each closed class of more than one state, as "
                 "a chain of its own\n");
  }
  for (const CLASS_KEMENY& km : kemeny) {
    std::fprintf(out, "  ");
    print_class_label(out, cl, km.k);
    if (km.exact) {
      std::fprintf(out, ": %.*f (%s)\n", precision, km.value, km.method);
    } else if (km.refused != nullptr) {
      std::fprintf(out, ": not estimated: %s (residual %.1e)\n", km.refused, km.residual);
    } else {
      std::fprintf(out,
                   ": %.*f estimated, 95%% interval %.*f to %.*f (%s, %d probes, largest "
                   "relative residual %.1e)\n",
                   precision, km.value, precision, km.low, precision, km.high, km.method, km.probes,
                   km.residual);
    }
  }
}
