// main.cc - pravlin-analyze's driver: command line, reading and checking the
// configuration as pravlin does, then the analysis on standard output.
// Part of pravlin; see README.md.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "analyze.h"
#include "analyze_horizon.h"
#include "analyze_json.h"
#include "analyze_notes.h"
#include "analyze_passage.h"
#include "analyze_report.h"
#include "analyze_requests.h"
#include "analyze_roots.h"
#include "analyze_states.h"
#include "config.h"
#include "options.h"
#include "output_file.h"
#include "periods.h"
#include "version.h"

static const char USAGE[] =
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
    "\n"
    "  --steps N          also print the distribution after N steps from the initial\n"
    "                     probabilities\n"
    "  --precision D      print numbers with D digits after the point (default 6)\n"
    "  --target S[,S...]  also print, from every state, the probability of ever reaching the\n"
    "                     states S and the expected steps to do so; for one state that every\n"
    "                     state reaches, mean first passage and return times\n"
    "  --passage N        with --target, also print P(T = n) for n = 1..N, T the first step\n"
    "                     on a target from the initial probabilities\n"
    "  --committor A:B    also print, from every state, the probability of reaching the states\n"
    "                     B before the states A, each separated by commas\n"
    "  --lump value|coarsest|FILE\n"
    "                     also check that the states of equal value, or the blocks of FILE\n"
    "                     (lines: state block), lump into a Markov chain, or find the coarsest\n"
    "                     partition that does and refines the values; print the lumped chain\n"
    "  --lump-tolerance EPS  how far lumped probabilities may differ (default 1e-9)\n"
    "  -o FILE            with --lump, also write the lumped chain to FILE as a configuration;\n"
    "                     with --root or --power, the converted chain\n"
    "  --eigen K          also print each closed class's spectrum: SLEM, spectral gap,\n"
    "                     relaxation time and the K eigenvalues of largest modulus with their\n"
    "                     implied timescales\n"
    "  --mixing EPS       also print each closed class's mixing time: the first step at which\n"
    "                     every start is within total variation distance EPS (0 < EPS < 1) of\n"
    "                     the stationary distribution; bounds for a large class\n"
    "  --kemeny           also print each closed class's Kemeny constant; estimated, with a\n"
    "                     95% interval, for a large class\n"
    "  --spectral         all three, with K 2 and EPS 0.25 unless given\n"
    "  --root K           also print the K-th root of the matrix, the chain of a step of 1/K\n"
    "                     (a month of a yearly chain: 12), whether it exists as a chain, and\n"
    "                     if not, why\n"
    "  --generator        also print the generator Q (exp(Q) = P) in the same way\n"
    "  --repair qo|da|wa  with --root or --generator, repair a root that is no chain (a\n"
    "                     logarithm that is no generator) by this method, and print how far\n"
    "                     its K-th power (its exponential) lands from the chain\n"
    "  --power K          also print P^K, the chain of K steps (a year of a monthly chain: 12)\n"
    "  --dot FILE         also write the chain to FILE as a Graphviz drawing (dot -Tsvg)\n"
    "  --json             print everything as one JSON document instead of text\n"
    "  --only SECTION[,SECTION...]\n"
    "                     print only these sections of the text: structure, stationary,\n"
    "                     recurrence, entropy, solver, absorption, steps, hitting, rewards,\n"
    "                     committor, passage, lumping, spectrum, mixing, kemeny, horizon,\n"
    "                     conversion\n"
    "  --per-state-max N  leave out the lines of one state each when the chain has more than\n"
    "                     N states, saying so (default 2000)\n"
    "  --horizon T        also print the path from the initial probabilities over steps\n"
    "                     0..T: the distribution, the expected value of the states and its\n"
    "                     total, the probability of having been absorbed, the steps spent\n"
    "  --discount R       with --horizon, discount step t's value by 1/(1 + R)^t (R > -1)\n"
    "  --cycle-correction none|half|trapezoid|simpson\n"
    "                     with --horizon, how the total weighs the steps (default none)\n"
    "  --horizon-csv FILE\n"
    "                     with --horizon, also write the path to FILE as CSV: a line a step,\n"
    "                     a column a state\n"
    "\n"
    "Each option is given once.\n"
    "\n"
    "A state S is given by its name, or as #N for the state numbered N: --target '#6' is\n"
    "state 6, --target 6 the state named \"6\". A bare number that is no name is a state\n"
    "number, unless some name is a number: then write #N.\n"
    "\n"
    "Writes no report file and simulates nothing. The exit status is 0 after a complete\n"
    "analysis and 1 after any error. See pravlin-analyze(1).\n";

