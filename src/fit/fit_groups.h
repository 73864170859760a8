// fit_groups.h - a chain fitted to each group, and the test that they all follow one.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FIT_GROUPS_H
#define PRAVLIN_FIT_GROUPS_H

#include "fit.h"

/// Each group's own fit, and with --test the G² test that every group follows one chain.
/// Does not return when a group shares no state with the others.
void fit_groups(const FIT_OPTIONS* opt, const FIT_DATA* data, FIT_EXTRAS* extras);

#endif
