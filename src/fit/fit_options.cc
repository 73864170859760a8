// fit_options.cc - pravlin-fit's option table, each option's value checked, and the options
// checked together and against the data.
// Part of pravlin; see README.md.
#include "fit_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fail.h"
#include "fit_limits.h"
#include "fit_periods.h"
#include "fit_read.h"
#include "options.h"
#include "version.h"

// ORDER FIT_OPTION
enum {
  OPT_HELP,
  OPT_VERSION,
  OPT_OUTPUT,
  OPT_SUMMARY,
  OPT_QUIET,
  OPT_INPUT,
  OPT_COLUMNS,
  OPT_SORT,
  OPT_STATES,
  OPT_LAPLACE,
  OPT_PRIOR,
  OPT_EMPTY,
  OPT_CHAINS,
  OPT_YEARS,
  OPT_CONFIDENCE,
  OPT_TEST,
  OPT_BLOCKS,
  OPT_GROUP,
  OPT_GROUPS,
  OPT_BY_PERIOD,
  OPT_ORDER,
  OPT_SELECT_ORDER,
  OPT_DRAWS,
  OPT_SEED,
  OPT_THREADS,
  OPT_TABLE,
  OPT_LISTING
};
static const OPTION OPTIONS[] = {
    {"-h", "--help", nullptr, nullptr, nullptr, nullptr},
    {nullptr, "--version", nullptr, nullptr, nullptr, nullptr},
    {"-o", "--output", "FILE", "write the configuration to FILE (replaced only on success)",
     nullptr, nullptr},
    {nullptr, "--summary", "FILE", "write the fit summary to FILE as CSV instead of standard error",
     nullptr, nullptr},
    {"-q", "--quiet", nullptr, "no summary on standard error", nullptr, nullptr},
    {nullptr, "--input", "FORM", "sequences, long, report or matrix", nullptr,
     "sequences long report matrix"},
    {nullptr, "--columns", "I,T,S",
     "the long form's id, time and state columns (default id,t,state);\n"
     "the input is then read in the long form",
     nullptr, nullptr},
    {nullptr, "--sort", nullptr, "number labels that are not all numbers by their bytes", nullptr,
     nullptr},
    {nullptr, "--states", "A,B,...",
     "states numbered first, in this order, including states never seen", nullptr, nullptr},
    {nullptr, "--laplace", "A", "Laplace smoothing: (n_ij + A) / (n_i + kA)", "estimator", nullptr},
    {nullptr, "--prior", "A", "posterior mean under a symmetric Dirichlet(A) prior", "estimator",
     nullptr},
    {nullptr, "--empty", "absorbing|uniform",
     "\na row without observations stays put (default) or is uniform", nullptr, nullptr},
    {nullptr, "--chains", "N", "nbr_chains (default: the number of sequences)", nullptr, nullptr},
    {nullptr, "--years", "N", "nbr_years (default: the longest sequence less one)", nullptr,
     nullptr},
    {nullptr, "--confidence", "L", "level of the intervals (default 0.95)", nullptr, nullptr},
    {nullptr, "--test", nullptr, "check the Markov property and time-homogeneity (G2 tests)",
     nullptr, nullptr},
    {nullptr, "--blocks", "B", "time blocks of the homogeneity test (default 2)", nullptr, nullptr},
    {nullptr, "--group", "COLUMN",
     "the long form's column of groups: a chain fitted to each group; with\n"
     "--test, the G2 test that every group follows the same chain",
     nullptr, nullptr},
    {nullptr, "--groups", nullptr, "each input is a group (several count matrices always are)",
     nullptr, nullptr},
    {nullptr, "--by-period", "LIST",
     "one matrix for each period of steps, such as 1-10,11-, written as the\n"
     "configuration's periods; with --test, the G2 test that every period\n"
     "follows the same matrix",
     nullptr, nullptr},
    {nullptr, "--order", "K", "the K-th order chain, as a chain on K-tuples of states named a|b",
     nullptr, nullptr},
    {nullptr, "--select-order", "K",
     "compare orders 0 to K (likelihood, AIC, BIC, G2 of each order\n"
     "against the next), leaving out the first K of each sequence",
     nullptr, nullptr},
    {nullptr, "--draws", "N",
     "N matrices drawn from the posterior, carried to the stationary\n"
     "probabilities, recurrence times, entropy rates, Kemeny constants\n"
     "and absorption (medians, intervals)",
     nullptr, nullptr},
    {nullptr, "--seed", "S", "the draws' seed (default 1: the same draws every run)", nullptr,
     nullptr},
    {nullptr, "--threads", "N", "threads of the draws, 1 to 64 (default 2): the same output",
     nullptr, nullptr},
    {nullptr, "--table", nullptr,
     "the summary as a short table sized to the terminal (the default\n"
     "when standard error is one)",
     "summary form", nullptr},
    {nullptr, "--listing", nullptr, "the summary as a full listing (the default otherwise)",
     "summary form", nullptr},
};

