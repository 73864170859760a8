// fit_extras.h - pravlin-fit's summary beyond the one chain (groups, orders, draws) and the short
// table for a person.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FIT_EXTRAS_H
#define PRAVLIN_FIT_EXTRAS_H

#include <cstdio>

#include "fit.h"

/// The summary's sections beyond the one chain: groups, orders, draws.
void fit_write_extras(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                      const FIT_MODEL* model, const FIT_EXTRAS* extras);
void fit_write_extras_csv(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                          const FIT_MODEL* model, const FIT_EXTRAS* extras);
/// The short summary for a person: the matrix with its intervals (its columns in blocks that
/// fit width), the tests and the answers' intervals, at most a screenful of states.
void fit_write_table(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                     const FIT_MODEL* model, const FIT_EXTRAS* extras, int width);

#endif
