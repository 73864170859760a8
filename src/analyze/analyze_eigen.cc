// analyze_eigen.cc - the eigenvalues of a closed class: SLEM, spectral gap, relaxation time
// and those of largest modulus, densely for a small class and by Arnoldi or Lanczos for a large
// one (solve_spectrum, print_spectrum).
// Part of pravlin; see README.md.
#include "analyze_eigen.h"

#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <exception>
#include <random>

#include "analyze_class_ops.h"
#include "analyze_dense_eigen.h"
#include "analyze_krylov.h"
#include "cancel.h"

// The restarts Arnoldi or Lanczos may take, and the relative accuracy asked of each Ritz
// value. A fast-mixing class of 10^5 states converges in a few dozen restarts; one whose
// eigenvalues crowd next to 1 would never converge, and is refused after these.
static const int KRYLOV_RESTARTS = 400;
static const char NOT_CONVERGED[] =
    "the iterations did not converge within 400 restarts (its eigenvalues next to the largest "
    "crowd too closely)";
static const char RESIDUAL_TOO_LARGE[] =
    "the eigenvalues Arnoldi found fail their check, |P x - lambda x| <= 1e-9 |x|, at every "
    "power of P tried";
static const double KRYLOV_TOLERANCE = 1e-10;
// The power of the deflated matrix that Arnoldi works on for a class that is not reversible
// (a wide range of powers takes about the same time, the matrix itself far longer:
// doc/design/solvers.md, "Measurements"), and the largest residual |P x - lambda x| / |x| of an
// eigenvalue found on it.
static const int ARNOLDI_POWER = 32;
// The power tried next when the eigenvalues found on the first fail their check: a class with
// one eigenvalue next to 1 and the rest far below (a metastable class) leaves the rest of the
// 32nd power near 1e-10 of it, where their vectors are too poor to pass; on the 4th they pass.
static const int ARNOLDI_SECOND_POWER = 4;
static const double RITZ_RESIDUAL = 1e-9;
// The eigenvalues Arnoldi finds beyond those asked for: the last few it calls converged may not
// be the largest (on R at 10^5 states, asking for exactly 6 gave a 6th of modulus 0.512697 where
// one of 0.512705 was missed).
static const int ARNOLDI_GUARD = 5;
// The Krylov space beyond the eigenvalues asked for.
static const int KRYLOV_EXTRA = 34;

static const double PI = 3.14159265358979323846;

// Arnoldi on a class that is not reversible works on ((P - 1 pi') / scale)^power (CLASS_POWER).
// A random sparse class has its eigenvalues spread over a disc, the largest in modulus at its rim
// among thousands nearly as large: Arnoldi needs a polynomial of degree some thousands to tell
// them apart, and a power of P gives it for a fraction of the orthogonalisation that as many
// Arnoldi steps would cost. The scale keeps the wanted eigenvalues of the power near 1, so that
// Arnoldi's relative test of convergence stays meaningful.
//
// On a reversible class, Lanczos works on S - u u' (CLASS_SYMMETRIC): S_ij = sqrt(P_ij P_ji) and
// u = sqrt(pi), so that S is Pi^1/2 P Pi^-1/2, symmetric (exactly so, as written) and with the
// same eigenvalues, u its eigenvector for 1. Or on Pi^1/2 A# Pi^-1/2 (CLASS_SYMMETRIC_INVERSE),
// A# the group inverse of I - P: a symmetric matrix whose eigenvalues are 1 / (1 - lambda). The
// eigenvalues next to 1, which crowd together on a slow class and defeat Lanczos on S, become
// its largest and well separated: 1 / (1 - lambda_2) is four times 1 / (1 - lambda_3) on a line,
// however long. Arnoldi on A# itself (CLASS_INVERSE) does the same for a class that is not
// reversible.

double relaxation_time(const CLASS_SPECTRUM* sp) {
  return sp->gap > 0.0 && !sp->gap_unresolved ? 1.0 / sp->gap : HUGE_VAL;
}

double implied_timescale(const EIGENVALUE* e) {
  if (e->distance <= 0.0)
    return HUGE_VAL;
  // ln |lambda| = ln(1 - distance), exact for a modulus next to 1.
  return -1.0 / std::log1p(-e->distance);
}

int largest_closed_class(const CHAIN_CLASSES* cl) {
  int largest = 0;
  for (int k = 1; k <= cl->nbr_classes; k++) {
    if (cl->closed[k])
      largest = std::max(largest, class_size(cl, k));
  }
  return largest;
}

