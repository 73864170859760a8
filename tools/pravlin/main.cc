// main.cc - the driver: command line, the stages of a run in their fixed order, exit status.
// Part of pravlin; see README.md.
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config.h"
#include "pravlin.h"
#include "run.h"
#include "table_lines.h"
#include "version.h"

// A closed standard output or error would hand its descriptor to the next file opened, and the
// report file would then receive the progress marks, or messages. Each closed one is held by
// /dev/null opened for reading only, so writes to it still fail as they would on a closed one.
static void hold_closed_standard_streams() {
  for (int fd = 0; fd <= 2; fd++) {
    if (fcntl(fd, F_GETFD) == -1) {
      int held = open("/dev/null", O_RDONLY);
      if (held != fd && held >= 0)
        close(held);
    }
  }
}

static const char USAGE[] =
    "Usage: pravlin [--chains A-B] CONFIG.xml\n"
    "       pravlin --help | -h | --version\n"
    "\n"
    "Reads a discrete-time Markov chain from the XML file CONFIG.xml, simulates its chains,\n"
    "solves for its steady state and writes a comma-separated report to the file the\n"
    "configuration names, or to standard output. Messages go to standard error; the exit\n"
    "status is 0 after a complete run and 1 after any error.\n"
    "\n"
    "  --chains A-B  simulate and write only chains A to B of the run, exactly as the whole run\n"
    "                has them; the header, if any, comes with the slice that starts at chain 1.\n"
    "                pravlin-merge joins the slices' reports into the whole run's. A report\n"
    "                file the configuration names gets the range: credit.1-4.csv.\n"
    "\n"
    "See pravlin(1) for the configuration format and the report.\n";

// Only as the sole argument: "pravlin model.xml --help" is a run on model.xml, as before.
static void answer_option(int argc, char** argv) {
  if (argc != 2)
    return;
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(USAGE, stdout);
  } else if (std::strcmp(argv[1], "--version") == 0) {
    std::fputs("pravlin " PRAVLIN_VERSION "\n", stdout);
    std::fputs(PRAVLIN_LICENCE, stdout);
  } else {
    return;
  }
  // An answer that could not be written is a failure, as an unwritten report is.
  check_stdout();
  std::exit(0);
}

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

// Chains first..last of the run, from --chains A-B; first = 0 without the option.
struct ChainRange {
  int first;
  int last;
  const char* text;  // as given, for messages
};

// The configuration file is the first argument that is not --chains or its range; "--chains"
// may stand before or after it, and any further arguments are ignored, as before.
static const char* parse_arguments(int argc, char** argv, ChainRange* range) {
  const char* file = nullptr;
  *range = ChainRange{0, 0, nullptr};
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--chains") != 0) {
      if (file == nullptr)
        file = argv[i];
      continue;
    }
    if (range->text != nullptr)
      fail(" *** ERROR: --chains given twice\n");
    if (i + 1 == argc)
      fail(" *** ERROR: --chains needs a range of chains, as in --chains 1-1000\n");
    const char* text = argv[++i];
    const char* dash = std::strchr(text, '-');
    range->text = text;
    range->first = dash != nullptr ? chain_number(text, dash) : 0;
    range->last = dash != nullptr ? chain_number(dash + 1, text + std::strlen(text)) : 0;
    if (range->first == 0 || range->last == 0)
      fail(" *** ERROR: --chains (%s) is not a range A-B of chain numbers\n", text);
    if (range->last < range->first)
      fail(" *** ERROR: --chains (%s) ends before it starts\n", text);
  }
  return file;
}

int main(int argc, char** argv) {
  answer_option(argc, argv);
  // Static, not on the stack: the tables and the document tree are kept until the process ends,
  // and after main returns they must still be reachable through the record, or LeakSanitizer
  // and valgrind would report memory the run keeps on purpose as lost.
  static PRAVLIN pv;
  init_pravlin(&pv);
  hold_closed_standard_streams();

  ChainRange range;
  pv.xmlfilename = const_cast<char*>(parse_arguments(argc, argv, &range));
  if (pv.xmlfilename == nullptr)
    fail(" *** ERROR: input xml filename not specified\n");
  open_configuration(&pv);
  pv.first_chain = range.first;
  pv.last_chain = range.last;

  read_configuration(&pv, READ_FOR_RUN, 1);
  if (range.first == 0) {
    run_pravlin(&pv);
  } else {
    if (range.last > pv.nbr_chains)
      fail(" *** ERROR: --chains (%s) goes past nbr_chains (%d)\n", range.text, pv.nbr_chains);
    run_pravlin_chains(&pv, range.first, range.last);
  }
  return 0;
}
