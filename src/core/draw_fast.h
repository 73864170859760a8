// draw_fast.h - rows made ready for many draws: running sums, guides and the first states'
// picks, drawing the states calc_state draws; the simulation's and the stream's fast paths
// draw through them.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_DRAW_FAST_H
#define PRAVLIN_DRAW_FAST_H

#include <cstddef>
#include <cstdint>

#include "core_limits.h"
#include "draw.h"
#include "pravlin.h"

/// A guide has an entry for each run of 2^DRAW_GUIDE_SHIFT generator values.
constexpr int DRAW_GUIDE_SHIFT = 7;
constexpr int DRAW_GUIDE_SIZE = 32768 >> DRAW_GUIDE_SHIFT;

/// The rows a chain draws from, as the fast paths see them: row 0 is the initial
/// probabilities, row s the transitions out of state s. The arrays belong to the caller.
struct PreparedRows {
  const PRAVLIN* pv;
  int n;
  // Rows 1..n of the matrix drawn from: the record's, or a period's for a chain with periods.
  // Unread when the run keeps sparse rows instead.
  double* const* matrix;
  // key[row * (n + 2) + i]: the running sum of p[1..i] where p[i] > 0, and -1 where state i
  // cannot be drawn, so that "key >= draw" is calc_state's whole test. Null: no guides, the
  // rows themselves are scanned.
  double* key;
  // guide[row * DRAW_GUIDE_SIZE + g]: the state picked by (g << DRAW_GUIDE_SHIFT) / 32767.0.
  int* guide;
  int* last_positive;  // the state a draw of 1.0 falls back to, per row
  // Without guides: initial_pick[r], the state that generator value r draws from the initial
  // probabilities (0 for none), or null, the row itself scanned. Every chain draws its first
  // state from that row, and on a large model a scan of it is most of a short chain's work.
  int* initial_pick;
};

/// Whether rows 0..last_row of d (0: the initial probabilities alone; the sparse rows whole
/// when the run keeps them) are every entry a finite probability, so that running sums never
/// fall: what the sums and guides rely on.
bool rows_are_probabilities(const PreparedRows& d, int last_row);
/// Fills the running sums, the guide and the last positive state of the row, into d.key,
/// d.guide and d.last_positive, which have room for every row.
void build_guides(const PreparedRows& d, int row);
/// Fills pick[0..32767] with the state each generator value draws from the initial
/// probabilities, 0 where it finds none.
void build_initial_picks(const PreparedRows& d, int* pick);

/// A row scanned as calc_state scans it: the dense row, or the sparse row of a run that keeps no
/// matrix (which gets no guides).
inline int draw_row(const PreparedRows& d, int row, int r, double* total) {
  if (row == 0)
    return draw_state(d.pv->initial_probability, d.n, r, total);
  if (d.pv->sparse_transitions != nullptr)
    return draw_sparse_state(d.pv->sparse_transitions, row, r, total);
  return draw_state(d.matrix[row], d.n, r, total);
}

/// The state calc_state picks from the row for generator value r, or 0 where it finds none:
/// with kGuided, by the row's guide and sums, which d must have.
template <bool kGuided>
inline int draw_prepared(const PreparedRows& d, int row, int r) {
  const int n = d.n;
  if (!kGuided) {
    if (row == 0 && d.initial_pick != nullptr)
      return d.initial_pick[r];
    double total;
    return draw_row(d, row, r, &total);
  }
  double random_val = r / 32767.0;
  const double* key = d.key + static_cast<std::size_t>(row) * (n + 2);
  int i = d.guide[static_cast<std::size_t>(row) * DRAW_GUIDE_SIZE + (r >> DRAW_GUIDE_SHIFT)];
  while (i <= n && !(key[i] >= random_val))
    i++;
  if (i <= n)
    return i;
  return random_val == 1.0 ? d.last_positive[row] : 0;
}

/// The rows every step of a run draws from, each made ready once for many draws: one set, the
/// record's matrix, for a chain of one matrix; one set a period, period p's matrix at set p,
/// for a chain with periods. Step 0, from the initial probabilities, is set 0's.
struct RunRows;
/// The sets of pv, each with its sums and guides, or without when its rows are not all
/// probabilities or their memory is refused (draw_step then scans that set's rows themselves;
/// a model too large for guides, or kept as sparse rows, gets only the first states' picks, in
/// set 0). Fails with the chains table's out-of-memory message when even the list of sets
/// cannot be had.
RunRows* make_run_rows(const PRAVLIN* pv);
void free_run_rows(RunRows* r);

/// The set that draws step t (0..nbr_years): the period that holds t, or the last one after its
/// end; set 0 for a chain of one matrix and for step 0.
std::size_t rows_of_step(const RunRows* r, long long t);
/// The set that draws step t + 1, given set, the one that draws step t: steps go up one by one.
std::size_t rows_of_next_step(const RunRows* r, std::size_t set, long long t);

/// One step of count chains c, c + 1, ... from set: state[i] holds chain c + i's state at the
/// step before (0 before step 0, which draws from the initial probabilities) and gets its state
/// at this step, drawn as calc_state draws it. x is the generator's state just before chain c's
/// value for this step; each next chain's value lies nbr_years + 1 values further on. Returns
/// false when some draw found no state (calc_state would have ended the run).
bool draw_step(const RunRows* r, std::size_t set, std::uint32_t x, int* state, std::size_t count);

#endif