static EIGENVALUE make_eigenvalue(double re, double im) {
  // -0 would print as "-0.000000".
  re = re == 0.0 ? 0.0 : re;
  im = im == 0.0 ? 0.0 : im;
  // No eigenvalue of a stochastic matrix lies outside the unit circle: one that rounding puts
  // there (a class periodic but for entries of 1e-15 or less) is on it.
  const double modulus = std::min(1.0, std::hypot(re, im));
  return EIGENVALUE{re, im, modulus, 1.0 - modulus};
}

// Largest modulus first; among equal moduli the larger real part, then the positive imaginary
// part: the order is the same on every run.
static bool before(const EIGENVALUE& a, const EIGENVALUE& b) {
  if (a.modulus != b.modulus)
    return a.modulus > b.modulus;
  if (a.re != b.re)
    return a.re > b.re;
  return a.im > b.im;
}

// A class of period d has the d-th roots of unity among its eigenvalues, each once: the computed
// values nearest them (1 among them) are replaced by the exact ones, of modulus exactly 1.
static void place_roots_of_unity(std::vector<EIGENVALUE>* values, int period) {
  std::vector<char> taken(values->size(), 0);
  for (int j = 0; j < period; j++) {
    double re = std::cos(2.0 * PI * j / period), im = std::sin(2.0 * PI * j / period);
    // The quarter turns exactly: cos(pi / 2) is 6e-17 in doubles.
    if (4 * j % period == 0) {
      const int quarter = 4 * j / period;
      re = quarter == 0 ? 1.0 : quarter == 2 ? -1.0 : 0.0;
      im = quarter == 1 ? 1.0 : quarter == 3 ? -1.0 : 0.0;
    }
    std::size_t nearest = values->size();
    double best = HUGE_VAL;
    for (std::size_t i = 0; i < values->size(); i++) {
      const double d = std::hypot((*values)[i].re - re, (*values)[i].im - im);
      if (!taken[i] && d < best) {
        best = d;
        nearest = i;
      }
    }
    if (nearest == values->size()) {
      values->push_back(EIGENVALUE{re, im, 1.0, 0.0});
      taken.push_back(1);
      continue;
    }
    (*values)[nearest] = EIGENVALUE{re, im, 1.0, 0.0};
    taken[nearest] = 1;
  }
}

// The count d-th roots of unity that come first in the order of before: 1, then the pairs
// exp(+-2 pi i j / d) for j = 1, 2, ... (and -1 for j = d / 2).
static std::vector<EIGENVALUE> roots_of_unity(int period, int count) {
  std::vector<EIGENVALUE> roots{EIGENVALUE{1.0, 0.0, 1.0, 0.0}};
  for (int j = 1; static_cast<int>(roots.size()) < count && 2 * j <= period; j++) {
    double re = std::cos(2.0 * PI * j / period), im = std::sin(2.0 * PI * j / period);
    if (4 * j == period) {
      re = 0.0;
      im = 1.0;
    } else if (2 * j == period) {
      roots.push_back(EIGENVALUE{-1.0, 0.0, 1.0, 0.0});
      break;
    }
    roots.push_back(EIGENVALUE{re, im, 1.0, 0.0});
    roots.push_back(EIGENVALUE{re, -im, 1.0, 0.0});
  }
  if (static_cast<int>(roots.size()) > count)
    roots.resize(static_cast<std::size_t>(count));
  return roots;
}

// Sorts values, keeps count of them and sets SLEM and gap from the second.
static void finish(std::vector<EIGENVALUE>* values, int count, CLASS_SPECTRUM* sp) {
  place_roots_of_unity(values, std::max(1, sp->period));
  std::sort(values->begin(), values->end(), before);
  sp->slem = values->size() > 1 ? (*values)[1].modulus : 0.0;
  sp->gap = values->size() > 1 ? std::max(0.0, (*values)[1].distance) : 1.0;
  sp->gap_unresolved = sp->period <= 1 && values->size() > 1 && sp->gap < sp->resolution;
  // Nor is any other distance from 1 below the resolution known: no timescale from it.
  for (std::size_t i = 1; sp->gap_unresolved && i < values->size(); i++) {
    if ((*values)[i].distance < sp->resolution)
      (*values)[i].distance = NAN;
  }
  if (values->size() > static_cast<std::size_t>(count))
    values->resize(static_cast<std::size_t>(count));
  sp->largest = *values;
  sp->found = 1;
}

