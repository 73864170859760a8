// pravlin.h - the chain model record, its initial values, and the configuration file opened
// for it.
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
/// The periods of a chain whose matrix changes with the step (periods.h).
struct chain_periods;

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
  // A chain whose matrix changes with the step: its periods, and transition_probability is the
  // last period's matrix; null for a chain of one matrix.
  chain_periods* periods;
  // A slice of the run (--chains A-B): chains first_chain..last_chain only, 0 for the whole run.
  // The report file the configuration names gets the range in its name (slice_outfilename), so
  // that slices run side by side never write onto each other's files; null when the report goes
  // to standard output or the run is whole.
  int first_chain;
  int last_chain;
  char* slice_outfilename;
};
typedef struct pravlin PRAVLIN;

/// Sets the initial values (calc_flag 1, everything else 0 or null) and returns pv. A null pv
/// ends the process with status 1 and no message.
PRAVLIN* init_pravlin(PRAVLIN* pv);

/// Opens pv->xmlfilename for reading into pv->in. A file that cannot be opened, or a directory,
/// ends the run with " *** ERROR: Unable to open file (%s)\n".
void open_configuration(PRAVLIN* pv);

/// The name of the file the report is written to: outfilename, or a slice's own name for it.
const char* report_file_name(const PRAVLIN* pv);

#endif
