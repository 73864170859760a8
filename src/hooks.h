// hooks.h - what the tests and the fuzz targets reach for and a run never calls: the
// generator's reset, and limits that bring the out-of-memory and plain paths within reach.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_HOOKS_H
#define PRAVLIN_HOOKS_H

#include <cstddef>
#include <cstdint>

#include "pravlin.h"

/// Puts the generator back to its state when the process starts.
void pravlin_rand_reset();

/// Makes bytes, instead of the machine's physical memory, the most that the tables granted
/// by alloc_table and alloc_rows may add up to; 0 restores physical memory. For the fuzz
/// target, whose inputs must not ask for gigabytes, and for tests of the out-of-memory paths.
void set_table_memory_limit(std::size_t bytes);

/// Releases every table of pv that alloc_table and alloc_rows granted, and its sparse rows
/// (read_configuration_for_run), and forgets all bytes granted or counted so far: every granted
/// table must belong to pv. Lets one process read configuration after configuration (the fuzz
/// target). The document tree in pv->xml is left to the caller.
void free_tables(PRAVLIN* pv);

/// Makes bytes the most that one request of a fast path's extra memory may have (SIZE_MAX, the
/// default: no limit but the machine's). 0 refuses them all, so every stage takes its plain
/// path.
void set_scratch_limit(std::size_t bytes);

/// Makes draws the fewest with which a table drawn as it is written is drawn on all cores
/// (0 restores the default, 2^25): lets tests reach that path with small tables.
void set_stream_cores_from(std::uint64_t draws);

/// Makes states the fewest with which a run that needs no dense matrix keeps sparse rows
/// (read_configuration_for_run); 0 restores the default, 2048: lets tests reach the sparse
/// rows with small models.
void set_sparse_rows_from(int states);

/// With on 0, every configuration is read as a tree, as the reader's trace reads it; 1 (the
/// default) reads regular files as they are scanned (config_stream.cc). For tests that compare
/// the two.
void set_stream_reading(int on);

/// Makes bytes the smallest file that the stream path reads in two parts, one per core (0
/// restores the default, 4 MiB): lets tests split small documents anywhere.
void set_stream_split_from(std::size_t bytes);

/// How many parts the stream path read the last configuration in: 1, 2 (the first part met the
/// second's starting point), or 0 when it did not read it.
unsigned stream_parts_read();

#endif
