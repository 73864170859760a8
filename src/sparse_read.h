// sparse_read.h - a configuration's transitions as a list, for readers that keep no dense matrix.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_SPARSE_READ_H
#define PRAVLIN_SPARSE_READ_H

#include <vector>

#include "pravlin.h"

/// One transition as the configuration gives it.
struct transition_entry {
  int from;            // 1..nbr_states
  int to;              // 1..nbr_states
  double probability;  // 0..1 as read; after error_check_transitions, > 0 and normalised
};
typedef struct transition_entry TRANSITION_ENTRY;

/// read_configuration without a report file, a chains table or a dense matrix: the transitions
/// are appended to the list in document order, later ones for a pair not yet overriding
/// earlier ones. Same messages and statuses as read_xml_file, except that no size of the
/// matrix is refused. The rows of transition_probability and of the chains table stay null.
void read_configuration_sparse(PRAVLIN* pv, std::vector<TRANSITION_ENTRY>* transitions);

/// error_check_pravlin for a model read by read_configuration_sparse, with the same messages in
/// the same order and bit-identical normalised probabilities. On return the list is sorted by
/// (from, to) and holds one entry per pair (the last one the configuration gave), only
/// positive ones, each row rescaled to total 1. An entry that the rescaling rounds to 0 is
/// dropped too: pravlin never draws it. Does not return on error.
void error_check_transitions(PRAVLIN* pv, std::vector<TRANSITION_ENTRY>* transitions);

#endif
