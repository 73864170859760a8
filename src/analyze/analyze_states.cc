// analyze_states.cc - states by name: the one rule every option that names states reads them by
// (resolve_state), and names shown so that they cannot act on a terminal (append_shown).
// Part of pravlin; see README.md.
#include "analyze_states.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "table_lines.h"

int utf8_length(const unsigned char* p) {
  const unsigned char c = p[0];
  auto tail = [](unsigned char b) { return b >= 0x80 && b <= 0xBF; };
  if (c < 0x80)
    return 1;
  if (c >= 0xC2 && c <= 0xDF)
    return tail(p[1]) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    // E0 would be an overlong form below A0; ED A0..BF would be a surrogate.
    const unsigned char low = c == 0xE0 ? 0xA0 : 0x80;
    const unsigned char high = c == 0xED ? 0x9F : 0xBF;
    return p[1] >= low && p[1] <= high && tail(p[2]) ? 3 : 0;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    // F0 would be overlong below 90; F4 past 8F would be beyond U+10FFFF.
    const unsigned char low = c == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = c == 0xF4 ? 0x8F : 0xBF;
    return p[1] >= low && p[1] <= high && tail(p[2]) && tail(p[3]) ? 4 : 0;
  }
  return 0;
}

static void append_hex(std::string* out, unsigned char b) {
  static const char kDigits[] = "0123456789abcdef";
  out->append("\\x");
  out->push_back(kDigits[b >> 4]);
  out->push_back(kDigits[b & 15]);
}

void append_shown(std::string* out, const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  // Most names need nothing: they go out in one piece.
  const unsigned char* q = p;
  while (*q >= 0x20 && *q < 0x7F && *q != '\\')
    q++;
  if (*q == 0) {
    out->append(text, static_cast<std::size_t>(q - p));
    return;
  }
  while (*p != 0) {
    const int len = utf8_length(p);
    const unsigned char b = *p;
    if (len == 1) {
      if (b < 0x20 || b == 0x7F) {
        append_hex(out, b);
      } else if (b == '\\') {
        out->append("\\\\");
      } else {
        out->push_back(static_cast<char>(b));
      }
      p++;
    } else if (len == 2 && b == 0xC2 && p[1] < 0xA0) {
      // U+0080..U+009F, the C1 controls: CSI (U+009B) starts a sequence as ESC [ does.
      append_hex(out, b);
      append_hex(out, p[1]);
      p += 2;
    } else if (len > 1) {
      out->append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(len));
      p += len;
    } else {
      // A byte that is no UTF-8: to a terminal that reads bytes as Latin-1, 0x80..0x9F are the
      // C1 controls. Shown as a number, it also leaves the whole text UTF-8.
      append_hex(out, b);
      p++;
    }
  }
}

std::string shown(const char* text) {
  std::string out;
  append_shown(&out, text != nullptr ? text : "");
  return out;
}

void print_shown(FILE* out, const char* text) {
  const std::string s = shown(text);
  std::fwrite(s.data(), 1, s.size(), out);
}

void print_state(FILE* out, const PRAVLIN* pv, int s) {
  std::fprintf(out, "%d", s);
  if (pv->state_name[s] != nullptr) {
    std::fputc(' ', out);
    print_shown(out, pv->state_name[s]);
  }
}

// A name that reads as a number, or begins as one ("6", "06", "6.0", "-1", ".5"): a label a
// bare number may have been meant for.
static bool numeric(const char* name) {
  auto digit = [](char ch) { return ch >= '0' && ch <= '9'; };
  return digit(name[0]) || ((name[0] == '+' || name[0] == '-' || name[0] == '.') && digit(name[1]));
}

void state_lookup_init(STATE_LOOKUP* lookup, const PRAVLIN* pv) {
  lookup->pv = pv;
  lookup->named.clear();
  lookup->numeric_names = 0;
  for (int s = 1; s <= pv->nbr_states; s++) {
    if (pv->state_name[s] == nullptr)
      continue;
    if (numeric(pv->state_name[s]))
      lookup->numeric_names = 1;
    auto [it, inserted] = lookup->named.try_emplace(pv->state_name[s], s, 0);
    if (!inserted && it->second.second == 0)
      it->second.second = s;
  }
}

// text as a state number: decimal digits only, without sign or blank. -1 when it is not one,
// 0 for a number no chain has (0 itself, or one beyond any chain's size).
static long number_of(const char* text) {
  if (*text == '\0')
    return -1;
  long v = 0;
  for (const char* p = text; *p != '\0'; p++) {
    if (*p < '0' || *p > '9')
      return -1;
    if (v <= 1000000000L)
      v = v * 10 + (*p - '0');
  }
  return v <= 1000000000L ? v : 0;
}

