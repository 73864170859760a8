// analyze_options.cc - pravlin-analyze's option table, each option's value checked, and the
// options checked together.
// Part of pravlin; see README.md.
#include "analyze_options.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "analyze_horizon.h"
#include "analyze_lump.h"
#include "analyze_passage.h"
#include "analyze_roots.h"
#include "analyze_states.h"
#include "fail.h"
#include "options.h"
#include "version.h"

// ORDER ANALYZE_OPTION
enum {
  OPT_HELP,
  OPT_VERSION,
  OPT_OUTPUT_LONG,
  OPT_STEPS,
  OPT_PRECISION,
  OPT_TARGET,
  OPT_PASSAGE,
  OPT_COMMITTOR,
  OPT_LUMP,
  OPT_LUMP_TOLERANCE,
  OPT_OUTPUT,
  OPT_EIGEN,
  OPT_MIXING,
  OPT_KEMENY,
  OPT_SPECTRAL,
  OPT_ROOT,
  OPT_GENERATOR,
  OPT_REPAIR,
  OPT_POWER,
  OPT_DOT,
  OPT_JSON,
  OPT_ONLY,
  OPT_PER_STATE_MAX,
  OPT_HORIZON,
  OPT_DISCOUNT,
  OPT_CYCLE_CORRECTION,
  OPT_HORIZON_CSV
};
static const OPTION OPTIONS[] = {
    {"-h", "--help", nullptr, nullptr, nullptr, nullptr},
    {nullptr, "--version", nullptr, nullptr, nullptr, nullptr},
    // -o is also --output, not listed in --help.
    {nullptr, "--output", "FILE", nullptr, "output", nullptr},
    {nullptr, "--steps", "N",
     "also print the distribution after N steps from the initial\n"
     "probabilities",
     nullptr, nullptr},
    {nullptr, "--precision", "D", "print numbers with D digits after the point (default 6)",
     nullptr, nullptr},
    {nullptr, "--target", "S[,S...]",
     "also print, from every state, the probability of ever reaching the\n"
     "states S and the expected steps to do so; for one state that every\n"
     "state reaches, mean first passage and return times",
     nullptr, nullptr},
    {nullptr, "--passage", "N",
     "with --target, also print P(T = n) for n = 1..N, T the first step\n"
     "on a target from the initial probabilities",
     nullptr, nullptr},
    {nullptr, "--committor", "A:B",
     "also print, from every state, the probability of reaching the states\n"
     "B before the states A, each separated by commas",
     nullptr, nullptr},
    {nullptr, "--lump", "value|coarsest|FILE",
     "\n"
     "also check that the states of equal value, or the blocks of FILE\n"
     "(lines: state block), lump into a Markov chain, or find the coarsest\n"
     "partition that does and refines the values; print the lumped chain",
     nullptr, nullptr},
    {nullptr, "--lump-tolerance", "EPS", "how far lumped probabilities may differ (default 1e-9)",
     nullptr, nullptr},
    {"-o", nullptr, "FILE",
     "with --lump, also write the lumped chain to FILE as a configuration;\n"
     "with --root or --power, the converted chain",
     "output", nullptr},
    {nullptr, "--eigen", "K",
     "also print each closed class's spectrum: SLEM, spectral gap,\n"
     "relaxation time and the K eigenvalues of largest modulus with their\n"
     "implied timescales",
     nullptr, nullptr},
    {nullptr, "--mixing", "EPS",
     "also print each closed class's mixing time: the first step at which\n"
     "every start is within total variation distance EPS (0 < EPS < 1) of\n"
     "the stationary distribution; bounds for a large class",
     nullptr, nullptr},
    {nullptr, "--kemeny", nullptr,
     "also print each closed class's Kemeny constant; estimated, with a\n"
     "95% interval, for a large class",
     nullptr, nullptr},
    {nullptr, "--spectral", nullptr, "all three, with K 2 and EPS 0.25 unless given", nullptr,
     nullptr},
    {nullptr, "--root", "K",
     "also print the K-th root of the matrix, the chain of a step of 1/K\n"
     "(a month of a yearly chain: 12), whether it exists as a chain, and\n"
     "if not, why",
     "conversion", nullptr},
    {nullptr, "--generator", nullptr, "also print the generator Q (exp(Q) = P) in the same way",
     "conversion", nullptr},
    {nullptr, "--repair", "qo|da|wa",
     "with --root or --generator, repair a root that is no chain (a\n"
     "logarithm that is no generator) by this method, and print how far\n"
     "its K-th power (its exponential) lands from the chain",
     nullptr, nullptr},
    {nullptr, "--power", "K",
     "also print P^K, the chain of K steps (a year of a monthly chain: 12)", "conversion", nullptr},
    {nullptr, "--dot", "FILE", "also write the chain to FILE as a Graphviz drawing (dot -Tsvg)",
     nullptr, nullptr},
    {nullptr, "--json", nullptr, "print everything as one JSON document instead of text", nullptr,
     nullptr},
    {nullptr, "--only", "SECTION[,SECTION...]",
     "\n"
     "print only these sections of the text: structure, stationary,\n"
     "recurrence, entropy, solver, absorption, steps, hitting, rewards,\n"
     "committor, passage, lumping, spectrum, mixing, kemeny, horizon,\n"
     "conversion",
     nullptr, nullptr},
    {nullptr, "--per-state-max", "N",
     "leave out the lines of one state each when the chain has more than\n"
     "N states, saying so (default 2000)",
     nullptr, nullptr},
    {nullptr, "--horizon", "T",
     "also print the path from the initial probabilities over steps\n"
     "0..T: the distribution, the expected value of the states and its\n"
     "total, the probability of having been absorbed, the steps spent",
     nullptr, nullptr},
    {nullptr, "--discount", "R", "with --horizon, discount step t's value by 1/(1 + R)^t (R > -1)",
     nullptr, nullptr},
    {nullptr, "--cycle-correction", "none|half|trapezoid|simpson",
     "\n"
     "with --horizon, how the total weighs the steps (default none)",
     nullptr, nullptr},
    {nullptr, "--horizon-csv", "FILE",
     "\n"
     "with --horizon, also write the path to FILE as CSV: a line a step,\n"
     "a column a state",
     nullptr, nullptr},
};

