// analyze_states.h - states named by the one rule of every option and file, and names shown
// safely on a terminal.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_STATES_H
#define PRAVLIN_ANALYZE_STATES_H

#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "pravlin.h"

/// The chain's state names, for resolving many designators with one pass over the states.
struct state_lookup {
  const PRAVLIN* pv;
  std::unordered_map<std::string_view, std::pair<int, int>> named;  // the first two states with
                                                                    // each name (0: only one)
  int numeric_names;  // 1 when some state's name is a number, or begins as one ("6.0", "-1")
};
typedef struct state_lookup STATE_LOOKUP;

/// Indexes pv's state names into lookup; pv and its names must outlive it.
void state_lookup_init(STATE_LOOKUP* lookup, const PRAVLIN* pv);
/// The state (1..nbr_states) that designator names, by the one rule of every option and file
/// that names states: "#N" is the state numbered N; any other text is the name of a state,
/// matched byte for byte. A bare number that is no state's name stands for the state so
/// numbered only in a chain where no name is a number (nor begins as one); among numeric names
/// it is refused, with a line that says to write #N. A name that several states have is
/// refused too. Does not return on a refusal: one line on standard error, beginning with where
/// ("--target", "groups.txt:3").
int lookup_state(const STATE_LOOKUP* lookup, const char* designator, const char* where);
/// lookup_state for one designator.
int resolve_state(const PRAVLIN* pv, const char* designator, const char* where);
/// lookup_state for each item of a comma-separated list, into states in the order given, each
/// state once however often it is named; an empty item is refused. Returns the count.
int resolve_states(const PRAVLIN* pv, const char* list, const char* where,
                   std::vector<int>* states);

/// The length of the well-formed UTF-8 sequence at p (1 to 4), or 0 when none starts there: an
/// overlong form, a surrogate, a code point beyond U+10FFFF, a stray or missing continuation.
int utf8_length(const unsigned char* p);
/// Appends text as the text output shows it: a control character (below 0x20, 0x7F, and the
/// C1 controls U+0080..U+009F) and every byte that is not part of well-formed UTF-8 as \xHH
/// for each of its bytes, a backslash doubled, everything else as it is. A name then cannot act
/// on a terminal, and the output is UTF-8.
void append_shown(std::string* out, const char* text);
/// append_shown into a new string; null as "".
std::string shown(const char* text);
/// text as append_shown shows it, on out.
void print_shown(FILE* out, const char* text);
/// "number name" as append_shown shows the name, or the number alone for an unnamed state.
void print_state(FILE* out, const PRAVLIN* pv, int s);

/// The default of --per-state-max: above this many states, lists of one line per state are
/// left out of the text, each with a line that says so. Above every example's size; a chain of
/// ten thousand states would otherwise print tens of thousands of lines per section.
const long PER_STATE_MAX = 2000;
/// Sets the limit for print_state_lines and state_lines_left_out; PER_STATE_MAX until then.
void set_per_state_max(long max);
/// When the chain of pv is too large for its per-state lines, prints one line saying that the
/// count lines were left out and returns 1; else prints nothing and returns 0.
int state_lines_left_out(FILE* out, const PRAVLIN* pv, std::size_t count);

/// One line "  <state>" for each of states[0..count), the state as print_state shows it, then
/// " <number>" as "%.*f" writes x[s] (1 / x[s] with reciprocal) unless x is null, written a block
/// of lines at a time: a million states make a million lines. Above the limit of
/// set_per_state_max, the one line of state_lines_left_out instead.
void print_state_lines(FILE* out, const PRAVLIN* pv, const int* states, std::size_t count,
                       const double* x, int precision, int reciprocal);

#endif
