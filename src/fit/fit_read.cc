// fit_read.cc - pravlin-fit's reader: the four forms of input, read field by field in one
// streaming pass, into counts of states, pairs and (with --test) triples and time blocks.
// Part of pravlin; see README.md.
#include "fit_read.h"
#include "fit_hash.h"
#include "fit_limits.h"
#include "fit_pairs.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fail.h"

int fit_is_number(std::string_view text, double* value) {
  if (text.empty() || text.size() > FIT_NUMBER_MAX_BYTES)
    return 0;
  char buf[FIT_NUMBER_MAX_BYTES + 1];
  std::memcpy(buf, text.data(), text.size());
  buf[text.size()] = '\0';
  // strtod skips leading white space and reads hexadecimal, inf and nan; none is a number here.
  const unsigned char c0 = static_cast<unsigned char>(buf[0]);
  if (!(c0 == '-' || c0 == '+' || c0 == '.' || (c0 >= '0' && c0 <= '9')))
    return 0;
  if (std::strchr(buf, 'x') != nullptr || std::strchr(buf, 'X') != nullptr)
    return 0;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(buf, &end);
  if (end != buf + text.size() || !std::isfinite(v))
    return 0;
  *value = v;
  return 1;
}

const char* fit_form_name(FIT_FORM form) {
  // ORDER FITFORM
  static const char* const NAMES[] = {"auto", "sequences", "long", "report", "matrix"};
  return NAMES[form];
}

// ---- sequences -------------------------------------------------------------------------------

static void rebin(FIT_DATA* data) {
  COUNT_MAP old;
  std::swap(old, data->timed);
  data->bin_shift++;
  for (const COUNT_MAP::slot& s : old.slots) {
    if (s.key == 0)
      continue;
    const std::uint64_t key = s.key - 1;
    const std::uint64_t bin = (key >> 42) >> 1;
    count_map_add(&data->timed, (bin << 42) | (key & ((std::uint64_t{1} << 42) - 1)), s.count);
  }
}

void fit_observe(FIT_DATA* data, FIT_SEQUENCE* seq, long state) {
  const std::uint64_t t = seq->t++;
  if (state < 0) {
    data->nbr_breaks++;
    seq->prev = -1;
    seq->prev2 = -1;
    if (data->keep_flag && !seq->kept.empty() && seq->kept.back() != FIT_KEPT_BREAK)
      seq->kept.push_back(FIT_KEPT_BREAK);
    return;
  }
  if (data->keep_flag)
    seq->kept.push_back(static_cast<std::uint32_t>(state));
  if (static_cast<std::size_t>(state) >= data->first.size())
    data->first.resize(data->labels.names.size() + 1024, 0);
  if (!seq->started) {
    seq->started = 1;
    data->first[static_cast<std::size_t>(state)]++;
  }
  if (data->group_flag && (!seq->group_started || seq->group != data->group)) {
    // A group's own sequence begins here: at the sequence's start, or where the sequence
    // enters the group (the long form's --group, whose column may change along an id).
    count_map_add(&data->group_first, std::uint64_t{data->group} << 21 | std::uint64_t(state), 1);
    if (data->group_sequences.size() <= data->group)
      data->group_sequences.resize(data->group + 1, 0);
    data->group_sequences[data->group]++;
  }
  if (seq->prev >= 0) {
    const auto i = static_cast<std::uint64_t>(seq->prev);
    const auto j = static_cast<std::uint64_t>(state);
    fit_count_pair(data, i, j);
    data->nbr_transitions++;
    // The transition belongs to the group of the observation it leaves.
    if (data->group_flag)
      count_map_add(&data->group_pairs, std::uint64_t{seq->group} << 42 | i << 21 | j, 1);
    // ... and to the period of the step it lands on, t: pravlin draws step t from that period.
    if (!data->period_first.empty()) {
      const auto holds = std::upper_bound(data->period_first.begin(), data->period_first.end(),
                                          static_cast<long>(std::min<std::uint64_t>(t, LONG_MAX)));
      const auto p = static_cast<std::uint64_t>(holds - data->period_first.begin() - 1);
      count_map_add(&data->period_pairs, p << 42 | i << 21 | j, 1);
    }
    if (data->test_flag) {
      if (seq->prev2 >= 0) {
        count_map_add(&data->triples, static_cast<std::uint64_t>(seq->prev2) << 42 | i << 21 | j,
                      1);
      }
      // The transition's time is that of its first observation. Bins double in width when the
      // clock outruns them, so their number, and the memory, stay bounded however long the data.
      while (((t - 1) >> data->bin_shift) >= data->max_bins)
        rebin(data);
      count_map_add(&data->timed, ((t - 1) >> data->bin_shift) << 42 | i << 21 | j, 1);
    }
  }
  seq->prev2 = seq->prev;
  seq->prev = state;
  seq->group = data->group;
  seq->group_started = 1;
}

static void end_sequence(FIT_DATA* data, FIT_SEQUENCE* seq) {
  if (seq->started) {
    data->nbr_sequences++;
    data->longest = std::max(data->longest, seq->t);
  }
  if (data->keep_flag && !seq->kept.empty()) {
    if (seq->kept.back() == FIT_KEPT_BREAK)
      seq->kept.pop_back();
    data->kept.insert(data->kept.end(), seq->kept.begin(), seq->kept.end());
    data->kept.push_back(FIT_KEPT_END);
  }
  *seq = FIT_SEQUENCE{};
}

// ---- the field reader ------------------------------------------------------------------------

struct fit_input {
  FILE* f;
  const char* name;
  std::vector<char> own;
  const char* buf;
  std::size_t pos;
  std::size_t end;
  int eof;
  std::uint64_t base;        // offset of buf[0] in the input
  unsigned long line;        // 1-based
  std::uint64_t line_start;  // offset of the line's first byte
  std::string carry;         // a field that spans two buffers, or a quoted one with ""
  int blanks_separate;       // sequences: white space separates labels as commas do
  int state;                 // 0 at a line's start, 1 after a field, 2 after a comma, 3 done
};
typedef struct fit_input FIT_INPUT;

enum { TOKEN_FIELD, TOKEN_END_OF_LINE, TOKEN_END_OF_INPUT };

struct fit_token {
  std::string_view text;
  int quoted;
  unsigned long line;
  unsigned long column;
};
typedef struct fit_token FIT_TOKEN;

static unsigned long column_of(const FIT_INPUT* in, std::uint64_t offset) {
  return static_cast<unsigned long>(offset - in->line_start + 1);
}

