// stream_fast.h - the streamed table's lines drawn and formatted on all cores.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_STREAM_FAST_H
#define PRAVLIN_STREAM_FAST_H

#include <cstddef>
#include <cstdint>
#include <functional>

#include "draw_fast.h"
#include "pravlin.h"
#include "table_lines.h"

/// Writes the lines of stream_pravlin's table after its title on all cores: the same bytes,
/// the same draws, each step from its own set of rows. x and states as draw_step has them at
/// step 0 (every state 0). Calls progress with the number of steps written so far, now and
/// then. Returns false, having drawn and written nothing, when one core would do as well or its
/// memory is refused; stops early when the stream fails (the caller finds its error).
bool stream_table_fast(TableWriter* t, const PRAVLIN* pv, const RunRows* rows, std::uint32_t x,
                       int* states, std::size_t count,
                       const std::function<void(long long steps)>& progress);

/// Makes draws the fewest with which a table drawn as it is written is drawn on all cores
/// (0 restores the default, 2^25): lets tests reach that path with small tables.
void set_stream_cores_from(std::uint64_t draws);

#endif
