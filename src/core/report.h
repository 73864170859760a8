// report.h - the comma-separated report: the header block and the kept chain table.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_REPORT_H
#define PRAVLIN_REPORT_H

#include <cstdio>

#include "pravlin.h"

/// Writes the header block: version, time, file names, sizes, states, the transition matrix
/// by columns and, with calc_flag, the solver's results. Null out: standard output; null pv:
/// nothing.
void printheader(FILE* out, const PRAVLIN* pv);
/// Writes the kept chains table: a title line (then a flush), and one line per step. Null out:
/// standard output; null pv: nothing.
void printpravlin(FILE* out, const PRAVLIN* pv);

#endif