static void refill(FIT_INPUT* in) {
  if (in->f == nullptr) {
    in->eof = 1;
    return;
  }
  in->base += in->end;
  in->pos = 0;
  // Not past an end already met: a terminal gives one end for each Ctrl-D, and would
  // otherwise need a second.
  in->end = std::feof(in->f) ? 0 : std::fread(in->own.data(), 1, in->own.size(), in->f);
  in->buf = in->own.data();
  if (in->end == 0) {
    if (std::ferror(in->f))
      fail(" *** ERROR: %s: read error\n", in->name);
    in->eof = 1;
  }
}

// The next byte, refilling the buffer; -1 at the end of the input.
static int peek(FIT_INPUT* in) {
  if (in->pos == in->end) {
    if (in->eof)
      return -1;
    refill(in);
    if (in->eof)
      return -1;
  }
  return static_cast<unsigned char>(in->buf[in->pos]);
}

// Bytes that end the fast scan of an unquoted field: separators, line ends, control bytes and
// the start of a multi-byte character, which is checked once the field is whole.
static bool stops_field(unsigned char c, int blanks_separate) {
  return c < 0x20 || c >= 0x80 || c == ',' || (blanks_separate && c == ' ');
}

struct stop_table {
  bool stop[2][256];
};
static const stop_table& stops() {
  static const stop_table table = [] {
    stop_table t{};
    for (int mode = 0; mode < 2; mode++) {
      for (int c = 0; c < 256; c++)
        t.stop[mode][c] = stops_field(static_cast<unsigned char>(c), mode);
    }
    return t;
  }();
  return table;
}

// The lead bytes of well-formed UTF-8, by range: the character's length, and the bounds of its
// second byte, narrower at some ranges' edges to rule out overlong forms (E0, F0), UTF-16
// surrogates (ED) and code points beyond U+10FFFF (F4). Every later byte is 80..BF.
struct utf8_lead {
  unsigned char first, last, len, lo, hi;
};
static const utf8_lead UTF8_LEADS[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

// Offset of the first byte in text that breaks UTF-8, or npos.
static std::size_t bad_utf8(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned c = s[i];
    if (c < 0x80) {
      i++;
      continue;
    }
    const utf8_lead* lead = nullptr;
    for (const utf8_lead& l : UTF8_LEADS) {
      if (c >= l.first && c <= l.last) {
        lead = &l;
        break;
      }
    }
    if (lead == nullptr || i + lead->len > n || s[i + 1] < lead->lo || s[i + 1] > lead->hi)
      return i;
    for (std::size_t k = 2; k < lead->len; k++) {
      if (s[i + k] < 0x80 || s[i + k] > 0xBF)
        return i;
    }
    i += lead->len;
  }
  return std::string::npos;
}

std::size_t fit_not_xml(std::string_view text) {
  const std::size_t bad = bad_utf8(text);
  const std::size_t n = bad == std::string::npos ? text.size() : bad;
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < n; i++) {
    if (s[i] < 0x20 && s[i] != '\t' && s[i] != '\n' && s[i] != '\r')
      return i;
    // U+FFFE and U+FFFF, EF BF BE and EF BF BF; the bytes before n are whole characters.
    if (s[i] == 0xEF && s[i + 1] == 0xBF && (s[i + 2] == 0xBE || s[i + 2] == 0xBF))
      return i;
  }
  return bad;
}

static void check_label(const FIT_INPUT* in, std::string_view text, unsigned long line,
                        unsigned long column) {
  const std::size_t bad = bad_utf8(text);
  if (bad != std::string::npos) {
    fail(" *** ERROR: %s:%lu:%lu: byte 0x%02x is not UTF-8\n", in->name, line, column + bad,
         static_cast<unsigned>(static_cast<unsigned char>(text[bad])));
  }
}

static void refuse_control(const FIT_INPUT* in, std::uint64_t offset, unsigned char c) {
  if (c == 0)
    fail(" *** ERROR: %s:%lu:%lu: NUL byte\n", in->name, in->line, column_of(in, offset));
  fail(" *** ERROR: %s:%lu:%lu: control character 0x%02x\n", in->name, in->line,
       column_of(in, offset), static_cast<unsigned>(c));
}

static void refuse_long_label(const FIT_INPUT* in, unsigned long column) {
  fail(" *** ERROR: %s:%lu:%lu: a label longer than %zu bytes\n", in->name, in->line, column,
       FIT_MAX_LABEL);
}

static void read_unquoted(FIT_INPUT* in, FIT_TOKEN* tok) {
  const bool* stop = stops().stop[in->blanks_separate];
  const std::uint64_t start_offset = in->base + in->pos;
  tok->line = in->line;
  tok->column = column_of(in, start_offset);
  tok->quoted = 0;
  std::size_t start = in->pos;
  bool spanning = false;
  bool high = false;
  // Blanks in a field (between commas) belong to it until its end, where they are dropped. A
  // run of them that carries the field past the longest label is not kept: the label is whole,
  // and anything but blanks after it makes it too long.
  bool blanks_only = false;
  std::size_t p = in->pos;
  for (;;) {
    if (blanks_only) {
      while (p < in->end && (in->buf[p] == ' ' || in->buf[p] == '\t'))
        p++;
      if (p < in->end && in->buf[p] != ',' && in->buf[p] != '\n' && in->buf[p] != '\r')
        refuse_long_label(in, tok->column);
    } else {
      while (p < in->end && !stop[static_cast<unsigned char>(in->buf[p])])
        p++;
    }
    if (p == in->end) {
      if (!spanning)
        in->carry.clear();
      spanning = true;
      if (!blanks_only) {
        in->carry.append(in->buf + start, p - start);
        if (in->carry.size() > FIT_MAX_LABEL) {
          const std::size_t kept = in->carry.find_last_not_of(" \t") + 1;  // 0 when all blank
          if (kept > FIT_MAX_LABEL)
            refuse_long_label(in, tok->column);
          in->carry.resize(kept);
          blanks_only = true;
        }
      }
      in->pos = p;
      // A refill moves the bytes: start and p count from the new buffer's start, also at the
      // end of the input, where nothing more is appended below.
      const int more = peek(in);
      start = p = in->pos;
      if (more < 0)
        break;
      continue;
    }
    if (blanks_only)
      break;
    const auto c = static_cast<unsigned char>(in->buf[p]);
    if (c >= 0x80) {
      high = true;
      p++;
      continue;
    }
    if (c == '\t' && !in->blanks_separate) {
      p++;
      continue;
    }
    if (c == ',' || c == '\n' || c == '\r' || c == ' ' || c == '\t')
      break;
    refuse_control(in, in->base + p, c);
  }
  std::string_view text;
  if (spanning) {
    if (!blanks_only)
      in->carry.append(in->buf + start, p - start);
    text = in->carry;
  } else {
    text = std::string_view(in->buf + start, p - start);
  }
  in->pos = p;
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  if (text.size() > FIT_MAX_LABEL)
    refuse_long_label(in, tok->column);
  if (high)
    check_label(in, text, tok->line, tok->column);
  tok->text = text;
}

