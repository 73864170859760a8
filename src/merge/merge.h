// merge.h - pravlin-merge's rules: the reports of slices of one run joined into the whole
// run's report, and what the run is known to be, checked on the way.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_MERGE_H
#define PRAVLIN_MERGE_H

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "pravlin.h"

/// What the run is known to be, from the command line, the configuration or the header; -1
/// where nothing says.
struct MERGE_RUN {
  long long chains = -1;  // --chains
  const char* config = nullptr;
  long long config_chains = -1;
  long long config_lines = -1;  // nbr_years + 1
  int config_header = -1;
  int config_cells = -1;
  long long header_chains = -1;
  long long header_lines = -1;
  // From the configuration, what its run prints: the step labels from init_year on, the header
  // lines of its sizes and states, and every state's cell.
  const PRAVLIN* pv = nullptr;
  std::vector<std::string> cell_texts;
  std::unordered_set<std::string_view> cells;  // views of cell_texts
};

/// Reads the configuration x->config as the run reads it: its chains, steps, header, states and
/// cells into x. Does not return on failure, with the calculator's messages.
void merge_read_config(MERGE_RUN* x);

/// Joins the reports names[0..count) of the slices, in chain order from chain 1 (count at least
/// 1), into the whole run's report on standard output, refusing any that is not whole or does
/// not fit the others or x. Does not return on failure.
void merge_slices(char* const* names, int count, MERGE_RUN* x);

#endif
