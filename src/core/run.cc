// run.cc - the stages of a run after reading, in their fixed order (run_pravlin), and of a
// slice of its chains (run_pravlin_chains); the one place that decides whether the chains table
// is kept or drawn as it is written.
// Part of pravlin; see README.md.
#include "run.h"

#include <cstdint>
#include <cstdio>

#include "core_limits.h"
#include "report.h"
#include "simulate.h"
#include "sparse_read.h"
#include "steady_state.h"
#include "stream.h"
#include "table_lines.h"
#include "tables.h"
#include "validate.h"

bool keep_chains_table(PRAVLIN* pv) {
  if (pv->pravlin != nullptr)
    return true;
  if ((static_cast<std::uint64_t>(pv->nbr_chains) + 1) *
          (static_cast<std::uint64_t>(pv->nbr_years) + 1) * sizeof(int) >
      KEEP_TABLE_BYTES)
    return false;
  // A table that cannot be had is drawn as it is written, in memory for one step of every
  // chain; the table's message ends the run only when even that is refused.
  pv->pravlin = try_alloc_chain_rows(pv->nbr_chains, pv->nbr_years);
  return pv->pravlin != nullptr;
}

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
  if (!slice) {
    first = 1;
    last = pv->nbr_chains;
  }
  progress_mark(pv, "\n*");
  if (pv->sparse_transitions != nullptr) {
    error_check_sparse_rows(pv);
  } else {
    error_check_pravlin(pv);
  }
  const bool keep = !slice && keep_chains_table(pv);
  StepStates step;  // a streamed run's one step of every chain
  if (keep) {
    create_all_pravlin(pv);
  } else {
    step = simulate_without_table(pv, first, last);
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
  if (keep) {
    printpravlin(pv->out, pv);
  } else {
    stream_pravlin(pv->out, pv, first, last, step.get());
  }
  progress_mark(pv, "*");
  finish_report(pv);
}