const OPTION_TABLE ANALYZE_OPTION_TABLE = {
    OPTIONS,
    sizeof OPTIONS / sizeof OPTIONS[0],
    21,
    "Usage: pravlin-analyze CONFIG.xml [--steps N] [--precision D] [--target S[,S...]]\n"
    "                       [--passage N] [--committor A:B] [--lump value|coarsest|FILE]\n"
    "                       [--lump-tolerance EPS] [-o FILE] [--eigen K] [--mixing EPS]\n"
    "                       [--kemeny] [--spectral] [--dot FILE] [--json]\n"
    "                       [--only SECTION[,SECTION...]] [--per-state-max N]\n"
    "                       [--horizon T] [--discount R]\n"
    "                       [--cycle-correction none|half|trapezoid|simpson]\n"
    "                       [--horizon-csv FILE]\n"
    "                       [--root K | --generator | --power K] [--repair qo|da|wa]\n"
    "       pravlin-analyze --help | -h | --version\n"
    "\n"
    "Reads a discrete-time Markov chain from CONFIG.xml as pravlin does (same checks and\n"
    "messages) and prints its structure: communicating classes, closed or transient, their\n"
    "periods, the absorbing states; the stationary distribution and mean recurrence times of\n"
    "each closed class; with several closed classes, the long run from the initial\n"
    "probabilities; whether pravlin's squaring solver can converge, and how far its answer is\n"
    "from the exact one; expected steps to absorption and absorption probabilities from the\n"
    "transient states; the entropy rate and reversibility of each closed class; with values,\n"
    "rewards. Notes first list every place where the file was read leniently (a\n"
    "number read only partly, a keyword not recognised, a name matched on its first 8\n"
    "characters, ...).\n"
    "\n",
    "\n"
    "Each option is given once.\n"
    "\n"
    "A state S is given by its name, or as #N for the state numbered N: --target '#6' is\n"
    "state 6, --target 6 the state named \"6\". A bare number that is no name is a state\n"
    "number, unless some name is a number: then write #N.\n"
    "\n"
    "Writes no report file and simulates nothing. The exit status is 0 after a complete\n"
    "analysis and 1 after any error. See pravlin-analyze(1).\n",
    "xml",
    false,
    false,
};

