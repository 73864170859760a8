// config_items.h - a state and a transition read into the record: the mapping's steps, which
// the tree (config.cc) and the stream (config_stream.cc) share, with the same checks and
// messages.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_CONFIG_ITEMS_H
#define PRAVLIN_CONFIG_ITEMS_H

#include "pravlin.h"

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

#endif
