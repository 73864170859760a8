// fit_records.h - pravlin-fit's records: the options, the data read, the fitted model and the
// summary's extras, plain and shared by every part of it (fit.h declares what fit.cc does).
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FIT_RECORDS_H
#define PRAVLIN_FIT_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fit_hash.h"
#include "fit_limits.h"
#include "scratch.h"

/// The forms of input. ORDER FITFORM: fit_form_name must list them in this order.
enum FIT_FORM { FORM_AUTO, FORM_SEQUENCES, FORM_LONG, FORM_REPORT, FORM_MATRIX };
/// The estimators of a row's probabilities.
enum FIT_ESTIMATOR { ESTIMATOR_MLE, ESTIMATOR_LAPLACE, ESTIMATOR_PRIOR };
/// What a row without observations becomes (where the estimator leaves it undefined).
enum FIT_EMPTY { EMPTY_ABSORBING, EMPTY_UNIFORM };

/// Kept sequences (--order, --select-order) mark a missing cell and a sequence's end so.
constexpr std::uint32_t FIT_KEPT_BREAK = 0xFFFFFFFEu;
constexpr std::uint32_t FIT_KEPT_END = 0xFFFFFFFFu;
/// The seed of --draws when --seed is not given: the draws are reproducible either way.
constexpr std::uint64_t FIT_DEFAULT_SEED = 1;

struct fit_options {
  const char* input;                // file name; null or "-" for standard input
  std::vector<const char*> inputs;  // every input in order, input first; empty: input alone
  FIT_FORM form;                    // FORM_AUTO: detect (FORM_LONG when columns are named)
  std::string columns;              // long form: "ID,T,STATE" column names; empty: id, t, state
  int sort_flag;                    // sort labels that are not all numbers by their bytes
  std::vector<std::string> states;  // --states: numbered first, in their order, seen or not
  FIT_ESTIMATOR estimator;
  double alpha;  // A of --laplace or --prior
  FIT_EMPTY empty;
  int empty_given;      // --empty was given (a matrix's row of zeros needs it)
  long nbr_chains;      // -1: the number of sequences
  long nbr_years;       // -1: the longest sequence less one
  double confidence;    // level of the intervals, 0 < L < 1
  int test_flag;        // --test: the Markov property and time-homogeneity
  long blocks;          // time blocks of the homogeneity test
  const char* output;   // -o FILE; null: standard output
  const char* summary;  // --summary FILE (CSV); null: text on standard error
  int quiet;            // no summary on standard error
  // Groups: a column of the long form, or each input file (--groups); several count matrices
  // are groups whatever the options.
  const char* group_column;  // --group COLUMN; null: none
  int groups_flag;           // --groups: each input is a group
  long order;                // --order K: the chain on K-tuples; 1 by default
  long select_order;         // --select-order K: orders 0..K compared; 0: not asked
  long draws;                // --draws N: posterior draws carried to the answers; 0: none
  std::uint64_t seed;        // --seed S (FIT_DEFAULT_SEED when not given)
  int threads;               // --threads N: threads of the draws (2 by default)
  int progress;              // the draws' progress on standard error (a terminal's)
  int table;                 // the summary on standard error: 1 the table, 0 the listing,
                             // -1 the table when standard error is a terminal
  // --by-period: each period's first and last step, in order from step 1; a last of -1 is open.
  // Empty: one matrix for every step.
  std::vector<long> period_first, period_last;
};
typedef struct fit_options FIT_OPTIONS;

/// Where one sequence stands while it is read: its last two observations and its clock.
struct fit_sequence {
  long prev = -1;                   // last observation's state, -1 after a break or at the start
  long prev2 = -1;                  // the one before it, -1 when not adjacent
  std::uint64_t t = 0;              // positions read, observations and missing cells alike
  int started = 0;                  // an observation has been counted as the first state
  int group_started = 0;            // with groups: an observation has been counted in a group
  std::uint32_t group = 0;          // ... and this is the group of the last one
  std::vector<std::uint32_t> kept;  // with keep_flag: its states, FIT_KEPT_BREAK for a gap
};
typedef struct fit_sequence FIT_SEQUENCE;

