// analyze_entropy.h - the entropy rate and reversibility of each closed class.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_ENTROPY_H
#define PRAVLIN_ANALYZE_ENTROPY_H

#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "analyze.h"

/// The largest relative violation of detailed balance under which a class counts as
/// reversible: pi itself is exact to rounding from GTH, to some 1e-10 from a sparse solve.
const double REVERSIBLE_TOLERANCE = 1e-8;

/// One closed class.
struct class_entropy {
  int klass;         // class number
  double nats;       // H = -sum_i pi_i sum_j P_ij ln P_ij
  double bits;       // H / ln 2
  double violation;  // max over pairs i != j with a flow either way of
                     // |pi_i P_ij - pi_j P_ji| / max(pi_i P_ij, pi_j P_ji); 0 when none
  int from, to;      // the first pair where it is largest (from < to); 0 when it is 0
  int reversible;    // violation <= REVERSIBLE_TOLERANCE
};
typedef struct class_entropy CLASS_ENTROPY;

/// The entropy rate and reversibility of every closed class, in the order of the classes,
/// from pi[s], the stationary distribution of each closed class on its states. Time linear in
/// the states and transitions.
void solve_entropy(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, const double* pi,
                   std::vector<CLASS_ENTROPY>* e);

/// The entropy rate and reversibility sections of the text output.
void print_entropy(FILE* out, const PRAVLIN* pv, const CHAIN_CLASSES* cl,
                   const std::vector<CLASS_ENTROPY>& e, int precision);

/// Members "entropy_rate" and "reversibility" of the JSON document.
void add_entropy_json(const std::vector<CLASS_ENTROPY>& e, nlohmann::ordered_json* doc);

#endif
