// analyze_notes.h - notes on how the configuration was read, and the XML-declaration hint.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_NOTES_H
#define PRAVLIN_ANALYZE_NOTES_H

#include <cstdio>
#include <string>
#include <vector>

#include "analyze.h"

/// One place where the configuration was read leniently: the file read is not the file meant.
struct read_note {
  std::string kind;     // a fixed word: see the list in analyze_notes.cc (ORDER NOTEKIND)
  std::string element;  // the element's name, lower-cased as pravlin reads it
  std::string where;    // "state 2", "transition from 1 to 3", "steadystate"; "" at the root
  std::string text;     // the element's text as read ("" when it had none)
  std::string message;  // what was made of it
};
typedef struct read_note READ_NOTE;

/// The notes on a configuration read with READ_LIST (read_configuration), before
/// error_check_transitions has rescaled anything: pv->xml, pv->initial_probability and the
/// transitions as read. Prints nothing; pravlin's own messages are left as they are.
void collect_read_notes(const PRAVLIN* pv, const std::vector<TRANSITION_ENTRY>& transitions,
                        std::vector<READ_NOTE>* notes);

/// The notes section: a title line, one line a note, an empty line. Nothing when there are none.
void print_read_notes(FILE* out, const std::vector<READ_NOTE>& notes);

/// When the file's first markup is an XML declaration, which pravlin refuses, says so on
/// standard error with what to do about it. Silent when the file cannot be read: the reading
/// that follows reports that.
void hint_xml_declaration(const char* file);

#endif
