// merge_options.cc - pravlin-merge's option table and the checks of each option's value.
// Part of pravlin; see README.md.
#include "merge_options.h"

#include <climits>

#include "fail.h"
#include "options.h"

// ORDER MERGE_OPTION
enum { OPT_CHAINS, OPT_CONFIG };
static const OPTION OPTIONS[] = {
    {nullptr, "--chains", "N", "the run has N chains", nullptr, nullptr},
    {nullptr, "--config", "CONFIG.xml",
     "the run's configuration: its chains, steps, header and cells", nullptr, nullptr},
};

const OPTION_TABLE MERGE_OPTIONS = {
    OPTIONS,
    sizeof OPTIONS / sizeof OPTIONS[0],
    23,
    "Usage: pravlin-merge [--chains N] [--config CONFIG.xml] SLICE...\n"
    "       pravlin-merge --help | -h | --version\n"
    "\n"
    "Joins the reports of slices of one pravlin run (pravlin --chains A-B CONFIG.xml), given in\n"
    "the order of their chains from chain 1 on, into the report of the whole run, on standard\n"
    "output. Reads one line of each slice at a time, and refuses slices it cannot prove whole:\n"
    "a line cut short, chains missing or out of order, steps or cells that differ from slice to\n"
    "slice, or counts of chains and steps other than the run's.\n"
    "\n",
    "\n"
    "A header (the first slice's, when the run writes one) states the run's chains and steps.\n"
    "Without a header, --chains or --config, chains missing after the last slice cannot be\n"
    "seen, and a warning says so. See pravlin-merge(1).\n",
    nullptr,
    true,
    true,
};

int parse_merge_command_line(int argc, char** argv, MERGE_RUN* x) {
  OPTION_PARSE parse;
  for (;;) {
    const OPTION_FOUND o = next_option(&MERGE_OPTIONS, argc, argv, &parse);
    const char* v = o.value != nullptr ? o.value : "";
    switch (o.index) {
      case OPTION_END:
        return argc;
      case OPTION_OPERAND:
        return parse.next - 1;
      case OPTION_UNKNOWN:
        fail(" *** ERROR: unknown option (%s); see pravlin-merge --help\n", o.written);
      case OPT_CHAINS:
        if (o.times > 1)
          fail(" *** ERROR: --chains given twice\n");
        x->chains = parse_count(v, 1, INT_MAX);
        if (x->chains < 0)
          fail(" *** ERROR: --chains needs a number from 1 to 2147483647, not (%s)\n", v);
        break;
      case OPT_CONFIG:
        if (o.times > 1)
          fail(" *** ERROR: --config given twice\n");
        x->config = v;
        if (*x->config == '\0')
          fail(" *** ERROR: --config needs the run's configuration file\n");
        break;
    }
  }
}
