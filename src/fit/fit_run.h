// fit_run.h - the order of pravlin-fit's stages, from the data read to every estimate the
// summary reports: one function that the program and the Python module both call.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FIT_RUN_H
#define PRAVLIN_FIT_RUN_H

#include <cstdio>

#include "fit.h"

/// A fit from its data to its estimates. fitted points at data, or at tuples with --order K > 1
/// (the K-th order chain is the first-order chain of the K-tuples, fitted as any other): the
/// record points into itself, so it is filled where it will stay, never copied.
struct fit_run_record {
  FIT_DATA data;    // as read (fit_read, fit_read_texts), before fit_run
  FIT_DATA tuples;  // with --order K > 1: the K-tuples' data
  const FIT_DATA* fitted = nullptr;
  FIT_MODEL model;
  FIT_EXTRAS extras;  // groups, --by-period's periods, --select-order, --draws
  fit_run_record() = default;
  fit_run_record(const fit_run_record&) = delete;
  fit_run_record& operator=(const fit_run_record&) = delete;
};
typedef struct fit_run_record FIT_RUN;

/// Checks run->data, read with opt, then estimates what opt asks for, in pravlin-fit's order:
/// the model, its tests (--test), each group's or period's fit, the comparison of orders
/// (--select-order) and the posterior draws (--draws). Writes nothing. Does not return where one
/// of those stages fails: one message, as that stage gives it.
void fit_run(const FIT_OPTIONS* opt, FIT_RUN* run);

/// The configuration pravlin-fit writes for a run: the fitted chain, with --by-period one
/// matrix a period.
void fit_write_configuration(FILE* out, const FIT_OPTIONS* opt, const FIT_RUN* run);

#endif