static void read_quoted(FIT_INPUT* in, FIT_TOKEN* tok) {
  tok->line = in->line;
  tok->column = column_of(in, in->base + in->pos);
  tok->quoted = 1;
  in->pos++;  // the opening quote
  in->carry.clear();
  bool copied = false;
  bool high = false;
  std::size_t seg = in->pos;
  std::size_t p = in->pos;
  for (;;) {
    if (p == in->end) {
      in->carry.append(in->buf + seg, p - seg);
      copied = true;
      if (in->carry.size() > FIT_MAX_LABEL)
        refuse_long_label(in, tok->column);
      in->pos = p;
      if (peek(in) < 0) {
        fail(" *** ERROR: %s:%lu:%lu: quoted field not closed on its line\n", in->name, tok->line,
             tok->column);
      }
      seg = p = in->pos;
      continue;
    }
    const auto c = static_cast<unsigned char>(in->buf[p]);
    if (c == '"') {
      in->carry.append(in->buf + seg, p - seg);
      in->pos = p + 1;
      if (peek(in) == '"') {
        // A doubled quote stands for one quote in the label.
        in->carry.push_back('"');
        copied = true;
        in->pos++;
        peek(in);
        seg = p = in->pos;
        continue;
      }
      break;
    }
    if (c == '\n' || c == '\r') {
      fail(" *** ERROR: %s:%lu:%lu: quoted field not closed on its line\n", in->name, tok->line,
           tok->column);
    }
    if (c >= 0x80)
      high = true;
    else if (c < 0x20 && c != '\t')
      refuse_control(in, in->base + p, c);
    p++;
  }
  // Without a doubled quote or a new buffer on the way, the carry holds exactly the label.
  (void)copied;
  std::string_view text = in->carry;
  if (text.size() > FIT_MAX_LABEL)
    refuse_long_label(in, tok->column);
  if (high)
    check_label(in, text, tok->line, tok->column + 1);
  tok->text = text;
  const int next = peek(in);
  if (next >= 0 && next != ',' && next != '\n' && next != '\r' && next != ' ' && next != '\t') {
    fail(" *** ERROR: %s:%lu:%lu: text after a closing quote\n", in->name, in->line,
         column_of(in, in->base + in->pos));
  }
}

// The empty field after a comma that ends a line or the input.
static int after_last_comma(FIT_INPUT* in, FIT_TOKEN* tok) {
  in->state = 1;
  tok->text = std::string_view();
  tok->quoted = 0;
  tok->line = in->line;
  tok->column = column_of(in, in->base + in->pos);
  return TOKEN_FIELD;
}

// The next field, line end or end of input. Empty cells (between commas, or a comma at either
// end of a line) are fields with empty text; a line holding nothing gives no field.
static int next_token(FIT_INPUT* in, FIT_TOKEN* tok) {
  for (;;) {
    const int c = peek(in);
    if (c == ' ' || c == '\t') {
      in->pos++;
      continue;
    }
    if (c < 0) {
      if (in->state == 2)
        return after_last_comma(in, tok);
      if (in->state == 1) {
        in->state = 3;
        return TOKEN_END_OF_LINE;
      }
      return TOKEN_END_OF_INPUT;
    }
    if (c == '\r') {
      in->pos++;
      if (peek(in) != '\n')
        refuse_control(in, in->base + in->pos - 1, '\r');
      continue;
    }
    if (c == '\n') {
      if (in->state == 2)
        return after_last_comma(in, tok);
      in->pos++;
      in->line++;
      in->line_start = in->base + in->pos;
      in->state = 0;
      return TOKEN_END_OF_LINE;
    }
    if (c == ',') {
      tok->line = in->line;
      tok->column = column_of(in, in->base + in->pos);
      in->pos++;
      if (in->state == 1) {
        in->state = 2;
        continue;
      }
      in->state = 2;
      tok->text = std::string_view();
      tok->quoted = 0;
      return TOKEN_FIELD;
    }
    if (in->state == 1 && !in->blanks_separate) {
      fail(" *** ERROR: %s:%lu:%lu: text after a closing quote\n", in->name, in->line,
           column_of(in, in->base + in->pos));
    }
    if (c == '"')
      read_quoted(in, tok);
    else
      read_unquoted(in, tok);
    in->state = 1;
    return TOKEN_FIELD;
  }
}

static bool is_missing(const FIT_TOKEN& tok) {
  if (tok.text.empty())
    return true;
  if (tok.quoted)
    return false;
  const std::string_view t = tok.text;
  return t == "NA" || (t.size() == 3 && (t[0] == 'n' || t[0] == 'N') &&
                       (t[1] == 'a' || t[1] == 'A') && (t[2] == 'n' || t[2] == 'N'));
}

static long state_of(const FIT_INPUT* in, FIT_DATA* data, const FIT_TOKEN& tok) {
  if (is_missing(tok))
    return -1;
  const std::uint32_t s = label_intern(&data->labels, tok.text);
  if ((data->test_flag || data->group_flag || !data->period_first.empty()) &&
      s >= FIT_MAX_TEST_STATES) {
    fail(" *** ERROR: %s:%lu:%lu: more than %zu states for --test\n", in->name, tok.line,
         tok.column, FIT_MAX_TEST_STATES);
  }
  return s;
}

// ---- the forms -----------------------------------------------------------------------------

static void read_sequences(FIT_INPUT* in, FIT_DATA* data) {
  in->blanks_separate = 1;
  FIT_SEQUENCE seq;
  FIT_TOKEN tok{};
  for (;;) {
    const int kind = next_token(in, &tok);
    if (kind == TOKEN_END_OF_INPUT)
      break;
    if (kind == TOKEN_END_OF_LINE) {
      end_sequence(data, &seq);
      continue;
    }
    fit_observe(data, &seq, state_of(in, data, tok));
  }
  end_sequence(data, &seq);
}

// One field of a line, as read_line keeps it.
struct fit_field {
  std::string text;
  int quoted;
  unsigned long column;
};
typedef struct fit_field FIT_FIELD;

