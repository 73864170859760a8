// main.cc - pravlin-fit's driver: command line, reading, estimating, then the
// configuration (standard output or -o FILE) and the fit summary.
// Part of pravlin; see README.md.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "fit.h"
#include "fit_draws.h"
#include "fit_extras.h"
#include "fit_groups.h"
#include "fit_order.h"
#include "fit_periods.h"
#include "fit_read.h"
#include "options.h"
#include "output_file.h"
#include "version.h"

static const char USAGE[] =
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
    "\n"
    "  -o, --output FILE   write the configuration to FILE (replaced only on success)\n"
    "  --summary FILE      write the fit summary to FILE as CSV instead of standard error\n"
    "  -q, --quiet         no summary on standard error\n"
    "  --input FORM        sequences, long, report or matrix\n"
    "  --columns I,T,S     the long form's id, time and state columns (default id,t,state);\n"
    "                      the input is then read in the long form\n"
    "  --sort              number labels that are not all numbers by their bytes\n"
    "  --states A,B,...    states numbered first, in this order, including states never seen\n"
    "  --laplace A         Laplace smoothing: (n_ij + A) / (n_i + kA)\n"
    "  --prior A           posterior mean under a symmetric Dirichlet(A) prior\n"
    "  --empty absorbing|uniform\n"
    "                      a row without observations stays put (default) or is uniform\n"
    "  --chains N          nbr_chains (default: the number of sequences)\n"
    "  --years N           nbr_years (default: the longest sequence less one)\n"
    "  --confidence L      level of the intervals (default 0.95)\n"
    "  --test              check the Markov property and time-homogeneity (G2 tests)\n"
    "  --blocks B          time blocks of the homogeneity test (default 2)\n"
    "  --group COLUMN      the long form's column of groups: a chain fitted to each group; with\n"
    "                      --test, the G2 test that every group follows the same chain\n"
    "  --groups            each input is a group (several count matrices always are)\n"
    "  --by-period LIST    one matrix for each period of steps, such as 1-10,11-, written as the\n"
    "                      configuration's periods; with --test, the G2 test that every period\n"
    "                      follows the same matrix\n"
    "  --order K           the K-th order chain, as a chain on K-tuples of states named a|b\n"
    "  --select-order K    compare orders 0 to K (likelihood, AIC, BIC, G2 of each order\n"
    "                      against the next), leaving out the first K of each sequence\n"
    "  --draws N           N matrices drawn from the posterior, carried to the stationary\n"
    "                      probabilities, recurrence times, entropy rates, Kemeny constants\n"
    "                      and absorption (medians, intervals)\n"
    "  --seed S            the draws' seed (default 1: the same draws every run)\n"
    "  --threads N         threads of the draws, 1 to 64 (default 2): the same output\n"
    "  --table             the summary as a short table sized to the terminal (the default\n"
    "                      when standard error is one)\n"
    "  --listing           the summary as a full listing (the default otherwise)\n"
    "\n"
    "The exit status is 0 after a complete fit and 1 after any error. See pravlin-fit(1).\n";

static const char VERSION[] = "pravlin-fit " PRAVLIN_VERSION "\n" PRAVLIN_LICENCE;

static void put_and_exit(const char* text) {
  std::fputs(text, stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout))
    fail(" *** ERROR: Unable to write file (%s)\n", "stdout");
  std::exit(0);
}

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

// An option given on the command line: its long name, the options it excludes (a shared
// name: --laplace and --prior, --table and --listing), and how it was written.
struct given_option {
  const char* name;
  const char* excludes;
  const char* written;
};

