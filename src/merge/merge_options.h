// merge_options.h - pravlin-merge's command line: its option table, read into the run.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_MERGE_OPTIONS_H
#define PRAVLIN_MERGE_OPTIONS_H

#include "merge.h"
#include "option_table.h"

/// pravlin-merge's options and --help.
extern const OPTION_TABLE MERGE_OPTIONS;

/// Reads the options of argv into x and returns the index of the first slice's name, argc when
/// none is given. Does not return on a bad option.
int parse_merge_command_line(int argc, char** argv, MERGE_RUN* x);

#endif
