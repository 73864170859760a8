// merge.cc - pravlin-merge's rules: the reports of slices of one run (pravlin --chains A-B),
// given in chain order, joined into the whole run's report, byte for byte, one line at a time,
// and checked against each other and against what the run is known to be.
// Part of pravlin; see README.md.
#include "merge.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "config.h"
#include "config_schema.h"
#include "fail.h"
#include "options.h"
#include "report_labels.h"
#include "table_lines.h"

// A slice is read in large blocks and its lines are handed on where they lie in its buffer: a
// line of a large run is hundreds of kilobytes, and copying it once more costs as much as
// reading it.
static constexpr int kPipeSize = 1 << 20;

// The longest line a slice may hold before its title line, and beyond that per chain of the
// slice: room for a name of many megabytes, or a value printed with 300 digits in every cell.
// A file without line breaks (/dev/zero) is refused there instead of filling the memory.
static constexpr std::size_t kLineLimit = std::size_t{64} << 20;
static constexpr std::size_t kLinePerChain = 1024;

struct Slice {
  const char* name;
  int fd;
  char* buf;
  std::size_t capacity;
  std::size_t begin;  // the first byte not yet taken as a line
  std::size_t end;    // the end of what was read
  bool ended;         // nothing more to read
  const char* line;   // the current line, without its line break
  std::size_t length;
  std::size_t limit;  // the longest line it may hold
  long long first;    // its chains, from its title line
  long long last;
};

// The output: pieces of the slices' buffers and constant texts, written together. A slice's
// buffer moves only after what is pending has been written.
static std::vector<iovec> pending;

static void write_pending() {
  std::size_t done = 0;
  while (done < pending.size()) {
    const int n = static_cast<int>(std::min<std::size_t>(pending.size() - done, IOV_MAX));
    const ssize_t got = writev(STDOUT_FILENO, pending.data() + done, n);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      fail(" *** ERROR: Unable to write file (%s)\n", "stdout");
    // Past the pieces written whole, into the one written in part.
    auto left = static_cast<std::size_t>(got);
    while (done < pending.size() && left >= pending[done].iov_len)
      left -= pending[done++].iov_len;
    if (left != 0) {
      pending[done].iov_base = static_cast<char*>(pending[done].iov_base) + left;
      pending[done].iov_len -= left;
    }
  }
  pending.clear();
}

static void put(std::string_view text) {
  if (text.empty())
    return;
  pending.push_back(iovec{const_cast<char*>(text.data()), text.size()});
  if (pending.size() >= IOV_MAX)
    write_pending();
}

static std::size_t count_quotes(const char* from, const char* to) {
  std::size_t quotes = 0;
  while ((from = static_cast<const char*>(
              std::memchr(from, '"', static_cast<std::size_t>(to - from)))) != nullptr) {
    quotes++;
    from++;
  }
  return quotes;
}

// Reads more of the slice after what it holds, moving its unread lines to the front first (and
// so writing what is pending, which may point into them); false at its end. A read error is a
// failure, not an end: a slice cut short must not pass for a whole one.
static bool read_more(Slice* s) {
  write_pending();
  if (s->begin != 0) {
    std::memmove(s->buf, s->buf + s->begin, s->end - s->begin);
    s->end -= s->begin;
    s->begin = 0;
  }
  if (s->end == s->capacity) {
    s->capacity *= 2;
    s->buf = static_cast<char*>(std::realloc(s->buf, s->capacity));
    if (s->buf == nullptr)
      fail(" *** ERROR: out of memory in pravlin-merge\n");
  }
  for (;;) {
    const ssize_t got = read(s->fd, s->buf + s->end, s->capacity - s->end);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      fail(" *** ERROR: Unable to read file (%s)\n", s->name);
    if (got == 0) {
      s->ended = true;
      return false;
    }
    s->end += static_cast<std::size_t>(got);
    return true;
  }
}

// Reads until the slice holds n bytes after its lines taken, or has ended.
static void fill(Slice* s, std::size_t n) {
  while (s->end - s->begin < n && !s->ended)
    read_more(s);
}

[[noreturn]] static void fail_cut(const Slice& s) {
  fail(" *** ERROR: (%s) ends inside a line: it was cut short\n", s.name);
}