// The fields of one line; false at the end of the input.
static bool read_line(FIT_INPUT* in, std::vector<FIT_FIELD>* fields, unsigned long* line) {
  fields->clear();
  FIT_TOKEN tok{};
  *line = in->line;
  for (;;) {
    const int kind = next_token(in, &tok);
    if (kind == TOKEN_END_OF_INPUT)
      return !fields->empty();
    if (kind == TOKEN_END_OF_LINE) {
      if (!fields->empty())
        return true;
      *line = in->line;
      continue;
    }
    fields->push_back(FIT_FIELD{std::string(tok.text), tok.quoted, tok.column});
  }
}

static FIT_TOKEN token_of(const FIT_FIELD& field, unsigned long line) {
  FIT_TOKEN tok{};
  tok.text = field.text;
  tok.quoted = field.quoted;
  tok.line = line;
  tok.column = field.column;
  return tok;
}

static void refuse_ragged(const FIT_INPUT* in, unsigned long line, std::size_t got,
                          std::size_t want) {
  fail(" *** ERROR: %s:%lu: %zu field%s, where the first line has %zu\n", in->name, line, got,
       got == 1 ? "" : "s", want);
}

// Whether the fields after "time" number chains one after another, as a table's title line
// does: "time , 1 , 2" for a whole run, "time , 3 , 4" for the slice --chains 3-4. The header's
// own "time" line holds the date instead.
static bool numbers_chains(const std::vector<std::string>& fields) {
  unsigned long first = 0;
  for (std::size_t i = 0; i < fields.size(); i++) {
    const std::string& f = fields[i];
    if (f.empty() || f.size() > 10 || f[0] == '0' ||
        f.find_first_not_of("0123456789") != std::string::npos)
      return false;
    const unsigned long n = std::stoul(f);
    if (i == 0)
      first = n;
    else if (n != first + i)
      return false;
  }
  return !fields.empty();
}

// A cell as pravlin prints a value (print_flag val, "%f"): digits, a point and six digits.
static bool looks_like_value(std::string_view t) {
  if (!t.empty() && t[0] == '-')
    t.remove_prefix(1);
  const std::size_t point = t.find('.');
  if (point == 0 || point == std::string_view::npos || t.size() - point != 7)
    return false;
  for (std::size_t i = 0; i < t.size(); i++) {
    if (i != point && (t[i] < '0' || t[i] > '9'))
      return false;
  }
  return true;
}

// The first step label of a report becomes the configuration's init_year when pravlin can start
// from it: a whole number in the range of its int.
static void take_init_year(const FIT_INPUT* in, FIT_DATA* data, const FIT_TOKEN& tok) {
  if (data->init_year_seen)
    return;
  data->init_year_seen = 1;
  double year = 0;
  if (!fit_is_number(tok.text, &year))
    return;
  if (year == std::floor(year) && year >= -2147483648.0 && year <= 2147483647.0) {
    data->init_year_flag = 1;
    data->init_year = static_cast<long>(year);
    return;
  }
  warn(
      " *** WARNING: %s:%lu:%lu: the step label (%.*s) is not a year pravlin can start from (a "
      "whole number from -2147483648 to 2147483647): the configuration gives no init_year\n",
      in->name, tok.line, tok.column, static_cast<int>(tok.text.size()), tok.text.data());
}

static void end_sequences(FIT_DATA* data, std::vector<FIT_SEQUENCE>* seqs) {
  for (FIT_SEQUENCE& s : *seqs)
    end_sequence(data, &s);
  seqs->clear();
}

// Each column of a chain table is one sequence. A header block, when there is one, is skipped
// up to the table's title line; the slices of a run written one after another (cat) bring a
// title line each, and the first a header, and each title starts new sequences.
static void read_report(FIT_INPUT* in, FIT_DATA* data) {
  enum { LINE_SKIP, LINE_TITLE, LINE_ROW } kind = LINE_SKIP;
  std::vector<FIT_SEQUENCE> seqs;
  std::vector<std::string> title;  // the fields after "time" on the line being read
  bool table = false;              // the lines are rows of a table
  bool titled = false;             // a table has begun
  bool values = true;              // every cell read is a value as print_flag val prints it
  std::uint64_t cells = 0;
  std::size_t cell = 0;  // fields read on this line: the step label, then the cells
  FIT_TOKEN tok{};
  for (;;) {
    const int token = next_token(in, &tok);
    if (token == TOKEN_END_OF_INPUT)
      break;
    if (token == TOKEN_END_OF_LINE) {
      const unsigned long line = in->line - (in->state == 3 ? 0 : 1);
      if (kind == LINE_TITLE && numbers_chains(title)) {
        end_sequences(data, &seqs);
        seqs.resize(title.size());
        table = titled = true;
      } else if (kind == LINE_TITLE && table) {
        fail(" *** ERROR: %s:%lu: a \"time\" line that does not number the chains\n", in->name,
             line);
      } else if (kind == LINE_ROW && cell != seqs.size() + 1) {
        refuse_ragged(in, line, cell, seqs.size() + 1);
      }
      kind = LINE_SKIP;
      cell = 0;
      continue;
    }
    if (cell == 0) {
      if (tok.text == "time") {
        kind = LINE_TITLE;
        title.clear();
      } else if (tok.text == "PRAVLIN VERSION") {
        end_sequences(data, &seqs);
        table = false;
        kind = LINE_SKIP;
      } else if (table) {
        kind = LINE_ROW;
        take_init_year(in, data, tok);
      }
    } else if (kind == LINE_TITLE) {
      title.emplace_back(tok.text);
    } else if (kind == LINE_ROW) {
      if (cell > seqs.size())
        refuse_ragged(in, tok.line, cell + 1, seqs.size() + 1);
      const long state = state_of(in, data, tok);
      if (state >= 0) {
        cells++;
        values = values && !tok.quoted && looks_like_value(tok.text);
      }
      fit_observe(data, &seqs[cell - 1], state);
    }
    cell++;
  }
  if (!titled)
    fail(" *** ERROR: %s: a report without its \"time\" line\n", in->name);
  end_sequences(data, &seqs);
  if (values && cells > 0)
    data->values_flag = 1;
}

constexpr std::uint32_t NO_STATE = 0xFFFFFFFFu;

struct long_row {
  std::uint32_t id;
  std::uint32_t group;  // with --group
  std::uint32_t state;  // label index; NO_STATE for a missing cell
  double t;             // the time as a number, or the rank of its text
  unsigned long line;
};

static std::string lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return r;
}

