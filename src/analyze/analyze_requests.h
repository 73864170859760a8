// analyze_requests.h - what the options name in the configuration (the committor's sets, the
// lumping's partition, the horizon's periods), read and checked before anything is printed, and
// the analyses that take it.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_REQUESTS_H
#define PRAVLIN_ANALYZE_REQUESTS_H

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

/// The lumped chain of --lump into l, its partition refined first for "coarsest", and written
/// with -o. Does not return on failure.
void solve_requested_lump(const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYZE_OPTIONS* opt,
                          const ANALYSIS_REQUESTS* r, LUMPED_CHAIN* l);

/// The path of --horizon into h, over the periods of r when the matrix changes with the step,
/// keeping every step when the JSON, the CSV of --horizon-csv or the per-state lines of the text
/// show them, and writes that CSV. Does not return on failure.
void solve_requested_horizon(const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYZE_OPTIONS* opt,
                             const ANALYSIS_REQUESTS* r, HORIZON* h);

#endif
