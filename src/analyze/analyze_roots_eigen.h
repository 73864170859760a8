// analyze_roots_eigen.h - the dense matrix functions of --root and --generator: the principal
// logarithm, the exponential and the eigenvalues, by Eigen's MatrixFunctions.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_ROOTS_EIGEN_H
#define PRAVLIN_ANALYZE_ROOTS_EIGEN_H

/// Matrices here are n x n, held 1-based and row-major in (n + 1) * (n + 1) doubles: entry
/// (i, j) at [i * (n + 1) + j], row and column 0 unused.

/// What the eigenvalues of a matrix say about its logarithm.
struct log_spectrum {
  double determinant;  // the real part of the product of the eigenvalues
  double negative;     // the most negative real eigenvalue (to rounding), below -1e-12; 0: none
  double smallest_modulus;  // the smallest modulus of an eigenvalue
};
typedef struct log_spectrum LOG_SPECTRUM;

/// The eigenvalues of a, from its complex Schur form. An eigenvalue counts as real when its
/// imaginary part is at most 1e-12 in modulus.
void dense_log_spectrum(const double* a, int n, LOG_SPECTRUM* s);
/// l = the real part of the principal logarithm of a (Schur-Parlett, with the inverse scaling
/// and squaring of each block's logarithm): the logarithm itself when a has no eigenvalue on
/// the closed negative real axis.
void dense_log(const double* a, int n, double* l);
/// e = exp(a), by scaling and squaring of a Pade approximant.
void dense_exp(const double* a, int n, double* e);

#endif