// The column named name, whatever the case of its letters; -1 when there is none. Two columns
// of that name (state and State) are refused: taking the first would be a guess.
static long find_column(const FIT_INPUT* in, unsigned long line,
                        const std::vector<FIT_FIELD>& header, std::string_view name) {
  long found = -1;
  for (std::size_t i = 0; i < header.size(); i++) {
    if (lower(header[i].text) != lower(name))
      continue;
    if (found >= 0) {
      fail(" *** ERROR: %s:%lu: two columns named (%s) in the header: columns %ld and %zu\n",
           in->name, line, std::string(name).c_str(), found + 1, i + 1);
    }
    found = static_cast<long>(i);
  }
  return found;
}

static bool eat(std::string_view* v, std::string_view prefix) {
  if (v->substr(0, prefix.size()) != prefix)
    return false;
  v->remove_prefix(prefix.size());
  return true;
}

// hh:mm, hh:mm:ss or hh:mm:ss.f..., then perhaps Z; digits are 9 here.
static bool clock_shape(std::string_view* v) {
  if (!eat(v, "99:99"))
    return false;
  if (eat(v, ":99") && eat(v, ".")) {
    if (!eat(v, "9"))
      return false;
    while (eat(v, "9")) {
    }
  }
  eat(v, "Z");
  return true;
}

// The form of an ISO 8601 date or time, each digit written as 9 ("9999-99-99T99:99"), or empty
// when t is none: YYYY-MM, YYYY-MM-DD, a date with a time of day after T or a blank, or a time of
// day alone. Times of one such form, its fields zero-padded, sort as text in time order.
static std::string iso_shape(std::string_view t) {
  std::string shape(t);
  for (char& c : shape) {
    if (c >= '0' && c <= '9')
      c = '9';
  }
  std::string_view v = shape;
  if (eat(&v, "9999-99")) {
    if (eat(&v, "-99") && (eat(&v, "T") || eat(&v, " ")) && !clock_shape(&v))
      return std::string();
  } else if (!clock_shape(&v)) {
    return std::string();
  }
  return v.empty() ? shape : std::string();
}

// The two digits of t at at, as a number.
static int two_digits(std::string_view t, std::size_t at) {
  return (t[at] - '0') * 10 + (t[at + 1] - '0');
}

// A time of day of clock_shape's form names a time on the clock: hours to 23, minutes to 59,
// seconds to 60 (a leap second).
static bool clock_exists(std::string_view c) {
  return two_digits(c, 0) <= 23 && two_digits(c, 3) <= 59 &&
         (c.size() < 8 || c[5] != ':' || two_digits(c, 6) <= 60);
}

