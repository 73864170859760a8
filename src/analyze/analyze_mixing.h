// analyze_mixing.h - the mixing time t_mix(epsilon) of a closed class: exact for a class small
// enough to step densely, bounds for a larger one (--mixing).
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_MIXING_H
#define PRAVLIN_ANALYZE_MIXING_H

#include <cstdio>
#include <vector>

#include "analyze.h"
#include "analyze_eigen.h"

/// Classes up to this size get the exact mixing time from dense powers of their matrix, within
/// MIXING_DENSE_WORK (a class that takes 2^k steps to mix takes about 2k products of 2 m^3
/// operations each); larger ones get bounds.
const int MIXING_DENSE_MAX = 4000;
/// The most work (floating-point operations) of the products for an exact mixing time: about
/// a minute on two cores (3 10^11 is 2k products at 4000 states for k about 5).
const double MIXING_DENSE_WORK = 1e12;
/// The epsilon of --spectral.
const double MIXING_DEFAULT_EPSILON = 0.25;
/// The sampled starts of a large class, and the most work (transitions times starts times
/// steps) spent stepping them.
const int MIXING_STARTS = 16;
const double MIXING_SAMPLE_WORK = 1e9;

/// The mixing time of a closed class: the first t at which the largest total variation distance
/// d(t) = max_i |P^t(i,.) - pi|_TV is at most epsilon.
struct class_mixing {
  int k;                   // the class
  int m;                   // its states
  double epsilon;          //
  int reversible;          // detailed balance holds
  int never;               // a periodic class whose distance never falls to epsilon:
                           // d(t) >= 1 - 1/period for every t
  int exact;               // 1: time is t_mix itself
  long time;               // t_mix when exact
  double distance_before;  // d(time - 1) when exact and time > 0
  double distance_at;      // d(time) when exact
  const char* inexact;     // why only bounds are given (a fixed text), when not exact
  double dense_work;       // the work of the products for the exact time, at least, when that
                           // passed MIXING_DENSE_WORK (else 0)
  // Bounds, when not exact:
  int beyond_doubling;     // the distance is still above epsilon after 2^62 steps, from the
                           // powers of the whole matrix: t_mix > 2^62, and no starts are sampled
  int starts;              // sampled starts stepped: the worst of them bounds t_mix from below
  long sample_time;        // their distance first at most epsilon after this many steps, so
                           // t_mix >= sample_time; or, with sample_reached 0, still above
                           // epsilon after sample_time steps, so t_mix > sample_time
  int sample_reached;      //
  double sample_distance;  // the largest of their distances after sample_time - 1 steps
                           // (reached) or sample_time steps (not reached)
  int spectral;            // 1 when the spectrum gave the bounds below
  double lower;            // (t_rel - 1) ln(1 / (2 epsilon)): t_mix >= lower
  double upper;            // t_rel ln(1 / (epsilon pi_min)), for a reversible class: t_mix <=
                           // upper rounded up; for one that is not, from sigma2 below; NaN when
                           // neither is known
  int gap_unresolved;      // the spectral gap is below what double precision resolves: no bound
                           // from the relaxation time
  double sigma2;           // not reversible: the second singular value of Pi^1/2 P Pi^-1/2, from
                           // P P* (the chain and its reversal), rounded up; NaN when not found
  long lowest;             // the best of the lower bounds: t_mix >= lowest
  long highest;            // the best upper bound rounded up (t_mix <= highest); -1 when none
};
typedef struct class_mixing CLASS_MIXING;

/// The mixing time of closed class k (of at least two states), pi[1..n] holding its stationary
/// distribution. The bounds need the class's SLEM: from spectrum when given (as the spectrum
/// section found it), else solved here. Does not return on failure.
void solve_mixing(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k, const double* pi,
                  double epsilon, CLASS_MIXING* mx, const CLASS_SPECTRUM* spectrum = nullptr);

struct class_ops;

/// sigma2, the second singular value of Pi^1/2 P Pi^-1/2 for the class of ops (its largest
/// beside 1, of the vector sqrt(pi)), from Lanczos on P followed by its reversal, and rounded up
/// by what Lanczos leaves; NaN when Lanczos does not converge or a stationary probability is
/// too small to divide by.
double second_singular_value(const struct class_ops* ops);

/// The total variation distance from the worst start, max_i 0.5 sum_j |a_ij - pi_j|, for the
/// m x m matrix a held by rows in a[i * m + j] and pi[0..m-1].
double worst_distance(const double* a, const double* pi, int m);

/// The mixing section of the text output, for every closed class of more than one state;
/// spectra, when given, those the spectrum section found. Does not return on failure.
void print_mixing(FILE* out, const CHAIN_CLASSES* cl, const std::vector<CLASS_MIXING>& mixing,
                  double epsilon, int precision);

#endif
