// analyze_roots_eigen.cc - the principal logarithm, the exponential and the eigenvalues of a
// dense matrix, for --root and --generator. Alone in its file: MatrixFunctions is a heavy
// template, and this is the one place that instantiates it.
// Part of pravlin; see README.md.
#include "analyze_roots_eigen.h"

#include <Eigen/Dense>
#include <cmath>
#include <complex>
#include <unsupported/Eigen/MatrixFunctions>

typedef Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> DenseRows;
typedef Eigen::Map<const DenseRows, 0, Eigen::OuterStride<>> ConstView;
typedef Eigen::Map<DenseRows, 0, Eigen::OuterStride<>> View;

// The n x n block of a 1-based (n + 1) x (n + 1) array.
static ConstView view(const double* a, int n) {
  return ConstView(a + n + 2, n, n, Eigen::OuterStride<>(n + 1));
}

static View view(double* a, int n) {
  return View(a + n + 2, n, n, Eigen::OuterStride<>(n + 1));
}

void dense_log_spectrum(const double* a, int n, LOG_SPECTRUM* s) {
  const Eigen::MatrixXcd m = view(a, n).cast<std::complex<double>>();
  // The complex Schur form is the one the logarithm goes through: its diagonal holds the
  // eigenvalues the logarithm sees.
  const Eigen::ComplexSchur<Eigen::MatrixXcd> schur(m, false);
  const Eigen::MatrixXcd& t = schur.matrixT();
  std::complex<double> product = 1.0;
  s->negative = 0.0;
  s->smallest_modulus = INFINITY;
  for (int i = 0; i < n; i++) {
    const std::complex<double> z = t(i, i);
    product *= z;
    s->smallest_modulus = std::fmin(s->smallest_modulus, std::abs(z));
    if (std::fabs(z.imag()) <= 1e-12 && z.real() < -1e-12 && z.real() < s->negative)
      s->negative = z.real();
  }
  s->determinant = product.real();
}

void dense_log(const double* a, int n, double* l) {
  const DenseRows m = view(a, n);
  view(l, n) = m.log();
}

void dense_exp(const double* a, int n, double* e) {
  const DenseRows m = view(a, n);
  view(e, n) = m.exp();
}
