// fit_draws.h - pravlin-fit's --draws: the answers over matrices drawn from the posterior.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FIT_DRAWS_H
#define PRAVLIN_FIT_DRAWS_H

#include "fit.h"

/// The rough work of a draw (fit_draw's estimate): a fixed part and a part per entry drawn,
/// besides the solves, which grow with the classes.
constexpr double FIT_DRAW_FIXED_WORK = 3e4;
constexpr double FIT_DRAW_ENTRY_WORK = 100;
/// --draws is refused when the draws' estimated work passes this: the better part of an hour of
/// one core (doc/design/fit.md).
constexpr double FIT_DRAWS_MAX_WORK = 1e13;

/// Draws opt->draws matrices from the posterior of model's rows and carries each to the
/// answers: stationary probabilities, recurrence times, entropy rates, Kemeny constants,
/// absorption. Does not return when the draws' estimated work passes FIT_DRAWS_MAX_WORK, or
/// their answers could not be held. Shows progress on standard error with opt->progress.
void fit_draw(const FIT_OPTIONS* opt, const FIT_DATA* data, const FIT_MODEL* model,
              FIT_DRAWS* draws);

#endif