const char ANALYZE_VERSION_TEXT[] = "pravlin-analyze " PRAVLIN_VERSION "\n" PRAVLIN_LICENCE;

// A real number filling the whole of text, or NaN.
static double real_value(const char* text) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  return *text == '\0' || *end != '\0' ? std::nan("") : v;
}

// The options that go together only in some ways, once all are read. horizon_option is the
// first given that needs --horizon, tolerance the value of --lump-tolerance; both null when
// not given.
static void check_options(const ANALYZE_OPTIONS* opt, bool per_state_given,
                          const char* horizon_option, const char* tolerance) {
  if (opt->passage > 0 && opt->target == nullptr)
    fail(" *** ERROR: --passage needs --target, the states whose first passage it gives\n");
  // The JSON document is always whole: a program reads it, not a person.
  if (opt->json && (opt->only != 0 || per_state_given))
    fail(" *** ERROR: %s chooses what the text shows; --json gives everything\n",
         opt->only != 0 ? "--only" : "--per-state-max");
  if (opt->horizon < 0 && horizon_option != nullptr)
    fail(" *** ERROR: %s needs --horizon\n", horizon_option);
  if (opt->lump == nullptr && tolerance != nullptr)
    fail(" *** ERROR: --lump-tolerance needs --lump\n");
  if (opt->repair != REPAIR_NONE && opt->conversion != CONVERSION_ROOT &&
      opt->conversion != CONVERSION_GENERATOR)
    fail(" *** ERROR: --repair needs --root or --generator\n");
  // -o writes one chain.
  if (opt->output != nullptr) {
    if (opt->lump != nullptr && opt->conversion != CONVERSION_NONE)
      fail(" *** ERROR: -o writes one chain: the lumped one or the converted one, not both\n");
    if (opt->conversion == CONVERSION_GENERATOR) {
      fail(
          " *** ERROR: -o writes a chain; --generator gives rates, which no configuration "
          "holds\n");
    }
    if (opt->lump == nullptr && opt->conversion == CONVERSION_NONE)
      fail(" *** ERROR: -o needs --lump, --root or --power\n");
  }
  // A section that an option asks for comes only with it: named in --only without it, it would
  // leave nothing in its place, and say nothing.
  const struct {
    unsigned section;
    const char* name;
    bool asked;
    const char* option;
  } optional[] = {
      {SECTION_STEPS, "steps", opt->steps >= 0, "--steps"},
      {SECTION_HITTING, "hitting", opt->target != nullptr, "--target"},
      {SECTION_COMMITTOR, "committor", opt->committor != nullptr, "--committor"},
      {SECTION_PASSAGE, "passage", opt->passage > 0, "--passage"},
      {SECTION_LUMPING, "lumping", opt->lump != nullptr, "--lump"},
      {SECTION_SPECTRUM, "spectrum", opt->eigen > 0 || opt->spectral, "--eigen or --spectral"},
      {SECTION_MIXING, "mixing", opt->mixing > 0.0 || opt->spectral, "--mixing or --spectral"},
      {SECTION_KEMENY, "kemeny", opt->kemeny || opt->spectral, "--kemeny or --spectral"},
      {SECTION_HORIZON, "horizon", opt->horizon >= 0, "--horizon"},
      {SECTION_CONVERSION, "conversion", opt->conversion != CONVERSION_NONE,
       "--root, --generator or --power"},
  };
  for (const auto& o : optional) {
    if ((opt->only & o.section) != 0 && !o.asked)
      fail(" *** ERROR: --only names %s, a section that comes only with %s\n", o.name, o.option);
  }
}

