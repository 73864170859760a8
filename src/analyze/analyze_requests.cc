// analyze_requests.cc - the analyses that options ask for beyond the structure, in the order
// the output gives them (print_requested, add_requested_json).
// Part of pravlin; see README.md.
#include "analyze_requests.h"

#include "analyze_passage.h"
#include "analyze_rewards.h"

using json = nlohmann::ordered_json;

void read_requests(const PRAVLIN* pv, const ANALYZE_OPTIONS* opt, ANALYSIS_REQUESTS* r) {
  r->committor = COMMITTOR_SETS();
  if (opt->committor != nullptr)
    parse_committor(pv, opt->committor, &r->committor);
  r->lump = LUMP_PARTITION();
  r->lump.by = LUMP_NONE;
  if (opt->lump != nullptr)
    read_lump_partition(pv, opt->lump, &r->lump);
}

// The lumped chain of --lump, refined first for "coarsest".
static void lump_requested(const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYZE_OPTIONS* opt,
                           const ANALYSIS_REQUESTS* r, LUMPED_CHAIN* l) {
  LUMP_PARTITION part = r->lump;
  if (part.by == LUMP_COARSEST)
    refine_lumpable(c, opt->lump_tolerance, &part);
  lump_chain(pv, c, &part, opt->lump_tolerance, l);
  if (opt->output != nullptr)
    write_lumped_configuration(opt->output, pv, l);
}

void print_requested(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                     const double* pi, const ANALYZE_OPTIONS* opt, const std::vector<int>& targets,
                     const std::vector<double>* after, const ANALYSIS_REQUESTS* r) {
  if (rewards_wanted(pv) && section_shown(opt, SECTION_REWARDS)) {
    REWARDS w;
    solve_rewards(pv, c, cl, pi, after, opt->steps, targets, &w);
    print_rewards(out, pv, c, cl, &w, opt->precision);
    std::fflush(out);
  }
  if (opt->committor != nullptr && section_shown(opt, SECTION_COMMITTOR)) {
    COMMITTOR q;
    solve_committor(c, &r->committor, &q);
    print_committor(out, pv, c, &r->committor, &q, opt->precision);
    std::fflush(out);
  }
  if (opt->passage > 0 && section_shown(opt, SECTION_PASSAGE)) {
    FIRST_PASSAGE f;
    solve_passage(pv, c, targets, opt->passage, &f);
    print_passage(out, pv, targets, &f, opt->precision);
    std::fflush(out);
  }
  // The file of -o is written whether the section is shown or not.
  if (r->lump.by != LUMP_NONE) {
    LUMPED_CHAIN l;
    lump_requested(pv, c, opt, r, &l);
    if (section_shown(opt, SECTION_LUMPING))
      print_lump(out, pv, &l, opt->output, opt->precision);
  }
}

void solve_requested_horizon(const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYZE_OPTIONS* opt,
                             const ANALYSIS_REQUESTS* r, HORIZON* h) {
  HORIZON_SETTINGS set;
  set.steps = opt->horizon;
  set.discounted = opt->discounted;
  set.discount = opt->discount;
  set.correction = opt->correction;
  set.trace = opt->json || opt->csv != nullptr || c->n <= opt->per_state_max;
  if (pv->periods != nullptr) {
    const HORIZON_PERIOD_CHAINS chains = {&r->periods, c};
    solve_horizon(pv->initial_probability, pv->val, c->n, horizon_period_chain, &chains, &set, h);
  } else {
    solve_horizon(pv->initial_probability, pv->val, c->n, horizon_same_chain, c, &set, h);
  }
  if (opt->csv != nullptr)
    write_horizon_file(opt->csv, pv, h);
}

void add_requested_json(const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                        const double* pi, const ANALYZE_OPTIONS* opt,
                        const std::vector<int>& targets, const std::vector<double>* after,
                        const ANALYSIS_REQUESTS* r, json* doc) {
  if (rewards_wanted(pv)) {
    REWARDS w;
    solve_rewards(pv, c, cl, pi, after, opt->steps, targets, &w);
    add_rewards_json(pv, c, &w, doc);
  } else {
    add_rewards_json(pv, c, nullptr, doc);
  }
  if (opt->committor != nullptr) {
    COMMITTOR q;
    solve_committor(c, &r->committor, &q);
    add_committor_json(pv, c, &r->committor, &q, doc);
  } else {
    add_committor_json(pv, c, nullptr, nullptr, doc);
  }
  if (opt->passage > 0) {
    FIRST_PASSAGE f;
    solve_passage(pv, c, targets, opt->passage, &f);
    add_passage_json(pv, targets, &f, doc);
  } else {
    add_passage_json(pv, targets, nullptr, doc);
  }
  if (r->lump.by != LUMP_NONE) {
    LUMPED_CHAIN l;
    lump_requested(pv, c, opt, r, &l);
    add_lump_json(&l, opt->output, doc);
  } else {
    add_lump_json(nullptr, nullptr, doc);
  }
}
