// config_write.h - a configuration written: its numbers in one form, each of its elements, and a
// whole chain given by its rows (config_write_chain) or by its periods' rows
// (config_write_periods), for every program that writes one.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_CONFIG_WRITE_H
#define PRAVLIN_CONFIG_WRITE_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "config_schema.h"

/// The shortest text that reads back as x bit for bit (std::to_chars): the form of every number
/// a configuration is written with.
std::string config_number(double x);

/// Moves p[0..m-1], entries that total 1 to within rounding, by a few ulps so that added in
/// order from 0.0 they total exactly 1: the largest entry when that can do it, else one entry
/// set to 1 less the entries before it. Left as they are when neither can.
void total_exactly_one(double* p, std::size_t m);

/// How a state and a transition are laid out: on one line each, their elements side by side
/// (CONFIG_COMPACT), or an element a line, indented by its depth (CONFIG_LINES).
enum ConfigLayout { CONFIG_COMPACT, CONFIG_LINES };

/// "<pravlin>\n" and "</pravlin>\n".
void config_write_open(FILE* out);
void config_write_close(FILE* out);
/// A setting of the root that holds a number (nbr_states, init_year, nbr_years, nbr_chains),
/// on a line of its own.
void config_write_setting(FILE* out, ConfigName e, long value);
/// A setting of the root that holds a word (print_flag, print_header), on a line of its own,
/// as config_word writes value; nothing when value stands for no word.
void config_write_word(FILE* out, ConfigName e, ConfigWords words, int value);
/// The steadystate element on one line.
void config_write_steadystate(FILE* out, int calc_flag, int max_iteration, double max_error);
/// A state: its number, its name when name is not null (the bytes as they are), its value when
/// value is not null, and its initial probability.
void config_write_state(FILE* out, ConfigLayout layout, long ser, const std::string* name,
                        const double* value, double initial_probability);
/// A transition: its start with its source, each destination, its end. indent goes before each
/// line that begins with an element: "" at the root, "  " in a period.
void config_write_transition_open(FILE* out, ConfigLayout layout, const char* indent, long from);
void config_write_to(FILE* out, ConfigLayout layout, const char* indent, long to,
                     double probability);
void config_write_transition_close(FILE* out, ConfigLayout layout, const char* indent);
/// A period's start, with its first and last step, and its end.
void config_write_period_open(FILE* out, long first, long last);
void config_write_period_close(FILE* out);

/// The settings a chain is written with. Without given, only nbr_states is written, which
/// leaves pravlin its defaults for the rest.
struct config_settings {
  bool given;
  int init_year, nbr_years, nbr_chains, print_flag, print_header, calc_flag, max_iteration;
  double max_error;
};
typedef struct config_settings CONFIG_SETTINGS;

/// Writes a chain of n states to out as a configuration, compact: after "<pravlin>", the lines
/// of comment as given (each whole, "\n" and all); the settings; state b (1-based) named name[b]
/// (no name when it is empty), of value value[b] and initial probability initial[b]; the
/// transitions of row a, to[e] with p[e] for e from row_start[a] to row_start[a + 1] - 1. Each
/// row, and the initial probabilities, moved by total_exactly_one, so that pravlin reads the
/// file back without a warning and rescales nothing.
void config_write_chain(FILE* out, const CONFIG_SETTINGS* settings, const std::string& comment,
                        int n, const std::vector<std::string>& name, const double* value,
                        const double* initial, const std::size_t* row_start, const int* to,
                        const double* p);

/// The rows of one period of a chain whose matrix changes with the step: the draws of steps
/// first..last take them; row a's transitions are to[e] with p[e] for e from row_start[a] to
/// row_start[a + 1] - 1.
struct config_period_rows {
  long first, last;
  const std::size_t* row_start;
  const int* to;
  const double* p;
};
typedef struct config_period_rows CONFIG_PERIOD_ROWS;

/// config_write_chain for a chain whose matrix changes with the step: the same head, then each
/// period's element with its rows, in order.
void config_write_periods(FILE* out, const CONFIG_SETTINGS* settings, const std::string& comment,
                          int n, const std::vector<std::string>& name, const double* value,
                          const double* initial, const std::vector<CONFIG_PERIOD_ROWS>& periods);

#endif
