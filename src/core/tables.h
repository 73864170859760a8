// tables.h - the record's tables: zero-filled blocks counted against the machine's memory.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_TABLES_H
#define PRAVLIN_TABLES_H

#include <cstddef>

#include "pravlin.h"

/// Zero-filled block of count elements of size bytes, for a table of the record that lives
/// until the process ends. Fails with msg when count is past INT_MAX (the table could not be
/// walked with an int index), the size overflows, the allocation fails, or the tables allocated
/// so far would add up to more than the machine's physical memory (a huge zero-filled block may
/// be granted and the process killed later when it is touched).
void* alloc_table(std::size_t count, std::size_t size, const char* msg);

/// Points rows[0..nrows] into one zero-filled block of (nrows + 1) rows of ncols + 1
/// elements (counts, without their slot 0). Fails with msg as alloc_table does, and when
/// nrows or ncols is INT_MAX.
void alloc_rows(double** rows, int nrows, int ncols, const char* msg);
void alloc_rows(int** rows, int nrows, int ncols, const char* msg);
/// The chains table: nrows + 1 row pointers and their rows, as alloc_rows grants them, or null
/// (having granted nothing) where alloc_rows would fail.
int** try_alloc_chain_rows(int nrows, int ncols);

/// Counts bytes that live until the process ends without being a table (the document tree)
/// against the same limit as the tables, so that later tables see them; fails with msg when
/// they do not fit beside what is counted already.
void count_kept_memory(std::size_t bytes, const char* msg);
/// The bytes count_kept_memory would still accept.
std::size_t kept_memory_room();
/// Fails with msg unless bytes of working memory, held only while one stage runs and released
/// before it ends (the solver's matrices), fit beside everything counted so far. Counts nothing.
void check_working_memory(std::size_t bytes, const char* msg);

/// Makes bytes, instead of the machine's physical memory, the most that the tables granted
/// by alloc_table and alloc_rows may add up to; 0 restores physical memory. For the fuzz
/// target, whose inputs must not ask for gigabytes, and for tests of the out-of-memory paths.
void set_table_memory_limit(std::size_t bytes);

/// Releases every table of pv that alloc_table and alloc_rows granted, and its sparse rows
/// (read_configuration, READ_FOR_RUN), and forgets all bytes granted or counted so far: every
/// granted table must belong to pv. Lets one process read configuration after configuration (the
/// fuzz target). The document tree in pv->xml is left to the caller.
void free_tables(PRAVLIN* pv);

#endif
