// main.cc - the driver: command line, the stages of a run in their fixed order, exit status.
// Part of pravlin; see README.md.
#include <fcntl.h>
#include <unistd.h>

#include "config.h"
#include "pravlin.h"
#include "pravlin_options.h"
#include "run.h"
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

int main(int argc, char** argv) {
  // Only as the sole argument: "pravlin model.xml --help" is a run on model.xml, as before.
  answer_alone(argc, argv, &PRAVLIN_OPTIONS, "pravlin " PRAVLIN_VERSION "\n" PRAVLIN_LICENCE);
  // Static, not on the stack: the tables and the document tree are kept until the process ends,
  // and after main returns they must still be reachable through the record, or LeakSanitizer
  // and valgrind would report memory the run keeps on purpose as lost.
  static PRAVLIN pv;
  init_pravlin(&pv);
  hold_closed_standard_streams();

  CHAIN_RANGE range;
  pv.xmlfilename = const_cast<char*>(parse_pravlin_command_line(argc, argv, &range));
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
