// config_schema.cc - the configuration's elements, the rules their names are matched by, and
// the conversions of their texts: what every reader of a configuration goes by.
// Part of pravlin; see README.md.
#include "config_schema.h"

#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

int xml_atoi(const char* s) {
  if (s == nullptr)
    return 0;
  // The white space that atoi skips in the C locale.
  while (*s == ' ' || (*s >= '\t' && *s <= '\r'))
    s++;
  bool negative = false;
  if (*s == '+' || *s == '-')
    negative = *s++ == '-';
  // Saturates at the limits of int: 99999999999 reads as 2147483647, not as its low bits.
  std::int64_t v = 0;
  for (; *s >= '0' && *s <= '9'; s++) {
    v = v * 10 + (*s - '0');
    if (v > static_cast<std::int64_t>(INT_MAX) + 1)
      v = static_cast<std::int64_t>(INT_MAX) + 1;
  }
  if (negative)
    return static_cast<int>(-v);
  return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

double xml_atof(const char* s) {
  if (s == nullptr)
    return 0.0;
  // from_chars reads the plain decimal forms several times faster than strtod and rounds them
  // the same way; strtod keeps what from_chars leaves out or refuses: leading white space, a
  // leading '+', hexadecimal, inf and nan, and values out of range (inf, or the C library's
  // underflow result).
  const char* p = s + (*s == '-');
  bool plain = (*p >= '0' && *p <= '9') || (*p == '.' && p[1] >= '0' && p[1] <= '9');
  if (plain && !(p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))) {
    double v = 0.0;
    auto r = std::from_chars(s, s + std::strlen(s), v);
    if (r.ec == std::errc())
      return v;
  }
  return std::strtod(s, nullptr);
}

// The elements' keywords, and how many of their first characters a name must match (0: the
// whole name). ORDER CONFIGNAME
struct ConfigElement {
  ConfigPlace place;
  std::string_view keyword;
  int matched;
};
static constexpr ConfigElement CONFIG_ELEMENTS[] = {
    {IN_DOCUMENT, "pravlin", 0},
    {IN_ROOT, "nbr_states", 8},
    {IN_ROOT, "init_year", 8},
    {IN_ROOT, "nbr_years", 8},
    {IN_ROOT, "nbr_chains", 8},
    {IN_ROOT, "print_flag", 8},
    {IN_ROOT, "print_header", 8},
    {IN_ROOT, "debug", 0},
    {IN_ROOT, "filename", 0},
    {IN_ROOT, "steadystate", 8},
    {IN_ROOT, "state", 0},
    {IN_ROOT, "transition", 0},
    {IN_ROOT, "period", 0},
    {IN_STEADYSTATE, "calc", 0},
    {IN_STEADYSTATE, "max_iteration", 8},
    {IN_STEADYSTATE, "max_error", 8},
    {IN_STATE, "ser", 0},
    {IN_STATE, "name", 0},
    {IN_STATE, "initial_probability", 8},
    {IN_STATE, "value", 3},
    {IN_TRANSITION, "from", 0},
    {IN_TRANSITION, "to", 0},
    {IN_TO, "state", 0},
    {IN_TO, "probability", 8},
    {IN_PERIOD, "first", 0},
    {IN_PERIOD, "last", 0},
    {IN_PERIOD, "transition", 0},
};
static_assert(sizeof CONFIG_ELEMENTS / sizeof CONFIG_ELEMENTS[0] == CFG_UNKNOWN,
              "one entry per ConfigName");

// A place's elements stand together in the table: its first, found once. A large configuration
// asks for millions of names.
static constexpr int first_of(ConfigPlace place) {
  int e = 0;
  while (e < CFG_UNKNOWN && CONFIG_ELEMENTS[e].place != place)
    e++;
  return e;
}
static constexpr int PLACE_FIRST[] = {
    first_of(IN_DOCUMENT),   first_of(IN_ROOT), first_of(IN_STEADYSTATE), first_of(IN_STATE),
    first_of(IN_TRANSITION), first_of(IN_TO),   first_of(IN_PERIOD)};

// Names are matched after lowering A to Z and nothing else, as the tree's names are lowered.
static inline char lower_ascii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether name[0..len) is the keyword in full, or has its first characters when only those are
// compared. A name shorter than the characters compared never matches.
static bool name_matches(const ConfigElement& k, const char* name, std::size_t len) {
  const std::size_t n = k.matched == 0 ? k.keyword.size() : static_cast<std::size_t>(k.matched);
  if (k.matched == 0 ? len != n : len < n)
    return false;
  for (std::size_t i = 0; i < n; i++) {
    if (lower_ascii(name[i]) != k.keyword[i])
      return false;
  }
  return true;
}

ConfigName config_name_of(const char* name, std::size_t len, ConfigPlace place) {
  for (int e = PLACE_FIRST[place]; e < CFG_UNKNOWN && CONFIG_ELEMENTS[e].place == place; e++) {
    if (name_matches(CONFIG_ELEMENTS[e], name, len))
      return static_cast<ConfigName>(e);
  }
  return CFG_UNKNOWN;
}

ConfigName config_name(const XMLENTITY* x, ConfigPlace place) {
  if (x->name == nullptr)
    return CFG_UNKNOWN;
  return config_name_of(x->name, std::strlen(x->name), place);
}

bool config_name_in_full(ConfigName e, std::size_t len) {
  return e != CFG_UNKNOWN && len == CONFIG_ELEMENTS[e].keyword.size();
}

const char* config_keyword(ConfigName e) {
  // The keywords are string literals, whose terminators follow them.
  return CONFIG_ELEMENTS[e].keyword.data();
}

int config_matched_characters(ConfigName e) {
  return CONFIG_ELEMENTS[e].matched;
}

// The words of the settings that take words, and the value each stands for; `written` marks the
// one a writer writes. ORDER CONFIGWORDS: each setting's list below spells its words in this
// order.
struct ConfigWord {
  ConfigWords words;
  const char* text;
  int value;
  bool written;
};
static constexpr ConfigWord CONFIG_WORDS[] = {
    {WORDS_YES_NO, "YES", 1, false},      {WORDS_YES_NO, "yes", 1, true},
    {WORDS_YES_NO, "1", 1, false},        {WORDS_YES_NO, "NO", 0, false},
    {WORDS_YES_NO, "no", 0, true},        {WORDS_YES_NO, "0", 0, false},
    {WORDS_PRINT_FLAG, "VAL", 0, false},  {WORDS_PRINT_FLAG, "val", 0, true},
    {WORDS_PRINT_FLAG, "SER", 1, false},  {WORDS_PRINT_FLAG, "ser", 1, true},
    {WORDS_PRINT_FLAG, "NAME", 2, false}, {WORDS_PRINT_FLAG, "name", 2, true},
};
static const char* const CONFIG_WORD_LISTS[] = {"YES, yes, 1, NO, no, 0",
                                                "VAL, val, SER, ser, NAME, name"};

int config_word_value(ConfigWords words, const char* text) {
  for (const ConfigWord& w : CONFIG_WORDS) {
    if (w.words == words && std::strcmp(text, w.text) == 0)
      return w.value;
  }
  return -1;
}

const char* config_word(ConfigWords words, int value) {
  for (const ConfigWord& w : CONFIG_WORDS) {
    if (w.words == words && w.value == value && w.written)
      return w.text;
  }
  return nullptr;
}

const char* config_word_list(ConfigWords words) {
  return CONFIG_WORD_LISTS[words];
}

const char* config_text(const XMLENTITY* x) {
  return x->s != nullptr ? x->s : "";
}
