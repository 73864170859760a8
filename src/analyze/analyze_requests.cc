// analyze_requests.cc - what the options name in the configuration, and the analyses that take
// it: the committor's sets, the lumping's partition, the horizon's periods.
// Part of pravlin; see README.md.
#include "analyze_requests.h"

void read_requests(const PRAVLIN* pv, const ANALYZE_OPTIONS* opt, ANALYSIS_REQUESTS* r) {
  r->committor = COMMITTOR_SETS();
  if (opt->committor != nullptr)
    parse_committor(pv, opt->committor, &r->committor);
  r->lump = LUMP_PARTITION();
  r->lump.by = LUMP_NONE;
  if (opt->lump != nullptr)
    read_lump_partition(pv, opt->lump, &r->lump);
}

void solve_requested_lump(const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYZE_OPTIONS* opt,
                          const ANALYSIS_REQUESTS* r, LUMPED_CHAIN* l) {
  LUMP_PARTITION part = r->lump;
  if (part.by == LUMP_COARSEST)
    refine_lumpable(c, opt->lump_tolerance, &part);
  lump_chain(pv, c, &part, opt->lump_tolerance, l);
  if (opt->output != nullptr)
    write_lumped_configuration(opt->output, pv, l);
}

void solve_requested_horizon(const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYZE_OPTIONS* opt,
                             const ANALYSIS_REQUESTS* r, HORIZON* h) {
  HORIZON_SETTINGS set;
  set.steps = opt->horizon;
  set.discounted = opt->discounted;
  set.discount = opt->discount;
  set.correction = opt->correction;
  set.trace = opt->json || opt->csv != nullptr || c->n <= opt->per_state_max;
  set.path = STEP_PATH_CHOOSE;
  if (pv->periods != nullptr) {
    const HORIZON_PERIOD_CHAINS chains = {&r->periods, c};
    solve_horizon(pv->initial_probability, pv->val, c->n, horizon_period_chain, &chains, &set, h);
  } else {
    solve_horizon(pv->initial_probability, pv->val, c->n, horizon_same_chain, c, &set, h);
  }
  if (opt->csv != nullptr)
    write_horizon_file(opt->csv, pv, h);
}
