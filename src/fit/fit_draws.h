// fit_draws.h - pravlin-fit's --draws: the answers over matrices drawn from the posterior.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FIT_DRAWS_H
#define PRAVLIN_FIT_DRAWS_H

#include "fit.h"
#include "fit_limits.h"

/// Draws opt->draws matrices from the posterior of model's rows and carries each to the
/// answers: stationary probabilities, recurrence times, entropy rates, Kemeny constants,
/// absorption. Does not return when the draws' estimated work passes FIT_DRAWS_MAX_WORK, or
/// their answers could not be held. Shows progress on standard error with opt->progress.
void fit_draw(const FIT_OPTIONS* opt, const FIT_DATA* data, const FIT_MODEL* model,
              FIT_DRAWS* draws);

#endif
