// fit_groups.h - a chain fitted to each group, and the test that they all follow one.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FIT_GROUPS_H
#define PRAVLIN_FIT_GROUPS_H

#include <cstdint>

#include "fit.h"

/// Adds to d->pairs, and to d->nbr_transitions, the pairs of tagged whose tag is tag: a map of
/// pairs keyed (tag << 42 | from << 21 | to) + 1, as the reader keeps them by group and by
/// period, into d's own keys (from << 32 | to).
void add_tagged_pairs(const COUNT_MAP& tagged, std::uint64_t tag, FIT_DATA* d);

/// Each group's own fit, and with --test the G² test that every group follows one chain.
/// Does not return when a group shares no state with the others.
void fit_groups(const FIT_OPTIONS* opt, const FIT_DATA* data, FIT_EXTRAS* extras);

#endif
