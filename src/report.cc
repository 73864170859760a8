// report.cc - the comma-separated report: header block and chain table (printheader,
// printpravlin), and the check that it was all written (finish_report).
// Part of pravlin; see README.md.
#include "pravlin.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "stream.h"

// A state without a name prints as the C library prints a null string.
static const char* name_or_null(const char* name) {
  return name != nullptr ? name : "(null)";
}

// The table is assembled in a large buffer and written in big blocks: a formatted print per
// cell costs more than all the rest of a run. Every cell of a state is the same text, so each
// state's cell is formatted once, with the same conversions as ", %f ", ", %d " and ", \"%s\" ".
namespace {

constexpr std::size_t kBlock = 1 << 20;
// A short text is copied as one 16-byte move, whatever its length: the buffer and the cell
// texts keep this many bytes to spare beyond their ends.
constexpr std::size_t kShort = 16;

struct Writer {
  FILE* out;
  // kBlock bytes to fill, then kShort to spare. Not cleared: a small report touches only the
  // pages it writes.
  std::unique_ptr<char[]> buf;
  std::size_t used = 0;

  explicit Writer(FILE* f) : out(f) {}
  // Takes the buffer (throws std::bad_alloc when it cannot be had); put() then never allocates.
  void reserve() {
    buf.reset(new char[kBlock + kShort]);
  }
  void flush() {
    if (used != 0)
      std::fwrite(buf.get(), 1, used, out);
    used = 0;
  }
  void put(std::string_view s) {
    if (used + s.size() > kBlock) {
      flush();
      if (s.size() > kBlock) {
        std::fwrite(s.data(), 1, s.size(), out);
        return;
      }
    }
    std::memcpy(buf.get() + used, s.data(), s.size());
    used += s.size();
  }
  // A text of at most kShort bytes at s, with kShort bytes readable from s.
  void put_short(const char* s, std::size_t len) {
    std::memcpy(buf.get() + used, s, kShort);
    used += len;
    if (used > kBlock - kShort)
      flush();
  }
};

}  // namespace

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

void format_fixed6(std::string& to, double v) {
  // Most numbers of a report are probabilities and moderate values: exact integer arithmetic
  // gives "%f"'s digits for them several times faster than the general conversion.
  std::uint64_t q;
  if (scaled_by_million(v, &q)) {
    char digits[40];
    char* p = digits;
    if (std::signbit(v))
      *p++ = '-';  // "%f" keeps the sign of -0.0 and of what rounds to 0
    p = std::to_chars(p, digits + sizeof digits, q / 1000000).ptr;
    *p++ = '.';
    std::uint64_t frac = q % 1000000;
    for (int i = 5; i >= 0; i--) {
      p[i] = static_cast<char>('0' + frac % 10);
      frac /= 10;
    }
    to.append(digits, p + 6);
    return;
  }
  // Wide enough for the 309 integer digits of the largest double, its sign and six decimals.
  char digits[400];
  auto r = std::to_chars(digits, digits + sizeof digits, v, std::chars_format::fixed, 6);
  to.append(digits, r.ptr);
}

// The chain table one value at a time, in the formats of the block writer's cells: slower,
// but it needs no memory, for a run that has none left for the writer.
static void print_table_plain(FILE* out, const PRAVLIN* pv) {
  std::fprintf(out, "time ");
  for (int j = 1; j <= pv->nbr_chains; j++)
    std::fprintf(out, ", %d ", j);
  std::fprintf(out, "\n");
  std::fflush(out);
  for (int i = 0; i <= pv->nbr_years; i++) {
    std::fprintf(out, " %lld ", static_cast<long long>(pv->init_year) + i);
    for (int j = 1; j <= pv->nbr_chains; j++) {
      int s = pv->pravlin[j][i];
      switch (pv->print_flag) {
        case 0:
          std::fprintf(out, ", %f ", pv->val[s]);
          break;
        case 1:
          std::fprintf(out, ", %d ", s);
          break;
        case 2:
          std::fprintf(out, ", \"%s\" ", name_or_null(pv->state_name[s]));
          break;
        default:
          break;
      }
    }
    std::fprintf(out, "\n");
  }
}

// The chain table's writer: the cell of every state formatted once, with the same conversions
// as ", %f ", ", %d " and ", \"%s\" ", and lines gathered in the block writer. printpravlin
// and a table drawn as it is written (stream.cc) both write through it.
struct TableWriter {
  Writer w;
  std::string text;       // the line label being written
  std::string cell_text;  // cell of state s: cell_text[cell_start[s], cell_start[s + 1])
  std::vector<std::size_t> cell_start;
  std::size_t longest = 0;  // the longest cell; kShort + 1 when every cell goes the long way

  explicit TableWriter(FILE* f) : w(f) {}
};

