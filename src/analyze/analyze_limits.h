// analyze_limits.h - where pravlin-analyze's solves change method: the sizes and the work
// beyond which a dense or a factored solve gives way, and the residual every solve must reach.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_LIMITS_H
#define PRAVLIN_ANALYZE_LIMITS_H

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
/// LU is tried: some 10 s and 1.5 GB of LU. A grid of 700 x 700 states (1.9e7, 5.5e9) took 7 s
/// and 0.9 GB, one of 1000 x 1000 21 s and 1.9 GB, a random graph of 7000 states 18 s.
const double LU_MAX_ENTRIES = 3e7;
const double LU_MAX_WORK = 1e10;

#endif