// The next line of the slice into s->line, or false at its end. A line break inside double
// quotes (a state's name) belongs to the line, as CSV has it. Every line ends in a line break.
static bool next_line(Slice* s) {
  std::size_t scan = 0;  // bytes of the line looked through
  std::size_t quotes = 0;
  for (;;) {
    const char* from = s->buf + s->begin + scan;
    const char* to = s->buf + s->end;
    const auto* brk =
        static_cast<const char*>(std::memchr(from, '\n', static_cast<std::size_t>(to - from)));
    if (brk != nullptr) {
      quotes += count_quotes(from, brk);
      scan = static_cast<std::size_t>(brk - (s->buf + s->begin)) + 1;
      if (quotes % 2 == 0) {
        s->line = s->buf + s->begin;
        s->length = scan - 1;
        s->begin += scan;
        return true;
      }
      continue;
    }
    quotes += count_quotes(from, to);
    scan = s->end - s->begin;
    if (scan > s->limit) {
      fail(" *** ERROR: (%s) has a line longer than %zu MiB: it is not a report\n", s->name,
           s->limit >> 20);
    }
    if (s->ended || !read_more(s)) {
      if (scan != 0)
        fail_cut(*s);
      return false;
    }
  }
}

static std::string_view line_of(const Slice& s) {
  return std::string_view(s.line, s.length);
}

// Whether the slice's next bytes are text, as far as it has bytes.
static bool starts_as(Slice* s, std::string_view text) {
  fill(s, text.size());
  const std::size_t n = std::min(text.size(), s->end - s->begin);
  return n != 0 && std::memcmp(s->buf + s->begin, text.data(), n) == 0;
}

// A title line's bytes before its first chain number: its label and ", ".
static constexpr std::size_t kTitleStart = LABEL_TITLE.size() + 2;

// Whether the slice's next line is a title line, its label, ", " and a chain number; the
// header's time line has the date there.
static bool at_title(Slice* s) {
  fill(s, kTitleStart + 1);
  const char* p = s->buf + s->begin;
  return s->end - s->begin > kTitleStart &&
         std::memcmp(p, LABEL_TITLE.data(), LABEL_TITLE.size()) == 0 &&
         std::memcmp(p + LABEL_TITLE.size(), ", ", 2) == 0 && p[kTitleStart] >= '0' &&
         p[kTitleStart] <= '9';
}

// Reads the slice's title line, "time , A , A+1 , ... , B ", whose chains must start at want,
// and hands it on without its line break (a slice after the first from ", A" on). A title is
// read in pieces: with many chains it is longer than the other lines.
static void read_title(Slice* s, long long want, bool first_slice) {
  std::size_t off = kTitleStart;  // bytes of the title after s->begin looked through
  if (!first_slice) {
    s->begin += LABEL_TITLE.size();
    off = 2;
  }
  long long next = want;
  for (;;) {
    // A chain number and what follows it, " , " or " \n", fit in 14 bytes.
    if (s->end - s->begin - off < 14 && !s->ended) {
      put(std::string_view(s->buf + s->begin, off));
      s->begin += off;
      off = 0;
      fill(s, 14);
    }
    const char* p = s->buf + s->begin + off;
    const char* e = s->buf + s->end;
    const char* q = p;
    long long n = 0;
    while (q < e && q - p <= 10 && *q >= '0' && *q <= '9')
      n = n * 10 + (*q++ - '0');
    if (q == e)
      fail_cut(*s);
    if (q == p || q - p > 10 || n > INT_MAX)
      fail(" *** ERROR: (%s) has a broken title line\n", s->name);
    if (n != next && next == want)
      fail(" *** ERROR: (%s) starts at chain %lld, not at chain %lld\n", s->name, n, want);
    if (n != next)
      fail(" *** ERROR: (%s) has a broken title line\n", s->name);
    off += static_cast<std::size_t>(q - p);
    const std::string_view rest(q, static_cast<std::size_t>(std::min<long>(e - q, 3)));
    if (rest.substr(0, 2) == " \n") {
      put(std::string_view(s->buf + s->begin, off + 1));
      s->begin += off + 2;
      s->first = want;
      s->last = n;
      return;
    }
    if (rest == " , ") {
      off += 3;
      next++;
      continue;
    }
    if (rest.size() < 3 && (std::string_view(" , ").substr(0, rest.size()) == rest))
      fail_cut(*s);
    fail(" *** ERROR: (%s) has a broken title line\n", s->name);
  }
}

