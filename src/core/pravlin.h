// pravlin.h - the chain model record and the stages of a run, as the programs call them.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_PRAVLIN_H
#define PRAVLIN_PRAVLIN_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fail.h"
#include "xml.h"

/// The transitions of a run that keeps no dense matrix, as sparse rows (sparse_read.h).
struct sparse_rows;

/// Everything about one run. Arrays are 1-based: slot 0 of every per-state array and row 0 and
/// column 0 of every matrix exist, are zero and are never used. N is nbr_states, T nbr_years,
/// K nbr_chains. Matrices are row pointers into one contiguous zero-filled block.
struct pravlin {
  int nbr_states;                    // N; states are numbered 1..N
  int init_year;                     // label of step 0 in the report
  int nbr_years;                     // T: transitions per chain; a chain holds steps 0..T
  int nbr_chains;                    // K; chains are numbered 1..K
  char* outfilename;                 // report file name, points into xml; null: standard output
  FILE* out;                         // report stream; null means standard output
  char* xmlfilename;                 // configuration file name, from the command line
  FILE* in;                          // configuration stream
  char** state_name;                 // [N+1] names, pointing into xml; null when unnamed
  double* val;                       // [N+1] value of each state
  double* initial_probability;       // [N+1] probability of each state at step 0
  double** transition_probability;   // [N+1][N+1], [from][to]
  int** pravlin;                     // [K+1][T+1] chains table: state of chain c at step t
  int print_header;                  // non-zero: write the header block
  int print_flag;                    // table cells: 0 val, 1 state number, 2 name
  double* steady_state_probability;  // [N+1] filled by the solver
  int calc_flag;                     // non-zero: run the steady-state solver
  int max_iteration;                 // squaring limit handed to the solver
  double max_error;                  // convergence threshold handed to the solver
  int actual_iteration;              // iteration count returned by the solver
  double actual_error;               // final error reported by the solver
  int debug;                         // non-zero: progress marks and the solver's trace
  XMLENTITY* xml;                    // the configuration document, kept for the whole run
  // A run that needs no dense matrix keeps its transitions here instead, and the rows of
  // transition_probability stay null; null when the matrix is kept.
  sparse_rows* sparse_transitions;
  // A slice of the run (--chains A-B): chains first_chain..last_chain only, 0 for the whole run.
  // The report file the configuration names gets the range in its name (slice_outfilename), so
  // that slices run side by side never write onto each other's files; null when the report goes
  // to standard output or the run is whole.
  int first_chain;
  int last_chain;
  char* slice_outfilename;
};
typedef struct pravlin PRAVLIN;

// run.cc

/// Everything a run does once its configuration is read into pv, in the fixed order: the
/// progress marks (with debug), validation, every chain, the steady state (with calc_flag), the
/// header (with print_header), the chain table, and the end of the report (finish_report).
/// Does not return on failure.
void run_pravlin(PRAVLIN* pv);
/// run_pravlin for chains first..last of the run only (1 <= first <= last <= nbr_chains),
/// drawn as they are written; the steady state and the header only when first is 1. With
/// first = 0, the whole run: run_pravlin itself.
void run_pravlin_chains(PRAVLIN* pv, int first, int last);
/// Keep or stream, for a whole run: true, with the chains table granted in pv->pravlin, while
/// the table is small enough for keeping it to be the faster way and its memory can be had;
/// false when each step is to be drawn as it is written instead. A table already there is kept.
bool keep_chains_table(PRAVLIN* pv);

// pravlin.cc

/// Sets the initial values (calc_flag 1, everything else 0 or null) and returns pv. A null pv
/// ends the process with status 1 and no message.
PRAVLIN* init_pravlin(PRAVLIN* pv);

/// Opens pv->xmlfilename for reading into pv->in. A file that cannot be opened, or a directory,
/// ends the run with " *** ERROR: Unable to open file (%s)\n".
void open_configuration(PRAVLIN* pv);

// config.cc

/// Reads the configuration from pv->in (and closes it) into the record: settings, defaults,
/// report stream, the per-state arrays, the states and the transition matrix; other ways of
/// reading it are read_configuration's (config.h). Does not return on error.
void read_xml_file(PRAVLIN* pv);

// validate.cc

/// Warns about unnamed states, refuses zero totals, and rescales the initial probabilities and
/// each transition row to total 1. Does not return on error.
void error_check_pravlin(PRAVLIN* pv);

// simulate.cc

/// The next value, 0..32767, of the process-wide 15-bit linear congruential generator
/// x = x * 214013 + 2531011 (mod 2^32), value (x >> 16) & 0x7FFF. Never seeded.
int pravlin_rand();

/// A state 1..n drawn with the probabilities probability_table[1..n], taking exactly one
/// generator value. Does not return on failure.
int calc_state(const double* probability_table, int n);

/// Simulates chain n (1..nbr_chains): writes pravlin[n][0..nbr_years]. Does not return on
/// failure.
void create_pravlin(int n, PRAVLIN* pv);

/// Simulates every chain into the chains table, which must be there: the same table, the same
/// generator state afterwards and the same failure message as create_pravlin(1..nbr_chains) in
/// order, many times faster. Does not return on failure.
void create_all_pravlin(PRAVLIN* pv);

// steady_state.cc

/// y = a x b for 1-based matrices, a nbr_r_a x nbr_rc, b nbr_rc x nbr_c_b. y may be a, b or
/// both: the product is formed in a temporary first. Does not return on failure.
void multiply_array_by_array(double** y, double** a, double** b, int nbr_r_a, int nbr_rc,
                             int nbr_c_b);

/// Squares a copy of the n x n matrix a until its rows agree within max_error (or the limit of
/// squarings), writes row 1 of the power into b[1..n] and sqrt of the final squared deviation
/// into *error (when error is not null), and returns the 0-based squaring that passed, or the
/// limit. With debug set, traces each power on standard error. Does not return on failure.
int calc_steady_state(double** a, double* b, int n, int max_iterations, double max_error,
                      double* error, int debug);

// report.cc

/// Writes the header block: version, time, file names, sizes, states, the transition matrix
/// by columns and, with calc_flag, the solver's results. Null out: standard output; null pv:
/// nothing.
void printheader(FILE* out, const PRAVLIN* pv);
/// Writes the kept chains table: a title line (then a flush), and one line per step. Null out:
/// standard output; null pv: nothing.
void printpravlin(FILE* out, const PRAVLIN* pv);
/// Ends the report: closes a report file the run opened, or flushes standard output when the
/// report went there, and fails when any write, the flush or the close failed.
void finish_report(PRAVLIN* pv);

#endif
