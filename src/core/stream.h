// stream.h - the chain table drawn as it is written, in memory for one step of every chain:
// for runs whose table is too large to keep, and for a slice of the chains.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_STREAM_H
#define PRAVLIN_STREAM_H

#include <cstdio>

#include "pravlin.h"

/// Writes the chain table of chains first..last (1..nbr_chains for the whole run), drawing
/// each step as it is written: the same bytes as the kept table of the same run. Comes after
/// simulate_without_table for the whole run, whose generator values it draws again; states
/// has a slot for each of the chains (simulate_without_table's for the same chains). Null
/// out: standard output. Does not return on failure (a failed write ends the run at once).
void stream_pravlin(FILE* out, const PRAVLIN* pv, int first, int last, int* states);

#endif
