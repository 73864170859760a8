// config_items.cc - a state and a transition read into the record (read_state_element,
// read_transition_element, set_state, set_transition): the mapping's steps, which the tree and
// the stream share.
// Part of pravlin; see README.md.
#include "config_items.h"

#include <new>

#include "config_schema.h"
#include "periods.h"
#include "tables.h"

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

// Without the dense matrix, a transition is checked and left in the tree.
void read_transition_element(PRAVLIN* pv, int dense, const XMLENTITY* transition) {
  walk_transition(transition, [&](const transition_step& s) {
    switch (s.step) {
      case STEP_STRAY:
        warn_unknown_tag(s.x);
        break;
      case STEP_SOURCE:
        check_transition_source(pv, s.from);
        break;
      case STEP_TO_CHILD:
        if (s.name == CFG_UNKNOWN)
          warn_unknown_tag(s.x);
        break;
      case STEP_DESTINATION:
        set_transition(pv, dense, s.from, s.to, s.probability);
        break;
      case STEP_CHILD:
        break;
    }
  });
}

void note_root_item(root_items* seen, int is_period) {
  if (is_period) {
    seen->period = true;
  } else {
    seen->transition = true;
  }
  if (seen->period && seen->transition)
    fail(" *** ERROR: TRANSITION outside PERIOD in a configuration with periods\n");
}

void read_root_item(PRAVLIN* pv, int dense, const XMLENTITY* x, root_items* seen) {
  if (x->type != XML_ELEMENT)
    return;
  const ConfigName e = config_name(x, IN_ROOT);
  if (e == CFG_STATE) {
    read_state_element(pv, x);
  } else if (e == CFG_TRANSITION) {
    note_root_item(seen, 0);
    read_transition_element(pv, dense, x);
  } else if (e == CFG_PERIOD) {
    note_root_item(seen, 1);
    read_period_element(pv, dense, x);
  }
}

// The periods' list, made with the first period.
static CHAIN_PERIODS* periods_of(PRAVLIN* pv) {
  if (pv->periods == nullptr) {
    pv->periods = new (std::nothrow) CHAIN_PERIODS;
    if (pv->periods == nullptr)
      fail(" *** ERROR: out of memory 2 in read_xml_file()\n");
  }
  return pv->periods;
}

void read_period_element(PRAVLIN* pv, int dense, const XMLENTITY* period) {
  int first = 0;
  int last = 0;
  int transitions = 0;
  for (const XMLENTITY* x = period->child; x != nullptr; x = x->next) {
    switch (config_name(x, IN_PERIOD)) {
      case CFG_FIRST:
        first = xml_atoi(config_text(x));
        break;
      case CFG_LAST:
        last = xml_atoi(config_text(x));
        break;
      case CFG_PERIOD_TRANSITION:
        transitions++;
        break;
      default:
        warn_unknown_tag(x);
    }
  }
  CHAIN_PERIODS* periods = periods_of(pv);
  // Every step has exactly one matrix: the periods follow each other from step 1.
  // In 64 bits: a period may end at the largest int.
  const long long expected =
      periods->list.empty() ? 1 : static_cast<long long>(periods->list.back().last) + 1;
  if (first != expected) {
    fail(" *** ERROR: PERIOD FIRST (%d) must be %lld: periods follow each other from step 1\n",
         first, expected);
  }
  if (last < first)
    fail(" *** ERROR: PERIOD FIRST (%d) LAST (%d): LAST is < FIRST\n", first, last);
  if (transitions == 0)
    fail(" *** ERROR: PERIOD FIRST (%d) LAST (%d) holds no TRANSITION\n", first, last);

  // The first period fills the matrix the reading allocated; each later one a matrix of its own.
  double** matrix = nullptr;
  if (dense && periods->list.empty()) {
    matrix = pv->transition_probability;
  } else if (dense) {
    static const char kOom2[] = " *** ERROR: out of memory 2 in read_xml_file()\n";
    matrix = static_cast<double**>(
        alloc_table(static_cast<std::size_t>(pv->nbr_states) + 1, sizeof(double*), kOom2));
    alloc_rows(matrix, pv->nbr_states, pv->nbr_states, kOom2);
  }
  or_out_of_memory(" *** ERROR: out of memory 2 in read_xml_file()\n", [&] {
    periods->list.push_back(CHAIN_PERIOD{first, last, matrix, {}});
  });
  double** kept = pv->transition_probability;
  if (dense)
    pv->transition_probability = matrix;
  for (const XMLENTITY* x = period->child; x != nullptr; x = x->next) {
    if (config_name(x, IN_PERIOD) != CFG_PERIOD_TRANSITION)
      continue;
    read_transition_element(pv, dense, x);
    if (!dense) {
      or_out_of_memory(" *** ERROR: out of memory 2 in read_xml_file()\n",
                       [&] { collect_transition(x, &periods->list.back().entries); });
    }
  }
  pv->transition_probability = kept;
}

void finish_periods(PRAVLIN* pv, int dense, std::vector<TRANSITION_ENTRY>* list) {
  if (pv->periods == nullptr)
    return;
  const CHAIN_PERIOD& last = pv->periods->list.back();
  if (dense) {
    pv->transition_probability = last.transition_probability;
  } else if (list != nullptr) {
    or_out_of_memory(" *** ERROR: out of memory 2 in read_xml_file()\n",
                     [&] { list->insert(list->end(), last.entries.begin(), last.entries.end()); });
  }
}
