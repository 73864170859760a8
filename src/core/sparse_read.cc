// sparse_read.cc - a configuration's transitions as a sorted, checked list
// (collect_transitions, error_check_transitions), for pravlin-analyze, and as the sparse
// rows of a run that keeps no dense matrix (error_check_sparse_rows).
// Part of pravlin; see README.md.
#include "sparse_read.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "config_schema.h"
#include "fail.h"
#include "validate.h"

void collect_transition(const XMLENTITY* transition, std::vector<TRANSITION_ENTRY>* list) {
  walk_transition(transition, [&](const transition_step& s) {
    if (s.step == STEP_DESTINATION)
      list->push_back(TRANSITION_ENTRY{s.from, s.to, s.probability});
  });
}

void collect_transitions(const PRAVLIN* pv, std::vector<TRANSITION_ENTRY>* transitions) {
  or_out_of_memory(" *** ERROR: out of memory 2 in read_xml_file()\n", [&] {
    for (const XMLENTITY* x = pv->xml->child; x != nullptr; x = x->next) {
      if (x->type == XML_ELEMENT && config_name(x, IN_ROOT) == CFG_TRANSITION)
        collect_transition(x, transitions);
    }
  });
}

static bool from_before(const TRANSITION_ENTRY& a, const TRANSITION_ENTRY& b) {
  return a.from < b.from;
}

static bool before(const TRANSITION_ENTRY& a, const TRANSITION_ENTRY& b) {
  return a.from != b.from ? a.from < b.from : a.to < b.to;
}

void sort_transitions(std::vector<TRANSITION_ENTRY>* transitions) {
  std::vector<TRANSITION_ENTRY>& t = *transitions;
  if (!std::is_sorted(t.begin(), t.end(), from_before)) {
    std::stable_sort(t.begin(), t.end(), before);
    return;
  }
  for (auto row = t.begin(); row != t.end();) {
    const auto end = std::upper_bound(row, t.end(), *row, from_before);
    std::stable_sort(row, end, before);
    row = end;
  }
}

void error_check_transitions(PRAVLIN* pv, std::vector<TRANSITION_ENTRY>* transitions) {
  if (pv == nullptr)
    fail(" *** ERROR: NULL pointer for pv in error_check_pravlin()\n");
  const WarnBatch batch;  // a row a warning, for every row to rescale
  error_check_states(pv);
  // The list becomes the matrix's rows, the last entry for a pair the one the matrix would
  // hold. Zeros are dropped, since adding 0.0 to a total changes no bit of it, and the sums
  // then run in the matrix's column order.
  std::vector<TRANSITION_ENTRY>& t = *transitions;
  sort_transitions(&t);
  std::size_t kept = 0;
  for (std::size_t e = 0; e < t.size(); e++) {
    if (e + 1 < t.size() && t[e + 1].from == t[e].from && t[e + 1].to == t[e].to)
      continue;
    if (t[e].probability != 0.0)
      t[kept++] = t[e];
  }
  t.resize(kept);

  // A positive entry far below the rest of its row can round to 0 when the row is rescaled
  // (5e-324 beside 1 and 1): pravlin can never draw it, so it is no transition.
  std::size_t e = 0;
  kept = 0;
  for (int i = 1; i <= pv->nbr_states; i++) {
    const std::size_t first = e;
    double prob_sum = 0.0;
    for (; e < t.size() && t[e].from == i; e++)
      prob_sum += t[e].probability;
    const int scale = error_check_row_total(i, prob_sum);
    for (std::size_t k = first; k < e; k++) {
      if (scale)
        t[k].probability /= prob_sum;
      if (t[k].probability != 0.0)
        t[kept++] = t[k];
    }
  }
  t.resize(kept);
}

void error_check_sparse_rows(PRAVLIN* pv) {
  if (pv == nullptr)
    fail(" *** ERROR: NULL pointer for pv in error_check_pravlin()\n");
  SPARSE_ROWS* rows = pv->sparse_transitions;
  error_check_transitions(pv, &rows->entries);
  // The mapping has sized the index already, so that a model too large for it is refused there,
  // with the transition rows' message, as the dense matrix would be.
  const std::vector<TRANSITION_ENTRY>& t = rows->entries;
  std::size_t e = 0;
  for (int s = 1; s <= pv->nbr_states; s++) {
    rows->row_start[static_cast<std::size_t>(s)] = e;
    while (e < t.size() && t[e].from == s)
      e++;
  }
  rows->row_start[static_cast<std::size_t>(pv->nbr_states) + 1] = e;
}