const char* parse_analyze_command_line(int argc, char** argv, ANALYZE_OPTIONS* opt) {
  const char* file = nullptr;
  bool per_state_given = false;
  const char* tolerance = nullptr;
  const char* horizon_option = nullptr;  // the first option that needs --horizon
  *opt = analyze_defaults();
  OPTION_PARSE parse;
  for (;;) {
    const OPTION_FOUND o = next_option(&ANALYZE_OPTION_TABLE, argc, argv, &parse);
    const char* a = o.written;
    if (o.index == OPTION_END)
      break;
    if (o.index == OPTION_UNKNOWN)
      fail(" *** ERROR: unknown option (%s); see pravlin-analyze --help\n", a);
    if (o.index == OPTION_OPERAND) {
      if (file != nullptr)
        fail(" *** ERROR: more than one configuration file (%s)\n", a);
      file = a;
      continue;
    }
    // Each option is given once: a second would silently replace the first. -o and --output
    // are one option.
    if (o.times > 1 ||
        (o.excluded != nullptr && (o.index == OPT_OUTPUT || o.index == OPT_OUTPUT_LONG)))
      fail(" *** ERROR: %s is given twice; each option is given once\n", a);
    // A missing value is an empty one, which each option's check refuses in its own words.
    const char* v = o.value != nullptr ? o.value : "";
    switch (o.index) {
      case OPT_HELP:
        answer(option_help(&ANALYZE_OPTION_TABLE));
      case OPT_VERSION:
        answer(ANALYZE_VERSION_TEXT);
      case OPT_STEPS:
        opt->steps = parse_count(v, 0, 1000000000L);
        if (opt->steps < 0)
          fail(" *** ERROR: --steps needs a number of steps from 0 to 1000000000, not (%s)\n", v);
        break;
      case OPT_PRECISION: {
        const long d = parse_count(v, 0, 40);
        if (d < 0)
          fail(" *** ERROR: --precision needs a number of digits from 0 to 40, not (%s)\n", v);
        opt->precision = static_cast<int>(d);
        break;
      }
      case OPT_EIGEN: {
        const long k = parse_count(v, 1, 1000000000L);
        if (k < 0) {
          fail(
              " *** ERROR: --eigen needs a number of eigenvalues from 1 to the size of the "
              "largest closed class, not (%s)\n",
              v);
        }
        opt->eigen = static_cast<int>(k);
        break;
      }
      case OPT_MIXING: {
        const double eps = real_value(v);
        if (!(eps > 0.0 && eps < 1.0))
          fail(" *** ERROR: --mixing needs a distance above 0 and below 1, not (%s)\n", v);
        opt->mixing = eps;
        break;
      }
      case OPT_KEMENY:
        opt->kemeny = 1;
        break;
      case OPT_SPECTRAL:
        opt->spectral = 1;
        break;
      case OPT_DOT:
        opt->dot_file = v;
        if (*v == '\0')
          fail(" *** ERROR: --dot needs the name of the file to write\n");
        break;
      case OPT_JSON:
        opt->json = 1;
        break;
      case OPT_TARGET:
        opt->target = v;
        if (*v == '\0')
          fail(" *** ERROR: --target needs states, by name or as #N, separated by commas\n");
        break;
      case OPT_COMMITTOR:
        opt->committor = v;
        break;
      case OPT_PASSAGE:
        opt->passage = parse_count(v, 1, PASSAGE_MAX_STEPS);
        if (opt->passage < 0) {
          fail(" *** ERROR: --passage needs a number of steps from 1 to %ld, not (%s)\n",
               PASSAGE_MAX_STEPS, v);
        }
        break;
      case OPT_LUMP:
        opt->lump = v;
        if (*v == '\0') {
          fail(
              " *** ERROR: --lump needs value, coarsest or the name of a file of states and "
              "their blocks\n");
        }
        break;
      case OPT_LUMP_TOLERANCE: {
        tolerance = v;
        const double t = real_value(v);
        if (!(t >= 0.0 && t < 1.0))
          fail(" *** ERROR: --lump-tolerance needs a number from 0 to 1, not (%s)\n", v);
        opt->lump_tolerance = t;
        break;
      }
      case OPT_ONLY: {
        std::string bad;
        opt->only = parse_sections(v, &bad);
        if (opt->only == 0) {
          fail(" *** ERROR: --only needs sections separated by commas, of %s; not (%s)\n",
               section_names(), bad.c_str());
        }
        break;
      }
      case OPT_PER_STATE_MAX:
        opt->per_state_max = parse_count(v, 0, 2147483647L);
        per_state_given = true;
        if (opt->per_state_max < 0) {
          fail(
              " *** ERROR: --per-state-max needs a number of states from 0 to 2147483647, not "
              "(%s)\n",
              v);
        }
        break;
      case OPT_ROOT:
      case OPT_POWER:
      case OPT_GENERATOR:
        // Each converts one way.
        if (o.excluded != nullptr)
          fail(" *** ERROR: %s: --root, --generator and --power convert one way at a time\n", a);
        opt->conversion = o.index == OPT_ROOT    ? CONVERSION_ROOT
                          : o.index == OPT_POWER ? CONVERSION_POWER
                                                 : CONVERSION_GENERATOR;
        if (o.index == OPT_GENERATOR)
          break;
        opt->conversion_k = parse_count(v, 2, 1000000000L);
        if (opt->conversion_k < 0)
          fail(" *** ERROR: %s needs a whole number from 2 to 1000000000, not (%s)\n", a, v);
        break;
      case OPT_REPAIR:
        opt->repair = conversion_repair_named(v);
        if (opt->repair == REPAIR_NONE)
          fail(" *** ERROR: --repair needs qo, da or wa, not (%s)\n", v);
        break;
      case OPT_HORIZON:
        opt->horizon = parse_count(v, 0, HORIZON_MAX_STEPS);
        if (opt->horizon < 0) {
          fail(" *** ERROR: --horizon needs a number of steps from 0 to %ld, not (%s)\n",
               HORIZON_MAX_STEPS, v);
        }
        break;
      case OPT_DISCOUNT:
        opt->discount = real_value(v);
        if (!std::isfinite(opt->discount) || !(opt->discount > -1.0))
          fail(" *** ERROR: --discount needs a rate per step above -1, not (%s)\n", v);
        opt->discounted = 1;
        horizon_option = horizon_option != nullptr ? horizon_option : a;
        break;
      case OPT_CYCLE_CORRECTION:
        opt->correction = parse_correction(v);
        if (opt->correction < 0) {
          fail(" *** ERROR: --cycle-correction needs none, half, trapezoid or simpson, not (%s)\n",
               v);
        }
        horizon_option = horizon_option != nullptr ? horizon_option : a;
        break;
      case OPT_HORIZON_CSV:
        opt->csv = v;
        if (*v == '\0')
          fail(" *** ERROR: --horizon-csv needs the name of the file to write\n");
        horizon_option = horizon_option != nullptr ? horizon_option : a;
        break;
      case OPT_OUTPUT:
      case OPT_OUTPUT_LONG:
        opt->output = v;
        if (*v == '\0')
          fail(" *** ERROR: %s needs the name of the file to write\n", a);
        break;
    }
  }
  if (file == nullptr)
    fail(" *** ERROR: input xml filename not specified\n");
  check_options(opt, per_state_given, horizon_option, tolerance);
  return file;
}
