// analyze_mixing.cc - the mixing time of a closed class: exact from dense powers by doubling and
// bisection, or bounds from sampled starts and the relaxation time (solve_mixing, print_mixing).
// Part of pravlin; see README.md.
#include "analyze_mixing.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <exception>
#include <random>
#include <vector>

#include "analyze_class_ops.h"
#include "analyze_krylov.h"
#include "matmul.h"

// Squaring doubles the rounding in the rows' totals: once it is past this, the distances are
// no longer good to the digits printed, and the exact answer is given up for bounds.
static const double MIXING_DRIFT = 1e-9;
// 2^62 steps is as far as the doubling goes: a step count must fit in a long.
static const int MIXING_MOST_DOUBLINGS = 62;

double worst_distance(const double* a, const double* pi, int m) {
  double worst = 0.0;
  for (int i = 0; i < m; i++) {
    const double* row = a + static_cast<std::size_t>(i) * static_cast<std::size_t>(m);
    double d = 0.0;
    for (int j = 0; j < m; j++)
      d += std::fabs(row[j] - pi[j]);
    worst = std::max(worst, 0.5 * d);
  }
  return worst;
}

// An m x m matrix as the product kernel takes it: entry (i, j), 0-based, at cell[1 + i m + j],
// so that row[i + 1][j + 1] is the same entry (1-based) and cell.data() + 1 the rows from 0.
struct dense_square {
  int m;
  std::vector<double> cell;
  std::vector<double*> row;  // [m + 1]; row[0] unused
};
typedef struct dense_square DENSE_SQUARE;

static void square_init(DENSE_SQUARE* a, int m) {
  const std::size_t w = static_cast<std::size_t>(m);
  a->m = m;
  a->cell.assign(w * w + 1, 0.0);
  a->row.assign(w + 1, nullptr);
  for (std::size_t i = 1; i <= w; i++)
    a->row[i] = a->cell.data() + (i - 1) * w;
}

static const double* square_data(const DENSE_SQUARE& a) {
  return a.cell.data() + 1;
}

// t = a b, each entry summed in the plain order by the kernel of the calculator's squaring.
static void square_product(DENSE_SQUARE* t, const DENSE_SQUARE& a, const DENSE_SQUARE& b) {
  square_init(t, a.m);
  const std::size_t w = static_cast<std::size_t>(a.m);
  matmul_with(matmul_kernel(), t->cell.data() + 1, a.row.data(), b.row.data(), w, w, w);
}

static double drift(const DENSE_SQUARE& a) {
  double worst = 0.0;
  for (int i = 1; i <= a.m; i++) {
    double total = 0.0;
    for (int j = 1; j <= a.m; j++)
      total += a.row[i][j];
    worst = std::max(worst, std::fabs(total - 1.0));
  }
  return worst;
}

