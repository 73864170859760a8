// analyze_run.h - pravlin-analyze's engine: the plan's sections solved once each, in order, into
// one record per section that the text, the JSON and the Python module render.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_RUN_H
#define PRAVLIN_ANALYZE_RUN_H

#include <vector>

#include "analyze.h"
#include "analyze_eigen.h"
#include "analyze_entropy.h"
#include "analyze_hitting.h"
#include "analyze_kemeny.h"
#include "analyze_long_run.h"
#include "analyze_mixing.h"
#include "analyze_passage.h"
#include "analyze_plan.h"
#include "analyze_requests.h"
#include "analyze_rewards.h"
#include "analyze_roots.h"
#include "analyze_solver.h"

/// The drawing of --dot, written last: no section of --only's, as it goes to its own file.
const unsigned SECTION_DRAWING = 1u << 17;

/// Everything one run found, one record per section; a section's record is set when its bit
/// is in done. Plain data: the faces read it and compute nothing.
struct analysis {
  ANALYSIS_PLAN plan;
  CHAIN_CLASSES classes;
  std::vector<double> pi;                // [1..n] each closed class's stationary distribution
  std::vector<SOLVE_RESULT> stationary;  // [1..nbr_classes] how each closed class's was solved
  int unique = 0;                        // one closed class: pi is the chain's
  int long_run_solved = 0;               // several closed classes: long_run is set
  LONG_RUN long_run;
  ABSORPTION absorption;  // solved once, for the long run or the absorption section
  std::vector<CLASS_ENTROPY> entropy;
  SQUARING_RUN squaring;
  std::vector<double> after;  // [1..n] the distribution after plan.steps steps
  HITTING hitting;
  REWARDS rewards;
  COMMITTOR committor;
  FIRST_PASSAGE passage;
  LUMPED_CHAIN lump;
  std::vector<CLASS_SPECTRUM> spectra;  // each closed class of more than one state
  std::vector<CLASS_MIXING> mixing;
  std::vector<CLASS_KEMENY> kemeny;
  HORIZON horizon;
  PERIOD_CONVERSION conversion;
  int drawn = 0;      // what write_dot drew
  unsigned done = 0;  // the sections solved, by SECTION bits
};
typedef struct analysis ANALYSIS;

/// Called after each section is solved, with its SECTION bit, before the next one starts: the
/// text prints it there, so that what is done is out before a later section fails.
typedef void (*SECTION_DONE)(unsigned section, const ANALYSIS* a, void* context);

/// Solves the sections that opt asks for on the chain c of the configuration pv into *a, each
/// once, in the order of the text: the classes, the stationary distributions, then what needs
/// them. targets: the states of --target; r: the sets, partition and periods the options name
/// (read_requests). Writes the files of -o, --horizon-csv and --dot. done, when not null, is
/// called after each section. Does not return on failure.
void run_analysis(const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYZE_OPTIONS* opt,
                  const std::vector<int>& targets, const ANALYSIS_REQUESTS* r, ANALYSIS* a,
                  SECTION_DONE done = nullptr, void* context = nullptr);

/// The same with the plan already in a->plan, for a caller that builds its own: solves the
/// sections of a->plan.sections, each anew, and the classes and stationary distributions when
/// SECTION_STATIONARY is among them and they are not in a->done yet (they are then kept for
/// every later plan on the same chain). A section that needs pi or the classes (the recurrence,
/// entropy, solver, absorption, hitting, rewards, spectrum, mixing and Kemeny sections) needs
/// SECTION_STATIONARY in the same plan or an earlier one.
void run_plan(const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYZE_OPTIONS* opt,
              const std::vector<int>& targets, const ANALYSIS_REQUESTS* r, ANALYSIS* a,
              SECTION_DONE done = nullptr, void* context = nullptr);

#endif