// A time of iso_shape's form names a day of the calendar (leap years counted) and a time on
// the clock: 2024-13-01, 2023-02-29 and 24:00 do not.
static bool iso_exists(std::string_view t) {
  if (t.size() < 7 || t[4] != '-')
    return clock_exists(t);
  const int year = two_digits(t, 0) * 100 + two_digits(t, 2);
  const int month = two_digits(t, 5);
  if (month < 1 || month > 12)
    return false;
  if (t.size() < 10)
    return true;
  static const int DAYS[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  const int day = two_digits(t, 8);
  if (day < 1 || day > DAYS[month - 1] + (month == 2 && leap ? 1 : 0))
    return false;
  return t.size() == 10 || clock_exists(t.substr(11));
}

// How the times of a long table are ordered: as the first row's is.
struct long_times {
  enum { UNKNOWN, NUMBER, TEXT } kind = UNKNOWN;
  std::string first;  // the first row's time
  std::string shape;  // its iso_shape, for TEXT
  LABEL_TABLE texts;  // TEXT: the times met, ranked once every row is read
};

// A row's time: a number, or an ISO 8601 date or time written as the first row's is (its index
// in texts for now). Anything else, an empty time or NA among them, is refused: ordered as text
// with the rest, numbers would put 10 before 2 and invent transitions.
static double time_of(const FIT_INPUT* in, const FIT_FIELD& field, unsigned long line,
                      long_times* times) {
  const char* t = field.text.c_str();
  double v = 0;
  const bool number = fit_is_number(field.text, &v) != 0;
  if (times->kind == long_times::UNKNOWN) {
    times->first = field.text;
    if (number) {
      times->kind = long_times::NUMBER;
    } else {
      times->shape = iso_shape(field.text);
      if (times->shape.empty()) {
        fail(
            " *** ERROR: %s:%lu:%lu: the time (%s) is neither a number nor an ISO 8601 date or "
            "time\n",
            in->name, line, field.column, t);
      }
      times->kind = long_times::TEXT;
    }
  }
  if (times->kind == long_times::NUMBER) {
    if (!number) {
      fail(" *** ERROR: %s:%lu:%lu: the time (%s) is not a number like the first row's (%s)\n",
           in->name, line, field.column, t, times->first.c_str());
    }
    return v;
  }
  if (iso_shape(field.text) != times->shape) {
    fail(
        " *** ERROR: %s:%lu:%lu: the time (%s) is not a date or time of the first row's form "
        "(%s)\n",
        in->name, line, field.column, t, times->first.c_str());
  }
  if (!iso_exists(field.text)) {
    fail(
        " *** ERROR: %s:%lu:%lu: the time (%s) has a month, day, hour, minute or second out of "
        "range\n",
        in->name, line, field.column, t);
  }
  return label_intern(&times->texts, field.text);
}

static void read_long(const FIT_OPTIONS* opt, FIT_INPUT* in, FIT_DATA* data) {
  std::vector<FIT_FIELD> header;
  unsigned long line = 0;
  if (!read_line(in, &header, &line))
    fail(" *** ERROR: %s: no observations\n", in->name);
  std::string names[3] = {"id", "t", "state"};
  if (!opt->columns.empty()) {
    std::size_t a = opt->columns.find(',');
    std::size_t b = a == std::string::npos ? a : opt->columns.find(',', a + 1);
    if (b == std::string::npos) {
      fail(" *** ERROR: --columns needs three names ID,T,STATE, not (%s)\n", opt->columns.c_str());
    }
    names[0] = opt->columns.substr(0, a);
    names[1] = opt->columns.substr(a + 1, b - a - 1);
    names[2] = opt->columns.substr(b + 1);
  }
  long col[3];
  for (int k = 0; k < 3; k++)
    col[k] = names[k].empty() ? -1 : find_column(in, line, header, names[k]);
  long group_col = -1;
  if (opt->group_column != nullptr) {
    group_col = find_column(in, line, header, opt->group_column);
    if (group_col < 0) {
      fail(" *** ERROR: %s:%lu: no column named (%s) in the header\n", in->name, line,
           opt->group_column);
    }
  }
  if (col[1] < 0 && opt->columns.empty())
    col[1] = find_column(in, line, header, "time");
  if (col[2] < 0) {
    fail(" *** ERROR: %s:%lu: no column named (%s) in the header\n", in->name, line,
         names[2].c_str());
  }
  for (int k = 0; k < 2; k++) {
    if (col[k] < 0 && !opt->columns.empty() && !names[k].empty()) {
      fail(" *** ERROR: %s:%lu: no column named (%s) in the header\n", in->name, line,
           names[k].c_str());
    }
  }

  // Rows may come in any order: they are kept (small, fixed-size records) and sorted by id, in
  // order of first appearance, then by t.
  LABEL_TABLE ids;
  long_times times;
  std::vector<long_row> rows;
  std::vector<FIT_FIELD> fields;
  while (read_line(in, &fields, &line)) {
    if (fields.size() != header.size())
      refuse_ragged(in, line, fields.size(), header.size());
    long_row r{};
    r.id = col[0] < 0 ? 0 : label_intern(&ids, fields[static_cast<std::size_t>(col[0])].text);
    if (group_col >= 0) {
      r.group = label_intern(&data->groups, fields[static_cast<std::size_t>(group_col)].text);
      if (r.group >= FIT_MAX_TEST_STATES)
        fail(" *** ERROR: %s:%lu: more than %zu groups\n", in->name, line, FIT_MAX_TEST_STATES);
    }
    r.t = col[1] < 0 ? static_cast<double>(rows.size())
                     : time_of(in, fields[static_cast<std::size_t>(col[1])], line, &times);
    const long state = state_of(in, data, token_of(fields[static_cast<std::size_t>(col[2])], line));
    r.state = state < 0 ? NO_STATE : static_cast<std::uint32_t>(state);
    r.line = line;
    rows.push_back(r);
  }
  if (times.kind == long_times::TEXT) {
    const std::vector<std::string>& texts = times.texts.names;
    std::vector<std::uint32_t> idx(texts.size());
    for (std::size_t i = 0; i < idx.size(); i++)
      idx[i] = static_cast<std::uint32_t>(i);
    std::sort(idx.begin(), idx.end(),
              [&](std::uint32_t a, std::uint32_t b) { return texts[a] < texts[b]; });
    std::vector<double> rank(idx.size());
    for (std::size_t i = 0; i < idx.size(); i++)
      rank[idx[i]] = static_cast<double>(i);
    for (long_row& r : rows)
      r.t = rank[static_cast<std::size_t>(r.t)];
  }
  std::stable_sort(rows.begin(), rows.end(), [](const long_row& a, const long_row& b) {
    return a.id != b.id ? a.id < b.id : a.t < b.t;
  });
  // A sequence is the consecutive rows of one id, whatever their groups: the chain of all groups
  // together is the chain fitted without --group. Each row is observed in its own group
  // (fit_observe: a transition belongs to the group of the row it leaves).
  FIT_SEQUENCE seq;
  for (std::size_t k = 0; k < rows.size(); k++) {
    if (k > 0 && rows[k].id != rows[k - 1].id) {
      end_sequence(data, &seq);
    } else if (k > 0 && rows[k].t == rows[k - 1].t && col[1] >= 0) {
      fail(" *** ERROR: %s:%lu: a second row for the same id and t (line %lu has the first)\n",
           in->name, std::max(rows[k].line, rows[k - 1].line),
           std::min(rows[k].line, rows[k - 1].line));
    }
    data->group = rows[k].group;
    fit_observe(data, &seq, rows[k].state == NO_STATE ? -1 : static_cast<long>(rows[k].state));
  }
  end_sequence(data, &seq);
}

static void read_matrix(FIT_INPUT* in, FIT_DATA* data) {
  data->matrix_flag = 1;
  // Each of several matrices is a group; their counts add up.
  data->matrix.clear();
  data->matrix_rows.clear();
  data->matrix_columns.clear();
  std::vector<FIT_FIELD> header;
  unsigned long line = 0;
  if (!read_line(in, &header, &line))
    fail(" *** ERROR: %s: no observations\n", in->name);
  // A header whose first cell is empty (as R and pandas write it) has a label on every row.
  const bool labelled = header[0].text.empty();
  const std::size_t first_col = labelled ? 1 : 0;
  std::vector<char> in_header;
  for (std::size_t c = first_col; c < header.size(); c++) {
    if (header[c].text.empty())
      fail(" *** ERROR: %s:%lu: an empty label in the header\n", in->name, line);
    const std::uint32_t s = label_intern(&data->labels, header[c].text);
    if (s >= in_header.size())
      in_header.resize(s + 1, 0);
    if (in_header[s]) {
      fail(" *** ERROR: %s:%lu: the label (%s) twice in the header\n", in->name, line,
           header[c].text.c_str());
    }
    in_header[s] = 1;
    data->matrix_columns.push_back(s);
  }
  // Every label is known now: a row's label must be in the header.
  const std::vector<std::uint32_t>& columns = data->matrix_columns;
  std::vector<char> given(data->labels.names.size(), 0);
  FIT_TOKEN tok{};
  long row_label = -1;
  std::size_t field = 0;
  for (;;) {
    const int kind = next_token(in, &tok);
    if (kind == TOKEN_END_OF_INPUT)
      break;
    if (kind == TOKEN_END_OF_LINE) {
      if (field == 0)
        continue;
      const unsigned long l = in->line - (in->state == 3 ? 0 : 1);
      if (field != header.size())
        refuse_ragged(in, l, field, header.size());
      std::uint32_t s = 0;
      if (labelled) {
        s = static_cast<std::uint32_t>(row_label);
      } else {
        if (data->matrix_rows.size() >= columns.size())
          fail(" *** ERROR: %s:%lu: more rows than the header has labels\n", in->name, l);
        s = columns[data->matrix_rows.size()];
      }
      if (given[s]) {
        fail(" *** ERROR: %s:%lu: a second row for (%s)\n", in->name, l,
             data->labels.names[s].c_str());
      }
      given[s] = 1;
      data->matrix_rows.push_back(s);
      field = 0;
      continue;
    }
    if (labelled && field == 0) {
      row_label = label_find(&data->labels, tok.text);
      if (row_label < 0) {
        fail(" *** ERROR: %s:%lu:%lu: the row label (%.*s) is not in the header\n", in->name,
             tok.line, tok.column, static_cast<int>(tok.text.size()), tok.text.data());
      }
    } else if (field < header.size()) {
      double v = 0;
      if (!fit_is_number(tok.text, &v) || v < 0) {
        fail(" *** ERROR: %s:%lu:%lu: not a count or a probability (%.*s)\n", in->name, tok.line,
             tok.column, static_cast<int>(tok.text.size()), tok.text.data());
      }
      data->matrix.push_back(v);
    } else {
      refuse_ragged(in, tok.line, field + 1, header.size());
    }
    field++;
  }
  if (data->matrix_rows.empty())
    fail(" *** ERROR: %s: a matrix without rows\n", in->name);
  bool whole = true;
  for (const double v : data->matrix)
    whole = whole && v == std::floor(v) && v < 9007199254740992.0;
  data->probability_flag = whole ? 0 : 1;
  if (whole) {
    const std::size_t k = columns.size();
    for (std::size_t r = 0; r < data->matrix_rows.size(); r++) {
      for (std::size_t c = 0; c < k; c++) {
        const auto n = static_cast<std::uint64_t>(data->matrix[r * k + c]);
        if (n == 0)
          continue;
        // Counts below 2^53 each, but a row of thousands of them overflows 64 bits.
        if (__builtin_add_overflow(data->nbr_transitions, n, &data->nbr_transitions)) {
          fail(" *** ERROR: %s: the counts total more than 18446744073709551615\n", in->name);
        }
        count_map_add(&data->pairs,
                      static_cast<std::uint64_t>(data->matrix_rows[r]) << 32 | columns[c], n);
        if (data->several_inputs) {
          count_map_add(&data->group_pairs,
                        std::uint64_t{data->group} << 42 |
                            static_cast<std::uint64_t>(data->matrix_rows[r]) << 21 | columns[c],
                        n);
        }
      }
    }
  }
  data->first.assign(data->labels.names.size(), 0);
  if (data->several_inputs && data->probability_flag) {
    fail(
        " *** ERROR: %s: several matrices are compared as groups, and need counts, not "
        "probabilities\n",
        in->name);
  }
  if (data->several_inputs && data->labels.names.size() > FIT_MAX_TEST_STATES)
    fail(" *** ERROR: %s: more than %zu states for groups\n", in->name, FIT_MAX_TEST_STATES);
  if (data->several_inputs) {
    if (data->group_sequences.size() <= data->group)
      data->group_sequences.resize(data->group + 1, 0);
  }
}

// ---- detection -----------------------------------------------------------------------------

// The comma-separated fields of one line, unquoted and trimmed, for detection only.
static std::vector<std::string> split_line(std::string_view line) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false;
  for (std::size_t i = 0; i <= line.size(); i++) {
    const char c = i < line.size() ? line[i] : ',';
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        cur.push_back('"');
        i++;
      } else if (c == '"') {
        quoted = false;
      } else {
        cur.push_back(c);
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      std::size_t a = cur.find_first_not_of(" \t\r");
      std::size_t b = cur.find_last_not_of(" \t\r");
      out.push_back(a == std::string::npos ? std::string() : cur.substr(a, b - a + 1));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  return out;
}

// Widens the buffer until it holds the first two lines from pos, the whole input, or
// FIT_DETECT_LIMIT bytes: a header longer than one buffer is still seen whole. Not past an end
// already met, as in refill: one Ctrl-D on a terminal ends the data.
static void read_ahead(FIT_INPUT* in) {
  for (;;) {
    const std::string_view held(in->buf + in->pos, in->end - in->pos);
    const std::size_t nl = held.find('\n');
    if (in->eof || in->f == nullptr || std::feof(in->f) || in->own.size() >= FIT_DETECT_LIMIT ||
        (nl != std::string_view::npos && held.find('\n', nl + 1) != std::string_view::npos))
      return;
    in->own.resize(std::min(2 * in->own.size(), FIT_DETECT_LIMIT));
    in->buf = in->own.data();
    const std::size_t got =
        std::fread(in->own.data() + in->end, 1, in->own.size() - in->end, in->f);
    if (got == 0) {
      if (std::ferror(in->f))
        fail(" *** ERROR: %s: read error\n", in->name);
      in->eof = 1;
    }
    in->end += got;
  }
}

// The form of an input from its first two lines, held in head (all of the input when whole is
// set). FORM_AUTO when the first line is longer than the window and holds commas: it may be a
// matrix's header or a sequence, which only the line after it could tell.
static FIT_FORM detect(std::string_view head, bool whole) {
  if (head.substr(0, 15) == "PRAVLIN VERSION" || head.substr(0, 6) == "time ,")
    return FORM_REPORT;
  const std::size_t nl = head.find('\n');
  if (nl == std::string_view::npos && !whole)
    return head.find(',') == std::string_view::npos ? FORM_SEQUENCES : FORM_AUTO;
  const std::vector<std::string> first = split_line(head.substr(0, nl));
  if (first.size() >= 2) {
    for (const std::string& f : first) {
      if (lower(f) == "state")
        return FORM_LONG;
    }
  }
  if (nl == std::string_view::npos || first.size() < 2)
    return FORM_SEQUENCES;
  // The second line may end the input without a line break, or go on past the window; then its
  // last field is left out and the fields before it must be numbers.
  const std::string_view rest = head.substr(nl + 1);
  const std::size_t nl2 = rest.find('\n');
  const bool cut = nl2 == std::string_view::npos && !whole;
  std::vector<std::string> second = split_line(rest.substr(0, nl2));
  if (cut && !second.empty())
    second.pop_back();
  if (second.empty() || (cut ? second.size() > first.size() : second.size() != first.size()))
    return FORM_SEQUENCES;
  double v = 0;
  bool numbers = true;
  for (std::size_t i = first[0].empty() ? 1 : 0; i < second.size(); i++)
    numbers = numbers && fit_is_number(second[i], &v) != 0;
  bool header_text = first[0].empty();
  for (const std::string& f : first)
    header_text = header_text || fit_is_number(f, &v) == 0;
  return numbers && header_text ? FORM_MATRIX : FORM_SEQUENCES;
}

// ---- entry points --------------------------------------------------------------------------

// A label of --states gets the checks a label read from the data gets.
static void check_state_option(std::string_view label) {
  if (label.size() > FIT_MAX_LABEL)
    fail(" *** ERROR: --states: a label longer than %zu bytes\n", FIT_MAX_LABEL);
  for (const char ch : label) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 && c != '\t')
      fail(" *** ERROR: --states: a label holds control character 0x%02x\n", unsigned{c});
  }
  const std::size_t bad = bad_utf8(label);
  if (bad != std::string::npos) {
    fail(" *** ERROR: --states: a label holds byte 0x%02x, which is not UTF-8\n",
         unsigned{static_cast<unsigned char>(label[bad])});
  }
}

