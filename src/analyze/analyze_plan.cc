// analyze_plan.cc - the sections of the text by name, and the plan from the options.
// Part of pravlin; see README.md.
#include "analyze_plan.h"

#include "analyze_eigen.h"
#include "analyze_lump.h"
#include "analyze_mixing.h"
#include "analyze_states.h"
#include "fail.h"

// ORDER SECTION
static const char* const SECTION_NAME[] = {
    "structure", "stationary", "recurrence", "entropy",   "solver",    "absorption",
    "steps",     "hitting",    "rewards",    "committor", "passage",   "lumping",
    "spectrum",  "mixing",     "kemeny",     "horizon",   "conversion"};
static const int NBR_SECTIONS = sizeof SECTION_NAME / sizeof SECTION_NAME[0];

unsigned parse_sections(const char* list, std::string* bad) {
  unsigned chosen = 0;
  const std::string text(list);
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string name =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    int k = 0;
    while (k < NBR_SECTIONS && name != SECTION_NAME[k])
      k++;
    if (k == NBR_SECTIONS) {
      *bad = name;
      return 0;
    }
    chosen |= 1u << k;
    if (comma == std::string::npos)
      return chosen;
    start = comma + 1;
  }
}

const char* section_names() {
  static std::string names;
  if (names.empty()) {
    for (int k = 0; k < NBR_SECTIONS; k++)
      names += std::string(k > 0 ? ", " : "") + SECTION_NAME[k];
  }
  return names.c_str();
}

int section_shown(const ANALYZE_OPTIONS* opt, unsigned section) {
  return opt->only == 0 || (opt->only & section) != 0;
}

ANALYZE_OPTIONS analyze_defaults() {
  ANALYZE_OPTIONS opt = ANALYZE_OPTIONS();
  opt.precision = 6;
  opt.steps = -1;
  opt.lump_tolerance = LUMP_TOLERANCE;
  opt.per_state_max = PER_STATE_MAX;
  opt.horizon = -1;
  return opt;
}

ANALYSIS_PLAN plan_analysis(const ANALYZE_OPTIONS* opt) {
  ANALYSIS_PLAN plan;
  plan.steps = opt->steps;
  plan.eigenvalues = opt->eigen > 0 ? opt->eigen : opt->spectral ? 2 : 0;
  plan.eigenvalues_named = opt->eigen > 0;
  plan.mixing = opt->mixing > 0.0 ? opt->mixing : opt->spectral ? MIXING_DEFAULT_EPSILON : 0.0;
  plan.kemeny = opt->kemeny || opt->spectral;
  // The hitting section comes with targets, and the rewards with values: run_analysis sees them.
  unsigned asked = SECTION_STRUCTURE | SECTION_STATIONARY | SECTION_RECURRENCE | SECTION_ENTROPY |
                   SECTION_SOLVER | SECTION_ABSORPTION | SECTION_HITTING | SECTION_REWARDS;
  if (plan.steps >= 0)
    asked |= SECTION_STEPS;
  if (opt->committor != nullptr)
    asked |= SECTION_COMMITTOR;
  if (opt->passage > 0)
    asked |= SECTION_PASSAGE;
  if (opt->lump != nullptr)
    asked |= SECTION_LUMPING;
  if (plan.eigenvalues > 0)
    asked |= SECTION_SPECTRUM;
  if (plan.mixing > 0.0)
    asked |= SECTION_MIXING;
  if (plan.kemeny)
    asked |= SECTION_KEMENY;
  if (opt->horizon >= 0)
    asked |= SECTION_HORIZON;
  if (opt->conversion != 0)
    asked |= SECTION_CONVERSION;
  // The JSON document holds every section asked for; --only chooses among the text's.
  plan.shown = opt->json || opt->only == 0 ? asked : asked & opt->only;
  // Solved whether shown or not: the sections after them need them, or they write files.
  plan.sections = plan.shown | (asked & (SECTION_STATIONARY | SECTION_STEPS | SECTION_LUMPING |
                                         SECTION_HORIZON | SECTION_CONVERSION));
  // The mixing time's bounds come from the spectrum, found for them even when not shown.
  if (plan.sections & SECTION_MIXING)
    plan.sections |= asked & SECTION_SPECTRUM;
  return plan;
}

void check_plan(const ANALYSIS_PLAN* plan, const CHAIN_CLASSES* cl) {
  if (!plan->eigenvalues_named)
    return;
  const int largest = largest_closed_class(cl);
  if (plan->eigenvalues > largest) {
    fail(
        " *** ERROR: --eigen %d asks for more eigenvalues than the largest closed class has "
        "(%d)\n",
        plan->eigenvalues, largest);
  }
}
