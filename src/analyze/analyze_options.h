// analyze_options.h - pravlin-analyze's command line: its option table, read into
// ANALYZE_OPTIONS, and the checks of the options together.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_OPTIONS_H
#define PRAVLIN_ANALYZE_OPTIONS_H

#include "analyze_plan.h"
#include "option_table.h"

/// pravlin-analyze's options and --help.
extern const OPTION_TABLE ANALYZE_OPTION_TABLE;
/// What --version prints.
extern const char ANALYZE_VERSION_TEXT[];

/// Reads the command line into opt, from the defaults on, checks the options together and
/// returns the configuration's name; answers --help and --version wherever they stand. Does
/// not return on a bad command line.
const char* parse_analyze_command_line(int argc, char** argv, ANALYZE_OPTIONS* opt);

#endif