// The number of a header line "name N", or -1 when the line is not that one.
static long long header_number(std::string_view line, std::string_view name) {
  if (line.substr(0, name.size()) != name)
    return -1;
  return parse_count(std::string(line.substr(name.size())).c_str(), 1, INT_MAX);
}

// What a table's cells show (print_flag), told from its first cell.
// The first three in print_flag's order, so that they are named by its words.
enum CellKind { VAL_CELLS, SER_CELLS, NAME_CELLS, NO_CELLS };

static const char* cell_kind_name(int kind) {
  return kind == NO_CELLS ? "no" : config_word(WORDS_PRINT_FLAG, kind);
}

static CellKind cell_kind(std::string_view line) {
  const std::size_t comma = line.find(',');
  if (comma == std::string_view::npos)
    return NO_CELLS;
  std::size_t at = comma + 2;
  if (at < line.size() && line[at] == '"')
    return NAME_CELLS;
  const std::size_t digits = at;
  while (at < line.size() && line[at] >= '0' && line[at] <= '9')
    at++;
  return at > digits && at < line.size() && line[at] == ' ' ? SER_CELLS : VAL_CELLS;
}

static void check_chains(long long last, long long want, const std::string& who) {
  if (want >= 0 && last != want)
    fail(" *** ERROR: the slices end at chain %lld, but %s says %lld chains\n", last, who.c_str(),
         want);
}

static void check_lines(const Slice& head, long long lines, long long want,
                        const std::string& who) {
  if (want >= 0 && lines != want) {
    fail(" *** ERROR: (%s) has %lld lines in its table, but %s says nbr_years %lld\n", head.name,
         lines, who.c_str(), want - 1);
  }
}

// What w gathers, made by the report's own writer: first counted, then written.
template <typename Put>
static std::string report_text(Put put) {
  Writer count{nullptr, nullptr, 0, 0};
  put(&count);
  std::string text(count.used, '\0');
  Writer w{nullptr, text.data(), text.size(), 0};
  put(&w);
  return text;
}

// The run's chains, steps, header, states and cells as its configuration has them.
void merge_read_config(MERGE_RUN* x) {
  static PRAVLIN pv;
  static std::vector<TRANSITION_ENTRY> transitions;
  init_pravlin(&pv);
  pv.xmlfilename = const_cast<char*>(x->config);
  open_configuration(&pv);
  read_configuration(&pv, READ_LIST, 0, &transitions);
  transitions = std::vector<TRANSITION_ENTRY>();
  x->pv = &pv;
  x->config_chains = pv.nbr_chains;
  x->config_lines = static_cast<long long>(pv.nbr_years) + 1;
  x->config_header = pv.print_header != 0;
  x->config_cells = pv.print_flag >= 0 && pv.print_flag <= 2 ? pv.print_flag : NO_CELLS;
  if (x->config_cells == NO_CELLS)
    return;
  for (int s = 1; s <= pv.nbr_states; s++) {
    x->cell_texts.push_back(report_text([s](Writer* w) {
      put_text(w, ", ");
      if (pv.print_flag == 0)
        put_fixed(w, pv.val[s]);
      else if (pv.print_flag == 1)
        put_long(w, s);
      else
        put_name(w, pv.state_name[s]);
      put_text(w, " ");
    }));
  }
  for (const std::string& cell : x->cell_texts)
    x->cells.insert(cell);
}

// The header line at index k (0 the version line) as the configuration's run writes it, or
// an empty text where the run's line is not the configuration's to say: the time, the file
// names, the initial probabilities (the run may rescale them) and the solver's results.
static std::string config_header_line(const PRAVLIN& pv, long long k) {
  if (k == HEADER_LINE_NBR_STATES)
    return report_text([&pv](Writer* w) {
      put_text(w, LABEL_NBR_STATES);
      put_long(w, pv.nbr_states);
    });
  if (k == HEADER_LINE_INIT_YEAR)
    return report_text([&pv](Writer* w) {
      put_text(w, LABEL_INIT_YEAR);
      put_long(w, pv.init_year);
    });
  if (k == HEADER_LINE_STATES)
    return std::string(LABEL_STATES);
  if (k > HEADER_LINE_STATES && k <= HEADER_LINE_STATES + pv.nbr_states) {
    const int s = static_cast<int>(k - HEADER_LINE_STATES);
    return report_text([&pv, s](Writer* w) {
      put_long(w, s);
      put_text(w, " , ");
      put_name(w, pv.state_name[s]);
      put_text(w, " , ");
      put_fixed(w, pv.val[s]);
      put_text(w, " , ");
    });
  }
  return "";
}

