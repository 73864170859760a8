// config_schema.h - the configuration's elements, the rules their names are matched by, and the
// conversions of their texts, for every reader of a configuration: the mapping, the sparse
// reader, pravlin-analyze's notes.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_CONFIG_SCHEMA_H
#define PRAVLIN_CONFIG_SCHEMA_H

#include <cstddef>

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
/// The element's text; an empty-element tag reads as empty text.
const char* config_text(const XMLENTITY* x);

/// atoi as the C library does it (leading white space, sign, digits, the rest ignored), but
/// saturating at INT_MIN and INT_MAX instead of overflowing. Null reads as 0.
int xml_atoi(const char* s);
/// atof as the C library does it; null reads as 0.0.
double xml_atof(const char* s);

#endif
