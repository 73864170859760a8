// analyze_more.h - pravlin-analyze beyond the structure: notes on how the configuration was
// read, the long run from the initial probabilities, hitting a target, a Graphviz drawing and
// the whole analysis as JSON.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_MORE_H
#define PRAVLIN_ANALYZE_MORE_H

#include <cstdio>
#include <string>
#include <vector>

#include "analyze.h"

// analyze_notes.cc

/// One place where the configuration was read leniently: the file read is not the file meant.
struct read_note {
  std::string kind;     // a fixed word: see the list in analyze_notes.cc (ORDER NOTEKIND)
  std::string element;  // the element's name, lower-cased as pravlin reads it
  std::string where;    // "state 2", "transition from 1 to 3", "steadystate"; "" at the root
  std::string text;     // the element's text as read ("" when it had none)
  std::string message;  // what was made of it
};
typedef struct read_note READ_NOTE;

/// The notes on a configuration read by read_configuration_sparse, before error_check_transitions
/// has rescaled anything: pv->xml, pv->initial_probability and the transitions as read. Prints
/// nothing; pravlin's own messages are left as they are.
void collect_read_notes(const PRAVLIN* pv, const std::vector<TRANSITION_ENTRY>& transitions,
                        std::vector<READ_NOTE>* notes);

/// The notes section: a title line, one line a note, an empty line. Nothing when there are none.
void print_read_notes(FILE* out, const std::vector<READ_NOTE>& notes);

/// When the file's first markup is an XML declaration, which pravlin refuses, says so on
/// standard error with what to do about it. Silent when the file cannot be read: the reading
/// that follows reports that.
void hint_xml_declaration(const char* file);

// analyze_long_run.cc

/// Where the chain spends its time in the long run, started from the initial probabilities.
struct long_run {
  std::vector<double> enter;  // [nbr_classes + 1] probability of ending in each closed class
  std::vector<double> share;  // [n + 1] enter[class] * stationary probability; 0 if transient
  int periodic;               // 1 when a closed class with enter > 0 has a period above 1
};
typedef struct long_run LONG_RUN;

/// Fills lr from the initial probabilities and pi[1..n], the stationary distribution of each
/// closed class on its states. Solves the absorption systems only when a transient state has
/// positive initial probability: into *ab when given and not yet solved (ab->state empty), so
/// that the caller can keep them; an ab already solved is used as it is. Does not return on
/// failure.
void solve_long_run(const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                    const double* pi, LONG_RUN* lr, ABSORPTION* ab = nullptr);

/// The mean recurrence times (1 / pi) of the states of every closed class, and, for a chain with
/// several closed classes, the long run from the initial probabilities.
/// ab as solve_long_run takes it.
void print_long_run(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
                    const double* pi, int precision, ABSORPTION* ab = nullptr);

// analyze_dot.cc

/// Writes the chain to file as a Graphviz graph: each class a cluster (closed ones drawn in
/// blue, transient ones dashed, absorbing states as double circles), states labelled by number
/// and name, transitions by probability with precision digits. A chain too big to draw usefully
/// gets one node a class instead, and one with too many classes a title only. Returns 2 for
/// the whole chain, 1 for the classes, 0 for the title. Does not return when the file cannot be
/// written.
int write_dot(const char* file, const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
              int precision);
/// The "drawing:" line of the text output, saying what write_dot returned.
void print_dot_line(FILE* out, const char* file, int drawn, const SPARSE_CHAIN* c,
                    const CHAIN_CLASSES* cl);

// analyze_hitting.cc

/// Hitting a set of states from every state: by elimination up to DENSE_MAX_STATES states (and
/// within a narrow band beyond), else through sparse solves.
struct hitting {
  std::vector<double> probability;  // [n + 1] of ever reaching the target; 1 on it
  std::vector<double> steps;        // [n + 1] expected steps to reach it; HUGE_VAL where infinite
                                    // (the probability is below 1); 0 on it
  double probability_residual;      // largest |(I - Q) x - b| of each solve, relative to
                                    // 2 max|x| + max|b|
  double steps_residual;
  int trusted;  // 0 when a residual misses the goal or a number is impossible beyond rounding
                // (steps below 1, a probability outside 0..1, by more than 1e-12): an
                // ill-conditioned system, such as a slow line
  double return_time;  // for a single target that every state reaches for certain, its mean
                       // return time (and steps[] are mean first passage times); else -1
};
typedef struct hitting HITTING;

/// Fills h for the target states (1..n). pi: the stationary distribution of a chain with one
/// closed class, when the caller has solved it already (1..n), or null. Does not return on
/// failure.
void solve_hitting(const SPARSE_CHAIN* c, const std::vector<int>& targets, HITTING* h,
                   const double* pi = nullptr);
/// The hitting section of the text output.
void print_hitting(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c,
                   const std::vector<int>& targets, const HITTING* h, int precision);

// analyze_report.cc, shared with the JSON writer

/// Appends v to line as "%.*f" prints it (precision 0..40), in a fraction of printf's time.
void put_fixed(std::string* line, double v, int precision);

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

// analyze_json.cc

/// The whole analysis as one JSON document on out (layout in pravlin-analyze(1)): what the
/// text output says, numbers with every digit needed to read them back bit for bit. Does not
/// return on failure.
void print_analysis_json(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c,
                         const ANALYZE_OPTIONS* opt, const std::vector<READ_NOTE>& notes,
                         const std::vector<int>& targets, const struct analysis_requests* requests);

#endif
