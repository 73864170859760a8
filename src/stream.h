// stream.h - the chain table drawn as it is written, in memory for one step of every chain:
// for runs whose table is too large to keep, and for a slice of the chains.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_STREAM_H
#define PRAVLIN_STREAM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "pravlin.h"

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

// report.cc

/// The chain table's writer: every state's cell formatted once, lines gathered in blocks.
struct TableWriter;
/// A writer for pv's table onto out, or null when its memory is refused.
TableWriter* open_table_writer(FILE* out, const PRAVLIN* pv);
/// Writes what is gathered and releases the writer.
void close_table_writer(TableWriter* t);
/// The title line of chains first_chain..last_chain, then a flush of the stream.
void put_table_title(TableWriter* t, int first_chain, int last_chain);
/// One line: the step label, then the cells of states[0..count).
void put_table_line(TableWriter* t, long long label, const int* states, std::size_t count);
/// The bytes format_table_line needs for a line of count cells, or 0 when the cells are not
/// kept as texts (the lines are then written only by put_table_line).
std::size_t table_line_room(const TableWriter* t, std::size_t count);
/// The line put_table_line writes, into to, which has table_line_room(t, count) bytes; returns
/// its length. Writes nothing to t, so several threads may format lines at once.
std::size_t format_table_line(const TableWriter* t, char* to, std::size_t room, long long label,
                              const int* states, std::size_t count);
/// Puts text made by format_table_line, in order after what came before.
void put_table_text(TableWriter* t, const char* text, std::size_t length);
/// Hands what is gathered to the stream; false when the stream has failed.
bool flush_table_writer(TableWriter* t);
/// Ends the run with the report's write failure, naming its file or standard output.
[[noreturn]] void fail_unwritten_report(const PRAVLIN* pv);

// stream.cc

/// Whether pv's chains table is kept whole, drawn first and then written: true while it is
/// small enough to be the faster way. Otherwise each step is drawn as it is written.
bool keep_chains_table(const PRAVLIN* pv);
/// The simulation of a run whose table is drawn as it is written, for chains first..last:
/// draws nothing yet, but reserves one state per chain (failing with the chains table's
/// out-of-memory message when even that cannot be had), fails as the chain-by-chain
/// simulation would, and leaves the generator where it leaves it.
void simulate_without_table(PRAVLIN* pv, int first, int last);
/// Writes the chain table of chains first..last (1..nbr_chains for the whole run), drawing
/// each step as it is written: the same bytes as the kept table of the same run. Comes after
/// simulate_without_table for the same chains, whose generator values it draws again and whose
/// memory it uses. Null out: standard output.
/// Does not return on failure (a failed write ends the run at once).
void stream_pravlin(FILE* out, const PRAVLIN* pv, int first, int last);

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
