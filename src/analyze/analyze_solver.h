// analyze_solver.h - the squaring solver's section: whether pravlin's own solver can converge on
// the chain, what it would cost, and its run on the same matrix, with the words of its outcome
// that the text and the JSON share.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_SOLVER_H
#define PRAVLIN_ANALYZE_SOLVER_H

#include <cstdio>
#include <vector>

#include "analyze.h"
#include "analyze_limits.h"

/// 1 when the squaring solver's three dense matrices of the chain's size fit in memory.
int squaring_fits(const SPARSE_CHAIN* c);

/// What pravlin's squaring solver would cost on a chain.
struct squaring_cost {
  double bytes;   // its three dense matrices of (n + 1)^2 doubles
  double work;    // multiply-adds of one squaring: n^3
  int squarings;  // the fewest it does: 1 when it can converge; all max_iteration when not
  int max_iteration;
  int fits;   // 1 when its matrices fit in memory (squaring_fits)
  int worth;  // 1 when it fits and squarings * work is at most SQUARING_MAX_WORK: it is run
};
typedef struct squaring_cost SQUARING_COST;

/// The cost of the squaring solver on the chain c with classes cl, as pv's settings run it.
SQUARING_COST estimate_squaring(const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl);
/// The "  its cost: ..." line of a solver that was not run: work and estimated time of each
/// squaring, how many it would do, memory.
void print_squaring_cost(FILE* out, const SQUARING_COST* cost);
/// Runs calc_steady_state as pravlin does, on the same normalised matrix: its vector into
/// b[1..n], its final error into *error; returns its iteration count.
int run_solver(const PRAVLIN* pv, const SPARSE_CHAIN* c, std::vector<double>* b, double* error);
/// The "  but ..." line when the solver's run is not what the structure foretells; nothing
/// otherwise.
void print_outcome(FILE* out, const PRAVLIN* pv, const CHAIN_CLASSES* cl,
                   const std::vector<double>* b, double error, int precision);

/// The solver's section: its verdict from the structure, and its run when the configuration asks
/// for the steady state and the run is affordable.
struct squaring_run {
  int can_converge;  // squaring_can_converge: one closed class, aperiodic
  int asked;         // the configuration asks for the steady state (calc_flag)
  SQUARING_COST cost;
  int ran;                     // asked and cost.worth: the fields below are set
  int iterations;              // the solver's own count
  double error;                // its final error
  std::vector<double> vector;  // [1..n] its steady state
  int compared;                // 1 when the chain has one stationary distribution to compare with
  double largest_difference;   // the largest |vector - pi| when compared
};
typedef struct squaring_run SQUARING_RUN;

/// The solver's section of the chain c with classes cl, as pv's settings run it. pi: the
/// stationary distribution, compared with when the chain has one closed class. Does not return
/// when the solver's matrices cannot be had.
void solve_squaring(const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                    const double* pi, SQUARING_RUN* run);

#endif