// The form named by the options: --columns names the long form's columns.
static FIT_FORM named_form(const FIT_OPTIONS* opt) {
  if (opt->columns.empty())
    return opt->form;
  if (opt->form != FORM_AUTO && opt->form != FORM_LONG) {
    fail(" *** ERROR: --columns names the columns of the long form, not of --input %s\n",
         fit_form_name(opt->form));
  }
  return FORM_LONG;
}

// Reads one input into data; the first sets the form, which later inputs must share.
static void read_input(const FIT_OPTIONS* opt, FIT_INPUT* in, FIT_DATA* data, bool first) {
  if (first) {
    data->name = in->name;
    data->test_flag = opt->test_flag;
    data->group_flag = opt->groups_flag || opt->group_column != nullptr;
    data->period_first = opt->period_first;
    data->keep_flag = opt->order > 1 || opt->select_order > 0;
    data->max_bins =
        FIT_BINS_PER_BLOCK * static_cast<std::uint64_t>(opt->blocks > 0 ? opt->blocks : 1);
    for (const std::string& s : opt->states) {
      check_state_option(s);
      label_intern(&data->labels, s);
    }
    data->given_states = data->labels.names.size();
  } else {
    if (data->form == FORM_LONG) {
      fail(" *** ERROR: %s: a second input, but a %s is read from one input alone\n", in->name,
           data->form == FORM_LONG ? "long table" : "matrix");
    }
    data->name += ", ";
    data->name += in->name;
  }
  in->pos = 0;
  in->line = 1;
  in->line_start = 0;
  in->state = 0;
  peek(in);
  // A byte-order mark, as spreadsheets write one.
  if (in->end - in->pos >= 3 && std::memcmp(in->buf + in->pos, "\xEF\xBB\xBF", 3) == 0) {
    in->pos += 3;
    in->line_start = 3;
  }
  if (in->pos == in->end)
    fail(" *** ERROR: %s: no observations\n", in->name);
  FIT_FORM form = named_form(opt);
  if (form == FORM_AUTO) {
    read_ahead(in);
    // The first read may already have met the end (a short file): the window is then whole,
    // though no read has yet come back empty to set in->eof.
    const bool whole = in->eof != 0 || (in->f != nullptr && std::feof(in->f));
    form = detect(std::string_view(in->buf + in->pos, in->end - in->pos), whole);
    if (form == FORM_AUTO) {
      fail(
          " *** ERROR: %s:1: a first line of more than %zu MiB holding commas: name its form "
          "with --input\n",
          in->name, FIT_DETECT_LIMIT >> 20);
    }
  }
  if (opt->group_column != nullptr && form != FORM_LONG)
    fail(" *** ERROR: %s: --group names a column of the long form, not of %s\n", in->name,
         fit_form_name(form));
  if (!first && form != data->form) {
    fail(" *** ERROR: %s: %s after %s: the inputs must be of one form\n", in->name,
         fit_form_name(form), fit_form_name(data->form));
  }
  data->form = form;
  switch (form) {
    case FORM_REPORT:
      read_report(in, data);
      break;
    case FORM_LONG:
      read_long(opt, in, data);
      break;
    case FORM_MATRIX:
      read_matrix(in, data);
      break;
    default:
      read_sequences(in, data);
      break;
  }
  fit_pairs_flush(data);
  data->first.resize(data->labels.names.size(), 0);
}