static Eigen::MatrixXd dense_class(const CLASS_OPS* ops) {
  Eigen::MatrixXd a = Eigen::MatrixXd::Zero(ops->m, ops->m);
  for (int i = 0; i < ops->m; i++) {
    for (SPARSE_MATRIX::InnerIterator e(ops->p, i); e; ++e)
      a(i, e.col()) = e.value();
  }
  return a;
}

// S_ij = sqrt(P_ij P_ji), as a sparse matrix of the class's pattern (symmetric in a reversible
// class).
static SPARSE_MATRIX symmetrised(const CLASS_OPS* ops) {
  SPARSE_MATRIX t = ops->p.transpose();
  SPARSE_MATRIX s = ops->p.cwiseProduct(t);
  s = s.unaryExpr([](double v) { return std::sqrt(v); });
  s.makeCompressed();
  return s;
}

static void dense_spectrum(const CLASS_OPS* ops, int count, CLASS_SPECTRUM* sp) {
  std::vector<EIGENVALUE> values;
  if (ops->reversible) {
    sp->method = "dense symmetric eigensolver";
    const Eigen::VectorXd all = symmetric_eigenvalues(Eigen::MatrixXd(symmetrised(ops)));
    for (Eigen::Index i = 0; i < all.size(); i++)
      values.push_back(make_eigenvalue(all(i), 0.0));
  } else {
    sp->method = "dense eigensolver";
    Eigen::VectorXcd all;
    general_eigen(dense_class(ops), &all, nullptr);
    for (Eigen::Index i = 0; i < all.size(); i++)
      values.push_back(make_eigenvalue(all(i).real(), all(i).imag()));
  }
  finish(&values, count, sp);
}

// The Krylov space for nev eigenvalues: ARPACK's advice of 2 nev + 1 at least, and room enough
// for a class whose largest eigenvalues crowd a circle (a random sparse class).
static int krylov_size(int nev, int m) {
  return std::min(m, std::max(2 * nev + 1, nev + KRYLOV_EXTRA));
}

// The products a Krylov solver may take at most: restarts times the new vectors of each.
static double krylov_most_products(int want, int m) {
  return static_cast<double>(KRYLOV_RESTARTS) * (krylov_size(want, m) - want) +
         krylov_size(want, m);
}

// An operator's products counted, to show how far a long run has gone on a terminal.
struct counted_operator {
  CLASS_OPERATOR* op;
  double most;  // the products the run takes at most
  int terminal;
  std::chrono::steady_clock::time_point start;
  mutable std::chrono::steady_clock::time_point shown;
  mutable long done = 0;
  mutable int progress = 0;
  void perform_op(const double* x, double* y) const {
    class_operator_apply(op, x, y);
    done++;
    if (!terminal || (done & 15) != 0)
      return;
    const auto now = std::chrono::steady_clock::now();
    if (now - start > std::chrono::seconds(2) && now - shown > std::chrono::seconds(1)) {
      std::fprintf(stderr, "pravlin-analyze: spectrum of class %d: product %ld of at most %.0f\r",
                   op->ops->k, done, most);
      shown = now;
      progress = 1;
    }
  }
  ~counted_operator() {
    if (progress)
      std::fprintf(stderr, "%70s\r", "");
  }
};

static void counted_apply(const void* shown, const double* x, double* y) {
  static_cast<const counted_operator*>(shown)->perform_op(x, y);
}

static counted_operator counted(CLASS_OPERATOR* op, int want) {
  const auto now = std::chrono::steady_clock::now();
  return counted_operator{op, krylov_most_products(want, op->ops->m), isatty(STDERR_FILENO), now,
                          now};
}

// Arnoldi for the want eigenvalues of op largest in modulus, with their vectors when vectors is
// not null: 0 when it does not converge, or a solve with the group inverse missed its goal.
static int arnoldi(CLASS_OPERATOR* op, int want, Eigen::VectorXcd* values,
                   Eigen::MatrixXcd* vectors, int restarts = KRYLOV_RESTARTS) {
  const counted_operator shown = counted(op, want);
  const KRYLOV_OPERATOR k{op->ops->m, &shown, counted_apply};
  return krylov_arnoldi(&k, want, krylov_size(want, op->ops->m), restarts, KRYLOV_TOLERANCE, values,
                        vectors) &&
         !op->failed;
}

