// analyze_kemeny.h - the Kemeny constant of a closed class: exact by a dense solve, or estimated
// with a 95% interval (--kemeny).
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_KEMENY_H
#define PRAVLIN_ANALYZE_KEMENY_H

#include <cstdio>
#include <vector>

#include "analyze.h"

/// Classes up to this size get the exact constant from a dense elimination (seconds at the
/// largest); larger ones an estimate.
const int KEMENY_DENSE_MAX = DENSE_MAX_STATES;
/// The random probes of the estimate, each a sparse solve.
const int KEMENY_PROBES = 64;
/// The eigenvalues next to 1 whose share of the trace is computed rather than estimated, when
/// the class has a cheap sparse LU.
const int KEMENY_DEFLATED = 24;

/// K = sum_j pi_j m_ij, m_ij the mean first passage time from i to j (m_ii = 0): the same for
/// every i, and the sum of 1 / (1 - lambda) over the eigenvalues lambda != 1.
struct class_kemeny {
  int k;                // the class
  int m;                // its states
  int exact;            // 1: value is exact to rounding; 0: estimated
  double value;         // the constant, or its estimate; NaN when refused
  double low, high;     // the estimate's 95% interval; equal to value when exact
  int probes;           // the estimate's probes (0 when exact)
  int deflated;         // the dimension of the slow space whose share is computed, not estimated
  double residual;      // the largest relative residual of their solves
  const char* method;   // how it was found (a fixed text)
  const char* refused;  // why there is no estimate (a fixed text); null when there is one
};
typedef struct class_kemeny CLASS_KEMENY;

/// The Kemeny constant of closed class k of at least two states, pi[1..n] holding its
/// stationary distribution: exact up to KEMENY_DENSE_MAX states, estimated beyond by
/// Hutchinson's trace estimator on the group inverse of I - P. Does not return on failure.
void solve_kemeny(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k, const double* pi,
                  CLASS_KEMENY* km);

/// 1 when the chain is absorbing: it has transient states, and each closed class is a single
/// state. Such a chain has no Kemeny constant.
int chain_is_absorbing(const CHAIN_CLASSES* cl);

/// The Kemeny section of the text output. Does not return on failure.
void print_kemeny(FILE* out, const CHAIN_CLASSES* cl, const std::vector<CLASS_KEMENY>& kemeny,
                  int precision);

#endif
