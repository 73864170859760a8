// analyze_requests.h - the analyses that options ask for beyond the structure: rewards from the
// values, the committor, the first passage distribution and lumping, read and checked before
// anything is printed, then printed after the hitting section.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_REQUESTS_H
#define PRAVLIN_ANALYZE_REQUESTS_H

#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "analyze.h"
#include "analyze_committor.h"
#include "analyze_horizon.h"
#include "analyze_lump.h"
#include "analyze_plan.h"

/// What the options name in the configuration, once checked.
struct analysis_requests {
  COMMITTOR_SETS committor;  // of --committor; both empty when not asked
  LUMP_PARTITION lump;       // of --lump before refinement; by LUMP_NONE when not asked
  HORIZON_PERIODS periods;   // for --horizon, the periods before the last; none for one matrix
};
typedef struct analysis_requests ANALYSIS_REQUESTS;

/// Reads the sets of --committor and the blocks of --lump. Does not return when one names an
/// unknown state or is otherwise bad: nothing has been printed then.
void read_requests(const PRAVLIN* pv, const ANALYZE_OPTIONS* opt, ANALYSIS_REQUESTS* r);

/// The sections of the analyses asked for, after the hitting section: rewards (when a state
/// has a value other than 0), the committor, the first passage distribution, lumping; writes
/// the lumped chain with -o. pi: the stationary distribution of each closed class; after: the
/// distribution after --steps, or null. Does not return on failure.
void print_requested(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                     const double* pi, const ANALYZE_OPTIONS* opt, const std::vector<int>& targets,
                     const std::vector<double>* after, const ANALYSIS_REQUESTS* r);

/// The path of --horizon into h, over the periods of r when the matrix changes with the step,
/// keeping every step when the JSON, the CSV of --horizon-csv or the per-state lines of the text
/// show them, and writes that CSV. Does not return on failure.
void solve_requested_horizon(const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYZE_OPTIONS* opt,
                             const ANALYSIS_REQUESTS* r, HORIZON* h);

/// The same as members "rewards", "committor", "passage" and "lump" of the JSON document, each
/// null when not asked for.
void add_requested_json(const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                        const double* pi, const ANALYZE_OPTIONS* opt,
                        const std::vector<int>& targets, const std::vector<double>* after,
                        const ANALYSIS_REQUESTS* r, nlohmann::ordered_json* doc);

#endif