// Lanczos for the nev eigenvalues of op at one end (largest 1: the top; 0: the bottom), as
// arnoldi.
static int lanczos(CLASS_OPERATOR* op, int nev, int largest, Eigen::VectorXd* values) {
  const counted_operator shown = counted(op, nev);
  const KRYLOV_OPERATOR k{op->ops->m, &shown, counted_apply};
  return krylov_lanczos(&k, nev, krylov_size(nev, op->ops->m), KRYLOV_RESTARTS, KRYLOV_TOLERANCE,
                        largest, values) &&
         !op->failed;
}

// An estimate of the largest modulus beside 1, from the growth of the deflated powers of a
// fixed random vector; 0 when they vanish (every other eigenvalue is 0).
static double radius_estimate(const CLASS_OPS* ops) {
  const int m = ops->m;
  const Eigen::Map<const Eigen::VectorXd> pi(ops->pi.data(), m);
  std::mt19937_64 draw(0x736c656dULL);
  Eigen::VectorXd x(m), y(m);
  for (int i = 0; i < m; i++)
    x(i) = static_cast<double>(draw() >> 11) * 0x1p-53 - 0.5;
  x.array() -= pi.dot(x);
  x.normalize();
  double growth = 0.0;
  const int steps = 40, counted = 20;
  for (int i = 0; i < steps; i++) {
    cancel_check();
    y.noalias() = ops->p * x;
    y.array() -= pi.dot(y);
    const double norm = y.norm();
    if (!(norm > 1e-300))
      return 0.0;
    if (i >= steps - counted)
      growth += std::log(norm);
    x = y / norm;
  }
  return std::exp(growth / counted);
}

// The eigenvalues of P on the invariant subspace that Arnoldi found on op (Rayleigh-Ritz), largest
// in modulus first, each checked by its residual: those before the first that fails go to
// values. How many there are: -1 when Arnoldi does not converge.
static int ritz_checked(CLASS_OPERATOR* op, int want, std::vector<EIGENVALUE>* values,
                        int restarts = KRYLOV_RESTARTS) {
  const CLASS_OPS* ops = op->ops;
  Eigen::VectorXcd ritz;
  Eigen::MatrixXcd v;
  if (!arnoldi(op, want, &ritz, &v, restarts))
    return -1;
  const Eigen::MatrixXd q = real_basis(v);
  const Eigen::Index rank = q.cols();
  Eigen::MatrixXd pq(ops->m, rank);
  for (Eigen::Index j = 0; j < rank; j++)
    pq.col(j) = ops->p * q.col(j);
  Eigen::VectorXcd small_values;
  Eigen::MatrixXcd small_vectors;
  if (!general_eigen(q.transpose() * pq, &small_values, &small_vectors))
    return 0;
  std::vector<std::pair<EIGENVALUE, int>> found;  // each with 1 when its residual passes
  for (Eigen::Index i = 0; i < rank; i++) {
    const std::complex<double> theta = small_values(i);
    const Eigen::VectorXcd z = q.cast<std::complex<double>>() * small_vectors.col(i);
    const Eigen::VectorXcd r = pq.cast<std::complex<double>>() * small_vectors.col(i) - theta * z;
    found.emplace_back(make_eigenvalue(theta.real(), theta.imag()),
                       r.norm() <= RITZ_RESIDUAL * z.norm() ? 1 : 0);
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return before(a.first, b.first); });
  int good = 0;
  while (good < static_cast<int>(found.size()) && found[static_cast<std::size_t>(good)].second)
    values->push_back(found[static_cast<std::size_t>(good++)].first);
  return good;
}

