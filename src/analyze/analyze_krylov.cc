// analyze_krylov.cc - Arnoldi and Lanczos by Spectra, on an operator given by its product
// (krylov_arnoldi, krylov_lanczos). Spectra's solvers are templates of the operator: one type
// of operator here means one copy of them in the program and one file that compiles them.
// Part of pravlin; see README.md.
#include "analyze_krylov.h"

// GCC 12 at -O3 sees a use after free in Eigen's storage as Spectra's Hessenberg eigenvectors
// inline it: a false alarm, raised after inlining, that the system-header rule does not catch.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic ignored "-Wuse-after-free"
#endif

#include <Spectra/GenEigsSolver.h>
#include <Spectra/SymEigsSolver.h>

#include "cancel.h"

// The operator as Spectra calls it. A stop asked for (Ctrl-C in the Python module) fails the
// next product, from inside Spectra's iterations: the solver is left to unwind, and its
// storage, all in Eigen's objects, goes with it.
struct spectra_operator {
  using Scalar = double;
  const KRYLOV_OPERATOR* op;
  Eigen::Index rows() const {
    return op->n;
  }
  Eigen::Index cols() const {
    return op->n;
  }
  void perform_op(const double* x, double* y) const {
    cancel_check();
    op->apply(op->context, x, y);
  }
};

int krylov_arnoldi(const KRYLOV_OPERATOR* op, int want, int ncv, int restarts, double tolerance,
                   Eigen::VectorXcd* values, Eigen::MatrixXcd* vectors) {
  spectra_operator a{op};
  Spectra::GenEigsSolver<spectra_operator> solver(a, want, ncv);
  solver.init();
  solver.compute(Spectra::SortRule::LargestMagn, restarts, tolerance,
                 Spectra::SortRule::LargestMagn);
  if (solver.info() != Spectra::CompInfo::Successful)
    return 0;
  *values = solver.eigenvalues();
  if (vectors != nullptr)
    *vectors = solver.eigenvectors();
  return 1;
}

int krylov_lanczos(const KRYLOV_OPERATOR* op, int nev, int ncv, int restarts, double tolerance,
                   int largest, Eigen::VectorXd* values) {
  const Spectra::SortRule rule =
      largest ? Spectra::SortRule::LargestAlge : Spectra::SortRule::SmallestAlge;
  spectra_operator a{op};
  Spectra::SymEigsSolver<spectra_operator> solver(a, nev, ncv);
  solver.init();
  solver.compute(rule, restarts, tolerance, rule);
  if (solver.info() != Spectra::CompInfo::Successful)
    return 0;
  *values = solver.eigenvalues();
  return 1;
}