// The options of the command line, each of which may be given once: a second would silently
// replace the first. ORDER OPTION: the names that once() is called with.
static const char* const ONCE[] = {"--steps",
                                   "--precision",
                                   "--eigen",
                                   "--mixing",
                                   "--kemeny",
                                   "--spectral",
                                   "--dot",
                                   "--json",
                                   "--target",
                                   "--committor",
                                   "--passage",
                                   "--lump",
                                   "--lump-tolerance",
                                   "-o",
                                   "--only",
                                   "--per-state-max",
                                   "--horizon",
                                   "--discount",
                                   "--cycle-correction",
                                   "--horizon-csv",
                                   "--root",
                                   "--generator",
                                   "--power",
                                   "--repair"};

// Refuses option a when the option it spells (-o and --output are one) was given before.
static void once(const char* a, std::vector<char>* given) {
  const char* name = std::strcmp(a, "--output") == 0 ? "-o" : a;
  for (std::size_t k = 0; k < sizeof ONCE / sizeof ONCE[0]; k++) {
    if (std::strcmp(name, ONCE[k]) != 0)
      continue;
    if ((*given)[k])
      fail(" *** ERROR: %s is given twice; each option is given once\n", a);
    (*given)[k] = 1;
  }
}

// Takes the conversion of option a, refusing a second: each converts one way.
static void conversion(const char* a, int kind, ANALYZE_OPTIONS* opt) {
  if (opt->conversion != CONVERSION_NONE)
    fail(" *** ERROR: %s: --root, --generator and --power convert one way at a time\n", a);
  opt->conversion = kind;
}

