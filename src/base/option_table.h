// option_table.h - a program's options in one table: the parser, the --help text and the
// completion's words all come from it, so that an option is added in one place.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_OPTION_TABLE_H
#define PRAVLIN_OPTION_TABLE_H

#include <cstdio>
#include <string>
#include <vector>

/// One option. The program's handler is the case of its index in the program's own switch.
struct OPTION {
  const char* short_name;  // "-o", or null
  const char* long_name;   // "--output", or null
  const char* argument;    // its value's name in --help ("FILE"), or null for a flag
  const char* help;        // its --help text from the help column on, each "\n" continuing
                           // there; a leading "\n" puts the whole text under the names. Null:
                           // parsed, not listed (--help, --version).
  const char* group;       // options of one group exclude each other, or null
  const char* choices;     // the words its value completes to, blank-separated, or null: then
                           // FILE completes files, a name ending in .xml configurations, a|b
                           // those words, and anything else nothing
};

/// A program's options and the --help text around their lines.
struct OPTION_TABLE {
  const OPTION* options;
  int count;
  int column;            // where the help texts start
  const char* head;      // --help before the option lines
  const char* tail;      // --help after them
  const char* operands;  // "xml": its operands are configurations; else any files
  bool double_dash;      // "--" ends the options
  bool stop_at_operand;  // the first operand ends the options
};

/// What next_option found.
enum { OPTION_OPERAND = -1, OPTION_UNKNOWN = -2, OPTION_END = -3 };

/// Where a parse has come to, and what it has seen.
struct OPTION_PARSE {
  int next = 1;                   // the argument to read next
  bool operands_only = false;     // after "--", or the first operand of stop_at_operand
  std::vector<int> times;         // by option index: how often given so far
  std::vector<const char*> seen;  // by option index: how it was first written
};

/// One option or operand of the command line.
struct OPTION_FOUND {
  int index;             // into the table, or OPTION_OPERAND, OPTION_UNKNOWN, OPTION_END
  const char* written;   // the argument as given
  const char* value;     // an option's value, the next argument; null when there is none
  int times;             // how often this option has been given, this time included
  const char* excluded;  // how an earlier option of its group was written, or null
};

/// The next argument of argv: an option of the table (one that takes a value takes the next
/// argument, whatever it is), an operand (any argument not starting with '-', and "-"), an
/// unknown option, or the end. Never fails: the program says what is wrong, in its own words.
OPTION_FOUND next_option(const OPTION_TABLE* t, int argc, char** argv, OPTION_PARSE* p);

/// The whole --help text: head, a line or more for each listed option, tail.
std::string option_help(const OPTION_TABLE* t);

/// What the bash completion needs, one line each: "first --help -h --version"; "operands xml"
/// or "operands files"; then an option's kind and names ("flag", "plain", "file", "config"),
/// or "words NAMES = WORD...". scripts/make-completion.sh reads it.
void print_option_completion(FILE* out, const OPTION_TABLE* t);

/// Writes text on standard output and exits with status 0. An answer that could not be written
/// is a failure, as an unwritten report is: does not return.
[[noreturn]] void answer(const std::string& text);

/// Answers --help (-h), --version or the hidden --complete-options when it is the only
/// argument, and does not return then; returns otherwise.
void answer_alone(int argc, char** argv, const OPTION_TABLE* t, const char* version);

#endif