// The nev + 1 eigenvalues of largest modulus beside 1 (one more, so that a conjugate pair is not
// split): Arnoldi on a power of the deflated matrix finds their invariant subspace, and the
// eigenvalues are those of P on it, each checked by its residual. The guard Arnoldi is asked for
// beyond them need not pass. When they do not pass on the 32nd power, the 4th is tried. 0, with
// *why, when Arnoldi does not converge or the residuals are too large to trust.
static int arnoldi_largest(const CLASS_OPS* ops, int period, int nev,
                           std::vector<EIGENVALUE>* values, const char** why, int* on_p) {
  const int m = ops->m;
  const int want = std::min(nev + ARNOLDI_GUARD, m - 2);
  const int need = std::min(nev + 1, want);
  const double radius = radius_estimate(ops);
  if (radius == 0.0) {
    for (int i = 0; i < want; i++)
      values->push_back(EIGENVALUE{0.0, 0.0, 0.0, 1.0});
    return 1;
  }
  // P itself first, for as many restarts as cost one restart on the 32nd power: each restart
  // takes ncv - want new products (two operations an entry, times the power) and applies as
  // many shifts to the m x ncv basis (2 m ncv^2 operations each). Where the eigenvalues wanted
  // stand apart from the rest (Tauchen's AR(1) chain, rho^k), Arnoldi on P needs no more, as
  // ARPACK's eigs does; where they crowd the budget runs out and the power takes over. When the
  // shifts outweigh the products (R at 10^5: a budget of 1, and 15% more time), a restart on the
  // power costs what one on P does and gets further: P is not tried.
  *on_p = 0;
  const double ncv = krylov_size(want, m);
  const double products = (ncv - want) * 2.0 * static_cast<double>(ops->p.nonZeros());
  const double shifts = (ncv - want) * 2.0 * m * ncv * ncv;
  const int budget = static_cast<int>((ARNOLDI_POWER * products + shifts) / (products + shifts));
  if (period == 1 && budget >= 2) {
    CLASS_OPERATOR op{ops, CLASS_POWER, 1, radius, nullptr, nullptr};
    std::vector<EIGENVALUE> checked;
    if (ritz_checked(&op, want, &checked, budget) >= need) {
      values->insert(values->end(), checked.begin(), checked.end());
      *on_p = 1;
      return 1;
    }
  }
  // A power of a periodic class's matrix would merge its roots of unity into one multiple
  // eigenvalue, of which Arnoldi finds a single vector.
  const int powers[2] = {period > 1 ? 1 : ARNOLDI_POWER, ARNOLDI_SECOND_POWER};
  for (int power : powers) {
    CLASS_OPERATOR op{ops, CLASS_POWER, power, radius, nullptr, nullptr};
    std::vector<EIGENVALUE> checked;
    const int good = ritz_checked(&op, want, &checked);
    if (good < 0) {
      *why = NOT_CONVERGED;
      return 0;
    }
    if (good >= need) {
      values->insert(values->end(), checked.begin(), checked.end());
      return 1;
    }
    if (power <= ARNOLDI_SECOND_POWER)
      break;
  }
  *why = RESIDUAL_TOO_LARGE;
  return 0;
}

// Lanczos on the deflated symmetrised matrix: the nev largest (largest 1) or smallest
// (largest 0), or 0 when it does not converge.
static int lanczos_end(const CLASS_OPS* ops, const SPARSE_MATRIX& s, const Eigen::VectorXd& u,
                       int nev, int largest, std::vector<EIGENVALUE>* values) {
  CLASS_OPERATOR op{ops, CLASS_SYMMETRIC, 0, 1.0, &s, &u};
  Eigen::VectorXd v;
  if (!lanczos(&op, nev, largest, &v))
    return 0;
  for (Eigen::Index i = 0; i < v.size(); i++)
    values->push_back(make_eigenvalue(v(i), 0.0));
  return 1;
}

// Lanczos on the symmetrised group inverse: the nev eigenvalues next to 1, each with its
// distance from 1 straight from 1 / theta, without cancellation. 0 when it does not converge.
static int lanczos_next_to_one(const CLASS_OPS* ops, const Eigen::VectorXd& u, int nev,
                               std::vector<EIGENVALUE>* values) {
  CLASS_OPERATOR op{ops, CLASS_SYMMETRIC_INVERSE, 0, 1.0, nullptr, &u};
  Eigen::VectorXd theta;
  if (!lanczos(&op, nev, 1, &theta))
    return 0;
  for (Eigen::Index i = 0; i < theta.size(); i++) {
    // theta = 1 / (1 - lambda) is at least 1/2; lambda = 1 - 1 / theta.
    const double gap = 1.0 / theta(i);
    const double lambda = 1.0 - gap;
    EIGENVALUE e = make_eigenvalue(lambda, 0.0);
    if (lambda >= 0.0)
      e.distance = gap;
    values->push_back(e);
  }
  return 1;
}

// The eigenvalue 1 - 1 / theta from an eigenvalue theta of the group inverse, with its distance
// 1 - |lambda| = (1 - |lambda|^2) / (1 + |lambda|) from g = 1 / theta = 1 - lambda without
// cancellation: 1 - |lambda|^2 = 2 Re g - |g|^2.
static EIGENVALUE from_inverse(std::complex<double> theta) {
  const std::complex<double> g = 1.0 / theta;
  EIGENVALUE e = make_eigenvalue(1.0 - g.real(), -g.imag());
  e.distance = (2.0 * g.real() - std::norm(g)) / (1.0 + e.modulus);
  return e;
}

