// fit_main.cc - pravlin-fit's driver: command line, reading, estimating, then the
// configuration (standard output or -o FILE) and the fit summary.
// Part of pravlin; see README.md.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fit.h"
#include "options.h"
#include "pravlin.h"

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
    "Several inputs are read as one: sequences or reports, all of one form.\n"
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
    "\n"
    "The exit status is 0 after a complete fit and 1 after any error. See pravlin-fit(1).\n";

static const char VERSION[] = "pravlin-fit " FIT_VERSION "\n" PRAVLIN_LICENCE;

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

static void parse_command_line(int argc, char** argv, FIT_OPTIONS* opt) {
  opt->input = nullptr;
  opt->form = FORM_AUTO;
  opt->sort_flag = 0;
  opt->estimator = ESTIMATOR_MLE;
  opt->alpha = 0;
  opt->empty = EMPTY_ABSORBING;
  opt->empty_given = 0;
  opt->nbr_chains = -1;
  opt->nbr_years = -1;
  opt->confidence = 0.95;
  opt->test_flag = 0;
  opt->blocks = 2;
  opt->output = nullptr;
  opt->summary = nullptr;
  opt->quiet = 0;
  bool files_only = false;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    const auto is = [a](const char* name) { return std::strcmp(a, name) == 0; };
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
      opt->output = value();
    } else if (is("--summary")) {
      opt->summary = value();
    } else if (is("-q") || is("--quiet")) {
      opt->quiet = 1;
    } else if (is("--input")) {
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
      opt->columns = value();
    } else if (is("--sort")) {
      opt->sort_flag = 1;
    } else if (is("--states")) {
      for (const std::string& s : split_commas(value()))
        opt->states.push_back(s);
    } else if (is("--laplace") || is("--prior")) {
      const char* v = value();
      opt->estimator = is("--laplace") ? ESTIMATOR_LAPLACE : ESTIMATOR_PRIOR;
      opt->alpha = parse_real(v);
      if (!(opt->alpha > 0) || opt->alpha > 1e300)
        fail(" *** ERROR: %s needs a positive number, not (%s)\n", a, v);
    } else if (is("--empty")) {
      const char* v = value();
      if (std::strcmp(v, "absorbing") == 0)
        opt->empty = EMPTY_ABSORBING;
      else if (std::strcmp(v, "uniform") == 0)
        opt->empty = EMPTY_UNIFORM;
      else
        fail(" *** ERROR: --empty needs absorbing or uniform, not (%s)\n", v);
      opt->empty_given = 1;
    } else if (is("--chains")) {
      const char* v = value();
      opt->nbr_chains = parse_count(v, 1, 2147483647L);
      if (opt->nbr_chains < 0)
        fail(" *** ERROR: --chains needs a number from 1 to 2147483647, not (%s)\n", v);
    } else if (is("--years")) {
      const char* v = value();
      opt->nbr_years = parse_count(v, 2, 2147483646L);
      if (opt->nbr_years < 0)
        fail(" *** ERROR: --years needs a number from 2 to 2147483646, not (%s)\n", v);
    } else if (is("--confidence")) {
      const char* v = value();
      opt->confidence = parse_real(v);
      if (!(opt->confidence > 0 && opt->confidence < 1))
        fail(" *** ERROR: --confidence needs a level between 0 and 1, not (%s)\n", v);
    } else if (is("--test")) {
      opt->test_flag = 1;
    } else if (is("--blocks")) {
      const char* v = value();
      opt->blocks = parse_count(v, 2, 1000);
      if (opt->blocks < 0)
        fail(" *** ERROR: --blocks needs a number from 2 to 1000, not (%s)\n", v);
    } else {
      fail(" *** ERROR: unknown option (%s); see pravlin-fit --help\n", a);
    }
  }
}

// The outputs of -o and --summary while they are written: each goes to a temporary file beside
// its path, renamed over it once both are complete, so that a failed run leaves both paths as
// they were.
struct fit_outputs {
  const char* path[2] = {nullptr, nullptr};
  std::string temp[2];  // empty once renamed, or before it is made
  FILE* file[2] = {nullptr, nullptr};
};

