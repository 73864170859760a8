// fit_options.h - pravlin-fit's command line: its option table, read into FIT_OPTIONS, and the
// checks of what the options and the data they meet allow together.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FIT_OPTIONS_H
#define PRAVLIN_FIT_OPTIONS_H

#include "fit.h"
#include "option_table.h"

/// pravlin-fit's options and --help.
extern const OPTION_TABLE FIT_OPTION_TABLE;

/// What --version prints.
extern const char FIT_VERSION_TEXT[];

/// Reads the command line into opt, from the defaults on, and checks the options together;
/// answers --help and --version wherever they stand. Does not return on a bad command line.
void fit_parse_command_line(int argc, char** argv, FIT_OPTIONS* opt);

/// Checks the options against the data read: what needs sequences, or counts, or one chain.
/// Does not return when they do not go together.
void fit_check_data(const FIT_OPTIONS* opt, const FIT_DATA* data);

#endif
