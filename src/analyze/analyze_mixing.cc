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

// Squaring doubles the rounding in the rows' totals: once it is past this, the distances are
// no longer good to the digits printed, and the exact answer is given up for bounds.
static const double MIXING_DRIFT = 1e-9;
// 2^62 steps is as far as the doubling goes: a step count must fit in a long.
static const int MIXING_MOST_DOUBLINGS = 62;

typedef Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> ROWS;

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

static double drift(const ROWS& a) {
  return (a.rowwise().sum().array() - 1.0).abs().maxCoeff();
}

// t_mix by doubling then bisection over the powers P^(2^j): d(t) never grows with t, so the
// first t with d(t) <= epsilon is found with about 2 log2(t) products. 0 when the powers lose
// accuracy first, or their memory cannot be had; mx->inexact then says which.
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
  std::vector<ROWS> power;  // power[j] = P^(2^j)
  try {
    power.push_back(ROWS(ops->p));
    double d = worst_distance(power[0].data(), pi, m);
    int j = 0;
    while (d > epsilon) {
      if (j == MIXING_MOST_DOUBLINGS) {
        mx->inexact = "its distance is still above epsilon after 2^62 steps";
        return 0;
      }
      if (!dense_fits((power.size() + 3) * w * w)) {
        mx->inexact = "its matrix's powers do not fit in memory";
        return 0;
      }
      power.push_back(power[j] * power[j]);
      j++;
      if (drift(power[j]) > MIXING_DRIFT) {
        mx->inexact = "rounding in the powers of its matrix grows past the digits needed";
        return 0;
      }
      d = worst_distance(power[j].data(), pi, m);
    }
    if (j == 0) {
      mx->time = 1;
      mx->distance_before = at_zero;
      mx->distance_at = d;
      return 1;
    }
    // 2^(j-1) steps are too few and 2^j enough: each lower power decides one more bit of the
    // last step count that is too few.
    ROWS low = power[j - 1];
    long lo = 1L << (j - 1);
    double d_low = worst_distance(low.data(), pi, m);
    for (int i = j - 2; i >= 0; i--) {
      ROWS next = low * power[i];
      const double dn = worst_distance(next.data(), pi, m);
      if (dn > epsilon) {
        low.swap(next);
        lo += 1L << i;
        d_low = dn;
      }
    }
    const ROWS at = low * power[0];
    mx->time = lo + 1;
    mx->distance_before = d_low;
    mx->distance_at = worst_distance(at.data(), pi, m);
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

void solve_mixing(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k, const double* pi,
                  double epsilon, CLASS_MIXING* mx, const CLASS_SPECTRUM* spectrum) {
  const int m = class_size(cl, k);
  *mx = CLASS_MIXING{};
  mx->k = k;
  mx->m = m;
  mx->epsilon = epsilon;
  mx->upper = NAN;
  mx->lower = NAN;
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
  sampled_bound(&ops, epsilon, mx);
  if (period > 1)
    return;
  CLASS_SPECTRUM own;
  if (spectrum == nullptr) {
    solve_spectrum(c, cl, k, pi, 2, &own);
    spectrum = &own;
  }
  if (!spectrum->found)
    return;
  mx->spectral = 1;
  const double t_rel = relaxation_time(spectrum);
  mx->lower = std::max(0.0, (t_rel - 1.0) * std::log(1.0 / (2.0 * epsilon)));
  const double pi_min = *std::min_element(ops.pi.begin(), ops.pi.end());
  if (ops.reversible && pi_min > 0.0)
    mx->upper = t_rel * std::log(1.0 / (epsilon * pi_min));
}

void print_mixing(FILE* out, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, const double* pi,
                  double epsilon, int precision, const std::vector<CLASS_SPECTRUM>* spectra) {
  const int first = next_closed_class(cl, 0);
  for (int k = first; k != 0; k = next_closed_class(cl, k)) {
    CLASS_MIXING mx;
    solve_mixing(c, cl, k, pi, epsilon, &mx, find_spectrum(spectra, k));
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
      if (mx.sample_reached) {
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
      if (mx.spectral) {
        std::fprintf(out,
                     "  at least %.*f steps from the relaxation time: (t_rel - 1) ln(1 / (2 "
                     "epsilon))\n",
                     precision, mx.lower);
      }
      if (mx.spectral && !std::isnan(mx.upper)) {
        std::fprintf(out,
                     "  at most %.*f steps from the relaxation time, the class being reversible: "
                     "t_rel ln(1 / (epsilon pi_min))\n",
                     precision, mx.upper);
      }
    }
    std::fflush(out);
  }
  if (first == 0) {
    std::fprintf(out,
                 "\nmixing time: every closed class is a single state, which is mixed from the "
                 "start\n");
  }
}