static void parse_command_line(int argc, char** argv, FIT_OPTIONS* opt) {
  *opt = fit_default_options();
  bool files_only = false;
  // Each option is given once: a second would silently replace the first.
  std::vector<given_option> given;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    const auto is = [a](const char* name) { return std::strcmp(a, name) == 0; };
    const auto once = [&](const char* name, const char* excludes) {
      for (const given_option& g : given) {
        if (std::strcmp(g.name, name) == 0)
          fail(" *** ERROR: %s given twice: give each option once\n", a);
        if (excludes != nullptr && g.excludes != nullptr && std::strcmp(g.excludes, excludes) == 0)
          fail(" *** ERROR: %s and %s: give one of them\n", g.written, a);
      }
      given.push_back(given_option{name, excludes, a});
    };
    const auto value = [&]() -> const char* {
      if (i + 1 >= argc)
        fail(" *** ERROR: %s needs a value; see pravlin-fit --help\n", a);
      return argv[++i];
    };
    if (files_only || a[0] != '-' || a[1] == '\0') {
      if (opt->input == nullptr)
        opt->input = a;
      opt->inputs.push_back(a);
    } else if (is("--")) {
      files_only = true;
    } else if (is("--help") || is("-h")) {
      put_and_exit(USAGE);
    } else if (is("--version")) {
      put_and_exit(VERSION);
    } else if (is("-o") || is("--output")) {
      once("--output", nullptr);
      opt->output = value();
    } else if (is("--summary")) {
      once("--summary", nullptr);
      opt->summary = value();
    } else if (is("-q") || is("--quiet")) {
      once("--quiet", nullptr);
      opt->quiet = 1;
    } else if (is("--input")) {
      once("--input", nullptr);
      const char* v = value();
      const FIT_FORM forms[] = {FORM_SEQUENCES, FORM_LONG, FORM_REPORT, FORM_MATRIX};
      opt->form = FORM_AUTO;
      for (FIT_FORM f : forms) {
        if (std::strcmp(v, fit_form_name(f)) == 0)
          opt->form = f;
      }
      if (opt->form == FORM_AUTO) {
        fail(" *** ERROR: --input needs sequences, long, report or matrix, not (%s)\n", v);
      }
    } else if (is("--columns")) {
      once("--columns", nullptr);
      opt->columns = value();
    } else if (is("--sort")) {
      once("--sort", nullptr);
      opt->sort_flag = 1;
    } else if (is("--states")) {
      once("--states", nullptr);
      for (const std::string& s : split_commas(value()))
        opt->states.push_back(s);
    } else if (is("--laplace") || is("--prior")) {
      once(is("--laplace") ? "--laplace" : "--prior", "estimator");
      const char* v = value();
      opt->estimator = is("--laplace") ? ESTIMATOR_LAPLACE : ESTIMATOR_PRIOR;
      opt->alpha = parse_real(v);
      if (!(opt->alpha > 0) || opt->alpha > 1e300)
        fail(" *** ERROR: %s needs a positive number, not (%s)\n", a, v);
    } else if (is("--empty")) {
      once("--empty", nullptr);
      const char* v = value();
      if (std::strcmp(v, "absorbing") == 0)
        opt->empty = EMPTY_ABSORBING;
      else if (std::strcmp(v, "uniform") == 0)
        opt->empty = EMPTY_UNIFORM;
      else
        fail(" *** ERROR: --empty needs absorbing or uniform, not (%s)\n", v);
      opt->empty_given = 1;
    } else if (is("--chains")) {
      once("--chains", nullptr);
      const char* v = value();
      opt->nbr_chains = parse_count(v, 1, 2147483647L);
      if (opt->nbr_chains < 0)
        fail(" *** ERROR: --chains needs a number from 1 to 2147483647, not (%s)\n", v);
    } else if (is("--years")) {
      once("--years", nullptr);
      const char* v = value();
      opt->nbr_years = parse_count(v, 2, 2147483646L);
      if (opt->nbr_years < 0)
        fail(" *** ERROR: --years needs a number from 2 to 2147483646, not (%s)\n", v);
    } else if (is("--confidence")) {
      once("--confidence", nullptr);
      const char* v = value();
      opt->confidence = parse_real(v);
      if (!(opt->confidence > 0 && opt->confidence < 1))
        fail(" *** ERROR: --confidence needs a level between 0 and 1, not (%s)\n", v);
    } else if (is("--test")) {
      once("--test", nullptr);
      opt->test_flag = 1;
    } else if (is("--blocks")) {
      once("--blocks", nullptr);
      const char* v = value();
      opt->blocks = parse_count(v, 2, 1000);
      if (opt->blocks < 0)
        fail(" *** ERROR: --blocks needs a number from 2 to 1000, not (%s)\n", v);
    } else if (is("--group")) {
      once("--group", nullptr);
      opt->group_column = value();
    } else if (is("--table")) {
      once("--table", "summary form");
      opt->table = 1;
    } else if (is("--listing")) {
      once("--listing", "summary form");
      opt->table = 0;
    } else if (is("--by-period")) {
      once("--by-period", nullptr);
      fit_parse_periods(value(), opt);
    } else if (is("--groups")) {
      once("--groups", nullptr);
      opt->groups_flag = 1;
    } else if (is("--order")) {
      once("--order", nullptr);
      const char* v = value();
      opt->order = parse_count(v, 1, 1000000);
      if (opt->order < 0)
        fail(" *** ERROR: --order needs a number from 1 to 1000000, not (%s)\n", v);
    } else if (is("--select-order")) {
      once("--select-order", nullptr);
      const char* v = value();
      opt->select_order = parse_count(v, 1, 20);
      if (opt->select_order < 0)
        fail(" *** ERROR: --select-order needs a number from 1 to 20, not (%s)\n", v);
    } else if (is("--draws")) {
      once("--draws", nullptr);
      const char* v = value();
      opt->draws = parse_count(v, 1, 100000000);
      if (opt->draws < 0)
        fail(" *** ERROR: --draws needs a number from 1 to 100000000, not (%s)\n", v);
    } else if (is("--seed")) {
      once("--seed", nullptr);
      const char* v = value();
      char* end = nullptr;
      errno = 0;
      const unsigned long long seed = std::strtoull(v, &end, 10);
      if (v[0] < '0' || v[0] > '9' || *end != '\0' || errno != 0)
        fail(" *** ERROR: --seed needs a whole number from 0 to 18446744073709551615, not (%s)\n",
             v);
      opt->seed = seed;
    } else if (is("--threads")) {
      once("--threads", nullptr);
      const char* v = value();
      opt->threads = static_cast<int>(parse_count(v, 1, 64));
      if (opt->threads < 0)
        fail(" *** ERROR: --threads needs a number from 1 to 64, not (%s)\n", v);
    } else {
      fail(" *** ERROR: unknown option (%s); see pravlin-fit --help\n", a);
    }
  }
  if (opt->order > 1 && (opt->estimator != ESTIMATOR_MLE || opt->empty != EMPTY_ABSORBING)) {
    fail(
        " *** ERROR: --order fits by maximum likelihood with absorbing empty rows: %s would give "
        "tuples successors that cannot follow them\n",
        opt->estimator == ESTIMATOR_LAPLACE ? "--laplace"
        : opt->estimator == ESTIMATOR_PRIOR ? "--prior"
                                            : "--empty uniform");
  }
  if (opt->order > 1 && (opt->groups_flag || opt->group_column != nullptr))
    fail(" *** ERROR: --order fits one chain, not one a group\n");
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
}

