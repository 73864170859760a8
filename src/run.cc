// run.cc - the stages of a run after reading, in their fixed order (run_pravlin), and of a
// slice of its chains (run_pravlin_chains).
// Part of pravlin; see README.md.
#include <cstdio>

#include "pravlin.h"
#include "sparse_read.h"
#include "stream.h"

// The marks follow the stage slots, not the stages that ran: with debug on there are five of
// them whatever calc_flag and print_header say.
static void progress_mark(const PRAVLIN* pv, const char* mark) {
  if (!pv->debug)
    return;
  std::printf("%s", mark);
  std::fflush(stdout);
}

void run_pravlin(PRAVLIN* pv) {
  run_pravlin_chains(pv, 0, 0);
}

void run_pravlin_chains(PRAVLIN* pv, int first, int last) {
  // A slice is drawn as it is written. Only the slice that starts at chain 1 solves for the
  // steady state and writes the header, so that the slices' reports put together are the
  // whole run's.
  const bool slice = first != 0;
  const bool head = !slice || first == 1;
  progress_mark(pv, "\n*");
  if (pv->sparse_transitions != nullptr) {
    error_check_sparse_rows(pv);
  } else {
    error_check_pravlin(pv);
  }
  if (slice) {
    simulate_without_table(pv, first, last);
  } else {
    create_all_pravlin(pv);
  }
  progress_mark(pv, "*");
  if (pv->calc_flag && head) {
    pv->actual_iteration =
        calc_steady_state(pv->transition_probability, pv->steady_state_probability, pv->nbr_states,
                          pv->max_iteration, pv->max_error, &pv->actual_error, pv->debug);
  }
  progress_mark(pv, "*");
  if (pv->print_header && head)
    printheader(pv->out, pv);
  progress_mark(pv, "*");
  if (slice) {
    stream_pravlin(pv->out, pv, first, last);
  } else {
    printpravlin(pv->out, pv);
  }
  progress_mark(pv, "*");
  finish_report(pv);
}
