// main.cc - the driver: command line, the stages of a run in their fixed order, exit status.
// Part of pravlin; see README.md.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pravlin.h"

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
    "Usage: pravlin CONFIG.xml\n"
    "       pravlin --help | -h | --version\n"
    "\n"
    "Reads a discrete-time Markov chain from the XML file CONFIG.xml, simulates its chains,\n"
    "solves for its steady state and writes a comma-separated report to the file the\n"
    "configuration names, or to standard output. Messages go to standard error; the exit\n"
    "status is 0 after a complete run and 1 after any error.\n"
    "See pravlin(1) for the configuration format and the report.\n";

// The lines after the name and version in every pravlin program's answer to --version.
static const char LICENCE[] =
    "Copyright (c) 2026 the pravlin authors\n"
    "MIT licence: free to use, change and share, with no warranty; see LICENSE.\n";

// Only as the sole argument: "pravlin model.xml --help" is a run on model.xml, as before.
static void answer_option(int argc, char** argv) {
  if (argc != 2)
    return;
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(USAGE, stdout);
  } else if (std::strcmp(argv[1], "--version") == 0) {
    std::fputs("pravlin " PRAVLIN_VERSION "\n", stdout);
    std::fputs(LICENCE, stdout);
  } else {
    return;
  }
  // An answer that could not be written is a failure, as an unwritten report is.
  check_stdout();
  std::exit(0);
}

int main(int argc, char** argv) {
  answer_option(argc, argv);
  // Static, not on the stack: the tables and the document tree are kept until the process ends,
  // and after main returns they must still be reachable through the record, or LeakSanitizer
  // and valgrind would report memory the run keeps on purpose as lost.
  static PRAVLIN pv;
  init_pravlin(&pv);
  hold_closed_standard_streams();

  if (argc < 2)
    fail(" *** ERROR: input xml filename not specified\n");
  pv.xmlfilename = argv[1];
  open_configuration(&pv);

  read_xml_file(&pv);
  run_pravlin(&pv);
  return 0;
}