static void check_observed(const FIT_DATA* data) {
  if (data->labels.names.size() == data->given_states && !data->matrix_flag &&
      data->nbr_sequences == 0) {
    fail(" *** ERROR: %s: no observations\n", data->name.c_str());
  }
}

// One input from an open stream, a buffer of the given size at a time.
static void read_stream(const FIT_OPTIONS* opt, FILE* f, const char* name, std::size_t buffer,
                        FIT_DATA* data, bool first) {
  FIT_INPUT in{};
  in.name = name;
  in.f = f;
  in.own.resize(buffer);
  in.buf = in.own.data();
  read_input(opt, &in, data, first);
}

// Each of count inputs is named as a group while it is read: with --groups, or when the inputs
// turn out to be matrices, which can be nothing else.
static void begin_input(const FIT_OPTIONS* opt, std::size_t count, const char* name,
                        FIT_DATA* data) {
  data->several_inputs = count > 1 && opt->group_column == nullptr;
  if (data->several_inputs || opt->groups_flag)
    data->group = label_intern(&data->groups, name);
}

static void end_inputs(FIT_DATA* data) {
  if (data->matrix_flag && data->several_inputs)
    data->group_flag = 1;
  if (!data->group_flag)
    data->groups = LABEL_TABLE{};
  check_observed(data);
}

void fit_read(const FIT_OPTIONS* opt, FIT_DATA* data) {
  std::vector<const char*> inputs = opt->inputs;
  if (inputs.empty())
    inputs.push_back(opt->input);
  for (std::size_t i = 0; i < inputs.size(); i++) {
    const char* path = inputs[i];
    const bool from_stdin = path == nullptr || std::strcmp(path, "-") == 0;
    FILE* f = from_stdin ? stdin : std::fopen(path, "rb");
    if (f == nullptr)
      fail(" *** ERROR: Unable to open file (%s)\n", path);
    begin_input(opt, inputs.size(), from_stdin ? "(standard input)" : path, data);
    read_stream(opt, f, from_stdin ? "(standard input)" : path, FIT_READ_BUFFER, data, i == 0);
    if (!from_stdin)
      std::fclose(f);
  }
  end_inputs(data);
}

void fit_read_stream(const FIT_OPTIONS* opt, FILE* f, const char* name, std::size_t buffer,
                     FIT_DATA* data) {
  // A byte-order mark is looked for in the first buffer.
  read_stream(opt, f, name, std::max<std::size_t>(buffer, 4), data, true);
  check_observed(data);
}

void fit_read_text(const FIT_OPTIONS* opt, std::string_view text, const char* name,
                   FIT_DATA* data) {
  FIT_INPUT in{};
  in.name = name;
  in.buf = text.data();
  in.end = text.size();
  in.eof = 1;
  read_input(opt, &in, data, true);
  check_observed(data);
}

void fit_read_texts(const FIT_OPTIONS* opt, const std::vector<std::string_view>& texts,
                    const std::vector<std::string>& names, FIT_DATA* data) {
  for (std::size_t i = 0; i < texts.size(); i++) {
    begin_input(opt, texts.size(), names[i].c_str(), data);
    FIT_INPUT in{};
    in.name = names[i].c_str();
    in.buf = texts[i].data();
    in.end = texts[i].size();
    in.eof = 1;
    read_input(opt, &in, data, i == 0);
  }
  end_inputs(data);
}
