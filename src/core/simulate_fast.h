// simulate_fast.h - every chain drawn at once, on all cores: the simulation's fast path.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_SIMULATE_FAST_H
#define PRAVLIN_SIMULATE_FAST_H

#include "pravlin.h"

/// Every chain at once, the fast way: the same table, generator state and failure as
/// create_pravlin(1), ..., create_pravlin(nbr_chains). Returns false, having drawn nothing,
/// when a row is not all probabilities or its extra memory cannot be had.
bool create_all_pravlin_fast(PRAVLIN* pv);

#endif