int lookup_state(const STATE_LOOKUP* lookup, const char* designator, const char* where) {
  const PRAVLIN* pv = lookup->pv;
  const std::string text = shown(designator);
  const bool hash = designator[0] == '#' && number_of(designator + 1) >= 0;
  const long number = number_of(hash ? designator + 1 : designator);
  if (!hash) {
    const auto it = lookup->named.find(designator);
    if (it != lookup->named.end() && it->second.second != 0) {
      fail(
          " *** ERROR: %s: more than one state is named (%s), #%d and #%d among them: give the "
          "one meant by its number, as #%d\n",
          where, text.c_str(), it->second.first, it->second.second, it->second.first);
    }
    if (it != lookup->named.end())
      return it->second.first;
    // A number that names no state is a state number only where no name is a number: among
    // numeric labels it may be one mistyped, or missing, that a state number would silently
    // stand in for.
    if (number < 0 || (lookup->numeric_names && (number < 1 || number > pv->nbr_states)))
      fail(" *** ERROR: %s: no state is named (%s)\n", where, text.c_str());
    if (lookup->numeric_names) {
      fail(" *** ERROR: %s: no state is named (%s); write #%s for the state numbered %s\n", where,
           text.c_str(), text.c_str(), text.c_str());
    }
  }
  if (number < 1 || number > pv->nbr_states) {
    fail(" *** ERROR: %s: no state is numbered (%s): the states are #1 to #%d\n", where,
         text.c_str(), pv->nbr_states);
  }
  return static_cast<int>(number);
}

int resolve_state(const PRAVLIN* pv, const char* designator, const char* where) {
  STATE_LOOKUP lookup;
  state_lookup_init(&lookup, pv);
  return lookup_state(&lookup, designator, where);
}

int resolve_states(const PRAVLIN* pv, const char* list, const char* where,
                   std::vector<int>* states) {
  states->clear();
  STATE_LOOKUP lookup;
  state_lookup_init(&lookup, pv);
  std::vector<char> seen(static_cast<std::size_t>(pv->nbr_states) + 1, 0);
  const std::string all = list;
  std::size_t start = 0;
  while (start <= all.size()) {
    std::size_t end = all.find(',', start);
    if (end == std::string::npos)
      end = all.size();
    const std::string item = all.substr(start, end - start);
    start = end + 1;
    if (item.empty()) {
      fail(
          " *** ERROR: %s: an empty item in (%s): give states by name, or as #N by number, "
          "separated by commas\n",
          where, shown(list).c_str());
    }
    const int s = lookup_state(&lookup, item.c_str(), where);
    if (!seen[s])
      states->push_back(s);
    seen[s] = 1;
  }
  return static_cast<int>(states->size());
}

static long per_state_max = PER_STATE_MAX;

void set_per_state_max(long max) {
  per_state_max = max;
}

int state_lines_left_out(FILE* out, const PRAVLIN* pv, std::size_t count) {
  if (pv->nbr_states <= per_state_max || count == 0)
    return 0;
  std::fprintf(out, "  %zu line%s left out, one a state: more than %ld states (--per-state-max)\n",
               count, count == 1 ? "" : "s", per_state_max);
  return 1;
}

static void put_int(std::string* line, int v) {
  char text[16];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, v);
  line->append(text, r.ptr);
}

// Lines go out when this many bytes are gathered: a formatted print per line cost more than
// the rest of an analysis of a million states.
static const std::size_t LINE_BLOCK = std::size_t{1} << 16;

void print_state_lines(FILE* out, const PRAVLIN* pv, const int* states, std::size_t count,
                       const double* x, int precision, int reciprocal) {
  if (state_lines_left_out(out, pv, count))
    return;
  std::string block;
  block.reserve(LINE_BLOCK + 256);
  for (std::size_t i = 0; i < count; i++) {
    const int s = states[i];
    block += "  ";
    put_int(&block, s);
    if (pv->state_name[s] != nullptr) {
      block += ' ';
      append_shown(&block, pv->state_name[s]);
    }
    if (x != nullptr) {
      block += ' ';
      format_fixed(block, reciprocal ? 1.0 / x[s] : x[s], precision);
    }
    block += '\n';
    if (block.size() >= LINE_BLOCK) {
      std::fwrite(block.data(), 1, block.size(), out);
      block.clear();
    }
  }
  std::fwrite(block.data(), 1, block.size(), out);
}
