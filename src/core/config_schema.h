// config_schema.h - the configuration's elements, the rules their names are matched by, the
// words its settings take, the conversions of their texts and the one walk of a transition
// element, for every reader and writer of a configuration: the mapping, the sparse reader,
// pravlin-analyze's notes, the configuration writer.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_CONFIG_SCHEMA_H
#define PRAVLIN_CONFIG_SCHEMA_H

#include <cstddef>
#include <vector>

#include "xml.h"

/// Where an element stands: the containers of a configuration.
enum ConfigPlace {
  IN_DOCUMENT,
  IN_ROOT,
  IN_STEADYSTATE,
  IN_STATE,
  IN_TRANSITION,
  IN_TO,
  IN_PERIOD,
};

/// The configuration's elements, each in its container, in the order in which the first match
/// decides. ORDER CONFIGNAME: config.cc's CONFIG_ELEMENTS lists their names in this order.
enum ConfigName {
  CFG_PRAVLIN,  // the root, in the document
  CFG_NBR_STATES,
  CFG_INIT_YEAR,
  CFG_NBR_YEARS,
  CFG_NBR_CHAINS,
  CFG_PRINT_FLAG,
  CFG_PRINT_HEADER,
  CFG_DEBUG,
  CFG_FILENAME,
  CFG_STEADYSTATE,
  CFG_STATE,
  CFG_TRANSITION,
  CFG_PERIOD,  // the root's children; a period holds the transitions of a range of steps
  CFG_CALC,
  CFG_MAX_ITERATION,
  CFG_MAX_ERROR,  // in <steadystate>
  CFG_SER,
  CFG_NAME,
  CFG_INITIAL_PROBABILITY,
  CFG_VALUE,  // in <state>
  CFG_FROM,
  CFG_TO,  // in <transition>
  CFG_TO_STATE,
  CFG_PROBABILITY,  // in <to>
  CFG_FIRST,
  CFG_LAST,
  CFG_PERIOD_TRANSITION,  // in <period>
  CFG_UNKNOWN,            // none of them
};

/// The element of place that x's name (lower-cased already) stands for: the first of the
/// place's elements whose rule it meets, whole name or its first characters, or CFG_UNKNOWN.
ConfigName config_name(const XMLENTITY* x, ConfigPlace place);
/// config_name for a name as the document spells it, name[0..len), which need not end there:
/// A to Z count as a to z, as in the tree's lower-cased names, and nothing else is changed.
ConfigName config_name_of(const char* name, std::size_t len, ConfigPlace place);
/// Whether a name of len characters that stands for e is e's keyword in full, not only its
/// first characters; false for CFG_UNKNOWN.
bool config_name_in_full(ConfigName e, std::size_t len);
/// The element's keyword ("nbr_states"), and how many of its first characters a name must
/// match: 0 when the whole name must be the keyword.
const char* config_keyword(ConfigName e);
int config_matched_characters(ConfigName e);
/// The settings whose texts are words: a yes/no setting (calc, print_header) and print_flag.
enum ConfigWords { WORDS_YES_NO, WORDS_PRINT_FLAG };
/// The value that the text of a setting of words stands for (yes/no: 1 or 0; print_flag: 0 val,
/// 1 ser, 2 name), or -1 when it is none of the words: the words are matched whole, in upper or
/// lower case only ("Yes" is none of them).
int config_word_value(ConfigWords words, const char* text);
/// The word a writer of a configuration writes for value (lower case: "yes", "no"; "val", "ser",
/// "name"), or null when value stands for none.
const char* config_word(ConfigWords words, int value);
/// Every word of the setting, in the order the reader tries them, joined by ", ": what a note on
/// a word not known lists.
const char* config_word_list(ConfigWords words);
/// The element's text; an empty-element tag reads as empty text.
const char* config_text(const XMLENTITY* x);

/// atoi as the C library does it (leading white space, sign, digits, the rest ignored), but
/// saturating at INT_MIN and INT_MAX instead of overflowing. Null reads as 0.
int xml_atoi(const char* s);
/// atof as the C library does it; null reads as 0.0.
double xml_atof(const char* s);

/// The steps of walk_transition, in the order it takes them for one transition element.
enum TransitionStep {
  STEP_STRAY,        // x: a child that is neither <from> nor <to>, before the source is known
  STEP_SOURCE,       // from: the source, the number of the last <from> (0 without one)
  STEP_CHILD,        // x, name: each child, in document order, once the source is known
  STEP_TO_CHILD,     // x, name: each child of a <to>, once its destination is known
  STEP_DESTINATION,  // x: the <to>; to and probability: its last <state> and <probability>
};
/// One step of walk_transition; name is x's element where it stands, from is set from
/// STEP_SOURCE on, to and probability within a <to>'s steps (0 without the element).
struct transition_step {
  TransitionStep step;
  const XMLENTITY* x;
  ConfigName name;
  int from;
  int to;
  double probability;
};

/// Walks one transition element of the tree (lower-cased names) and hands each step to
/// visit(const transition_step&): every STEP_STRAY, then STEP_SOURCE, then each child as
/// STEP_CHILD; a <to> child's STEP_CHILD is followed by its children's STEP_TO_CHILD and its
/// STEP_DESTINATION. The source may stand before, between or after the destinations, so it is
/// found first; within an element the last of a name counts. Numbers read as xml_atoi and
/// xml_atof read them. Every reader of a transition element goes by this one walk.
template <typename Visit>
void walk_transition(const XMLENTITY* transition, Visit&& visit) {
  // Each child's name is looked up once, for both passes: a row of a dense chain has as many
  // children as states. The list is kept from one transition to the next.
  thread_local std::vector<ConfigName> names;
  names.clear();
  transition_step s{STEP_STRAY, nullptr, CFG_UNKNOWN, 0, 0, 0.0};
  int from = 0;
  for (const XMLENTITY* x = transition->child; x != nullptr; x = x->next) {
    const ConfigName e = config_name(x, IN_TRANSITION);
    names.push_back(e);
    if (e == CFG_FROM) {
      from = xml_atoi(config_text(x));
    } else if (e != CFG_TO) {
      s.x = x;
      s.name = e;
      visit(s);
    }
  }
  s = transition_step{STEP_SOURCE, transition, CFG_TRANSITION, from, 0, 0.0};
  visit(s);
  std::size_t i = 0;
  for (const XMLENTITY* x = transition->child; x != nullptr; x = x->next, i++) {
    const ConfigName e = names[i];
    s = transition_step{STEP_CHILD, x, e, from, 0, 0.0};
    visit(s);
    if (e != CFG_TO)
      continue;
    int to = 0;
    double probability = 0.0;
    // A <to> holds a <state> and a <probability>, and seldom more: their names kept here.
    ConfigName kept[4];
    int count = 0;
    for (const XMLENTITY* y = x->child; y != nullptr; y = y->next) {
      const ConfigName f = config_name(y, IN_TO);
      if (count < 4)
        kept[count++] = f;
      if (f == CFG_TO_STATE) {
        to = xml_atoi(config_text(y));
      } else if (f == CFG_PROBABILITY) {
        probability = xml_atof(config_text(y));
      }
    }
    int k = 0;
    for (const XMLENTITY* y = x->child; y != nullptr; y = y->next, k++) {
      const ConfigName f = k < 4 ? kept[k] : config_name(y, IN_TO);
      s = transition_step{STEP_TO_CHILD, y, f, from, to, probability};
      visit(s);
    }
    s = transition_step{STEP_DESTINATION, x, CFG_TO, from, to, probability};
    visit(s);
  }
}

#endif
