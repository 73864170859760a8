// analyze_eigen.h - the eigenvalues of a closed class: SLEM, spectral gap, relaxation time,
// and those of largest modulus with their implied timescales (--eigen).
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_EIGEN_H
#define PRAVLIN_ANALYZE_EIGEN_H

#include <cstdio>
#include <vector>

#include "analyze.h"

/// Classes up to this size get every eigenvalue from a dense eigensolver (about a second at the
/// largest, for a general class); larger ones the few of largest modulus from Arnoldi or Lanczos.
const int SPECTRUM_DENSE_MAX = 500;

struct class_ops;

/// Whether the spectrum of a class of more than SPECTRUM_DENSE_MAX states solves with the group
/// inverse, so that it builds the class's solver (class_ops_solver, analyze_class_ops.h), ops
/// built without it: a reversible class's Lanczos does when the class has one, and Arnoldi on a
/// class that is not, when every state may stay put and a step within Q's band costs no more
/// than one on the power of P.
int spectrum_uses_solver(const class_ops* ops, int period);

/// One eigenvalue.
struct eigenvalue {
  double re, im;
  double modulus;
  double distance;  // 1 - modulus, computed without cancellation where the method allows;
                    // NaN when below what the method resolves
};
typedef struct eigenvalue EIGENVALUE;

/// What the eigenvalues of a closed class say about how it mixes.
struct class_spectrum {
  int k;               // the class
  int m;               // its states
  const char* method;  // how the eigenvalues were found (a fixed text)
  int reversible;      // 1 when detailed balance holds: the eigenvalues are real
  int period;          // the class's period: above 1, SLEM is 1 and there is no relaxation
  int found;           // 0 when the iterative method did not converge: nothing below is known
  double slem;         // the second largest eigenvalue modulus (0 for a single state)
  double gap;          // 1 - slem, the absolute spectral gap, without cancellation if possible
  double resolution;   // the least gap the method tells from 0: below it (gap_unresolved), the
                       // gap is only known to be smaller, and 1 / gap means nothing
  int gap_unresolved;  // 1 when a class that is not periodic has gap below resolution
  const char* why;     // when not found: why (a fixed text)
  std::vector<EIGENVALUE> largest;  // those of largest modulus, 1 first: as many as asked,
                                    // or all the class has
};
typedef struct class_spectrum CLASS_SPECTRUM;

/// The spectrum of closed class k, pi[1..n] holding its stationary distribution, with the
/// count eigenvalues of largest modulus (at least 1, at most the class's size; fewer when the
/// class is smaller). Dense up to SPECTRUM_DENSE_MAX states (and beyond when count leaves no
/// room for a Krylov space, up to DENSE_MAX_STATES); beyond, Arnoldi on P deflated by pi, or
/// for a reversible class Lanczos on its symmetrised matrix, the eigenvalues next to 1 taken
/// from the group inverse of I - P where a sparse LU is cheap. Does not return on failure.
void solve_spectrum(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k, const double* pi,
                    int count, CLASS_SPECTRUM* sp);

/// The most work (floating-point operations, estimated before it starts) that Arnoldi may spend
/// on a class whose largest eigenvalues it cannot tell apart quickly: a periodic class asked for
/// more eigenvalues than its period. Beyond, --eigen is refused with the estimate.
const double SPECTRUM_WORK_MAX = 2e11;

/// 1 / gap, the relaxation time; HUGE_VAL for a periodic class (gap 0) or a gap too small to
/// resolve.
double relaxation_time(const CLASS_SPECTRUM* sp);
/// -1 / ln |lambda|, the implied timescale of an eigenvalue; HUGE_VAL for modulus 1.
double implied_timescale(const EIGENVALUE* e);

/// The size of the largest closed class: --eigen may ask for no more.
int largest_closed_class(const CHAIN_CLASSES* cl);

/// The spectrum section of the text output, for every closed class of more than one state.
/// count: --eigen's K. The spectra are appended to *solved when it is given, for the mixing
/// time's bounds. Does not return on failure.
void print_spectrum(FILE* out, const CHAIN_CLASSES* cl, const std::vector<CLASS_SPECTRUM>& spectra,
                    int precision);

/// The spectrum of class k among solved, or null.
const CLASS_SPECTRUM* find_spectrum(const std::vector<CLASS_SPECTRUM>* solved, int k);

#endif
