// fit_pairs.h - the transitions counted as they are read, in a dense table while the states are
// few, else in a hash map.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FIT_PAIRS_H
#define PRAVLIN_FIT_PAIRS_H

#include <cstdint>

#include "fit_records.h"

/// Counts one transition i -> j (states as numbered while reading), in the dense table or in
/// pairs, now or within the next 32 calls; fit_pairs_flush must run before the counts are read.
void fit_count_pair(FIT_DATA* data, std::uint64_t i, std::uint64_t j);
void fit_pairs_flush(FIT_DATA* data);

#endif
