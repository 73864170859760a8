// analyze_step_fast.h - a run of steps x -> x P over one chain, as a gather over the rows of P^T
// grouped by length (row_product_grouped) when the chain is large, else the plain scatter.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_STEP_FAST_H
#define PRAVLIN_ANALYZE_STEP_FAST_H

#include "analyze_sparse_fast.h"
#include "analyze_step.h"

/// A chain made ready for its steps. Row v of P^T holds p[u][v] for the rows u that reach v,
/// u ascending: the gather y[v] = sum_u p[u][v] x[u] then adds step_product's terms in its
/// order. The terms it adds beyond them are those of x[u] == +-0, each p times +-0 = +-0, and a
/// sum that starts from +0 is never -0, so adding them changes no bit; that needs every p
/// finite, which prepare_steps checks.
struct chain_steps {
  const SPARSE_CHAIN* chain;
  int grouped;        // 1: the steps go through groups; 0: through step_product
  ROW_GROUPS groups;  // P^T's rows (n + 1 of them, row 0 empty) grouped by group_rows
  unsigned cores;     // row_product_grouped's
};
typedef struct chain_steps CHAIN_STEPS;

/// Makes c ready for a run of steps along path (a step_path): builds P^T and groups its rows
/// when path asks for the grouped product, or leaves it to choose and c has
/// STEP_GROUPS_MIN_ENTRIES entries or more and the run STEP_GROUPS_MIN_STEPS steps or more.
/// Takes the plain product when their memory cannot be had, or a p is not finite. c must
/// outlive s.
void prepare_steps(const SPARSE_CHAIN* c, long steps, int path, CHAIN_STEPS* s);

/// y = x P with the bits of step_product(s->chain, x, y), by whichever product s was made
/// ready for. x and y hold n + 1 entries and must not overlap.
void take_step(const CHAIN_STEPS* s, const double* x, double* y);

#endif