// t_mix by doubling then bisection over the powers P^(2^j): d(t) never grows with t, so the
// first t with d(t) <= epsilon is found with about 2 log2(t) products. 0 when the powers lose
// accuracy first, their memory cannot be had or their work would pass MIXING_DENSE_WORK;
// mx->inexact then says which.
static int dense_mixing(const CLASS_OPS* ops, double epsilon, CLASS_MIXING* mx) {
  const int m = ops->m;
  const double* pi = ops->pi.data();
  const std::size_t w = static_cast<std::size_t>(m);
  // t = 0: the identity is at distance 1 - pi_i from the start i.
  const double at_zero = 1.0 - *std::min_element(ops->pi.begin(), ops->pi.end());
  if (at_zero <= epsilon) {
    mx->time = 0;
    mx->distance_before = NAN;
    mx->distance_at = at_zero;
    return 1;
  }
  const double per_product = 2.0 * static_cast<double>(m) * m * m;
  double work = 0.0;
  std::vector<DENSE_SQUARE> power;  // power[j] = P^(2^j)
  try {
    power.emplace_back();
    square_init(&power[0], m);
    for (int i = 0; i < m; i++) {
      for (SPARSE_MATRIX::InnerIterator e(ops->p, i); e; ++e)
        power[0].row[i + 1][e.col() + 1] = e.value();
    }
    double d = worst_distance(square_data(power[0]), pi, m);
    int j = 0;
    while (d > epsilon) {
      if (j == MIXING_MOST_DOUBLINGS) {
        mx->inexact = "its distance is still above epsilon after 2^62 steps";
        mx->beyond_doubling = 1;
        return 0;
      }
      if (!dense_fits((power.size() + 3) * w * w)) {
        mx->inexact = "its matrix's powers do not fit in memory";
        return 0;
      }
      // The doubling so far and the bisection after it, as many products again.
      if (work + per_product + j * per_product > MIXING_DENSE_WORK) {
        mx->inexact = "the exact time would take more squaring than the work allowed";
        mx->dense_work = work + per_product + j * per_product;
        return 0;
      }
      power.emplace_back();
      square_product(&power[j + 1], power[j], power[j]);
      work += per_product;
      j++;
      if (drift(power[j]) > MIXING_DRIFT) {
        mx->inexact = "rounding in the powers of its matrix grows past the digits needed";
        return 0;
      }
      d = worst_distance(square_data(power[j]), pi, m);
    }
    if (j == 0) {
      mx->time = 1;
      mx->distance_before = at_zero;
      mx->distance_at = d;
      return 1;
    }
    // 2^(j-1) steps are too few and 2^j enough: each lower power decides one more bit of the
    // last step count that is too few.
    DENSE_SQUARE low;
    square_init(&low, m);
    std::copy(power[j - 1].cell.begin(), power[j - 1].cell.end(), low.cell.begin());
    long lo = 1L << (j - 1);
    double d_low = worst_distance(square_data(low), pi, m);
    DENSE_SQUARE next;
    for (int i = j - 2; i >= 0; i--) {
      square_product(&next, low, power[i]);
      const double dn = worst_distance(square_data(next), pi, m);
      if (dn > epsilon) {
        std::swap(low, next);
        lo += 1L << i;
        d_low = dn;
      }
    }
    square_product(&next, low, power[0]);
    mx->time = lo + 1;
    mx->distance_before = d_low;
    mx->distance_at = worst_distance(square_data(next), pi, m);
  } catch (const std::exception&) {  // bad_alloc
    mx->inexact = "its matrix's powers do not fit in memory";
    return 0;
  }
  return 1;
}