/// Everything read from the input.
struct fit_data {
  FIT_FORM form;
  std::string name;  // the input's name in messages
  LABEL_TABLE labels;
  COUNT_MAP pairs;  // (from << 32 | to) -> transitions
  // While the states are few, the pairs are counted here instead: dense_k x dense_k, row-major.
  // A pair is counted in pairs or here, never in both.
  Scratch<std::uint64_t> dense;
  std::size_t dense_k = 0;
  int dense_off = 0;           // too many states, or no memory for the table: pairs takes them all
  PENDING_RING dense_pending;  // cells of dense, counted 32 pairs later
  std::vector<std::uint64_t> first;  // per state: sequences that begin there
  std::uint64_t nbr_sequences = 0;
  std::uint64_t nbr_transitions = 0;
  std::uint64_t nbr_breaks = 0;  // missing cells
  std::uint64_t longest = 0;     // positions of the longest sequence
  std::size_t given_states = 0;  // labels of --states, numbered first
  int init_year_seen = 0;        // a report's first step label has been read
  int init_year_flag = 0;        // ... and is a year pravlin can start from
  long init_year = 0;
  int values_flag = 0;  // a report's cells are all values (print_flag val), not states
  // With --test:
  int test_flag = 0;
  COUNT_MAP triples;           // (i << 42 | j << 21 | l) -> count
  COUNT_MAP timed;             // (bin << 42 | i << 21 | j) -> count
  unsigned bin_shift = 0;      // a bin spans 2^bin_shift steps of time
  std::uint64_t max_bins = 0;  // bins allowed before they double
  // A matrix: its rows as read (counts, or probabilities when one cell is not whole), each over
  // the header's columns: memory in proportion to the input, not to the square of the labels.
  int matrix_flag = 0;
  int probability_flag = 0;
  std::vector<double> matrix;                 // rows x columns, row-major
  std::vector<std::uint32_t> matrix_rows;     // each row's state (label index)
  std::vector<std::uint32_t> matrix_columns;  // each column's state
  // Groups (fit_groups.cc): the group being read, and the counts of each.
  int group_flag = 0;
  int several_inputs = 0;   // more than one input: each is named as a group meanwhile
  LABEL_TABLE groups;       // group names, in order of first appearance
  std::uint32_t group = 0;  // the group of the observations being read
  COUNT_MAP group_pairs;    // (g << 42 | i << 21 | j) -> transitions
  COUNT_MAP group_first;    // (g << 21 | i) -> sequences that begin there
  std::vector<std::uint64_t> group_sequences;  // per group
  // --order, --select-order: every sequence, one after another, each ended by FIT_KEPT_END.
  int keep_flag = 0;
  std::vector<std::uint32_t> kept;
  int checked = 0;  // labels already checked and warned about (a group's or tuples' copy)
  // --by-period: each period's first step, and the transitions landing in each period.
  std::vector<long> period_first;
  COUNT_MAP period_pairs;  // (p << 42 | i << 21 | j) -> transitions
};
typedef struct fit_data FIT_DATA;

/// What a row of the fitted matrix is.
enum FIT_ROW_KIND { ROW_OBSERVED, ROW_ABSORBING, ROW_UNIFORM, ROW_GIVEN };

struct fit_cell {
  std::uint32_t to;  // 0-based state
  std::uint64_t count;
  double probability;
  double lower, upper;  // the interval; NaN when there is none
};
typedef struct fit_cell FIT_CELL;

struct fit_row {
  std::uint64_t total = 0;
  FIT_ROW_KIND kind = ROW_OBSERVED;
  std::vector<FIT_CELL> cells;  // by increasing `to`: every count, and the cells set apart
  // Every state not in cells: its probability (0 under maximum likelihood) and interval.
  double rest = 0;
  double rest_lower = 0, rest_upper = 0;
};
typedef struct fit_row FIT_ROW;

struct fit_test {
  double statistic = 0;
  long df = 0;
  double p_value = 1;
};
typedef struct fit_test FIT_TEST;

/// The fitted model, in the order the states are numbered (state s is ser s + 1).
struct fit_model {
  std::vector<std::uint32_t> order;  // order[s] = label index of state s
  std::vector<FIT_ROW> rows;
  std::vector<double> initial;
  std::vector<std::uint64_t> first;
  long nbr_chains = 0;
  long nbr_years = 0;
  int years_raised = 0;  // the data's nbr_years was below 2
  int has_counts = 1;    // 0 for a matrix of probabilities
  double log_likelihood = 0;
  long parameters = 0;
  double aic = 0, bic = 0;
  std::uint64_t empty_rows = 0;
  FIT_TEST markov, homogeneity;
};
typedef struct fit_model FIT_MODEL;

/// One group's own fit.
struct fit_group {
  std::string name;
  FIT_DATA data;
  FIT_MODEL model;
};
typedef struct fit_group FIT_GROUP;

/// The order comparison of --select-order, one entry per order 0..K.
struct fit_order_row {
  double log_likelihood = 0;
  double parameters = 0;  // m^r (m - 1)
  double aic = 0, bic = 0;
  FIT_TEST against_next;  // this order against the next; df 0 for the last
};
typedef struct fit_order_row FIT_ORDER_ROW;

struct fit_order_choice {
  std::uint64_t observations = 0;  // predicted: every one after the first K of a sequence
  std::vector<FIT_ORDER_ROW> rows;
  long bic_order = 0, aic_order = 0;
};
typedef struct fit_order_choice FIT_ORDER_CHOICE;

/// What the answers came to over the posterior draws of --draws.
struct fit_answer {
  std::string item;      // stationary, recurrence_time, kemeny_constant, absorption, ...
  std::string from, to;  // labels, or a closed class named as the analysis names it ("class 2")
  std::uint64_t draws;   // draws in which it is defined
  double median, lower, upper;
  // Where there is no number at all: why, as a word for the CSV ("absorbing": the chain has
  // none; "not_drawn") and in words for a person. Empty when there is one.
  std::string none{}, why{};
};
typedef struct fit_answer FIT_ANSWER;

struct fit_draws {
  long draws = 0;
  std::uint64_t seed = 0;
  long classes_changed = 0;  // draws whose classes differ from the fitted chain's
  std::vector<FIT_ANSWER> answers;
};
typedef struct fit_draws FIT_DRAWS;

/// Everything the summary reports beyond the one chain.
struct fit_extras {
  std::vector<FIT_GROUP> groups;     // the groups, or with --by-period the periods
  const char* group_word = "group";  // "period" with --by-period
  int group_test_flag = 0;
  FIT_TEST group_test;
  int order_choice_flag = 0;
  FIT_ORDER_CHOICE order_choice;
  int draws_flag = 0;
  FIT_DRAWS draws;
};
typedef struct fit_extras FIT_EXTRAS;

#endif
