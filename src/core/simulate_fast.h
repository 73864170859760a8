// simulate_fast.h - every chain drawn at once, and the rows made ready for many draws, which
// the stream uses too.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_SIMULATE_FAST_H
#define PRAVLIN_SIMULATE_FAST_H

#include <cstddef>
#include <cstdint>

#include "pravlin.h"

/// Every chain at once, the fast way: the same table, generator state and failure as
/// create_pravlin(1), ..., create_pravlin(nbr_chains). Returns false, having drawn nothing,
/// when a row is not all probabilities or its extra memory cannot be had.
bool create_all_pravlin_fast(PRAVLIN* pv);

/// The rows of a model made ready for many draws: running sums and guides.
struct DrawRows;
/// Rows of pv ready for draw_step, or null when they are not all probabilities or the memory is
/// refused; draw_step then scans the rows themselves. A model too large for guides (or kept as
/// sparse rows) gets only the first states' picks, its other rows scanned.
DrawRows* make_draw_rows(const PRAVLIN* pv);
void free_draw_rows(DrawRows* d);

/// One step of count chains c, c + 1, ...: state[i] holds chain c + i's state at the step
/// before (0 before step 0, which draws from the initial probabilities) and gets its state at
/// this step, drawn as calc_state draws it. x is the generator's state just before chain c's
/// value for this step; each next chain's value lies nbr_years + 1 values further on. Returns
/// false when some draw found no state (calc_state would have ended the run).
bool draw_step(const PRAVLIN* pv, const DrawRows* d, std::uint32_t x, int* state,
               std::size_t count);

#endif