// The lower bound from a sample of starts: the least likely state, the most likely, and others
// drawn with a fixed seed, stepped together until the worst of them is within epsilon or the
// work allowed is spent.
static void sampled_bound(const CLASS_OPS* ops, double epsilon, CLASS_MIXING* mx) {
  const int m = ops->m;
  std::vector<int> starts;
  starts.push_back(
      static_cast<int>(std::min_element(ops->pi.begin(), ops->pi.end()) - ops->pi.begin()));
  starts.push_back(
      static_cast<int>(std::max_element(ops->pi.begin(), ops->pi.end()) - ops->pi.begin()));
  std::mt19937_64 draw(0x70726176u + static_cast<unsigned>(ops->k));
  for (int tries = 0; tries < 4 * MIXING_STARTS && static_cast<int>(starts.size()) < MIXING_STARTS;
       tries++) {
    const int s = static_cast<int>(draw() % static_cast<unsigned long long>(m));
    if (std::find(starts.begin(), starts.end(), s) == starts.end())
      starts.push_back(s);
  }
  const int ns = static_cast<int>(starts.size());
  const std::size_t w = static_cast<std::size_t>(ns);
  // x[i * ns + s]: the probability of state i after t steps from start s.
  std::vector<double> x(static_cast<std::size_t>(m) * w, 0.0), y(x.size());
  for (int s = 0; s < ns; s++)
    x[static_cast<std::size_t>(starts[s]) * w + static_cast<std::size_t>(s)] = 1.0;
  const double per_step = static_cast<double>(ops->p.nonZeros()) * ns;
  const long most = std::max(1L, static_cast<long>(MIXING_SAMPLE_WORK / per_step));
  std::vector<double> distance(w);
  mx->starts = ns;
  mx->sample_reached = 0;
  double previous = 0.0;  // the distance after no step: 1 - pi_s from start s
  for (int s : starts)
    previous = std::max(previous, 1.0 - ops->pi[s]);
  for (long t = 1; t <= most; t++) {
    std::fill(y.begin(), y.end(), 0.0);
    for (int i = 0; i < m; i++) {
      const double* xi = x.data() + static_cast<std::size_t>(i) * w;
      for (SPARSE_MATRIX::InnerIterator e(ops->p, i); e; ++e) {
        double* yj = y.data() + static_cast<std::size_t>(e.col()) * w;
        for (std::size_t s = 0; s < w; s++)
          yj[s] += xi[s] * e.value();
      }
    }
    x.swap(y);
    std::fill(distance.begin(), distance.end(), 0.0);
    for (int i = 0; i < m; i++) {
      for (std::size_t s = 0; s < w; s++)
        distance[s] += std::fabs(x[static_cast<std::size_t>(i) * w + s] - ops->pi[i]);
    }
    const double worst = 0.5 * *std::max_element(distance.begin(), distance.end());
    mx->sample_time = t;
    if (worst <= epsilon) {
      mx->sample_reached = 1;
      mx->sample_distance = previous;
      return;
    }
    mx->sample_distance = worst;
    previous = worst;
  }
}

// Pi^1/2 P P* Pi^-1/2 = S S', S = Pi^1/2 P Pi^-1/2, deflated by u = sqrt(pi): its largest
// eigenvalue is sigma2^2, the square of S's second singular value.
struct reversibilised {
  const SPARSE_MATRIX* p;
  SPARSE_MATRIX pt;  // P'
  Eigen::VectorXd u;
};

static void reversibilised_apply(const void* context, const double* x_in, double* y_out) {
  const reversibilised* op = static_cast<const reversibilised*>(context);
  const Eigen::VectorXd& u = op->u;
  const Eigen::Map<const Eigen::VectorXd> x(x_in, u.size());
  Eigen::Map<Eigen::VectorXd> y(y_out, u.size());
  const Eigen::VectorXd w = u.cwiseProduct(x);
  const Eigen::VectorXd z = (op->pt * w).cwiseQuotient(u).cwiseQuotient(u);  // S' x / sqrt(pi)
  const Eigen::VectorXd t = *op->p * z;
  y = u.cwiseProduct(t) - u * u.dot(x);
}

// The restarts Lanczos may take for sigma2, and the margin added to what it finds: a Ritz value
// lies below the eigenvalue it converges to, by no more than its tolerance.
static const int SIGMA_RESTARTS = 400;
static const double SIGMA_TOLERANCE = 1e-10;
static const double SIGMA_MARGIN = 1e-9;

double second_singular_value(const CLASS_OPS* ops) {
  const int m = ops->m;
  const double pi_min = *std::min_element(ops->pi.begin(), ops->pi.end());
  if (m < 3 || !(pi_min > 1e-280))
    return NAN;
  reversibilised op{&ops->p, SPARSE_MATRIX(ops->p.transpose()), Eigen::VectorXd(m)};
  for (int i = 0; i < m; i++)
    op.u(i) = std::sqrt(ops->pi[i]);
  const KRYLOV_OPERATOR k{m, &op, reversibilised_apply};
  Eigen::VectorXd values;
  if (!krylov_lanczos(&k, 1, std::min(m, 40), SIGMA_RESTARTS, SIGMA_TOLERANCE, 1, &values))
    return NAN;
  const double square = values(0) + SIGMA_MARGIN;
  return std::min(1.0, std::sqrt(std::max(0.0, square)));
}

