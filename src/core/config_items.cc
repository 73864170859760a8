// config_items.cc - a state and a transition read into the record (read_state_element,
// read_transition_element, set_state, set_transition): the mapping's steps, which the tree and
// the stream share.
// Part of pravlin; see README.md.
#include "config_items.h"

#include "config_schema.h"

void warn_unknown_tag(const XMLENTITY* x) {
  warn(" *** WARNING: Unknown tag (%s) ignored\n", x->name != nullptr ? x->name : "(null)");
}

// A probability is legal only when 0 <= p <= 1; written this way, NaN is refused too.
static bool legal_probability(double p) {
  return p >= 0.0 && p <= 1.0;
}

void read_state_element(PRAVLIN* pv, const XMLENTITY* state) {
  int ser = 0;
  char* name = nullptr;
  double initial_probability = 0.0;
  double val = 0.0;
  for (const XMLENTITY* x = state->child; x != nullptr; x = x->next) {
    switch (config_name(x, IN_STATE)) {
      case CFG_SER:
        ser = xml_atoi(config_text(x));
        break;
      case CFG_NAME:
        name = x->s;
        break;
      case CFG_INITIAL_PROBABILITY:
        initial_probability = xml_atof(config_text(x));
        break;
      case CFG_VALUE:
        val = xml_atof(config_text(x));
        break;
      default:
        warn_unknown_tag(x);
    }
  }
  set_state(pv, ser, name, initial_probability, val);
}

void set_state(PRAVLIN* pv, int ser, char* name, double initial_probability, double val) {
  const char* shown = name != nullptr ? name : "(null)";
  if (ser < 1 || ser > pv->nbr_states) {
    fail(" *** ERROR: For STATE (%s) SER (%d) is < 1 or > NBR_STATES (%d)\n", shown, ser,
         pv->nbr_states);
  }
  if (!legal_probability(initial_probability)) {
    fail(" *** ERROR: For STATE (%s) illegal INITIAL_PROBABILITY (%f)\n", shown,
         initial_probability);
  }
  pv->state_name[ser] = name;
  pv->val[ser] = val;
  pv->initial_probability[ser] = initial_probability;
}

// Without the dense matrix, a transition is checked and left in the tree.
static void read_to(PRAVLIN* pv, int dense, int ser, const XMLENTITY* to) {
  int ser_to = 0;
  double probability = 0.0;
  for (const XMLENTITY* x = to->child; x != nullptr; x = x->next) {
    switch (config_name(x, IN_TO)) {
      case CFG_TO_STATE:
        ser_to = xml_atoi(config_text(x));
        break;
      case CFG_PROBABILITY:
        probability = xml_atof(config_text(x));
        break;
      default:
        warn_unknown_tag(x);
    }
  }
  set_transition(pv, dense, ser, ser_to, probability);
}

void set_transition(PRAVLIN* pv, int dense, int ser, int ser_to, double probability) {
  if (ser_to < 1 || ser_to > pv->nbr_states) {
    fail(" *** ERROR: TRANSITION FROM (%d) TO (%d) is < 1 or > NBR_STATES (%d)\n", ser, ser_to,
         pv->nbr_states);
  }
  if (!legal_probability(probability)) {
    fail(" *** ERROR: For TRANSITION FROM (%d) TO (%d)  illegal PROBABILITY (%f)\n", ser, ser_to,
         probability);
  }
  if (dense)
    pv->transition_probability[ser][ser_to] = probability;
}

void check_transition_source(const PRAVLIN* pv, int ser) {
  if (ser < 1 || ser > pv->nbr_states) {
    fail(" *** ERROR: TRANSITION FROM (%d) is < 1 or > NBR_STATES (%d)\n", ser, pv->nbr_states);
  }
}

void read_transition_element(PRAVLIN* pv, int dense, const XMLENTITY* transition) {
  // The source may stand before, between or after the destinations, so it is found first.
  int ser = 0;
  for (const XMLENTITY* x = transition->child; x != nullptr; x = x->next) {
    const ConfigName e = config_name(x, IN_TRANSITION);
    if (e == CFG_FROM) {
      ser = xml_atoi(config_text(x));
    } else if (e != CFG_TO) {
      warn_unknown_tag(x);
    }
  }
  check_transition_source(pv, ser);
  for (const XMLENTITY* x = transition->child; x != nullptr; x = x->next) {
    if (config_name(x, IN_TRANSITION) == CFG_TO)
      read_to(pv, dense, ser, x);
  }
}
