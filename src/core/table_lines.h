// table_lines.h - the chain table's lines and the writer beneath them (buffered output, the
// number formats), and the checks that the report was all written: what the report and the
// stream both write with.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_TABLE_LINES_H
#define PRAVLIN_TABLE_LINES_H

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "pravlin.h"
#include "scratch.h"

/// Appends v as "%lld" writes it.
void format_long(std::string& to, long long v);
/// Appends v as "%.*f" writes it with precision 0..40 (the same rounding, "-0.000000", "nan",
/// "inf"); at the default six, "%f", by exact integer arithmetic for moderate numbers, several
/// times faster than the general conversion.
void format_fixed(std::string& to, double v, int precision = 6);

/// Text gathered in a buffer and written in big writes: a formatted print per cell costs more
/// than all the rest of a run. The same writer fills a text in memory (out null, buf as large
/// as the text) or only counts bytes (buf null), so that the cell texts are made by the same
/// code as the lines.
struct Writer {
  FILE* out;        // null: a text in memory, never flushed
  char* buf;        // null: bytes are counted, not kept
  std::size_t cap;  // size of buf
  std::size_t used;
};

/// The size of a report's buffer.
constexpr std::size_t REPORT_BLOCK = std::size_t{1} << 16;
/// A cell text of up to REPORT_SPARE bytes is copied as one move of REPORT_SPARE bytes,
/// whatever its length: a call per cell costs more than the copy. The table's buffer and the
/// cell texts keep that many bytes to spare beyond their ends.
constexpr std::size_t REPORT_SPARE = 16;

/// Writes what w has gathered to its stream, if it has one.
void flush_writer(Writer* w);
/// Puts s after what w has gathered; a text longer than the buffer goes out as it is.
inline void put_text(Writer* w, std::string_view s) {
  if (w->buf != nullptr) {
    if (w->used + s.size() > w->cap) {
      flush_writer(w);
      if (s.size() > w->cap) {
        std::fwrite(s.data(), 1, s.size(), w->out);
        return;
      }
    }
    std::memcpy(w->buf + w->used, s.data(), s.size());
  }
  w->used += s.size();
}
/// v as "%lld" writes it.
void put_long(Writer* w, long long v);
/// v as "%f" writes it.
void put_fixed(Writer* w, double v);
/// s in double quotes, each quote inside doubled as CSV does.
void put_quoted(Writer* w, const char* s);
/// A state's name, quoted; a state without one (null) as the C library prints a null string.
void put_name(Writer* w, const char* name);

/// Every state's cell text, made once: the cell of state s is text[start[s], start[s + 1]).
/// No text when its memory is refused; each cell is then made where it is written.
struct TableCells {
  Scratch<char> text;
  Scratch<std::size_t> start;
};

/// The chain table's writer: every state's cell formatted once, lines gathered in blocks.
struct TableWriter {
  const PRAVLIN* pv;
  TableCells cells;
  char block[REPORT_BLOCK + REPORT_SPARE];
  Writer w;
};
/// Makes t a writer for pv's table onto out.
void start_table_writer(TableWriter* t, FILE* out, const PRAVLIN* pv);
/// A writer for pv's table onto out, made as start_table_writer makes one, or null when its
/// memory is refused.
TableWriter* open_table_writer(FILE* out, const PRAVLIN* pv);
/// Writes what is gathered and releases a writer of open_table_writer.
void close_table_writer(TableWriter* t);
/// The title line of chains first_chain..last_chain, then a flush of the stream.
void put_table_title(TableWriter* t, int first_chain, int last_chain);
/// One line: the step label, then the cells of states[0..count).
void put_table_line(TableWriter* t, long long label, const int* states, std::size_t count);
/// One line read down the kept table: the step label, then the cells of rows[0..count)[step].
void put_table_column(TableWriter* t, long long label, int* const* rows, std::size_t count,
                      long long step);
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
/// Ends the report: closes a report file the run opened, or flushes standard output when the
/// report went there, and fails when any write, the flush or the close failed.
void finish_report(PRAVLIN* pv);

#endif
