// run.cc - the stages of a run after reading, in their fixed order (run_pravlin).
// Part of pravlin; see README.md.
#include <cstdio>

#include "pravlin.h"

// The marks follow the stage slots, not the stages that ran: with debug on there are five of
// them whatever calc_flag and print_header say.
static void progress_mark(const PRAVLIN* pv, const char* mark) {
  if (!pv->debug)
    return;
  std::printf("%s", mark);
  std::fflush(stdout);
}

void run_pravlin(PRAVLIN* pv) {
  progress_mark(pv, "\n*");
  error_check_pravlin(pv);
  create_all_pravlin(pv);
  progress_mark(pv, "*");
  if (pv->calc_flag) {
    pv->actual_iteration =
        calc_steady_state(pv->transition_probability, pv->steady_state_probability, pv->nbr_states,
                          pv->max_iteration, pv->max_error, &pv->actual_error, pv->debug);
  }
  progress_mark(pv, "*");
  if (pv->print_header)
    printheader(pv->out, pv);
  progress_mark(pv, "*");
  printpravlin(pv->out, pv);
  progress_mark(pv, "*");
  finish_report(pv);
}
