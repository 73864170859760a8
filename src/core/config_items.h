// config_items.h - a state and a transition read into the record: the mapping's steps, which
// the tree (config.cc) and the stream (config_stream.cc) share, with the same checks and
// messages.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_CONFIG_ITEMS_H
#define PRAVLIN_CONFIG_ITEMS_H

#include <vector>

#include "pravlin.h"
#include "sparse_read.h"

/// Warns that the element x, which no rule names where it stands, is ignored.
void warn_unknown_tag(const XMLENTITY* x);

/// The checks on a state and its storing (the state element's steps 3 to 5).
void set_state(PRAVLIN* pv, int ser, char* name, double initial_probability, double val);
/// The check on a transition's source.
void check_transition_source(const PRAVLIN* pv, int ser);
/// The checks on one destination of a transition and, with dense set, its storing.
void set_transition(PRAVLIN* pv, int dense, int ser, int ser_to, double probability);
/// A state or transition element of the tree, as the second pass reads it.
void read_state_element(PRAVLIN* pv, const XMLENTITY* state);
void read_transition_element(PRAVLIN* pv, int dense, const XMLENTITY* transition);

/// What the second pass has met among the root's children so far: transitions outside any
/// period, and periods, which do not go together.
struct root_items {
  bool transition;
  bool period;
};
/// Notes a transition (is_period 0) or a period (1) of the root; fails at the first one that
/// joins the other kind.
void note_root_item(root_items* seen, int is_period);
/// A child of the root in the second pass: a state, a transition or a period read as above,
/// anything else passed over (the first pass has warned of it).
void read_root_item(PRAVLIN* pv, int dense, const XMLENTITY* x, root_items* seen);
/// A period element of the tree, as the second pass reads it: its first and last step, checked
/// against the periods before it, then its transitions, with the checks and messages of the
/// root's, into a matrix of its own (with dense set) or its list (without).
void read_period_element(PRAVLIN* pv, int dense, const XMLENTITY* period);
/// Once every period is read: the record's transition_probability becomes the last period's
/// matrix (with dense set), and without it the last period's transitions are appended to list
/// (when given), for the readers that describe one matrix. Nothing for a chain of one matrix.
void finish_periods(PRAVLIN* pv, int dense, std::vector<TRANSITION_ENTRY>* list);

#endif
