// analyze_horizon.h - the path to a horizon: the distribution at every step from the initial
// probabilities, the states' expected value and its (discounted, corrected) total, the
// probability of having been absorbed by each step and the steps spent in each state.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_HORIZON_H
#define PRAVLIN_ANALYZE_HORIZON_H

#include <cstddef>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "analyze.h"

/// The most steps --horizon takes: a line of output each, and more with the states.
const long HORIZON_MAX_STEPS = 10000000;
/// The most work (transitions followed, summed over the steps) that --horizon may take; a run
/// whose estimate, steps times transitions, passes it is refused before it starts.
const double HORIZON_WORK_MAX = 1e10;

/// How the values' total weighs the steps within the sum (the within-cycle correction).
enum horizon_correction {
  CORRECTION_NONE,       // every step 0..t in full
  CORRECTION_HALF,       // step 0 by half
  CORRECTION_TRAPEZOID,  // steps 0 and t by half
  CORRECTION_SIMPSON,    // Simpson's 1/3 rule; an odd t ends on the 3/8 rule
};

/// "none", "half", "trapezoid", "simpson": the words of --cycle-correction.
const char* correction_name(int correction);
/// The correction that word names, or -1 when it names none.
int parse_correction(const char* word);

/// What to compute.
struct horizon_settings {
  long steps;       // T >= 0: steps 0..T
  int discounted;   // 1 with --discount
  double discount;  // R > -1, the rate per step; the factor of step t is 1 / (1 + R)^t
  int correction;   // a horizon_correction
  int trace;        // 1: keep the distribution and the steps spent at every step; 0: at T only
  int path;         // a step_path: which product takes each step (the same bits on every one)
};
typedef struct horizon_settings HORIZON_SETTINGS;

/// The path over steps t = 0..T. Sums count step 0: x_0 is the initial distribution.
struct horizon {
  HORIZON_SETTINGS set;
  int n;                             // states
  std::size_t rows;                  // steps kept in distribution and spent: T + 1, or 1 (T)
  std::vector<double> distribution;  // [rows * (n + 1)]: x_t(s) at [r * (n + 1) + s]
  std::vector<double> spent;         // the same: sum of x_k(s) over k = 0..t, the expected
                                     // number of steps 0..t spent in s
  std::vector<double> value;         // [T + 1] E[v(X_t)] = sum_s x_t(s) v_s
  std::vector<double> factor;        // [T + 1] 1 / (1 + R)^t; 1 without discount
  std::vector<double> total;         // [T + 1] the corrected sum of factor * value over 0..t
  std::vector<int> absorbing;        // the absorbing states of the chain of step 0, increasing
  std::vector<double> absorbed;      // [(T + 1) * absorbing.size()]: P(X_t = a), the
                                     // probability of having been absorbed in a by t
};
typedef struct horizon HORIZON;

/// The chain that takes the distribution at step t to step t + 1 (t = 0..T - 1), from context.
typedef const SPARSE_CHAIN* (*HORIZON_CHAIN_AT)(long t, const void* context);
/// The chain itself at every step, context being the SPARSE_CHAIN.
const SPARSE_CHAIN* horizon_same_chain(long t, const void* context);

/// The chains of a configuration whose matrix changes with the step, each period but the last
/// (whose chain is the one every other analysis describes), for horizon_period_chain.
struct horizon_periods {
  std::vector<int> last;            // [k] the last step that period k draws
  std::vector<SPARSE_CHAIN> chain;  // [k] its chain, checked and rescaled as the last one is
};
typedef struct horizon_periods HORIZON_PERIODS;

/// Checks and rescales the transitions of each period of pv but the last, with the messages of
/// a configuration's transitions, into hp, or only checks them when hp is null; nothing for a
/// chain of one matrix. Does not return on error.
void read_horizon_periods(PRAVLIN* pv, HORIZON_PERIODS* hp);

/// What horizon_period_chain reads: the periods before the last, and the last one's chain.
struct horizon_period_chains {
  const HORIZON_PERIODS* periods;
  const SPARSE_CHAIN* last;
};
typedef struct horizon_period_chains HORIZON_PERIOD_CHAINS;
/// The chain of the period that draws step t + 1, context being a HORIZON_PERIOD_CHAINS: the
/// last period's after its end.
const SPARSE_CHAIN* horizon_period_chain(long t, const void* context);

/// Fills h from the initial distribution initial[1..n] and the states' values value[1..n], a
/// product x_{t+1} = x_t P_t over the sparse chain of each step. A state is absorbing when it
/// is in the chain of every step. A value that is not finite
/// counts only where the distribution is positive. Does not return when the work passes
/// HORIZON_WORK_MAX.
void solve_horizon(const double* initial, const double* value, int n, HORIZON_CHAIN_AT chain_at,
                   const void* context, const HORIZON_SETTINGS* set, HORIZON* h);

/// The horizon section of the text output.
void print_horizon(FILE* out, const PRAVLIN* pv, const HORIZON* h, int precision);

/// Member "horizon" of the JSON document.
void add_horizon_json(const PRAVLIN* pv, const HORIZON* h, nlohmann::ordered_json* doc);

/// The path as CSV on out: a header line, then one line per step: step, the probability of
/// each state (a column each, headed by its name, or #N when it has none), value, total.
/// h must keep every step (set.trace).
void write_horizon_csv(FILE* out, const PRAVLIN* pv, const HORIZON* h);
/// write_horizon_csv into file, through the output-file helper (declared before). Does not
/// return on failure.
void write_horizon_file(const char* file, const PRAVLIN* pv, const HORIZON* h);

#endif
