// steady_state.h - the steady state: the matrix product, and the squaring until the rows agree.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_STEADY_STATE_H
#define PRAVLIN_STEADY_STATE_H

/// y = a x b for 1-based matrices, a nbr_r_a x nbr_rc, b nbr_rc x nbr_c_b. y may be a, b or
/// both: the product is formed in a temporary first. Does not return on failure.
void multiply_array_by_array(double** y, double** a, double** b, int nbr_r_a, int nbr_rc,
                             int nbr_c_b);

/// Squares a copy of the n x n matrix a until its rows agree within max_error (or the limit of
/// squarings), writes row 1 of the power into b[1..n] and sqrt of the final squared deviation
/// into *error (when error is not null), and returns the 0-based squaring that passed, or the
/// limit. With debug set, traces each power on standard error. Does not return on failure.
int calc_steady_state(double** a, double* b, int n, int max_iterations, double max_error,
                      double* error, int debug);

#endif
