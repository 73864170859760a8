// report.h - the chain table's writer, which the kept table and the stream share, the
// report's write check and its number formats.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_REPORT_H
#define PRAVLIN_REPORT_H

#include <cstddef>
#include <cstdio>
#include <string>

#include "pravlin.h"

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

/// Flushes standard output and fails with " *** ERROR: Unable to write file (stdout)\n" when
/// anything written to it was lost (a full disk, a closed stream).
void check_stdout();

/// Appends v as "%lld" writes it.
void format_long(std::string& to, long long v);
/// Appends v as "%.*f" writes it with precision 0..40 (the same rounding, "-0.000000", "nan",
/// "inf"); at the default six, "%f", by exact integer arithmetic for moderate numbers, several
/// times faster than the general conversion.
void format_fixed(std::string& to, double v, int precision = 6);

#endif
