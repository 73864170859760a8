// analyze_passage.h - the distribution of the first passage into the target states.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_PASSAGE_H
#define PRAVLIN_ANALYZE_PASSAGE_H

#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "analyze.h"

/// The most steps --passage takes: one line of output each.
const long PASSAGE_MAX_STEPS = 10000000;

/// T, the first step n >= 1 at which the chain is on a target, started from the initial
/// probabilities (a start on a target counts only when it returns).
struct first_passage {
  std::vector<double> probability;  // [N + 1] P(T = n) at n = 1..N; slot 0 unused
  double beyond;                    // P(T > N): what is left off the targets after N steps
};
typedef struct first_passage FIRST_PASSAGE;

/// The most work (transitions followed, summed over the steps) that --passage may take. A run
/// whose estimate, steps times transitions, passes it goes on only while the work stays within
/// it (work_max below), and is refused when the answer has not settled by then.
const double PASSAGE_WORK_MAX = 1e10;

/// Fills f for steps = N >= 1 steps, a sparse product each, the mass on the targets taken off
/// after each. Once no mass is left on a state that can still reach a target, every later
/// probability is 0 and the steps stop. A run still going after two seconds shows its progress
/// on standard error when that is a terminal. Does not return when refused.
void solve_passage(const PRAVLIN* pv, const SPARSE_CHAIN* c, const std::vector<int>& targets,
                   long steps, FIRST_PASSAGE* f, double work_max = PASSAGE_WORK_MAX);

/// The first passage section of the text output.
void print_passage(FILE* out, const PRAVLIN* pv, const std::vector<int>& targets,
                   const FIRST_PASSAGE* f, int precision);

/// Member "passage" of the JSON document; null when f is null.
void add_passage_json(const PRAVLIN* pv, const std::vector<int>& targets, const FIRST_PASSAGE* f,
                      nlohmann::ordered_json* doc);

#endif
