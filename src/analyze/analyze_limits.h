// analyze_limits.h - where pravlin-analyze's solves change method: the sizes and the work
// beyond which a dense or a factored solve gives way, the residual every solve must reach, and
// the work beyond which the squaring solver is described instead of run.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_LIMITS_H
#define PRAVLIN_ANALYZE_LIMITS_H

#include <cstddef>

/// The largest class (or set of transient states) solved densely, exactly and without
/// subtraction; a larger one goes to the sparse solver.
const int DENSE_MAX_STATES = 2000;
/// The most that the residual of a sparse solve may be: ||pi P - pi||_1 for a stationary
/// distribution, ||(I - Q) x - b||_1 for each absorption system (relative to ||b||_1 for the
/// expected steps).
const double ANALYZE_RESIDUAL_GOAL = 1e-10;

/// The most work (states times band squared) for GTH within the band of a class beyond
/// DENSE_MAX_STATES: a line of a million states has a band of 1.
const double BANDED_MAX_WORK = 2e9;
/// The most entries and work of the estimated factor (lu_fits) of a system for which the sparse
/// LU is tried: a factor that finishes in seconds and fits beside the chain in memory
/// (doc/design/solvers.md, "Measurements").
const double LU_MAX_ENTRIES = 3e7;
const double LU_MAX_WORK = 1e10;

/// The most multiply-adds that the squarings a run of the solver cannot avoid may take for the
/// analysis to run it: a few tenths of a second, about what reading and solving a chain of a
/// thousand states takes. The rest of the analysis solves densely only parts of the chain (GTH
/// on a class takes a third of a squaring of that class), so beyond this the solver costs more
/// than everything else together, and it is described instead of run.
const double SQUARING_MAX_WORK = 1e9;
/// The multiply-adds a second on which the time a squaring would take is estimated: two cores
/// of a current machine.
const double SQUARING_RATE = 5e9;

/// The fewest entries of a matrix whose products are shared out over the cores: below, starting
/// a thread costs about what its share of the product saves (doc/design/solvers.md,
/// "Measurements").
const std::size_t ROW_PRODUCT_MIN_ENTRIES = 1000000;

/// The fewest entries, and the fewest steps, of a run of steps (--steps, --horizon) that goes
/// through the grouped rows of P^T rather than the plain scatter. Making P^T and its groups
/// ready writes two fresh copies of the entries, and on a virtual machine the faults of fresh
/// memory cost more than the writes: below some 10^6 entries the chain's rows stay in the
/// cache, a plain step is fast, and the copies cost a hundred steps or more; from a few 10^6
/// entries on, the copies cost some twenty plain steps and the grouped step, on both cores,
/// saves half a plain one or more (doc/design/horizon.md, "The faster step").
const std::size_t STEP_GROUPS_MIN_ENTRIES = std::size_t{1} << 21;
const long STEP_GROUPS_MIN_STEPS = 32;
#endif
