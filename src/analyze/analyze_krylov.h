// analyze_krylov.h - Arnoldi and Lanczos (Spectra's GenEigsSolver and SymEigsSolver) behind
// plain functions, on an operator given by its product: the solvers' templates are compiled
// once, in analyze_krylov.cc, for the spectrum, the mixing time and the Kemeny estimate alike.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_KRYLOV_H
#define PRAVLIN_ANALYZE_KRYLOV_H

#include <Eigen/Core>

/// A square operator of n rows: apply(context, x, y) sets y[0..n) to its product with x[0..n).
struct krylov_operator {
  int n;
  const void* context;
  void (*apply)(const void* context, const double* x, double* y);
};
typedef struct krylov_operator KRYLOV_OPERATOR;

/// Arnoldi for the want eigenvalues of op largest in modulus, in a Krylov space of ncv vectors,
/// within restarts restarts to the relative tolerance: the values largest in modulus first, and
/// their vectors when vectors is not null. 0, with nothing written, when it does not converge.
int krylov_arnoldi(const KRYLOV_OPERATOR* op, int want, int ncv, int restarts, double tolerance,
                   Eigen::VectorXcd* values, Eigen::MatrixXcd* vectors);

/// Lanczos for the nev eigenvalues of a symmetric op at its top end (largest 1, the largest
/// first) or its bottom end (largest 0, the smallest first), as krylov_arnoldi.
int krylov_lanczos(const KRYLOV_OPERATOR* op, int nev, int ncv, int restarts, double tolerance,
                   int largest, Eigen::VectorXd* values);

#endif
