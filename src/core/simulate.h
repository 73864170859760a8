// simulate.h - the chains' simulation: chain by chain, every chain at once into the kept table,
// or checked ahead of a table drawn as it is written.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_SIMULATE_H
#define PRAVLIN_SIMULATE_H

#include <cstdlib>
#include <memory>

#include "pravlin.h"

/// Simulates chain n (1..nbr_chains): writes pravlin[n][0..nbr_years]. Does not return on
/// failure.
void create_pravlin(int n, PRAVLIN* pv);

/// Simulates every chain into the chains table, which must be there: the same table, the same
/// generator state afterwards and the same failure message as create_pravlin(1..nbr_chains) in
/// order, many times faster. Does not return on failure.
void create_all_pravlin(PRAVLIN* pv);

/// One step of every chain of a streamed run, counted with the record's tables.
struct StepStatesFree {
  void operator()(int* p) const {
    std::free(p);
  }
};
using StepStates = std::unique_ptr<int[], StepStatesFree>;

/// The simulation of a run whose table is drawn as it is written, for chains first..last:
/// draws nothing yet, but returns one state per chain for stream_pravlin (failing with the
/// chains table's out-of-memory message when even that cannot be had), fails as the
/// chain-by-chain simulation would, and leaves the generator where it leaves it.
StepStates simulate_without_table(PRAVLIN* pv, int first, int last);

#endif
