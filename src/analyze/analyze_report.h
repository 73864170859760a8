// analyze_report.h - the squaring solver's cost and outcome, which the text and the JSON share.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_REPORT_H
#define PRAVLIN_ANALYZE_REPORT_H

#include <cstdio>
#include <string>
#include <vector>

#include "analyze.h"
#include "analyze_plan.h"

struct analysis_requests;  // analyze_requests.h

/// Writes the whole analysis of a checked model to out, section by section, flushing each so
/// that what was computed stays visible when a later dense solve is refused, then the hitting
/// section for targets, when there are any, then the analyses that requests holds, and last the
/// spectrum, mixing and Kemeny sections that opt asks for. pv must
/// have been read by read_configuration (READ_LIST) and checked by error_check_transitions.
/// Does not return on failure.
void print_analysis(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYZE_OPTIONS* opt,
                    const std::vector<int>& targets, const struct analysis_requests* requests);

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

#endif
