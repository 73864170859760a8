// steady_state.cc - the matrix product and the steady state by repeated squaring
// (multiply_array_by_array, calc_steady_state).
// Part of pravlin; see README.md.
#include "pravlin.h"

#include <cmath>
#include <cstdint>
#include <exception>
#include <vector>

void multiply_array_by_array(double** y, double** a, double** b, int nbr_r_a, int nbr_rc,
                             int nbr_c_b) {
  if (y == nullptr || a == nullptr || b == nullptr) {
    fail(" *** ERROR: NULL Pointer in multiply_array_by_array()\n");
  }
  if (nbr_r_a < 1 || nbr_rc < 1 || nbr_c_b < 1) {
    fail(" *** ERROR: Illegal array dimension in mulitply_array_by_array()\n");
  }
  std::size_t rows = static_cast<std::size_t>(nbr_r_a);
  std::size_t cols = static_cast<std::size_t>(nbr_c_b);
  // The whole product is formed before y is written, so y may be a or b (squaring in place).
  std::vector<double> t;
  try {
    t.assign(rows * cols, 0.0);
  } catch (const std::exception&) {  // bad_alloc, or length_error for an impossible size
    fail(" *** ERROR: NULL Pointer in multiply_array_by_array() a\n");
  }
  for (std::size_t j = 0; j < rows; j++) {
    double* tj = t.data() + j * cols;
    const double* aj = a[j + 1];
    // Loop order j, i, k: every entry t[j][k] still receives a[j][i] * b[i][k] for i in
    // increasing order, a multiply and then an add, so the bits are those of the column-wise
    // sum, while b is read row by row.
    for (int i = 1; i <= nbr_rc; i++) {
      const double aji = aj[i];
      const double* bi = b[i] + 1;
      for (std::size_t k = 0; k < cols; k++) tj[k] = aji * bi[k] + tj[k];
    }
  }
  for (std::size_t j = 0; j < rows; j++) {
    double* yj = y[j + 1] + 1;
    const double* tj = t.data() + j * cols;
    for (std::size_t k = 0; k < cols; k++) yj[k] = tj[k];
  }
}

int calc_steady_state(double** a, double* b, int n, int max_iterations, double max_error,
                      double* error, int debug) {
  if (a == nullptr || b == nullptr || n < 1) {
    fail(" *** ERROR : NULL Pointer or n < 1 in calc_steady_state()\n");
  }
  std::size_t stride = static_cast<std::size_t>(n) + 1;
  std::vector<double> block;
  std::vector<double*> aa;
  try {
    block.assign(stride * stride, 0.0);
    aa.assign(stride, nullptr);
  } catch (const std::exception&) {  // bad_alloc, or length_error for an impossible size
    fail(" *** ERROR : NULL Pointer in calc_steady_state()\n");
  }
  for (std::size_t r = 1; r < stride; r++) aa[r] = block.data() + r * stride;

  // A limit of 1 is honoured: it performs one squaring.
  int cmax_iteration = max_iterations >= 1 ? max_iterations : 100;
  double cmax_error = max_error > 0.0 ? max_error : 1e-6;

  for (int j = 1; j <= n; j++) {
    for (int k = 1; k <= n; k++) aa[j][k] = a[j][k];
  }

  double cerror = 0.0;
  int i = 0;
  while (i < cmax_iteration) {
    multiply_array_by_array(aa.data(), aa.data(), aa.data(), n, n, n);
    cerror = 0.0;
    for (int c = 1; c <= n; c++) {
      double row_sum = 0.0;
      for (int r = 1; r <= n; r++) row_sum += aa[r][c];
      double row_average = row_sum / n;
      for (int r = 1; r <= n; r++) {
        double d = aa[r][c] - row_average;
        cerror += d * d;
      }
    }
    if (debug) {
      for (int c = 1; c <= n; c++) {
        for (int r = 1; r <= n; r++) std::fprintf(stderr, "%f ", aa[r][c]);
        std::fprintf(stderr, "\n");
      }
      std::fprintf(stderr, "i = %d  cerror = %f\n", i, cerror);
    }
    if (std::sqrt(cerror) < cmax_error) break;
    i++;
  }
  if (error != nullptr) *error = std::sqrt(cerror);
  for (int c = 1; c <= n; c++) b[c] = aa[1][c];
  if (debug) {
    std::fprintf(stderr, "$");
    std::fflush(stderr);
  }
  return i;
}
