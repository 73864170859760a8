// analyze_report.h - the squaring solver's cost and outcome, which the text and the JSON share.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_REPORT_H
#define PRAVLIN_ANALYZE_REPORT_H

#include <cstdio>
#include <string>
#include <vector>

#include "analyze.h"

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
};
typedef struct analyze_options ANALYZE_OPTIONS;

struct analysis_requests;  // analyze_requests.h

/// Writes the whole analysis of a checked model to out, section by section, flushing each so
/// that what was computed stays visible when a later dense solve is refused, then the hitting
/// section for targets, when there are any, then the analyses that requests holds, and last the
/// spectrum, mixing and Kemeny sections that opt asks for. pv must
/// have been read by read_configuration (READ_LIST) and checked by error_check_transitions.
/// Does not return on failure.
void print_analysis(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c, const ANALYZE_OPTIONS* opt,
                    const std::vector<int>& targets, const struct analysis_requests* requests);

/// The sections of the text output that --only chooses among, in the order printed.
/// ORDER SECTION: the names in analyze_report.cc.
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
};

/// The sections named by list (names separated by commas) as SECTION bits; 0 when a name is
/// not a section's or the list holds none, with *bad the first such name.
unsigned parse_sections(const char* list, std::string* bad);
/// "structure, stationary, ...": every section's name, for messages and --help.
const char* section_names();
/// 1 when opt asks for section to be printed: --only names it, or there is no --only.
int section_shown(const ANALYZE_OPTIONS* opt, unsigned section);

/// One line "  <state>" for each of states[0..count), the state as print_state shows it, then
/// " <number>" as "%.*f" writes x[s] (1 / x[s] with reciprocal) unless x is null, written a block
/// of lines at a time: a million states make a million lines. Above the limit of
/// set_per_state_max, the one line of state_lines_left_out instead.
void print_state_lines(FILE* out, const PRAVLIN* pv, const int* states, std::size_t count,
                       const double* x, int precision, int reciprocal);

/// 1 when the squaring solver's three dense matrices of the chain's size fit in memory.
int squaring_fits(const SPARSE_CHAIN* c);

/// The most multiply-adds that the squarings a run of the solver cannot avoid may take for the
/// analysis to run it: a few tenths of a second, about what reading and solving a chain of a
/// thousand states takes. The rest of the analysis solves densely only parts of the chain (GTH
/// on a class takes a third of a squaring of that class), so beyond this the solver costs more
/// than everything else together, and it is described instead of run.
const double SQUARING_MAX_WORK = 1e9;
/// The multiply-adds a second on which the time a squaring would take is estimated: two cores
/// of a current machine.
const double SQUARING_RATE = 5e9;

/// What pravlin's squaring solver would cost on a chain.
struct squaring_cost {
  double bytes;   // its three dense matrices of (n + 1)^2 doubles
  double work;    // multiply-adds of one squaring: n^3
  int squarings;  // the fewest it does: 1 when it can converge; all max_iteration when not
  int max_iteration;
  int fits;   // 1 when its matrices fit in memory (squaring_fits)
  int worth;  // 1 when it fits and squarings * work is at most SQUARING_MAX_WORK: it is run
};
typedef struct squaring_cost SQUARING_COST;

/// The cost of the squaring solver on the chain c with classes cl, as pv's settings run it.
SQUARING_COST estimate_squaring(const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl);
/// The "  its cost: ..." line of a solver that was not run: work and estimated time of each
/// squaring, how many it would do, memory.
void print_squaring_cost(FILE* out, const SQUARING_COST* cost);
/// Runs calc_steady_state as pravlin does, on the same normalised matrix: its vector into
/// b[1..n], its final error into *error; returns its iteration count.
int run_solver(const PRAVLIN* pv, const SPARSE_CHAIN* c, std::vector<double>* b, double* error);
/// The "  but ..." line when the solver's run is not what the structure foretells; nothing
/// otherwise.
void print_outcome(FILE* out, const PRAVLIN* pv, const CHAIN_CLASSES* cl,
                   const std::vector<double>* b, double error, int precision);

#endif