const OPTION_TABLE FIT_OPTION_TABLE = {
    OPTIONS,
    sizeof OPTIONS / sizeof OPTIONS[0],
    22,
    "Usage: pravlin-fit [OPTIONS] [DATA...]\n"
    "       pravlin-fit --help | -h | --version\n"
    "\n"
    "Estimates a discrete-time Markov chain from observed data (DATA, or standard input) and\n"
    "writes it as a pravlin configuration, with a fit summary on standard error.\n"
    "\n"
    "Input forms (detected, or named with --input):\n"
    "  sequences  one sequence a line, labels separated by commas or white space\n"
    "  long       a header naming the columns id, t and state; a row per observation;\n"
    "             t a number, or an ISO 8601 date or time written as the first row's\n"
    "  report     pravlin's own report, or slices of it: each column of a table is one chain\n"
    "  matrix     a header row of labels, then a row of counts or probabilities per state\n"
    "Several inputs are read as one: sequences or reports, all of one form; with --groups\n"
    "each is a group. Several count matrices are groups.\n"
    "Empty cells, NA and nan break a sequence: no transition is counted across them.\n"
    "States are numbered: --states first, in their order; then the rest, by value when every\n"
    "label is a number, else in order of first appearance (by their bytes with --sort).\n"
    "\n",
    "\n"
    "The exit status is 0 after a complete fit and 1 after any error. See pravlin-fit(1).\n",
    nullptr,
    true,
    false,
};

const char FIT_VERSION_TEXT[] = "pravlin-fit " PRAVLIN_VERSION "\n" PRAVLIN_LICENCE;

static double parse_real(const char* text) {
  double v = 0;
  if (!fit_is_number(text, &v))
    return std::nan("");
  return v;
}

static std::vector<std::string> split_commas(const char* text) {
  std::vector<std::string> out;
  std::string cur;
  for (const char* s = text;; s++) {
    if (*s == ',' || *s == '\0') {
      if (!cur.empty())
        out.push_back(cur);
      cur.clear();
      if (*s == '\0')
        break;
    } else {
      cur.push_back(*s);
    }
  }
  return out;
}

// A count from low to high, or the option's message naming the bounds.
static long count_value(const char* a, const char* v, long low, long high) {
  const long n = parse_count(v, low, high);
  if (n < 0)
    fail(" *** ERROR: %s needs a number from %ld to %ld, not (%s)\n", a, low, high, v);
  return n;
}

// Each refusal that more than one check reaches, written once.
[[noreturn]] static void refuse_matrix_test() {
  fail(" *** ERROR: --test needs sequences, not a matrix\n");
}
[[noreturn]] static void refuse_order_of_groups() {
  fail(" *** ERROR: --order fits one chain, not one a group\n");
}

// The options that go together only in some ways: checked once all are read.
static void check_options(const FIT_OPTIONS* opt) {
  if (opt->order > 1 && (opt->estimator != ESTIMATOR_MLE || opt->empty != EMPTY_ABSORBING)) {
    fail(
        " *** ERROR: --order fits by maximum likelihood with absorbing empty rows: %s would give "
        "tuples successors that cannot follow them\n",
        opt->estimator == ESTIMATOR_LAPLACE ? "--laplace"
        : opt->estimator == ESTIMATOR_PRIOR ? "--prior"
                                            : "--empty uniform");
  }
  if (opt->order > 1 && (opt->groups_flag || opt->group_column != nullptr))
    refuse_order_of_groups();
  if (!opt->period_first.empty()) {
    const char* other = opt->group_column != nullptr ? "--group"
                        : opt->groups_flag           ? "--groups"
                        : opt->order > 1             ? "--order"
                        : opt->select_order > 0      ? "--select-order"
                        : opt->draws > 0             ? "--draws"
                                                     : nullptr;
    if (other != nullptr)
      fail(" *** ERROR: --by-period fits one matrix a period, and does not go with %s\n", other);
  }
  if (opt->form == FORM_MATRIX && opt->test_flag && opt->inputs.size() < 2)
    refuse_matrix_test();
}