// The best lower bound and upper bound of those found.
static void bracket(CLASS_MIXING* mx) {
  long lowest = mx->beyond_doubling  ? (1L << MIXING_MOST_DOUBLINGS) + 1
                : mx->sample_reached ? mx->sample_time
                                     : mx->sample_time + 1;
  // A bound past 9e18 steps would not fit in a long: it is as good as none above.
  if (mx->spectral && std::ceil(mx->lower) > static_cast<double>(lowest))
    lowest = static_cast<long>(std::min(9e18, std::ceil(mx->lower)));
  mx->lowest = lowest;
  mx->highest = -1;
  if (!std::isnan(mx->upper) && mx->upper < 9e18)
    mx->highest = std::max(lowest, static_cast<long>(std::ceil(mx->upper)));
}

void solve_mixing(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k, const double* pi,
                  double epsilon, CLASS_MIXING* mx, const CLASS_SPECTRUM* spectrum) {
  const int m = class_size(cl, k);
  *mx = CLASS_MIXING{};
  mx->k = k;
  mx->m = m;
  mx->epsilon = epsilon;
  mx->upper = NAN;
  mx->lower = NAN;
  mx->sigma2 = NAN;
  mx->highest = -1;
  CLASS_OPS ops;
  class_ops_build(c, cl, k, pi, &ops, 0);
  mx->reversible = ops.reversible;
  // From any start the chain stays on one of the period's cyclic classes, each of probability
  // 1/period under pi: the distance is at least 1 - 1/period.
  const int period = cl->period[k];
  if (period > 1 && epsilon < 1.0 - 1.0 / period) {
    mx->never = 1;
    return;
  }
  if (m <= MIXING_DENSE_MAX) {
    mx->exact = dense_mixing(&ops, epsilon, mx);
    if (mx->exact)
      return;
  } else {
    mx->inexact = "too many states to step its whole matrix";
  }
  // Past 2^62 steps no sample of starts can say more.
  if (!mx->beyond_doubling)
    sampled_bound(&ops, epsilon, mx);
  const double pi_min = *std::min_element(ops.pi.begin(), ops.pi.end());
  if (period > 1) {
    bracket(mx);
    return;
  }
  CLASS_SPECTRUM own;
  if (spectrum == nullptr) {
    solve_spectrum(c, cl, k, pi, 2, &own);
    spectrum = &own;
  }
  mx->gap_unresolved = spectrum->found && spectrum->gap_unresolved;
  if (spectrum->found && !spectrum->gap_unresolved) {
    mx->spectral = 1;
    const double t_rel = relaxation_time(spectrum);
    mx->lower = std::max(0.0, (t_rel - 1.0) * std::log(1.0 / (2.0 * epsilon)));
    if (ops.reversible && pi_min > 0.0)
      mx->upper = t_rel * std::log(1.0 / (epsilon * pi_min));
  }
  if (!ops.reversible) {
    // From any start x, 4 |P^t(x, .) - pi|^2 <= sigma2^(2t) (1 - pi_x) / pi_x, the chain and its
    // reversal taken in turn (Fill): t_mix <= ln(4 epsilon^2 pi_min / (1 - pi_min)) / ln sigma2^2.
    mx->sigma2 = second_singular_value(&ops);
    if (mx->sigma2 < 1.0) {
      mx->upper = std::log(4.0 * epsilon * epsilon * pi_min / (1.0 - pi_min)) /
                  (2.0 * std::log(mx->sigma2));
      mx->upper = std::max(0.0, mx->upper);
    }
  }
  bracket(mx);
}

