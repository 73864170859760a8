// bench_chain.h - what the benchmarks of pravlin-analyze's products share: a configuration's
// chain, read and checked as pravlin-analyze reads a list of transitions, and a stopwatch.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_BENCH_CHAIN_H
#define PRAVLIN_BENCH_CHAIN_H

#include <chrono>
#include <vector>

#include "analyze_chain.h"
#include "config.h"

inline double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/// c = the chain of the configuration at path; pv holds the rest of it.
inline void read_bench_chain(PRAVLIN* pv, char* path, SPARSE_CHAIN* c) {
  init_pravlin(pv);
  pv->xmlfilename = path;
  open_configuration(pv);
  std::vector<TRANSITION_ENTRY> transitions;
  read_configuration(pv, READ_LIST, 0, &transitions);
  error_check_transitions(pv, &transitions);
  sparse_chain_from_list(c, pv->nbr_states, transitions);
}

#endif
