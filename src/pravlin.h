// pravlin.h - the chain model record and every operation of the chain calculator.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_PRAVLIN_H
#define PRAVLIN_PRAVLIN_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fail.h"
#include "xml.h"

/// The version printed in the report header and by --version.
#define PRAVLIN_VERSION "1.0"
/// The lines after the name and version in every pravlin program's answer to --version.
#define PRAVLIN_LICENCE                      \
  "Copyright (c) 2026 the pravlin authors\n" \
  "MIT licence: free to use, change and share, with no warranty; see LICENSE.\n"

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

// pravlin.cc

/// Sets the initial values (calc_flag 1, everything else 0 or null) and returns pv. A null pv
/// ends the process with status 1 and no message.
PRAVLIN* init_pravlin(PRAVLIN* pv);

/// Zero-filled block of count elements of size bytes, for a table of the record that lives
/// until the process ends. Fails with msg when count is past INT_MAX (the table could not be
/// walked with an int index), the size overflows, the allocation fails, or the tables allocated
/// so far would add up to more than the machine's physical memory (a huge zero-filled block may
/// be granted and the process killed later when it is touched).
void* alloc_table(std::size_t count, std::size_t size, const char* msg);

/// Points rows[0..nrows] into one zero-filled block of (nrows + 1) rows of ncols + 1
/// elements (counts, without their slot 0). Fails with msg as alloc_table does, and when
/// nrows or ncols is INT_MAX.
void alloc_rows(double** rows, int nrows, int ncols, const char* msg);
void alloc_rows(int** rows, int nrows, int ncols, const char* msg);
/// The chains table: nrows + 1 row pointers and their rows, as alloc_rows grants them, or null
/// (having granted nothing) where alloc_rows would fail.
int** try_alloc_chain_rows(int nrows, int ncols);

/// Counts bytes that live until the process ends without being a table (the document tree)
/// against the same limit as the tables, so that later tables see them; fails with msg when
/// they do not fit beside what is counted already.
void count_kept_memory(std::size_t bytes, const char* msg);
/// The bytes count_kept_memory would still accept.
std::size_t kept_memory_room();
/// Fails with msg unless bytes of working memory, held only while one stage runs and released
/// before it ends (the solver's matrices), fit beside everything counted so far. Counts nothing.
void check_working_memory(std::size_t bytes, const char* msg);

/// Opens pv->xmlfilename for reading into pv->in. A file that cannot be opened, or a directory,
/// ends the run with " *** ERROR: Unable to open file (%s)\n".
void open_configuration(PRAVLIN* pv);

// config.cc

/// Counts the memory of the document tree that reading in will build, before it is read, with
/// the tables (count_kept_memory), and returns the bytes the reader may take from in, for
/// readfile_XMLENTITY_bounded: a regular file is counted whole (about 12 bytes of tree a byte)
/// and refused at once with alloc_XMLENTITY's message when it cannot fit, then read whole; a
/// stream of unknown size (a pipe, a terminal, /dev/zero), which may never end, is read only as
/// far as the room left. Every program that reads a configuration bounds its read so.
std::size_t count_tree_estimate(FILE* in);

/// Reads the configuration from pv->in (and closes it) into the record: settings, defaults,
/// report stream, every array, the states and the transition matrix. Does not return on error.
void read_xml_file(PRAVLIN* pv);
/// The name of the file the report is written to: outfilename, or a slice's own name for it.
const char* report_file_name(const PRAVLIN* pv);
/// A slice's name for the report file name: the range "A-B" before its extension, as in
/// credit.1-4.csv, or after the name when it has none (report.1-4).
std::string slice_file_name(const char* name, int first, int last);
/// read_xml_file, with the report file opened only when open_report_file is not 0: a program
/// that reads a configuration without writing its report leaves no file behind.
void read_configuration(PRAVLIN* pv, int open_report_file);
/// read_xml_file for a run of pravlin: when the run needs no dense matrix (calc_flag and
/// print_header both 0: neither the solver nor the header reads it) and the model has 2048
/// states or more, the transitions are kept as sparse rows in pv->sparse_transitions instead,
/// with the same messages and statuses, and no size of the matrix is refused. Validation is
/// then error_check_sparse_rows. open_report_file as read_configuration has it: 0 for a caller
/// that must write no file (the fuzz target).
void read_configuration_for_run(PRAVLIN* pv, int open_report_file = 1);
/// The settings of the configuration alone, with their defaults, as pravlin reads them (the
/// same messages up to that point): no report file, no table, no state.
void read_configuration_settings(PRAVLIN* pv);

/// atoi as the C library does it (leading white space, sign, digits, the rest ignored), but
/// saturating at INT_MIN and INT_MAX instead of overflowing. Null reads as 0.
int xml_atoi(const char* s);
/// atof as the C library does it; null reads as 0.0.
double xml_atof(const char* s);

// validate.cc

/// Warns about unnamed states, refuses zero totals, and rescales the initial probabilities and
/// each transition row to total 1. Does not return on error.
void error_check_pravlin(PRAVLIN* pv);
/// The first half of error_check_pravlin: the missing-name warnings, then the check and the
/// rescaling of the initial probabilities. Does not return on error.
void error_check_states(PRAVLIN* pv);
/// The check of the transition row of state i, whose entries total prob_sum: refuses a zero
/// total, warns about one that is not exactly 1 and then returns 1 (the row must be divided by
/// prob_sum); returns 0 when the row stays as it is. Does not return on error.
int error_check_row_total(int i, double prob_sum);

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

/// Simulates every chain: the same table, the same generator state afterwards and the same
/// failure message as create_pravlin(1..nbr_chains) in order, many times faster. Does not
/// return on failure.
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
/// Writes the chain table: a title line (then a flush), and one line per step. Null out:
/// standard output; null pv: nothing.
void printpravlin(FILE* out, const PRAVLIN* pv);
/// Ends the report: closes a report file the run opened, or flushes standard output when the
/// report went there, and fails when any write, the flush or the close failed.
void finish_report(PRAVLIN* pv);
/// Flushes standard output and fails with " *** ERROR: Unable to write file (stdout)\n" when
/// anything written to it was lost (a full disk, a closed stream).
void check_stdout();

/// Appends v as "%lld" writes it.
void format_long(std::string& to, long long v);
/// Appends v as "%f" writes it (six decimals, the same rounding, "-0.000000", "nan", "inf").
void format_fixed6(std::string& to, double v);

#endif