// A header line of the first slice against the configuration: sizes, init_year, and each
// state's number, name and value.
static void check_header_line(const Slice& s, const MERGE_RUN& x, long long k) {
  if (x.pv == nullptr)
    return;
  const std::string want = config_header_line(*x.pv, k);
  if (!want.empty() && line_of(s).substr(0, want.size()) != want) {
    fail(" *** ERROR: (%s) differs from (%s) at line %lld of its header\n", s.name, x.config,
         k + 1);
  }
}

// A table line of a slice against the configuration: its step label, init_year + line - 1,
// and each cell one of a state's. A name's quotes inside are doubled, so a quoted cell ends at
// the first single quote.
static void check_table_line(const Slice& s, const MERGE_RUN& x, long long line) {
  if (x.pv == nullptr)
    return;
  const std::string_view text = line_of(s);
  const std::size_t comma = std::min(text.find(','), text.size());
  std::string label = " ";
  format_long(label, x.pv->init_year + line - 1);
  label += ' ';
  if (text.substr(0, comma) != label) {
    fail(" *** ERROR: (%s) does not have step %lld of (%s) at line %lld of its table\n", s.name,
         x.pv->init_year + line - 1, x.config, line);
  }
  long long cells = 0;
  for (std::size_t at = comma; at < text.size(); cells++) {
    std::size_t end = at + 2;
    if (end < text.size() && text[end] == '"') {
      for (end++; end < text.size(); end++) {
        if (text[end] == '"' && (end + 1 == text.size() || text[end + 1] != '"'))
          break;
        if (text[end] == '"')
          end++;
      }
    }
    end = std::min(text.find(' ', end), text.size());
    if (x.cells.count(text.substr(at, end + 1 - at)) == 0) {
      fail(" *** ERROR: (%s) has a cell at line %lld of its table that no state of (%s) has\n",
           s.name, line, x.config);
    }
    at = end + 1;
  }
  if (x.config_cells != NO_CELLS && cells != s.last - s.first + 1) {
    fail(" *** ERROR: (%s) does not have a cell for each of its chains at line %lld of its table\n",
         s.name, line);
  }
}

static Slice open_slice(const char* name) {
  const int fd = open(name, O_RDONLY);
  if (fd < 0)
    fail(" *** ERROR: Unable to open file (%s)\n", name);
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
    fail(" *** ERROR: (%s) is a directory, not a slice's report\n", name);
  // A slice streamed through a pipe otherwise arrives 64 KiB at a time; only a hint.
  fcntl(fd, F_SETPIPE_SZ, kPipeSize);
  const std::size_t capacity = std::size_t{4} << 20;
  char* buf = static_cast<char*>(std::malloc(capacity));
  if (buf == nullptr)
    fail(" *** ERROR: out of memory in pravlin-merge\n");
  return Slice{name, fd, buf, capacity, 0, 0, false, nullptr, 0, kLineLimit, 0, 0};
}

// The slice's lines up to its title line: the first slice's header, handed on, and its counts
// kept; any other slice's header is passed over (it comes only with chain 1, and the title then
// says so). Returns whether there was one.
static bool read_header(Slice* s, bool first_slice, MERGE_RUN* x) {
  fill(s, 1);
  if (s->end == s->begin)
    fail(" *** ERROR: (%s) is empty\n", s->name);
  if (!starts_as(s, LABEL_VERSION) && !starts_as(s, LABEL_TIME))
    fail(" *** ERROR: (%s) holds no chain table\n", s->name);
  bool header = false;
  for (long long k = 0; !at_title(s); k++) {
    if (!next_line(s))
      fail(" *** ERROR: (%s) holds no chain table\n", s->name);
    header = true;
    if (!first_slice)
      continue;
    check_header_line(*s, *x, k);
    if (x->header_chains < 0)
      x->header_chains = header_number(line_of(*s), LABEL_NBR_CHAINS);
    if (x->header_lines < 0) {
      const long long years = header_number(line_of(*s), LABEL_NBR_YEARS);
      x->header_lines = years < 0 ? -1 : years + 1;
    }
    put(line_of(*s));
    put("\n");
  }
  return header;
}

