// read_compare.h - the whole outcome of reading one configuration, as text: every field of the
// record, its tables, the transitions listed and pravlin-analyze's notes; for the test and the
// fuzz target that hold the stream path to the tree's.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_READ_COMPARE_H
#define PRAVLIN_READ_COMPARE_H

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "analyze_notes.h"
#include "config.h"
#include "config_stream.h"
#include "periods.h"
#include "pravlin.h"
#include "sparse_read.h"

/// The three ways the programs read a configuration: pravlin's dense matrix (and the header's
/// reading), a run that keeps sparse rows whenever it can, and pravlin-analyze's list and notes
/// (READ_MATRIX, READ_FOR_RUN and READ_LIST, numbered 0 to 2).
using ReadMode = ConfigRead;

/// Reads pv->in into pv as mode has it. Does not return when the read fails.
inline void read_in_mode(PRAVLIN* pv, ReadMode mode, std::vector<TRANSITION_ENTRY>* list,
                         std::vector<READ_NOTE>* notes) {
  if (mode == READ_MATRIX) {
    read_configuration(pv, READ_MATRIX, 0);
  } else if (mode == READ_FOR_RUN) {
    set_sparse_rows_from(2);
    read_configuration(pv, READ_FOR_RUN, 0);
  } else {
    read_configuration(pv, READ_LIST, 0, list);
    collect_read_notes(pv, *list, notes);
  }
}

inline void describe_number(std::string* out, const char* what, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  char line[96];
  std::snprintf(line, sizeof line, "%s %.17g %016" PRIx64 "\n", what, v, bits);
  *out += line;
}

inline void describe_int(std::string* out, const char* what, long long v) {
  *out += what;
  *out += ' ';
  *out += std::to_string(v);
  *out += '\n';
}

inline void describe_text(std::string* out, const char* what, const char* s) {
  *out += what;
  *out += s != nullptr ? " \"" + std::string(s) + "\"\n" : " null\n";
}

/// The record, field by field (the tables by their entries that are not zero or null), then the
/// list and the notes.
inline std::string describe_record(const PRAVLIN* pv, const std::vector<TRANSITION_ENTRY>& list,
                                   const std::vector<READ_NOTE>& notes) {
  std::string out;
  describe_int(&out, "nbr_states", pv->nbr_states);
  describe_int(&out, "init_year", pv->init_year);
  describe_int(&out, "nbr_years", pv->nbr_years);
  describe_int(&out, "nbr_chains", pv->nbr_chains);
  describe_int(&out, "print_header", pv->print_header);
  describe_int(&out, "print_flag", pv->print_flag);
  describe_int(&out, "calc_flag", pv->calc_flag);
  describe_int(&out, "max_iteration", pv->max_iteration);
  describe_number(&out, "max_error", pv->max_error);
  describe_int(&out, "debug", pv->debug);
  describe_text(&out, "outfilename", pv->outfilename);
  describe_int(&out, "out", pv->out == nullptr ? 0 : pv->out == stdout ? 1 : 2);
  describe_int(&out, "xml", pv->xml != nullptr);
  const int n = pv->nbr_states;
  for (int i = 0; pv->state_name != nullptr && i <= n; i++) {
    if (pv->state_name[i] != nullptr)
      describe_text(&out, ("state_name " + std::to_string(i)).c_str(), pv->state_name[i]);
  }
  const double* const tables[] = {pv->val, pv->initial_probability, pv->steady_state_probability};
  const char* const table_names[] = {"val", "initial_probability", "steady_state_probability"};
  for (int t = 0; t < 3; t++) {
    describe_int(&out, table_names[t], tables[t] != nullptr);
    for (int i = 0; tables[t] != nullptr && i <= n; i++) {
      if (tables[t][i] != 0.0 || std::signbit(tables[t][i]))
        describe_number(&out, (std::string(table_names[t]) + " " + std::to_string(i)).c_str(),
                        tables[t][i]);
    }
  }
  describe_int(&out, "transition_probability", pv->transition_probability != nullptr);
  for (int i = 0; pv->transition_probability != nullptr && i <= n; i++) {
    const double* row = pv->transition_probability[i];
    if (row == nullptr)
      continue;
    describe_int(&out, "row", i);
    for (int j = 0; j <= n; j++) {
      if (row[j] != 0.0 || std::signbit(row[j]))
        describe_number(&out, std::to_string(j).c_str(), row[j]);
    }
  }
  describe_int(&out, "chains", pv->pravlin != nullptr);
  if (pv->pravlin != nullptr)
    describe_int(&out, "chain rows", pv->pravlin[0] != nullptr);
  const auto describe_entries = [&out](const char* what, const std::vector<TRANSITION_ENTRY>& l) {
    describe_int(&out, what, static_cast<long long>(l.size()));
    for (const TRANSITION_ENTRY& e : l) {
      describe_number(&out, (std::to_string(e.from) + " " + std::to_string(e.to)).c_str(),
                      e.probability);
    }
  };
  describe_int(&out, "sparse_transitions", pv->sparse_transitions != nullptr);
  if (pv->sparse_transitions != nullptr) {
    describe_entries("entries", pv->sparse_transitions->entries);
    describe_int(&out, "row_start",
                 static_cast<long long>(pv->sparse_transitions->row_start.size()));
  }
  describe_entries("list", list);
  describe_int(&out, "periods", pv->periods != nullptr);
  for (std::size_t p = 0; pv->periods != nullptr && p < pv->periods->list.size(); p++) {
    const CHAIN_PERIOD& period = pv->periods->list[p];
    describe_int(&out, "period first", period.first);
    describe_int(&out, "period last", period.last);
    describe_int(&out, "period matrix", period.transition_probability != nullptr);
    for (int i = 1; period.transition_probability != nullptr && i <= n; i++) {
      for (int j = 1; j <= n; j++) {
        const double v = period.transition_probability[i][j];
        if (v != 0.0 || std::signbit(v))
          describe_number(&out, (std::to_string(i) + " " + std::to_string(j)).c_str(), v);
      }
    }
    describe_entries("period entries", period.entries);
  }
  for (const READ_NOTE& note : notes) {
    out += "note " + note.kind + " <" + note.element + "> in \"" + note.where + "\" text \"" +
           note.text + "\": " + note.message + "\n";
  }
  return out;
}

#endif
