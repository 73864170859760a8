// stream.h - the chain table drawn as it is written, in memory for one step of every chain:
// for runs whose table is too large to keep, and for a slice of the chains.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_STREAM_H
#define PRAVLIN_STREAM_H

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "pravlin.h"

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
/// Writes the chain table of chains first..last (1..nbr_chains for the whole run), drawing
/// each step as it is written: the same bytes as the kept table of the same run. Comes after
/// simulate_without_table for the whole run, whose generator values it draws again; states
/// has a slot for each of the chains (simulate_without_table's for the same chains). Null
/// out: standard output. Does not return on failure (a failed write ends the run at once).
void stream_pravlin(FILE* out, const PRAVLIN* pv, int first, int last, int* states);

#endif
