// stream.h - the chain table drawn as it is written, in memory for one step of every chain:
// for runs whose table is too large to keep, and for a slice of the chains.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_STREAM_H
#define PRAVLIN_STREAM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "pravlin.h"
#include "report.h"

// simulate.cc

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

// stream.cc

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

// stream_fast.cc

/// Writes the lines of stream_pravlin's table after its title on all cores: the same bytes,
/// the same draws. x and states as draw_step has them at step 0 (every state 0). Calls
/// progress with the number of steps written so far, now and then. Returns false, having drawn
/// and written nothing, when one core would do as well or its memory is refused; stops early
/// when the stream fails (the caller finds its error).
bool stream_table_fast(TableWriter* t, const PRAVLIN* pv, const DrawRows* rows, std::uint32_t x,
                       int* states, std::size_t count,
                       const std::function<void(long long steps)>& progress);
/// Ends the run when a streamed draw finds no state, which simulate_without_table rules out.
[[noreturn]] void fail_stream_draw();

#endif