// Arnoldi on the group inverse, through the band or the sparse LU: the nev + ARNOLDI_GUARD
// eigenvalues next
// to 1. They are the largest in modulus too when the class is lazy enough: every eigenvalue lies
// in a disc of centre P_ii and radius 1 - P_ii, and in such a disc |1 - lambda|^2 =
// (1 - P_ii) / P_ii (1 - |lambda|^2), so that one of modulus at least rho lies within
// sqrt((1 - c) / c (1 - rho^2)) of 1, c = min P_ii. When that is nearer than the farthest found,
// none of modulus rho or more was missed. 0 when there is no LU, no such c, no convergence, or
// the disc allows one that was missed.
static int arnoldi_next_to_one(const CLASS_OPS* ops, int nev, std::vector<EIGENVALUE>* values) {
  const int m = ops->m;
  if (!ops->direct || !(ops->min_stay > 0.0))
    return 0;
  const int want = std::min(nev + ARNOLDI_GUARD, m - 2);
  CLASS_OPERATOR op{ops, CLASS_INVERSE, 0, 1.0, nullptr, nullptr};
  Eigen::VectorXcd theta;
  if (!arnoldi(&op, want, &theta, nullptr))
    return 0;
  std::vector<EIGENVALUE> found;
  double farthest = 0.0;
  for (Eigen::Index i = 0; i < theta.size(); i++) {
    found.push_back(from_inverse(theta(i)));
    farthest = std::max(farthest, 1.0 / std::abs(theta(i)));
  }
  std::sort(found.begin(), found.end(), before);
  const EIGENVALUE& last = found[static_cast<std::size_t>(std::min(nev, want)) - 1];
  const double c = ops->min_stay;
  const double reach = std::sqrt((1.0 - c) / c * last.distance * (1.0 + last.modulus));
  if (!(reach < farthest))
    return 0;
  values->insert(values->end(), found.begin(), found.end());
  return 1;
}

// The work of Arnoldi's every restart on P itself: each product with P (two operations an
// entry) and the orthogonalisation of its vector against the Krylov space.
static double arnoldi_most_work(const CLASS_OPS* ops, int nev) {
  const int want = std::min(nev + ARNOLDI_GUARD, ops->m - 2);
  return krylov_most_products(want, ops->m) *
         (2.0 * static_cast<double>(ops->p.nonZeros()) +
          4.0 * ops->m * static_cast<double>(krylov_size(want, ops->m)));
}

// Whether Arnoldi on the group inverse is worth trying before the power of P: each of its
// Krylov steps repeats an elimination within the band (m band^2 operations), where a step on the
// power costs that power's products with P (two operations an entry). When the band's step is
// the dearer, the power goes alone: on Tauchen's AR(1) chain of bench/make_tauchen.py (2000
// states, band some 200, 7.6 10^5 transitions) the inverse's steps took 60% of the run and then
// failed their check, and the power found the eigenvalues. A narrow band (a line, whose
// eigenvalues next to 1 need the inverse) and the sparse LU, whose solves cost about its
// factors' entries, are tried first as before. The band is asked of P before the solver is
// built, so that a class whose band is the dearer never builds one.
static bool inverse_first(const CLASS_OPS* ops, int period) {
  const double band = std::max(1, class_ops_band(ops));
  const double band_step = static_cast<double>(ops->m) * band * band;
  if (band_step > CLASS_BANDED_MAX_WORK)
    return true;  // no band: the sparse LU, when it is cheap
  const double power_step =
      (period > 1 ? 1.0 : ARNOLDI_POWER) * 2.0 * static_cast<double>(ops->p.nonZeros());
  return band_step <= power_step;
}

int spectrum_uses_solver(const CLASS_OPS* ops, int period) {
  const double pi_min = *std::min_element(ops->pi.begin(), ops->pi.end());
  if (ops->reversible && pi_min > 1e-280)
    return 1;
  // Arnoldi on the group inverse needs every state to stay put with some probability (its disc
  // check); estimating an LU's fill orders the whole class (a second on 10^5 states of R), and
  // a band costs its copy: neither for a class that would not use it.
  return ops->min_stay > 0.0 && inverse_first(ops, period);
}

