// analyze_dense_eigen.cc - the eigenvalues of a dense matrix by Eigen's solvers, symmetric or
// general (symmetric_eigenvalues, general_eigen).
// Part of pravlin; see README.md.
#include "analyze_dense_eigen.h"

#include <Eigen/Eigenvalues>

Eigen::VectorXd symmetric_eigenvalues(const Eigen::MatrixXd& a) {
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(a, Eigen::EigenvaluesOnly);
  return solver.eigenvalues();
}

int general_eigen(const Eigen::MatrixXd& a, Eigen::VectorXcd* values, Eigen::MatrixXcd* vectors) {
  const Eigen::EigenSolver<Eigen::MatrixXd> solver(a, vectors != nullptr);
  *values = solver.eigenvalues();
  if (vectors != nullptr && solver.info() == Eigen::Success)
    *vectors = solver.eigenvectors();
  return solver.info() == Eigen::Success;
}