TableWriter* open_table_writer(FILE* out, const PRAVLIN* pv) {
  const int n = pv->nbr_states;
  std::unique_ptr<TableWriter> t;
  try {
    t = std::make_unique<TableWriter>(out);
    t->w.reserve();
    t->text.reserve(16);
    t->cell_start.assign(static_cast<std::size_t>(n) + 2, 0);
    for (int s = 1; s <= n; s++) {
      t->cell_start[static_cast<std::size_t>(s)] = t->cell_text.size();
      switch (pv->print_flag) {
        case 0:
          t->cell_text += ", ";
          format_fixed6(t->cell_text, pv->val[s]);
          t->cell_text += ' ';
          break;
        case 1:
          t->cell_text += ", ";
          format_long(t->cell_text, s);
          t->cell_text += ' ';
          break;
        case 2:
          t->cell_text += ", \"";
          t->cell_text += name_or_null(pv->state_name[s]);
          t->cell_text += "\" ";
          break;
        default:
          break;
      }
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  t->cell_start[static_cast<std::size_t>(n) + 1] = t->cell_text.size();
  for (int s = 1; s <= n; s++) {
    t->longest = std::max(t->longest, t->cell_start[static_cast<std::size_t>(s) + 1] -
                                          t->cell_start[static_cast<std::size_t>(s)]);
  }
  try {
    t->cell_text.append(kShort, '\0');  // so that every cell can be read as kShort bytes
  } catch (const std::bad_alloc&) {
    t->longest = kShort + 1;  // no room to spare: every cell the long way
  }
  return t.release();
}

void close_table_writer(TableWriter* t) {
  delete t;
}

void put_table_title(TableWriter* t, int first_chain, int last_chain) {
  t->w.put("time ");
  // One chain at a time: the title of two billion chains is longer than memory allows.
  for (long long j = first_chain; j <= last_chain; j++) {
    t->text = ", ";
    format_long(t->text, j);
    t->text += ' ';
    t->w.put(t->text);
  }
  t->w.put("\n");
  t->w.flush();
  std::fflush(t->w.out);
}

void put_table_line(TableWriter* t, long long label, const int* states, std::size_t count) {
  // At most 13 characters, held in the string itself: no allocation.
  t->text = ' ';
  format_long(t->text, label);
  t->text += ' ';
  t->w.put(t->text);
  const char* cells = t->cell_text.data();
  const std::size_t* starts = t->cell_start.data();
  if (t->longest <= kShort) {
    for (std::size_t j = 0; j < count; j++) {
      const auto s = static_cast<std::size_t>(states[j]);
      t->w.put_short(cells + starts[s], starts[s + 1] - starts[s]);
    }
  } else {
    for (std::size_t j = 0; j < count; j++) {
      const auto s = static_cast<std::size_t>(states[j]);
      t->w.put(std::string_view(t->cell_text).substr(starts[s], starts[s + 1] - starts[s]));
    }
  }
  t->w.put("\n");
}

void flush_table_writer(TableWriter* t) {
  t->w.flush();
}

void printpravlin(FILE* out, const PRAVLIN* pv) {
  if (pv == nullptr)
    return;
  if (out == nullptr)
    out = stdout;
  if (pv->pravlin == nullptr) {
    stream_pravlin(out, pv, 1, pv->nbr_chains);  // a table too large to keep
    return;
  }
  // All the memory the block writer needs is had before anything is written: without it the
  // table is printed the plain way, never half of it.
  std::unique_ptr<TableWriter, decltype(&close_table_writer)> t(open_table_writer(out, pv),
                                                                close_table_writer);
  if (t == nullptr) {
    print_table_plain(out, pv);
    return;
  }
  // A line of the table is a column of the chains table, one value from each chain's row. The
  // values are gathered up to 16 years at a time, so that each cache line of a row is read once,
  // not once for every year in it; a tile stays within 1 MiB unless one year needs more.
  const auto chains = static_cast<std::size_t>(pv->nbr_chains);
  const int step = static_cast<int>(std::max<std::size_t>(
      1, std::min<std::size_t>(16, (std::size_t{1} << 20) / (sizeof(int) * chains))));
  std::vector<int> tile;
  try {
    tile.resize(static_cast<std::size_t>(step) * chains);
  } catch (const std::bad_alloc&) {
    t.reset();
    print_table_plain(out, pv);
    return;
  }
  put_table_title(t.get(), 1, pv->nbr_chains);
  // In 64 bits: i0 + step must not overflow for a count near the int limit, and the labels go
  // on past the int range rather than wrapping.
  for (long long i0 = 0; i0 <= pv->nbr_years; i0 += step) {
    const int years = static_cast<int>(std::min<long long>(step, pv->nbr_years - i0 + 1));
    for (std::size_t j = 0; j < chains; j++) {
      const int* row = pv->pravlin[j + 1] + i0;
      for (int y = 0; y < years; y++)
        tile[static_cast<std::size_t>(y) * chains + j] = row[y];
    }
    for (int y = 0; y < years; y++) {
      put_table_line(t.get(), pv->init_year + i0 + y,
                     tile.data() + static_cast<std::size_t>(y) * chains, chains);
    }
  }
  t->w.flush();
}

// The solver's limits and results, and the title of the steady-state table.
static void print_solver_lines(FILE* out, const PRAVLIN* pv) {
  std::fprintf(out, "max_iteration , %d , actual_iteration, %d\n", pv->max_iteration,
               pv->actual_iteration);
  std::fprintf(out, "max_error , %f , actual_error, %f\n", pv->max_error, pv->actual_error);
  std::fprintf(out, "state ,  steady_state_probability\n");
}

// The header from its state lines on, one value at a time, as the block writer formats them:
// for a run that has no memory left for the writer.
static void print_header_tables_plain(FILE* out, const PRAVLIN* pv) {
  const int n = pv->nbr_states;
  for (int i = 1; i <= n; i++) {
    std::fprintf(out, "%d , \"%s\" , %f , %f\n", i, name_or_null(pv->state_name[i]), pv->val[i],
                 pv->initial_probability[i]);
  }
  std::fprintf(out, "transition_probability\n");
  for (int i = 1; i <= n; i++) {
    for (int j = 1; j < n; j++)
      std::fprintf(out, " %f ,", pv->transition_probability[j][i]);
    std::fprintf(out, " %f\n", pv->transition_probability[n][i]);
  }
  if (!pv->calc_flag)
    return;
  print_solver_lines(out, pv);
  for (int i = 1; i <= n; i++)
    std::fprintf(out, "%d , %f\n", i, pv->steady_state_probability[i]);
}

void printheader(FILE* out, const PRAVLIN* pv) {
  if (pv == nullptr)
    return;
  if (out == nullptr)
    out = stdout;
  std::time_t tm = std::time(nullptr);
  const char* tm_ptr = std::ctime(&tm);
  std::fprintf(out, "PRAVLIN VERSION , %s\n", PRAVLIN_VERSION);
  std::fprintf(out, "time , %s", tm_ptr != nullptr ? tm_ptr : "\n");
  if (pv->xmlfilename != nullptr) {
    std::fprintf(out, "xmlfilename , \"%s\"\n", pv->xmlfilename);
  } else {
    std::fprintf(out, "xmlfilename\n");
  }
  if (pv->outfilename != nullptr) {
    std::fprintf(out, "outfilename , \"%s\"\n", pv->outfilename);
  } else {
    std::fprintf(out, "outfilename\n");
  }
  std::fprintf(out, "nbr_states , %d\n", pv->nbr_states);
  std::fprintf(out, "init_year  , %d\n", pv->init_year);
  std::fprintf(out, "nbr_years  , %d\n", pv->nbr_years);
  std::fprintf(out, "nbr_chains , %d\n", pv->nbr_chains);
  std::fprintf(out, "state , name , val , initial_probability\n");
  const int n = pv->nbr_states;
  // All the memory the block writer needs is had before the first state line: the longest
  // line is a state's (its name and a value of up to 316 characters) or a matrix line (at most
  // 12 characters a probability). Without it the rest is printed the plain way.
  Writer w(out);
  std::string line;
  try {
    std::size_t longest_name = 0;
    for (int i = 1; i <= n; i++) {
      longest_name = std::max(longest_name, std::strlen(name_or_null(pv->state_name[i])));
    }
    w.reserve();
    line.reserve(std::max(longest_name + 400, 12 * static_cast<std::size_t>(n) + 16));
  } catch (const std::bad_alloc&) {
    print_header_tables_plain(out, pv);
    return;
  }
  for (int i = 1; i <= n; i++) {
    line.clear();
    format_long(line, i);
    line += " , \"";
    line += name_or_null(pv->state_name[i]);
    line += "\" , ";
    format_fixed6(line, pv->val[i]);
    line += " , ";
    format_fixed6(line, pv->initial_probability[i]);
    line += '\n';
    w.put(line);
  }
  // The matrix is written by columns: line i holds the probabilities of moving into state i.
  w.put("transition_probability\n");
  for (int i = 1; i <= n; i++) {
    line.clear();
    for (int j = 1; j <= n; j++) {
      line += ' ';
      format_fixed6(line, pv->transition_probability[j][i]);
      line += j < n ? " ," : "\n";
    }
    w.put(line);
  }
  w.flush();
  if (!pv->calc_flag)
    return;
  print_solver_lines(out, pv);
  for (int i = 1; i <= n; i++) {
    line.clear();
    format_long(line, i);
    line += " , ";
    format_fixed6(line, pv->steady_state_probability[i]);
    line += '\n';
    w.put(line);
  }
  w.flush();
}

void fail_unwritten_report(const PRAVLIN* pv) {
  fail(" *** ERROR: Unable to write file (%s)\n",
       pv->out != nullptr && pv->out != stdout ? pv->outfilename : "stdout");
}

void finish_report(PRAVLIN* pv) {
  if (pv->out != nullptr && pv->out != stdout) {
    bool failed = std::ferror(pv->out) != 0;
    if (std::fclose(pv->out) != 0)
      failed = true;
    pv->out = nullptr;
    if (failed)
      fail(" *** ERROR: Unable to write file (%s)\n", pv->outfilename);
    return;
  }
  // The report went to standard output: a full disk or a closed stream there is a failed run.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0)
    fail_unwritten_report(pv);
}