// ops comes without its solver, which is built here only for a method that solves with it.
static void sparse_spectrum(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, CLASS_OPS* ops,
                            int count, CLASS_SPECTRUM* sp) {
  const int nev = std::max(1, count - 1);
  std::vector<EIGENVALUE> values{EIGENVALUE{1.0, 0.0, 1.0, 0.0}};
  sp->found = 0;
  sp->why = NOT_CONVERGED;
  // The symmetrised operators divide by sqrt(pi): a stationary probability that underflows
  // (a line with a strong drift) leaves the class to the general methods.
  const double pi_min = *std::min_element(ops->pi.begin(), ops->pi.end());
  if (spectrum_uses_solver(ops, sp->period))
    class_ops_solver(c, cl, ops);
  if (!ops->reversible || !(pi_min > 1e-280)) {
    if (ops->direct && arnoldi_next_to_one(ops, nev, &values)) {
      sp->method = ops->band > 0
                       ? "Arnoldi on the group inverse of I - P (elimination within the band)"
                       : "Arnoldi on the group inverse of I - P (sparse LU)";
      sp->resolution = 0.0;  // each distance from 1 comes without cancellation
      finish(&values, count, sp);
      return;
    }
    // Beside the period's roots of unity, all of modulus 1, a periodic class's next eigenvalues
    // are often as close to the circle (a long cycle's): Arnoldi may run all its restarts.
    const double work = arnoldi_most_work(ops, nev);
    if (sp->period > 1 && work > SPECTRUM_WORK_MAX) {
      fail(
          " *** ERROR: --eigen %d: class %d (%d states, period %d) could take Arnoldi about "
          "%.1e operations, beyond the limit of %.0e; its %d largest eigenvalues, the roots of "
          "unity, are known without it: ask for at most %d\n",
          count, ops->k, ops->m, sp->period, work, SPECTRUM_WORK_MAX, sp->period, sp->period);
    }
    sp->method = "Arnoldi on a power of P deflated by pi";
    int on_p = 0;
    if (!arnoldi_largest(ops, sp->period, nev, &values, &sp->why, &on_p))
      return;
    if (on_p)
      sp->method = "Arnoldi on P deflated by pi";
    finish(&values, count, sp);
    return;
  }
  const SPARSE_MATRIX s = symmetrised(ops);
  Eigen::VectorXd u(ops->m);
  for (int i = 0; i < ops->m; i++)
    u(i) = std::sqrt(ops->pi[i]);
  std::vector<EIGENVALUE> top;
  if (ops->direct) {
    sp->method =
        ops->band > 0
            ? "Lanczos on the symmetrised group inverse of I - P (elimination within the band)"
            : "Lanczos on the symmetrised group inverse of I - P (sparse LU)";
    if (!lanczos_next_to_one(ops, u, nev, &top))
      return;
    sp->resolution = 0.0;  // each distance from 1 comes without cancellation
  } else {
    sp->method = "Lanczos on the symmetrised P deflated by pi";
    if (!lanczos_end(ops, s, u, nev, 1, &top))
      return;
  }
  // Every eigenvalue of a reversible class is real and at least 2 min P_ii - 1. When that bound
  // leaves every negative one smaller in modulus than the least of those found at the top, no
  // negative one can be among the largest; otherwise the bottom end is found as well.
  double least = HUGE_VAL;
  for (const EIGENVALUE& e : top)
    least = std::min(least, e.re);
  values.insert(values.end(), top.begin(), top.end());
  if (!(1.0 - 2.0 * ops->min_stay < least)) {
    if (!lanczos_end(ops, s, u, nev, 0, &values))
      return;
  }
  finish(&values, count, sp);
}

