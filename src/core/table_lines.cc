// table_lines.cc - the chain table's lines (TableWriter) and the writer beneath them, and the
// checks that the report was all written (finish_report).
// Part of pravlin; see README.md.
#include "table_lines.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <new>

#include "report_labels.h"

// Wide enough for the 309 integer digits of the largest double, its sign and 40 decimals.
constexpr std::size_t kNumberMax = 400;

void format_long(std::string& to, long long v) {
  char digits[24];
  auto r = std::to_chars(digits, digits + sizeof digits, v);
  to.append(digits, r.ptr);
}

__extension__ typedef unsigned __int128 Uint128;

// |v| * 10^6 rounded to the nearest integer, ties to even, as "%f" rounds the exact binary
// value; false when |v| is 2^40 or more (or not finite), left to the general conversion.
static bool scaled_by_million(double v, std::uint64_t* q) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  int e = -1074;  // |v| = m * 2^e
  if (biased != 0) {
    m |= std::uint64_t{1} << 52;
    e = biased - 1075;
  }
  if (e > -13)
    return false;  // |v| >= 2^40, infinite or NaN
  const int s = -e;
  const Uint128 p = static_cast<Uint128>(m) * 1000000u;  // below 2^73
  if (s >= 128) {  // |v| * 10^6 is below 2^73 / 2^128: it rounds to 0
    *q = 0;
    return true;
  }
  const Uint128 one = 1;
  std::uint64_t whole = static_cast<std::uint64_t>(p >> s);
  const Uint128 rest = p & ((one << s) - 1);
  const Uint128 half = one << (s - 1);
  if (rest > half || (rest == half && (whole & 1) != 0))
    whole++;
  *q = whole;
  return true;
}

// Writes v at p as "%f" writes it (six decimals, the same rounding, "-0.000000", "nan", "inf"),
// at most kNumberMax bytes, and returns the end.
static char* fixed6_chars(char* p, double v) {
  // Most numbers of a report are probabilities and moderate values: exact integer arithmetic
  // gives "%f"'s digits for them several times faster than the general conversion.
  std::uint64_t q;
  if (scaled_by_million(v, &q)) {
    if (std::signbit(v))
      *p++ = '-';  // "%f" keeps the sign of -0.0 and of what rounds to 0
    p = std::to_chars(p, p + 24, q / 1000000).ptr;
    *p++ = '.';
    std::uint64_t frac = q % 1000000;
    for (int i = 5; i >= 0; i--) {
      p[i] = static_cast<char>('0' + frac % 10);
      frac /= 10;
    }
    return p + 6;
  }
  return std::to_chars(p, p + kNumberMax, v, std::chars_format::fixed, 6).ptr;
}

// Past six decimals the conversion is std::to_chars's alone: it gives printf's text in a
// fraction of printf's time.
void format_fixed(std::string& to, double v, int precision) {
  char digits[kNumberMax];
  if (precision == 6) {
    to.append(digits, fixed6_chars(digits, v));
    return;
  }
  to.append(
      digits,
      std::to_chars(digits, digits + sizeof digits, v, std::chars_format::fixed, precision).ptr);
}

// ---- The writer ------------------------------------------------------------------------------

void flush_writer(Writer* w) {
  if (w->out != nullptr && w->used != 0)
    std::fwrite(w->buf, 1, w->used, w->out);
  if (w->out != nullptr)
    w->used = 0;
}

void put_long(Writer* w, long long v) {
  char digits[24];
  put_text(w, std::string_view(digits,
                               static_cast<std::size_t>(
                                   std::to_chars(digits, digits + sizeof digits, v).ptr - digits)));
}

void put_fixed(Writer* w, double v) {
  char digits[kNumberMax];
  put_text(w, std::string_view(digits, static_cast<std::size_t>(fixed6_chars(digits, v) - digits)));
}

// Puts s in double quotes, each quote inside doubled as CSV does, so that no name can end its
// field early and smuggle text into the report: the one rule for every quoted field.
void put_quoted(Writer* w, const char* s) {
  put_text(w, "\"");
  for (const char* q; (q = std::strchr(s, '"')) != nullptr; s = q + 1) {
    put_text(w, std::string_view(s, static_cast<std::size_t>(q - s)));
    put_text(w, "\"\"");
  }
  put_text(w, s);
  put_text(w, "\"");
}

// A state's name, quoted; a state without a name prints as the C library prints a null string.
void put_name(Writer* w, const char* name) {
  put_quoted(w, name != nullptr ? name : "(null)");
}

// ---- The chain table ---------------------------------------------------------------------------

// The cell of state s, as print_flag selects: the one place the cell formats are written.
static void put_cell(Writer* w, const PRAVLIN* pv, int s) {
  switch (pv->print_flag) {
    case 0:
      put_text(w, ", ");
      put_fixed(w, pv->val[s]);
      put_text(w, " ");
      break;
    case 1:
      put_text(w, ", ");
      put_long(w, s);
      put_text(w, " ");
      break;
    case 2:
      put_text(w, ", ");
      put_name(w, pv->state_name[s]);
      put_text(w, " ");
      break;
    default:
      break;
  }
}

// Every cell of a state is the same text, so each is made once, when the memory for them can be
// had (they stay within kMaxCells bytes); otherwise each cell is made where it is written.
constexpr std::size_t kMaxCells = std::size_t{64} << 20;