// The terminal's width, else $COLUMNS, else 80; at least 40.
static int terminal_width(bool terminal) {
  struct winsize ws {};
  long width = 0;
  if (terminal && ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0)
    width = ws.ws_col;
  const char* columns = std::getenv("COLUMNS");
  if (width <= 0 && columns != nullptr)
    width = std::strtol(columns, nullptr, 10);
  if (width <= 0 || width > 10000)
    width = 80;
  return static_cast<int>(std::max(40L, width));
}

// Reads, estimates and writes; every output is checked against the inputs and the other
// output before the input is read, and written only once the fit is complete.
static void fit(const FIT_OPTIONS* opt) {
  const bool from_stdin = opt->input == nullptr || std::strcmp(opt->input, "-") == 0;
  output_note_input(from_stdin ? nullptr : opt->input);
  for (const char* input : opt->inputs) {
    if (std::strcmp(input, "-") != 0)
      output_note_input(input);
  }
  output_declare(opt->output);
  if (opt->summary != nullptr)
    output_declare(opt->summary);
  if (from_stdin && isatty(STDIN_FILENO)) {
    std::fputs(
        " *** NOTE: reading the data from standard input; end it with Ctrl-D at the start "
        "of a line\n",
        stderr);
  }
  FIT_DATA data;
  fit_read(opt, &data);
  if (data.matrix_flag && opt->test_flag && !data.group_flag)
    fail(" *** ERROR: --test needs sequences, not a matrix\n");
  if (data.matrix_flag && !opt->period_first.empty())
    fail(" *** ERROR: --by-period needs sequences, not a matrix\n");
  if (data.matrix_flag && (opt->order > 1 || opt->select_order > 0))
    fail(" *** ERROR: --order and --select-order need sequences, not a matrix\n");
  if (data.matrix_flag && data.group_flag && opt->order > 1)
    fail(" *** ERROR: --order fits one chain, not one a group\n");
  if (data.probability_flag && opt->estimator != ESTIMATOR_MLE) {
    fail(" *** ERROR: %s: --laplace and --prior need counts, not probabilities\n",
         data.name.c_str());
  }
  // The K-th order chain is the first-order chain of the K-tuples, fitted as any other.
  FIT_DATA tuples;
  const FIT_DATA* fitted = &data;
  if (opt->order > 1) {
    fit_tuples(opt, &data, opt->order, &tuples);
    fitted = &tuples;
  }
  FIT_MODEL model;
  fit_estimate(opt, fitted, &model);
  if (opt->order > 1) {
    // Each tuple's row chooses among the states: m - 1 free probabilities, not one a tuple.
    const auto m = static_cast<double>(data.labels.names.size());
    model.parameters = static_cast<long>(model.rows.size()) * static_cast<long>(m - 1);
    model.aic = 2.0 * static_cast<double>(model.parameters) - 2.0 * model.log_likelihood;
    model.bic = static_cast<double>(model.parameters) *
                    std::log(static_cast<double>(tuples.nbr_transitions)) -
                2.0 * model.log_likelihood;
  }
  if (opt->test_flag && !data.matrix_flag) {
    fit_markov_test(fitted, &model.markov);
    fit_homogeneity_test(fitted, opt->blocks, &model.homogeneity);
  }
  FIT_EXTRAS extras;
  if (data.group_flag)
    fit_groups(opt, &data, &extras);
  if (!opt->period_first.empty())
    fit_periods(opt, &data, &extras);
  if (opt->select_order > 0) {
    extras.order_choice_flag = 1;
    fit_select_order(&data, opt->select_order, &extras.order_choice);
  }
  if (opt->draws > 0) {
    extras.draws_flag = 1;
    fit_draw(opt, fitted, &model, &extras.draws);
  }

  FILE* config = output_open(opt->output);
  if (opt->summary != nullptr) {
    FILE* csv = output_open(opt->summary);
    fit_write_summary_csv(csv, opt, fitted, &model);
    fit_write_extras_csv(csv, opt, fitted, &model, &extras);
  }
  if (!opt->period_first.empty())
    fit_write_config_periods(config, opt, fitted, &model, &extras);
  else
    fit_write_config(config, opt, fitted, &model);
  if (opt->output == nullptr && (std::fflush(stdout) != 0 || std::ferror(stdout)))
    fail(" *** ERROR: Unable to write file (%s)\n", "stdout");
  output_finish();
  if (opt->summary == nullptr && !opt->quiet) {
    const bool terminal = isatty(STDERR_FILENO) != 0;
    if (opt->table == 1 || (opt->table < 0 && terminal)) {
      fit_write_table(stderr, opt, fitted, &model, &extras, terminal_width(terminal));
    } else {
      fit_write_summary(stderr, opt, fitted, &model);
      fit_write_extras(stderr, opt, fitted, &model, &extras);
    }
  }
}

// Called by operator new when memory runs out: one line and status 1, as in pravlin and
// pravlin-analyze, never an abort and a core dump. A handler rather than only a catch of
// std::bad_alloc: with the address space nearly full the runtime cannot even allocate the
// exception, and aborts. fail() removes any temporary file.
static void out_of_memory() {
  fail(" *** ERROR: out of memory in pravlin-fit\n");
}

int main(int argc, char** argv) {
  std::set_new_handler(out_of_memory);
  FIT_OPTIONS opt;
  parse_command_line(argc, argv, &opt);
  opt.progress = !opt.quiet && isatty(STDERR_FILENO) != 0;
  if (opt.form == FORM_MATRIX && opt.test_flag && opt.inputs.size() < 2)
    fail(" *** ERROR: --test needs sequences, not a matrix\n");
  try {
    fit(&opt);
  } catch (const std::bad_alloc&) {  // an array size beyond any memory: new[] throws at once
    fail(" *** ERROR: out of memory in pravlin-fit\n");
  } catch (const std::length_error&) {  // a size no vector can hold
    fail(" *** ERROR: out of memory in pravlin-fit\n");
  }
  return 0;
}