void solve_spectrum(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k, const double* pi,
                    int count, CLASS_SPECTRUM* sp) {
  const int m = class_size(cl, k);
  sp->k = k;
  sp->m = m;
  sp->period = cl->period[k];
  sp->largest.clear();
  sp->found = 1;
  sp->reversible = 1;
  sp->why = nullptr;
  sp->gap_unresolved = 0;
  // What rounding leaves of an eigenvalue's distance from 1 when it is computed as 1 - |lambda|:
  // a few units in the last place for each state.
  sp->resolution = std::max(16, m) * DBL_EPSILON;
  if (m == 1) {
    sp->method = "a single state";
    sp->slem = 0.0;
    sp->gap = 1.0;
    sp->largest.push_back(EIGENVALUE{1.0, 0.0, 1.0, 0.0});
    return;
  }
  const int nev = std::max(1, count - 1);
  // A Krylov space must leave room beyond the eigenvalues asked for.
  const bool krylov_fits = krylov_size(nev + 1, m) + 2 <= m / 2;
  const bool dense = m <= SPECTRUM_DENSE_MAX || !krylov_fits;
  CLASS_OPS ops;
  if (!dense && sp->period >= count) {
    // The period's roots of unity are eigenvalues of modulus 1, the largest there are: those
    // asked for are among them.
    class_ops_build(c, cl, k, pi, &ops, 0);
    sp->reversible = ops.reversible;
    sp->method = "the roots of unity of its period";
    sp->slem = 1.0;
    sp->gap = 0.0;
    sp->largest = roots_of_unity(sp->period, count);
    return;
  }
  class_ops_build(c, cl, k, pi, &ops, 0);
  sp->reversible = ops.reversible;
  if (dense) {
    const std::size_t w = static_cast<std::size_t>(m);
    if (m > DENSE_MAX_STATES || !dense_fits(3 * w * w)) {
      fail(
          " *** ERROR: --eigen %d: class %d (%d states) is too large for every eigenvalue "
          "densely, and too many are asked for an iterative method\n",
          count, k, m);
    }
    dense_spectrum(&ops, count, sp);
    return;
  }
  sparse_spectrum(c, cl, &ops, count, sp);
}

static void print_number_or_infinite(FILE* out, double v, int precision) {
  if (std::isnan(v)) {
    std::fprintf(out, "not resolved");
  } else if (std::isinf(v)) {
    std::fprintf(out, "infinite");
  } else {
    std::fprintf(out, "%.*f", precision, v);
  }
}

const CLASS_SPECTRUM* find_spectrum(const std::vector<CLASS_SPECTRUM>* solved, int k) {
  if (solved == nullptr)
    return nullptr;
  for (const CLASS_SPECTRUM& sp : *solved) {
    if (sp.k == k)
      return &sp;
  }
  return nullptr;
}

void print_spectrum(FILE* out, const CHAIN_CLASSES* cl, const std::vector<CLASS_SPECTRUM>& spectra,
                    int precision) {
  for (const CLASS_SPECTRUM& sp : spectra) {
    const int k = sp.k;
    std::fprintf(out, "\nspectrum of ");
    print_class_label(out, cl, k);
    std::fprintf(out, " (%d states, %s; %s):\n", sp.m,
                 sp.reversible ? "reversible" : "not reversible", sp.method);
    if (!sp.found) {
      std::fprintf(out, "  not found: %s\n", sp.why);
      continue;
    }
    std::fprintf(out, "  SLEM (second largest eigenvalue modulus) %.*f\n", precision, sp.slem);
    if (sp.gap_unresolved) {
      std::fprintf(out,
                   "  spectral gap (1 - SLEM) %.*f: below %.1e, the least that double precision "
                   "resolves here\n",
                   precision, sp.gap, sp.resolution);
    } else {
      std::fprintf(out, "  spectral gap (1 - SLEM) %.*f\n", precision, sp.gap);
    }
    if (sp.gap_unresolved) {
      std::fprintf(out,
                   "  relaxation time (1 / gap): not resolved, of the order of %.1e steps or "
                   "more\n",
                   1.0 / sp.resolution);
    } else if (sp.period > 1) {
      std::fprintf(out,
                   "  relaxation time: none, the class has period %d: its distribution cycles "
                   "and never settles\n",
                   sp.period);
    } else {
      std::fprintf(out, "  relaxation time (1 / gap) %.*f steps\n", precision,
                   relaxation_time(&sp));
    }
    std::fprintf(out,
                 "  %zu eigenvalue%s of largest modulus (real part, imaginary part, modulus, "
                 "implied timescale -1/ln|lambda| in steps):\n",
                 sp.largest.size(), sp.largest.size() == 1 ? "" : "s");
    for (const EIGENVALUE& e : sp.largest) {
      std::fprintf(out, "    %.*f %.*f %.*f ", precision, e.re, precision, e.im, precision,
                   e.modulus);
      print_number_or_infinite(out, implied_timescale(&e), precision);
      std::fprintf(out, "\n");
    }
  }
  if (spectra.empty()) {
    std::fprintf(out,
                 "\nspectrum: every closed class is a single state, whose one eigenvalue is 1\n");
  }
}
