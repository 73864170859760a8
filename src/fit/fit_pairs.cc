// fit_pairs.cc - pravlin-fit's pair counts as they are read: a dense table while the states
// are few, the hash map of pairs beyond.
// Part of pravlin; see README.md.
#include <algorithm>
#include <cstring>

#include "fit_hash.h"
#include "fit_limits.h"
#include "fit_pairs.h"
#include "scratch.h"

static void flush_dense(FIT_DATA* d) {
  for (unsigned i = 0; i < d->dense_pending.nbr; i++)
    d->dense[d->dense_pending.keys[i]]++;
  d->dense_pending = PENDING_RING{};
}

// The counts go into the hash map, which takes every pair from here on.
static void stop_dense(FIT_DATA* d) {
  flush_dense(d);
  const std::size_t k = d->dense_k;
  for (std::size_t i = 0; i < k; i++) {
    for (std::size_t j = 0; j < k; j++) {
      if (d->dense[i * k + j] != 0)
        count_map_add(&d->pairs, std::uint64_t{i} << 32 | j, d->dense[i * k + j]);
    }
  }
  d->dense.reset();
  d->dense_k = 0;
  d->dense_off = 1;
}

// Widens the table to hold states 0 to need - 1, doubling its side; false when the hash map
// takes the pairs instead: too many states, or no memory for the table.
static bool grow_dense(FIT_DATA* d, std::size_t need) {
  if (d->dense_off)
    return false;
  std::size_t k = d->dense_k == 0 ? 64 : d->dense_k;
  while (k < need)
    k *= 2;
  Scratch<std::uint64_t> cells;
  if (k <= FIT_DENSE_STATES)
    cells = scratch<std::uint64_t>(k * k);
  if (!cells) {
    stop_dense(d);
    return false;
  }
  flush_dense(d);  // its cells are numbered for the old side
  advise_huge_pages(cells.get(), k * k * sizeof(std::uint64_t));
  std::memset(cells.get(), 0, k * k * sizeof(std::uint64_t));
  for (std::size_t i = 0; i < d->dense_k; i++)
    std::memcpy(&cells[i * k], &d->dense[i * d->dense_k], d->dense_k * sizeof(std::uint64_t));
  d->dense = std::move(cells);
  d->dense_k = k;
  return true;
}

void fit_count_pair(FIT_DATA* d, std::uint64_t i, std::uint64_t j) {
  const std::uint64_t high = std::max(i, j);
  if (high < d->dense_k || grow_dense(d, high + 1)) {
    // As in count_map_add_soon: the table is far bigger than the cache for many states.
    const std::uint64_t cell = i * d->dense_k + j;
    __builtin_prefetch(&d->dense[cell], 1);
    std::uint64_t ready = 0;
    if (pending_push(&d->dense_pending, cell, &ready))
      d->dense[ready]++;
    return;
  }
  count_map_add_soon(&d->pairs, i << 32 | j);
}

void fit_pairs_flush(FIT_DATA* d) {
  if (d->dense_k != 0)
    flush_dense(d);
  count_map_flush(&d->pairs);
}
