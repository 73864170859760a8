// analyze_dense_eigen.h - Eigen's dense eigensolvers behind plain functions: their templates
// are compiled once, in analyze_dense_eigen.cc.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_DENSE_EIGEN_H
#define PRAVLIN_ANALYZE_DENSE_EIGEN_H

#include <Eigen/Core>

/// Every eigenvalue of the symmetric matrix a (its lower triangle read), increasing.
Eigen::VectorXd symmetric_eigenvalues(const Eigen::MatrixXd& a);

/// Every eigenvalue of the square matrix a, and their vectors as columns when vectors is not
/// null (else they are not computed). 0 when the solver did not converge; values are then
/// those it has.
int general_eigen(const Eigen::MatrixXd& a, Eigen::VectorXcd* values, Eigen::MatrixXcd* vectors);

#endif