// Fills opt and returns the configuration's name; does not return on a bad command line.
static const char* parse_command_line(int argc, char** argv, ANALYZE_OPTIONS* opt) {
  const char* file = nullptr;
  std::vector<char> given(sizeof ONCE / sizeof ONCE[0], 0);
  bool per_state_given = false;
  opt->precision = 6;
  opt->steps = -1;
  opt->dot_file = nullptr;
  opt->json = 0;
  opt->target = nullptr;
  opt->committor = nullptr;
  opt->passage = 0;
  opt->lump = nullptr;
  opt->lump_tolerance = LUMP_TOLERANCE;
  opt->output = nullptr;
  const char* tolerance = nullptr;
  opt->eigen = 0;
  opt->mixing = 0.0;
  opt->kemeny = 0;
  opt->spectral = 0;
  opt->only = 0;
  opt->per_state_max = PER_STATE_MAX;
  opt->horizon = -1;
  opt->discounted = 0;
  opt->discount = 0.0;
  opt->correction = CORRECTION_NONE;
  opt->csv = nullptr;
  const char* horizon_option = nullptr;  // the first option that needs --horizon
  opt->conversion = CONVERSION_NONE;
  opt->conversion_k = 0;
  opt->repair = REPAIR_NONE;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    if (a[0] == '-')
      once(a, &given);
    bool help = std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0;
    if (help || std::strcmp(a, "--version") == 0) {
      if (help) {
        std::fputs(USAGE, stdout);
      } else {
        std::fputs("pravlin-analyze " PRAVLIN_VERSION "\n", stdout);
        std::fputs(PRAVLIN_LICENCE, stdout);
      }
      if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        fail(" *** ERROR: Unable to write file (%s)\n", "stdout");
      }
      std::exit(0);
    } else if (std::strcmp(a, "--steps") == 0) {
      const char* v = i + 1 < argc ? argv[++i] : "";
      opt->steps = parse_count(v, 0, 1000000000L);
      if (opt->steps < 0) {
        fail(" *** ERROR: --steps needs a number of steps from 0 to 1000000000, not (%s)\n", v);
      }
    } else if (std::strcmp(a, "--precision") == 0) {
      const char* v = i + 1 < argc ? argv[++i] : "";
      long d = parse_count(v, 0, 40);
      if (d < 0) {
        fail(" *** ERROR: --precision needs a number of digits from 0 to 40, not (%s)\n", v);
      }
      opt->precision = static_cast<int>(d);
    } else if (std::strcmp(a, "--eigen") == 0) {
      const char* v = i + 1 < argc ? argv[++i] : "";
      const long k = parse_count(v, 1, 1000000000L);
      if (k < 0) {
        fail(
            " *** ERROR: --eigen needs a number of eigenvalues from 1 to the size of the largest "
            "closed class, not (%s)\n",
            v);
      }
      opt->eigen = static_cast<int>(k);
    } else if (std::strcmp(a, "--mixing") == 0) {
      const char* v = i + 1 < argc ? argv[++i] : "";
      char* end = nullptr;
      const double eps = std::strtod(v, &end);
      if (*v == '\0' || *end != '\0' || !(eps > 0.0 && eps < 1.0))
        fail(" *** ERROR: --mixing needs a distance above 0 and below 1, not (%s)\n", v);
      opt->mixing = eps;
    } else if (std::strcmp(a, "--kemeny") == 0) {
      opt->kemeny = 1;
    } else if (std::strcmp(a, "--spectral") == 0) {
      opt->spectral = 1;
    } else if (std::strcmp(a, "--dot") == 0) {
      opt->dot_file = i + 1 < argc ? argv[++i] : "";
      if (*opt->dot_file == '\0')
        fail(" *** ERROR: --dot needs the name of the file to write\n");
    } else if (std::strcmp(a, "--json") == 0) {
      opt->json = 1;
    } else if (std::strcmp(a, "--target") == 0) {
      opt->target = i + 1 < argc ? argv[++i] : "";
      if (*opt->target == '\0')
        fail(" *** ERROR: --target needs states, by name or as #N, separated by commas\n");
    } else if (std::strcmp(a, "--committor") == 0) {
      opt->committor = i + 1 < argc ? argv[++i] : "";
    } else if (std::strcmp(a, "--passage") == 0) {
      const char* v = i + 1 < argc ? argv[++i] : "";
      opt->passage = parse_count(v, 1, PASSAGE_MAX_STEPS);
      if (opt->passage < 0) {
        fail(" *** ERROR: --passage needs a number of steps from 1 to %ld, not (%s)\n",
             PASSAGE_MAX_STEPS, v);
      }
    } else if (std::strcmp(a, "--lump") == 0) {
      opt->lump = i + 1 < argc ? argv[++i] : "";
      if (*opt->lump == '\0') {
        fail(
            " *** ERROR: --lump needs value, coarsest or the name of a file of states and "
            "their blocks\n");
      }
    } else if (std::strcmp(a, "--lump-tolerance") == 0) {
      tolerance = i + 1 < argc ? argv[++i] : "";
      char* end = nullptr;
      const double v = std::strtod(tolerance, &end);
      if (*tolerance == '\0' || *end != '\0' || !(v >= 0.0 && v < 1.0))
        fail(" *** ERROR: --lump-tolerance needs a number from 0 to 1, not (%s)\n", tolerance);
      opt->lump_tolerance = v;
    } else if (std::strcmp(a, "--only") == 0) {
      const char* v = i + 1 < argc ? argv[++i] : "";
      std::string bad;
      opt->only = parse_sections(v, &bad);
      if (opt->only == 0) {
        fail(" *** ERROR: --only needs sections separated by commas, of %s; not (%s)\n",
             section_names(), bad.c_str());
      }
    } else if (std::strcmp(a, "--per-state-max") == 0) {
      const char* v = i + 1 < argc ? argv[++i] : "";
      opt->per_state_max = parse_count(v, 0, 2147483647L);
      per_state_given = true;
      if (opt->per_state_max < 0) {
        fail(
            " *** ERROR: --per-state-max needs a number of states from 0 to 2147483647, not (%s)\n",
            v);
      }
    } else if (std::strcmp(a, "--root") == 0 || std::strcmp(a, "--power") == 0) {
      const char* v = i + 1 < argc ? argv[++i] : "";
      conversion(a, a[2] == 'r' ? CONVERSION_ROOT : CONVERSION_POWER, opt);
      opt->conversion_k = parse_count(v, 2, 1000000000L);
      if (opt->conversion_k < 0)
        fail(" *** ERROR: %s needs a whole number from 2 to 1000000000, not (%s)\n", a, v);
    } else if (std::strcmp(a, "--generator") == 0) {
      conversion(a, CONVERSION_GENERATOR, opt);
    } else if (std::strcmp(a, "--repair") == 0) {
      const char* v = i + 1 < argc ? argv[++i] : "";
      opt->repair = conversion_repair_named(v);
      if (opt->repair == REPAIR_NONE)
        fail(" *** ERROR: --repair needs qo, da or wa, not (%s)\n", v);
    } else if (std::strcmp(a, "--horizon") == 0) {
      const char* v = i + 1 < argc ? argv[++i] : "";
      opt->horizon = parse_count(v, 0, HORIZON_MAX_STEPS);
      if (opt->horizon < 0) {
        fail(" *** ERROR: --horizon needs a number of steps from 0 to %ld, not (%s)\n",
             HORIZON_MAX_STEPS, v);
      }
    } else if (std::strcmp(a, "--discount") == 0) {
      const char* v = i + 1 < argc ? argv[++i] : "";
      char* end = nullptr;
      opt->discount = std::strtod(v, &end);
      if (*v == '\0' || *end != '\0' || !std::isfinite(opt->discount) || !(opt->discount > -1.0))
        fail(" *** ERROR: --discount needs a rate per step above -1, not (%s)\n", v);
      opt->discounted = 1;
      horizon_option = horizon_option != nullptr ? horizon_option : a;
    } else if (std::strcmp(a, "--cycle-correction") == 0) {
      const char* v = i + 1 < argc ? argv[++i] : "";
      opt->correction = parse_correction(v);
      if (opt->correction < 0) {
        fail(" *** ERROR: --cycle-correction needs none, half, trapezoid or simpson, not (%s)\n",
             v);
      }
      horizon_option = horizon_option != nullptr ? horizon_option : a;
    } else if (std::strcmp(a, "--horizon-csv") == 0) {
      opt->csv = i + 1 < argc ? argv[++i] : "";
      if (*opt->csv == '\0')
        fail(" *** ERROR: --horizon-csv needs the name of the file to write\n");
      horizon_option = horizon_option != nullptr ? horizon_option : a;
    } else if (std::strcmp(a, "-o") == 0 || std::strcmp(a, "--output") == 0) {
      opt->output = i + 1 < argc ? argv[++i] : "";
      if (*opt->output == '\0')
        fail(" *** ERROR: %s needs the name of the file to write\n", a);
    } else if (a[0] == '-' && a[1] != '\0') {
      fail(" *** ERROR: unknown option (%s); see pravlin-analyze --help\n", a);
    } else if (file != nullptr) {
      fail(" *** ERROR: more than one configuration file (%s)\n", a);
    } else {
      file = a;
    }
  }
  if (file == nullptr)
    fail(" *** ERROR: input xml filename not specified\n");
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
  return file;
}

