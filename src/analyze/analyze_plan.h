// analyze_plan.h - what pravlin-analyze is asked for: the command line's options, the sections
// of the text, and the plan that both outputs follow, with the defaults written once.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_PLAN_H
#define PRAVLIN_ANALYZE_PLAN_H

#include <string>

#include "analyze_chain.h"

/// How numbers are printed: "%.*f" with this many digits.
struct analyze_options {
  int precision;          // digits after the point, 6 by default
  long steps;             // --steps N; -1 when not asked for
  const char* dot_file;   // --dot FILE; null when not asked for
  int json;               // --json: the analysis as one JSON document instead of text
  const char* target;     // --target S[,S...]; null when not asked for
  const char* committor;  // --committor A:B; null when not asked for
  long passage;           // --passage N; 0 when not asked for
  const char* lump;       // --lump value|coarsest|FILE; null when not asked for
  double lump_tolerance;  // --lump-tolerance EPS
  const char* output;     // -o FILE, the lumped chain as a configuration; null when not asked for
  int eigen;              // --eigen K: eigenvalues to list; 0 when not asked for
  double mixing;          // --mixing EPS; 0 when not asked for
  int kemeny;             // --kemeny
  int spectral;           // --spectral: the three above, with K 2 and EPS 1/4 unless given
  unsigned only;          // --only: the text's sections to print, by SECTION bits; 0 for all
  long per_state_max;     // --per-state-max N: the most states whose per-state lines are printed
  long horizon;           // --horizon T; -1 when not asked for
  int discounted;         // --discount R given
  double discount;        // R, the rate per step; 0 when not given
  int correction;         // --cycle-correction, a horizon_correction; none by default
  const char* csv;        // --horizon-csv FILE; null when not asked for
  int conversion;         // --root, --generator or --power: enum conversion_kind; 0 when none
  long conversion_k;      // the K of --root or --power
  int repair;             // --repair qo|da|wa: enum conversion_repair; 0 when not asked for
};
typedef struct analyze_options ANALYZE_OPTIONS;

/// The sections of the text output that --only chooses among, in the order printed.
/// ORDER SECTION: the names in analyze_plan.cc.
enum analyze_section {
  SECTION_STRUCTURE = 1u << 0,
  SECTION_STATIONARY = 1u << 1,
  SECTION_RECURRENCE = 1u << 2,  // mean recurrence times and the long run
  SECTION_ENTROPY = 1u << 3,     // entropy rate and reversibility
  SECTION_SOLVER = 1u << 4,
  SECTION_ABSORPTION = 1u << 5,
  SECTION_STEPS = 1u << 6,
  SECTION_HITTING = 1u << 7,
  SECTION_REWARDS = 1u << 8,
  SECTION_COMMITTOR = 1u << 9,
  SECTION_PASSAGE = 1u << 10,
  SECTION_LUMPING = 1u << 11,
  SECTION_SPECTRUM = 1u << 12,
  SECTION_MIXING = 1u << 13,
  SECTION_KEMENY = 1u << 14,
  SECTION_HORIZON = 1u << 15,
  SECTION_CONVERSION = 1u << 16,  // --root, --generator, --power
};

/// The sections named by list (names separated by commas) as SECTION bits; 0 when a name is
/// not a section's or the list holds none, with *bad the first such name.
unsigned parse_sections(const char* list, std::string* bad);
/// "structure, stationary, ...": every section's name, for messages and --help.
const char* section_names();
/// 1 when opt asks for section to be printed: --only names it, or there is no --only.
int section_shown(const ANALYZE_OPTIONS* opt, unsigned section);

/// What the analyses beyond the structure are run with, whichever output shows them: the
/// defaults that --spectral gives, written here once.
struct analysis_plan {
  long steps;       // the distribution after this many steps; -1 for none
  int eigenvalues;  // eigenvalues to find in each closed class (--eigen K, 2 for --spectral); 0:
                    // no spectrum
  int eigenvalues_named;  // 1 when --eigen named them: more than a class has is refused
  double mixing;          // the mixing time's distance (--mixing EPS, 1/4 for --spectral); 0: none
  int kemeny;             // --kemeny or --spectral
  unsigned shown;         // the sections the output shows, by SECTION bits: those asked for,
                          // and of those only --only's in the text
  unsigned sections;      // the sections to solve: those shown, and those that others need or
                          // that write files
};
typedef struct analysis_plan ANALYSIS_PLAN;

/// The options of a command line that gives none: nothing asked beyond the structure.
ANALYZE_OPTIONS analyze_defaults();

/// The plan that opt asks for.
ANALYSIS_PLAN plan_analysis(const ANALYZE_OPTIONS* opt);
/// Refuses, with one message, a plan that the chain's classes cannot give: more eigenvalues
/// than the largest closed class has.
void check_plan(const ANALYSIS_PLAN* plan, const CHAIN_CLASSES* cl);

#endif