void fit_parse_command_line(int argc, char** argv, FIT_OPTIONS* opt) {
  *opt = fit_default_options();
  OPTION_PARSE parse;
  for (;;) {
    const OPTION_FOUND o = next_option(&FIT_OPTION_TABLE, argc, argv, &parse);
    const char* a = o.written;
    if (o.index == OPTION_END)
      break;
    if (o.index == OPTION_OPERAND) {
      if (opt->input == nullptr)
        opt->input = a;
      opt->inputs.push_back(a);
      continue;
    }
    if (o.index == OPTION_UNKNOWN)
      fail(" *** ERROR: unknown option (%s); see pravlin-fit --help\n", a);
    // Each option is given once: a second would silently replace the first.
    if (o.times > 1)
      fail(" *** ERROR: %s given twice: give each option once\n", a);
    if (o.excluded != nullptr)
      fail(" *** ERROR: %s and %s: give one of them\n", o.excluded, a);
    const OPTION& option = FIT_OPTION_TABLE.options[o.index];
    if (option.argument != nullptr && o.value == nullptr)
      fail(" *** ERROR: %s needs a value; see pravlin-fit --help\n", a);
    const char* v = o.value;
    switch (o.index) {
      case OPT_HELP:
        answer(option_help(&FIT_OPTION_TABLE));
      case OPT_VERSION:
        answer(FIT_VERSION_TEXT);
      case OPT_OUTPUT:
        opt->output = v;
        break;
      case OPT_SUMMARY:
        opt->summary = v;
        break;
      case OPT_QUIET:
        opt->quiet = 1;
        break;
      case OPT_INPUT: {
        const FIT_FORM forms[] = {FORM_SEQUENCES, FORM_LONG, FORM_REPORT, FORM_MATRIX};
        opt->form = FORM_AUTO;
        for (FIT_FORM f : forms) {
          if (std::strcmp(v, fit_form_name(f)) == 0)
            opt->form = f;
        }
        if (opt->form == FORM_AUTO)
          fail(" *** ERROR: --input needs sequences, long, report or matrix, not (%s)\n", v);
        break;
      }
      case OPT_COLUMNS:
        opt->columns = v;
        break;
      case OPT_SORT:
        opt->sort_flag = 1;
        break;
      case OPT_STATES:
        for (const std::string& s : split_commas(v))
          opt->states.push_back(s);
        break;
      case OPT_LAPLACE:
      case OPT_PRIOR:
        opt->estimator = o.index == OPT_LAPLACE ? ESTIMATOR_LAPLACE : ESTIMATOR_PRIOR;
        opt->alpha = parse_real(v);
        if (!(opt->alpha > 0) || opt->alpha > 1e300)
          fail(" *** ERROR: %s needs a positive number, not (%s)\n", a, v);
        break;
      case OPT_EMPTY:
        if (std::strcmp(v, "absorbing") == 0)
          opt->empty = EMPTY_ABSORBING;
        else if (std::strcmp(v, "uniform") == 0)
          opt->empty = EMPTY_UNIFORM;
        else
          fail(" *** ERROR: --empty needs absorbing or uniform, not (%s)\n", v);
        opt->empty_given = 1;
        break;
      case OPT_CHAINS:
        opt->nbr_chains = count_value(a, v, 1, FIT_MAX_CHAINS);
        break;
      case OPT_YEARS:
        opt->nbr_years = count_value(a, v, 2, FIT_MAX_STEP);
        break;
      case OPT_CONFIDENCE:
        opt->confidence = parse_real(v);
        if (!(opt->confidence > 0 && opt->confidence < 1))
          fail(" *** ERROR: --confidence needs a level between 0 and 1, not (%s)\n", v);
        break;
      case OPT_TEST:
        opt->test_flag = 1;
        break;
      case OPT_BLOCKS:
        opt->blocks = count_value(a, v, 2, FIT_MAX_BLOCKS);
        break;
      case OPT_GROUP:
        opt->group_column = v;
        break;
      case OPT_GROUPS:
        opt->groups_flag = 1;
        break;
      case OPT_BY_PERIOD:
        fit_parse_periods(v, opt);
        break;
      case OPT_ORDER:
        opt->order = count_value(a, v, 1, FIT_MAX_ORDER);
        break;
      case OPT_SELECT_ORDER:
        opt->select_order = count_value(a, v, 1, FIT_MAX_SELECT_ORDER);
        break;
      case OPT_DRAWS:
        opt->draws = count_value(a, v, 1, FIT_MAX_DRAWS);
        break;
      case OPT_SEED: {
        char* end = nullptr;
        errno = 0;
        const unsigned long long seed = std::strtoull(v, &end, 10);
        if (v[0] < '0' || v[0] > '9' || *end != '\0' || errno != 0) {
          fail(" *** ERROR: --seed needs a whole number from 0 to 18446744073709551615, not (%s)\n",
               v);
        }
        opt->seed = seed;
        break;
      }
      case OPT_THREADS:
        opt->threads = static_cast<int>(count_value(a, v, 1, FIT_MAX_THREADS));
        break;
      case OPT_TABLE:
        opt->table = 1;
        break;
      case OPT_LISTING:
        opt->table = 0;
        break;
    }
  }
  check_options(opt);
}

void fit_check_data(const FIT_OPTIONS* opt, const FIT_DATA* data) {
  if (data->matrix_flag && opt->test_flag && !data->group_flag)
    refuse_matrix_test();
  if (data->matrix_flag && !opt->period_first.empty())
    fail(" *** ERROR: --by-period needs sequences, not a matrix\n");
  if (data->matrix_flag && (opt->order > 1 || opt->select_order > 0))
    fail(" *** ERROR: --order and --select-order need sequences, not a matrix\n");
  if (data->matrix_flag && data->group_flag && opt->order > 1)
    refuse_order_of_groups();
  if (data->probability_flag && opt->estimator != ESTIMATOR_MLE) {
    fail(" *** ERROR: %s: --laplace and --prior need counts, not probabilities\n",
         data->name.c_str());
  }
}