// The whole analysis. Every table it builds grows with the chain, and none has a second way
// when memory runs out: main turns a failed allocation anywhere into one message.
static void analyze(const char* file, const ANALYZE_OPTIONS* opt) {
  // Static, as in pravlin's driver: the tables and the document tree are kept until the process
  // ends and must stay reachable after main returns, or leak checkers would report them.
  static PRAVLIN pv;
  // Checked before anything is printed: the drawing, the lumped chain or standard output onto
  // the configuration or the lump file, however its name is spelt, is refused.
  output_note_input(file);
  if (opt->lump != nullptr && lump_reads_file(opt->lump))
    output_note_input(opt->lump);
  output_declare(nullptr);
  if (opt->dot_file != nullptr)
    output_declare(opt->dot_file);
  if (opt->output != nullptr)
    output_declare(opt->output);
  if (opt->csv != nullptr)
    output_declare(opt->csv);
  init_pravlin(&pv);
  pv.xmlfilename = const_cast<char*>(file);
  hint_xml_declaration(file);
  open_configuration(&pv);

  std::vector<TRANSITION_ENTRY> transitions;
  read_configuration(&pv, READ_LIST, 0, &transitions);
  std::vector<READ_NOTE> notes;
  collect_read_notes(&pv, transitions, &notes);
  // A chain whose matrix changes with the step is read with the last period's transitions, which
  // every analysis then describes; the periods stay in pv.periods.
  if (pv.periods != nullptr) {
    const CHAIN_PERIOD& last = pv.periods->list.back();
    notes.push_back(READ_NOTE{"last_period", "period", "", "",
                              "the matrix changes with the step over " +
                                  std::to_string(pv.periods->list.size()) +
                                  " periods: every analysis below describes the last one, "
                                  "steps " +
                                  std::to_string(last.first) + " and after" +
                                  (opt->horizon >= 0 ? "; the horizon follows each period" : "")});
  }
  // The periods' rows are checked in the order the configuration gives them.
  ANALYSIS_REQUESTS requests;
  if (opt->horizon >= 0)
    read_horizon_periods(&pv, &requests.periods);
  error_check_transitions(&pv, &transitions);
  std::vector<int> targets;
  if (opt->target != nullptr)
    resolve_states(&pv, opt->target, "--target", &targets);
  read_requests(&pv, opt, &requests);
  if (opt->conversion != CONVERSION_NONE)
    check_conversion_size(opt->conversion, pv.nbr_states);
  if (!opt->json)
    print_read_notes(stdout, notes);
  SPARSE_CHAIN chain;
  sparse_chain_from_list(&chain, pv.nbr_states, transitions);
  transitions = std::vector<TRANSITION_ENTRY>();
  if (opt->json) {
    print_analysis_json(stdout, &pv, &chain, opt, notes, targets, &requests);
    return;
  }
  print_analysis(stdout, &pv, &chain, opt, targets, &requests);
}

int main(int argc, char** argv) {
  ANALYZE_OPTIONS opt;
  const char* file = parse_command_line(argc, argv, &opt);
  set_per_state_max(opt.per_state_max);
  try {
    analyze(file, &opt);
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    fail(" *** ERROR: out of memory in pravlin-analyze\n");
  } catch (const std::length_error&) {  // a size no vector can hold
    std::fflush(stdout);
    fail(" *** ERROR: out of memory in pravlin-analyze\n");
  }
  // A full disk or a closed stream would otherwise pass for a complete analysis.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    fail(" *** ERROR: Unable to write file (%s)\n", "stdout");
  }
  return 0;
}