void merge_slices(char* const* names, int count, MERGE_RUN* x_run) {
  MERGE_RUN& x = *x_run;
  std::vector<Slice> slices;
  for (int i = 0; i < count; i++)
    slices.push_back(open_slice(names[i]));
  fcntl(STDOUT_FILENO, F_SETPIPE_SZ, kPipeSize);

  // The header, if any, then one title line of the chains of every slice in turn. Chain
  // numbers must follow on from slice to slice: a slice missing, twice or out of order would
  // give a report of the right shape and the wrong chains.
  Slice& head = slices[0];
  const std::string config_name = x.config != nullptr ? std::string("(") + x.config + ")" : "";
  const bool header = read_header(&head, true, &x);
  if (x.config_header >= 0 && header != (x.config_header != 0)) {
    fail(header ? " *** ERROR: (%s) has a header, and %s asks for none\n"
                : " *** ERROR: (%s) has no header, and %s asks for one\n",
         head.name, config_name.c_str());
  }
  long long last = 0;
  for (std::size_t i = 0; i < slices.size(); i++) {
    if (i != 0)
      read_header(&slices[i], false, &x);
    read_title(&slices[i], last + 1, i == 0);
    last = slices[i].last;
    slices[i].limit =
        kLineLimit + kLinePerChain * static_cast<std::size_t>(last - slices[i].first + 1);
  }
  put("\n");
  const std::string header_name = std::string("the header of (") + head.name + ")";
  check_chains(last, x.chains, "--chains");
  check_chains(last, x.config_chains, config_name);
  check_chains(last, x.header_chains, header_name);

  // Each step: the first slice's line whole, then the cells of the others', from their first
  // comma on (a label holds none; a line without cells has none either). Every slice must have
  // the same steps, and cells of the same kind.
  long long line = 1;
  for (;; line++) {
    const bool more = next_line(&head);
    if (more)
      put(line_of(head));
    const std::string_view label =
        more ? line_of(head).substr(0, line_of(head).find(',')) : std::string_view();
    const CellKind kind = line == 1 && more ? cell_kind(line_of(head)) : NO_CELLS;
    if (line == 1 && more && x.config_cells >= 0 && kind != x.config_cells) {
      fail(" *** ERROR: (%s) has %s cells, not the %s cells of %s\n", head.name,
           cell_kind_name(kind), cell_kind_name(x.config_cells), config_name.c_str());
    }
    if (more)
      check_table_line(head, x, line);
    for (std::size_t i = 1; i < slices.size(); i++) {
      const bool more_here = next_line(&slices[i]);
      std::string_view text = line_of(slices[i]);
      const std::size_t comma = text.find(',');
      if (more_here != more) {
        const Slice& shorter = more ? slices[i] : head;
        fail(" *** ERROR: (%s) ends after %lld lines of its table, before (%s) does\n",
             shorter.name, line - 1, (more ? head : slices[i]).name);
      }
      if (more && text.substr(0, comma) != label) {
        fail(" *** ERROR: (%s) does not have the steps of (%s) at line %lld of its table\n",
             slices[i].name, head.name, line);
      }
      if (line == 1 && more && cell_kind(text) != kind) {
        fail(" *** ERROR: (%s) has %s cells, not the %s cells of (%s)\n", slices[i].name,
             cell_kind_name(cell_kind(text)), cell_kind_name(kind), head.name);
      }
      if (more)
        check_table_line(slices[i], x, line);
      if (more && comma != std::string_view::npos)
        put(text.substr(comma));
    }
    if (!more)
      break;
    put("\n");
  }
  write_pending();
  check_lines(head, line - 1, x.config_lines, config_name);
  check_lines(head, line - 1, x.header_lines, header_name);
  if (x.chains < 0 && x.config_chains < 0 && x.header_chains < 0) {
    warn(
        " *** WARNING: no header, --chains or --config states the run's chains: chains missing"
        " after chain %lld could not be seen\n",
        last);
  }
  for (Slice& s : slices) {
    close(s.fd);
    std::free(s.buf);
  }
}
