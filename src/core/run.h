// run.h - the stages of a run after reading, in their fixed order, for the whole run or a slice
// of its chains; and the choice between keeping the chains table and drawing it as it is written.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_RUN_H
#define PRAVLIN_RUN_H

#include "pravlin.h"

/// Everything a run does once its configuration is read into pv, in the fixed order: the
/// progress marks (with debug), validation, every chain, the steady state (with calc_flag), the
/// header (with print_header), the chain table, and the end of the report (finish_report).
/// Does not return on failure.
void run_pravlin(PRAVLIN* pv);
/// run_pravlin for chains first..last of the run only (1 <= first <= last <= nbr_chains),
/// drawn as they are written; the steady state and the header only when first is 1. With
/// first = 0, the whole run: run_pravlin itself.
void run_pravlin_chains(PRAVLIN* pv, int first, int last);
/// Keep or stream, for a whole run: true, with the chains table granted in pv->pravlin, while
/// the table is small enough for keeping it to be the faster way and its memory can be had;
/// false when each step is to be drawn as it is written instead. A table already there is kept.
bool keep_chains_table(PRAVLIN* pv);

#endif
