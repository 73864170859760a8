// sparse_read.h - a configuration's transitions as a list, for readers that keep no dense matrix,
// and as the sparse rows a run draws from when it needs no dense matrix.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_SPARSE_READ_H
#define PRAVLIN_SPARSE_READ_H

#include <cstddef>
#include <vector>

#include "pravlin.h"

/// One transition as the configuration gives it.
struct transition_entry {
  int from;            // 1..nbr_states
  int to;              // 1..nbr_states
  double probability;  // 0..1 as read; after error_check_transitions, > 0 and normalised
};
typedef struct transition_entry TRANSITION_ENTRY;

/// The transitions of a run that keeps no dense matrix (pv->sparse_transitions). As read, every
/// transition the configuration gave, in document order. After error_check_sparse_rows,
/// compressed sparse rows: the positive entries of row s of the matrix, in column order, are
/// entries[row_start[s]] to entries[row_start[s + 1] - 1], and every row has at least one.
struct sparse_rows {
  std::vector<TRANSITION_ENTRY> entries;
  std::vector<std::size_t> row_start;  // [N + 2] once checked; slot 0 unused
};
typedef struct sparse_rows SPARSE_ROWS;

/// Appends the transitions of the document in pv->xml, which the mapping has read and checked
/// already, to the list in document order. Fails with the transition rows' out-of-memory
/// message when the list cannot be had.
void collect_transitions(const PRAVLIN* pv, std::vector<TRANSITION_ENTRY>* transitions);

/// Appends the transitions of one transition element, which the mapping has read and checked
/// already, to the list in document order.
void collect_transition(const XMLENTITY* transition, std::vector<TRANSITION_ENTRY>* list);

/// Sorts the list by (from, to), stably: within a pair, document order stays, so the last entry
/// is the one the matrix would hold. A list already in row order, as files most often give
/// it, has each row sorted alone, to the same order, in time in proportion to its length.
void sort_transitions(std::vector<TRANSITION_ENTRY>* transitions);

/// error_check_pravlin for a model read with READ_LIST (read_configuration), with the same messages
/// in the same order and bit-identical normalised probabilities. On return the list is sorted by
/// (from, to) and holds one entry per pair (the last one the configuration gave), only
/// positive ones, each row rescaled to total 1. An entry that the rescaling rounds to 0 is
/// dropped too: pravlin never draws it. Does not return on error.
void error_check_transitions(PRAVLIN* pv, std::vector<TRANSITION_ENTRY>* transitions);

/// error_check_pravlin for a run whose transitions are pv->sparse_transitions: the same
/// messages in the same order (error_check_transitions), then the index of the rows. Does not
/// return on error.
void error_check_sparse_rows(PRAVLIN* pv);

#endif