static TableCells make_cells(const PRAVLIN* pv) {
  const int n = pv->nbr_states;
  Writer count{nullptr, nullptr, 0, 0};
  // From state 0, whose slot exists: a table not filled by a simulation holds it.
  for (int s = 0; s <= n; s++)
    put_cell(&count, pv, s);
  TableCells c;
  if (count.used > kMaxCells)
    return c;
  c.text = scratch<char>(count.used + REPORT_SPARE);
  c.start = scratch<std::size_t>(static_cast<std::size_t>(n) + 2);
  if (!c.text || !c.start) {
    c.text.reset();
    return c;
  }
  Writer text{nullptr, c.text.get(), count.used, 0};
  for (int s = 0; s <= n; s++) {
    c.start[s] = text.used;
    put_cell(&text, pv, s);
  }
  c.start[n + 1] = text.used;
  std::memset(c.text.get() + text.used, 0, REPORT_SPARE);
  return c;
}

void start_table_writer(TableWriter* t, FILE* out, const PRAVLIN* pv) {
  t->pv = pv;
  t->cells = make_cells(pv);
  t->w = Writer{out, t->block, REPORT_BLOCK, 0};
}

// The cell of state s, copied from its text when there is one.
static inline void put_state_cell(Writer* w, const PRAVLIN* pv, const TableCells& cells, int s) {
  if (!cells.text) {
    put_cell(w, pv, s);
    return;
  }
  const char* text = cells.text.get() + cells.start[s];
  const std::size_t len = cells.start[s + 1] - cells.start[s];
  if (len <= REPORT_SPARE && w->used + REPORT_SPARE <= w->cap) {
    std::memcpy(w->buf + w->used, text, REPORT_SPARE);
    w->used += len;
  } else {
    put_text(w, std::string_view(text, len));
  }
}

// A line's step label: in 64 bits, the labels go on past the int range rather than wrapping.
static void put_label(Writer* w, long long label) {
  put_text(w, " ");
  put_long(w, label);
  put_text(w, " ");
}

// One line of the table: the step label, then the cells of states[0..count).
static void put_line(Writer* w, const PRAVLIN* pv, const TableCells& cells, long long label,
                     const int* states, std::size_t count) {
  put_label(w, label);
  for (std::size_t j = 0; j < count; j++)
    put_state_cell(w, pv, cells, states[j]);
  put_text(w, "\n");
}

TableWriter* open_table_writer(FILE* out, const PRAVLIN* pv) {
  auto* t = new (std::nothrow) TableWriter;
  if (t != nullptr)
    start_table_writer(t, out, pv);
  return t;
}

void close_table_writer(TableWriter* t) {
  if (t != nullptr)
    flush_writer(&t->w);
  delete t;
}

void put_table_title(TableWriter* t, int first_chain, int last_chain) {
  put_text(&t->w, LABEL_TITLE);
  for (long long j = first_chain; j <= last_chain; j++) {
    put_text(&t->w, ", ");
    put_long(&t->w, j);
    put_text(&t->w, " ");
  }
  put_text(&t->w, "\n");
  flush_writer(&t->w);
  std::fflush(t->w.out);
}

void put_table_line(TableWriter* t, long long label, const int* states, std::size_t count) {
  put_line(&t->w, t->pv, t->cells, label, states, count);
}

std::size_t table_line_room(const TableWriter* t, std::size_t count) {
  if (!t->cells.text)
    return 0;
  std::size_t cell = 0;
  for (int s = 0; s <= t->pv->nbr_states; s++)
    cell = std::max(cell, t->cells.start[s + 1] - t->cells.start[s]);
  // A label is a blank, at most 20 characters of a long long and a blank; then the cells, the
  // line break, and the bytes a cell's copy may run past the end.
  return 22 + count * cell + 1 + REPORT_SPARE;
}

std::size_t format_table_line(const TableWriter* t, char* to, std::size_t room, long long label,
                              const int* states, std::size_t count) {
  Writer w{nullptr, nullptr, room, 0};
  w.buf = to;
  put_line(&w, t->pv, t->cells, label, states, count);
  return w.used;
}

void put_table_text(TableWriter* t, const char* text, std::size_t length) {
  put_text(&t->w, std::string_view(text, length));
}

bool flush_table_writer(TableWriter* t) {
  flush_writer(&t->w);
  return std::ferror(t->w.out) == 0;
}

void put_table_column(TableWriter* t, long long label, int* const* rows, std::size_t count,
                      long long step) {
  put_label(&t->w, label);
  for (std::size_t j = 0; j < count; j++)
    put_state_cell(&t->w, t->pv, t->cells, rows[j][step]);
  put_text(&t->w, "\n");
}

// ---- The end -----------------------------------------------------------------------------------

void check_stdout() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    fail(" *** ERROR: Unable to write file (%s)\n", "stdout");
  }
}

void fail_unwritten_report(const PRAVLIN* pv) {
  fail(" *** ERROR: Unable to write file (%s)\n",
       pv->out != nullptr && pv->out != stdout ? report_file_name(pv) : "stdout");
}

void finish_report(PRAVLIN* pv) {
  if (pv->out != nullptr && pv->out != stdout) {
    bool failed = std::ferror(pv->out) != 0;
    if (std::fclose(pv->out) != 0)
      failed = true;
    pv->out = nullptr;
    if (failed)
      fail(" *** ERROR: Unable to write file (%s)\n", report_file_name(pv));
    return;
  }
  // The report went to standard output: a full disk or a closed stream there is a failed run.
  check_stdout();
}