void print_mixing(FILE* out, const CHAIN_CLASSES* cl, const std::vector<CLASS_MIXING>& mixing,
                  double epsilon, int precision) {
  for (const CLASS_MIXING& mx : mixing) {
    const int k = mx.k;
    std::fprintf(out, "\nmixing time t_mix(%g) of ", epsilon);
    print_class_label(out, cl, k);
    std::fprintf(out, " (%d states):\n", mx.m);
    if (mx.never) {
      std::fprintf(out,
                   "  never: the class has period %d, so from any start the distance to the "
                   "stationary distribution stays at least 1 - 1/%d\n",
                   cl->period[k], cl->period[k]);
    } else if (mx.exact && mx.time == 0) {
      std::fprintf(out, "  0 steps: every start is already within %.*f of pi\n", precision,
                   mx.distance_at);
    } else if (mx.exact) {
      std::fprintf(out,
                   "  %ld step%s: the largest total variation distance to pi is %.*f after %ld "
                   "step%s and %.*f after %ld (exact)\n",
                   mx.time, mx.time == 1 ? "" : "s", precision, mx.distance_before, mx.time - 1,
                   mx.time == 2 ? "" : "s", precision, mx.distance_at, mx.time);
    } else {
      std::fprintf(out, "  bounds only: %s\n", mx.inexact);
      if (mx.beyond_doubling) {
        // The line above says it: no sampled starts.
      } else if (mx.sample_reached) {
        std::fprintf(out,
                     "  at least %ld step%s: from the worst of %d sampled starts the distance is "
                     "%.*f after %ld step%s\n",
                     mx.sample_time, mx.sample_time == 1 ? "" : "s", mx.starts, precision,
                     mx.sample_distance, mx.sample_time - 1, mx.sample_time == 2 ? "" : "s");
      } else {
        std::fprintf(out,
                     "  more than %ld step%s: from the worst of %d sampled starts the distance "
                     "is still %.*f after %ld step%s\n",
                     mx.sample_time, mx.sample_time == 1 ? "" : "s", mx.starts, precision,
                     mx.sample_distance, mx.sample_time, mx.sample_time == 1 ? "" : "s");
      }
      if (mx.dense_work > 0.0) {
        std::fprintf(out,
                     "  (the exact time would take more than %.1e operations of squaring, beyond "
                     "the limit of %.0e)\n",
                     mx.dense_work, MIXING_DENSE_WORK);
      }
      if (mx.spectral) {
        std::fprintf(out,
                     "  at least %.*f steps from the relaxation time: (t_rel - 1) ln(1 / (2 "
                     "epsilon))\n",
                     precision, mx.lower);
      } else if (mx.gap_unresolved) {
        std::fprintf(out,
                     "  no bound from the relaxation time: the spectral gap is below what double "
                     "precision resolves\n");
      }
      if (mx.reversible && mx.spectral && !std::isnan(mx.upper)) {
        std::fprintf(out,
                     "  at most %.*f steps from the relaxation time, the class being reversible: "
                     "t_rel ln(1 / (epsilon pi_min))\n",
                     precision, mx.upper);
      }
      if (!mx.reversible && !std::isnan(mx.upper)) {
        std::fprintf(out,
                     "  at most %.*f steps from the chain and its reversal in turn, sigma2 = %.*f: "
                     "ln(4 epsilon^2 pi_min / (1 - pi_min)) / ln(sigma2^2)\n",
                     precision, mx.upper, precision, mx.sigma2);
      }
      if (mx.highest >= 0) {
        std::fprintf(out, "  so %ld to %ld steps: the upper bound is %.1f times the lower\n",
                     mx.lowest, mx.highest,
                     static_cast<double>(mx.highest) / static_cast<double>(mx.lowest));
      } else {
        std::fprintf(out, "  so at least %ld step%s, and no upper bound: %s\n", mx.lowest,
                     mx.lowest == 1 ? "" : "s",
                     mx.reversible || cl->period[k] > 1 ? "the relaxation time is not known"
                     : std::isnan(mx.sigma2)
                         ? "the second singular value of P was not found"
                         : "sigma2 is 1, the chain and its reversal in turn do not mix");
      }
    }
  }
  if (mixing.empty()) {
    std::fprintf(out,
                 "\nmixing time: every closed class is a single state, which is mixed from the "
                 "start\n");
  }
}
