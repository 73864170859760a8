// pravlin_options.cc - pravlin's option table and the reading of --chains A-B.
// Part of pravlin; see README.md.
#include "pravlin_options.h"

#include <climits>
#include <cstring>

#include "fail.h"

// ORDER PRAVLIN_OPTION
enum { OPT_CHAINS };
static const OPTION OPTIONS[] = {
    {nullptr, "--chains", "A-B",
     "simulate and write only chains A to B of the run, exactly as the whole run\n"
     "has them; the header, if any, comes with the slice that starts at chain 1.\n"
     "pravlin-merge joins the slices' reports into the whole run's. A report\n"
     "file the configuration names gets the range: credit.1-4.csv.",
     nullptr, nullptr},
};

const OPTION_TABLE PRAVLIN_OPTIONS = {
    OPTIONS,
    sizeof OPTIONS / sizeof OPTIONS[0],
    16,
    "Usage: pravlin [--chains A-B] CONFIG.xml\n"
    "       pravlin --help | -h | --version\n"
    "\n"
    "Reads a discrete-time Markov chain from the XML file CONFIG.xml, simulates its chains,\n"
    "solves for its steady state and writes a comma-separated report to the file the\n"
    "configuration names, or to standard output. Messages go to standard error; the exit\n"
    "status is 0 after a complete run and 1 after any error.\n"
    "\n",
    "\n"
    "See pravlin(1) for the configuration format and the report.\n",
    "xml",
    false,
    false,
};

// A number of a chain range: decimal digits only, at least 1, within an int; 0 otherwise.
static int chain_number(const char* begin, const char* end) {
  if (begin == end)
    return 0;
  long long v = 0;
  for (const char* p = begin; p != end; p++) {
    if (*p < '0' || *p > '9')
      return 0;
    v = v * 10 + (*p - '0');
    if (v > INT_MAX)
      return 0;
  }
  return static_cast<int>(v);
}

// The configuration file is the first argument that is not --chains or its range, whatever it
// looks like; "--chains" may stand before or after it, and any further arguments are ignored,
// as before.
const char* parse_pravlin_command_line(int argc, char** argv, CHAIN_RANGE* range) {
  const char* file = nullptr;
  *range = CHAIN_RANGE{0, 0, nullptr};
  OPTION_PARSE parse;
  for (;;) {
    const OPTION_FOUND o = next_option(&PRAVLIN_OPTIONS, argc, argv, &parse);
    if (o.index == OPTION_END)
      return file;
    if (o.index != OPT_CHAINS) {
      if (file == nullptr)
        file = o.written;
      continue;
    }
    if (o.times > 1)
      fail(" *** ERROR: --chains given twice\n");
    if (o.value == nullptr)
      fail(" *** ERROR: --chains needs a range of chains, as in --chains 1-1000\n");
    const char* text = o.value;
    const char* dash = std::strchr(text, '-');
    range->text = text;
    range->first = dash != nullptr ? chain_number(text, dash) : 0;
    range->last = dash != nullptr ? chain_number(dash + 1, text + std::strlen(text)) : 0;
    if (range->first == 0 || range->last == 0)
      fail(" *** ERROR: --chains (%s) is not a range A-B of chain numbers\n", text);
    if (range->last < range->first)
      fail(" *** ERROR: --chains (%s) ends before it starts\n", text);
  }
}
