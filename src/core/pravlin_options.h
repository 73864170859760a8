// pravlin_options.h - pravlin's command line: its option table and the chain range of --chains.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_PRAVLIN_OPTIONS_H
#define PRAVLIN_PRAVLIN_OPTIONS_H

#include "option_table.h"

/// pravlin's options and --help.
extern const OPTION_TABLE PRAVLIN_OPTIONS;

/// Chains first..last of the run, from --chains A-B; first = 0 without the option.
struct CHAIN_RANGE {
  int first;
  int last;
  const char* text;  // as given, for messages
};

/// Reads the command line: the range of --chains into range, and returns the configuration's
/// name, or null when none is given. Does not return on a bad --chains.
const char* parse_pravlin_command_line(int argc, char** argv, CHAIN_RANGE* range);

#endif