// Removes every temporary file not yet renamed; before a failure's message.
static void abandon(fit_outputs* out) {
  for (int k = 0; k < 2; k++) {
    if (out->file[k] != nullptr)
      std::fclose(out->file[k]);
    out->file[k] = nullptr;
    if (!out->temp[k].empty())
      std::remove(out->temp[k].c_str());
    out->temp[k].clear();
  }
}

static FILE* open_beside(fit_outputs* out, int k, const char* path) {
  out->path[k] = path;
  struct stat st;
  if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
    // A pipe or a device (/dev/null, /dev/stdout) is written in place: a rename would replace it.
    out->file[k] = std::fopen(path, "w");
    if (out->file[k] == nullptr) {
      abandon(out);
      fail(" *** ERROR: Unable to open file (%s) for writing\n", path);
    }
    return out->file[k];
  }
  out->temp[k] = std::string(path) + ".XXXXXX";
  const int fd = mkstemp(out->temp[k].data());
  if (fd < 0) {
    out->temp[k].clear();
    abandon(out);
    fail(" *** ERROR: Unable to open file (%s) for writing\n", path);
  }
  // mkstemp makes the file private; give it the mode a new file would get.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  out->file[k] = fdopen(fd, "w");
  if (out->file[k] == nullptr) {
    close(fd);
    abandon(out);
    fail(" *** ERROR: Unable to open file (%s) for writing\n", path);
  }
  return out->file[k];
}

// Closes both outputs, and renames them only when both were written whole.
static void finish_outputs(fit_outputs* out) {
  for (int k = 0; k < 2; k++) {
    FILE* f = out->file[k];
    if (f == nullptr)
      continue;
    out->file[k] = nullptr;
    const bool bad = std::fflush(f) != 0 || std::ferror(f) != 0;
    if (std::fclose(f) != 0 || bad) {
      abandon(out);
      fail(" *** ERROR: Unable to write file (%s)\n", out->path[k]);
    }
  }
  for (int k = 0; k < 2; k++) {
    if (out->temp[k].empty())
      continue;
    if (std::rename(out->temp[k].c_str(), out->path[k]) != 0) {
      abandon(out);
      fail(" *** ERROR: Unable to write file (%s)\n", out->path[k]);
    }
    out->temp[k].clear();
  }
}

int main(int argc, char** argv) {
  FIT_OPTIONS opt;
  parse_command_line(argc, argv, &opt);
  if (opt.form == FORM_MATRIX && opt.test_flag)
    fail(" *** ERROR: --test needs sequences, not a matrix\n");
  FIT_DATA data;
  fit_read(&opt, &data);
  if (data.matrix_flag && opt.test_flag)
    fail(" *** ERROR: --test needs sequences, not a matrix\n");
  if (data.probability_flag && opt.estimator != ESTIMATOR_MLE) {
    fail(" *** ERROR: %s: --laplace and --prior need counts, not probabilities\n",
         data.name.c_str());
  }
  FIT_MODEL model;
  fit_estimate(&opt, &data, &model);
  if (opt.test_flag) {
    fit_markov_test(&data, &model.markov);
    fit_homogeneity_test(&data, opt.blocks, &model.homogeneity);
  }

  fit_outputs out;
  FILE* config = opt.output != nullptr ? open_beside(&out, 0, opt.output) : stdout;
  if (opt.summary != nullptr)
    fit_write_summary_csv(open_beside(&out, 1, opt.summary), &opt, &data, &model);
  fit_write_config(config, &opt, &data, &model);
  if (opt.output == nullptr && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
    abandon(&out);
    fail(" *** ERROR: Unable to write file (%s)\n", "stdout");
  }
  finish_outputs(&out);
  if (opt.summary == nullptr && !opt.quiet)
    fit_write_summary(stderr, &opt, &data, &model);
  return 0;
}
