// analyze_rewards.h - rewards from the states' own values: the long-run average, the expected
// value after n steps, and the expected total before absorption and before the target.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_REWARDS_H
#define PRAVLIN_ANALYZE_REWARDS_H

#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "analyze.h"

/// Every reward of the chain, v_s the value of state s (pravlin's <value>).
struct rewards {
  std::vector<int> klass;                 // the closed classes, in order
  std::vector<double> average;            // sum_s pi_s v_s over each
  long steps;                             // --steps N; -1 when not asked
  double after_steps;                     // E[v(X_N)] from the initial probabilities
  std::vector<int> transient;             // the transient states, increasing
  std::vector<double> before_absorption;  // E_s[sum of v(X_t), t = 0 .. T - 1], T the first
                                          // step in a closed class, in step with transient;
                                          // +-inf or NaN where a value met is not finite
  SOLVE_RESULT absorption_how;
  std::vector<int> targets;           // of --target; empty when not asked
  std::vector<double> before_target;  // [n + 1] E_s[sum of v(X_t), t = 0 .. T - 1], T the first
                                      // step on a target (0 on one); NaN where T may be
                                      // infinite, or where a value met is not finite
  std::vector<char> reach;            // [n + 1] 2: the target is reached for certain (or is
                                      // the state), 1: it may be, 0: it never is
  SOLVE_RESULT target_how;
};
typedef struct rewards REWARDS;

/// 1 when some state's value is not 0: the rewards are worth printing.
int rewards_wanted(const PRAVLIN* pv);

/// Fills r. pi: the stationary distribution of each closed class on its states; after: the
/// distribution after steps (>= 0) steps from the initial probabilities, or null; targets may
/// be empty. Does not return on failure.
void solve_rewards(const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                   const double* pi, const std::vector<double>* after, long steps,
                   const std::vector<int>& targets, REWARDS* r);

/// The rewards section of the text output.
void print_rewards(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                   const REWARDS* r, int precision);

/// Member "rewards" of the JSON document; null when r is null.
void add_rewards_json(const PRAVLIN* pv, const SPARSE_CHAIN* c, const REWARDS* r,
                      nlohmann::ordered_json* doc);

#endif
