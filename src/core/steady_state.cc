// steady_state.cc - the matrix product and the steady state by repeated squaring
// (multiply_array_by_array, calc_steady_state).
// Part of pravlin; see README.md.
#include "steady_state.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "cancel.h"
#include "core_limits.h"
#include "fail.h"
#include "matmul.h"
#include "scratch.h"
#include "tables.h"

// t = a x b, t 0-based (t[j * nbr_c_b + k - 1] is entry j + 1, k), a and b 1-based: each entry
// summed over i = 1, 2, ... in that order, a multiply and then an add (never fused:
// -ffp-contract=off). Large products go to the kernel PRAVLIN_KERNEL names, or the widest the
// processor runs, which forms the same sums; the setting is read, and refused, at any size.
static void product(double* t, double* const* a, double* const* b, int nbr_r_a, int nbr_rc,
                    int nbr_c_b) {
  const auto rows = static_cast<std::size_t>(nbr_r_a);
  const auto inner = static_cast<std::size_t>(nbr_rc);
  const auto cols = static_cast<std::size_t>(nbr_c_b);
  const MatmulKernel kernel = matmul_kernel();
  matmul_with(rows * inner * cols >= MATMUL_KERNEL_MIN_WORK ? kernel : MATMUL_PLAIN, t, a, b, rows,
              inner, cols);
}

// Bytes of a rows x cols matrix of doubles; SIZE_MAX when that cannot even be counted.
static std::size_t matrix_bytes(std::size_t rows, std::size_t cols) {
  if (cols != 0 && rows > SIZE_MAX / sizeof(double) / cols)
    return SIZE_MAX;
  return rows * cols * sizeof(double);
}

static const char kProductOom[] = " *** ERROR: NULL Pointer in multiply_array_by_array() a\n";
static const char kCopyOom[] = " *** ERROR : NULL Pointer in calc_steady_state()\n";

// The product's temporary: rows x cols doubles, or the product's message when they cannot be
// had. Not cleared: every entry is written before it is read.
static Scratch<double> product_buffer(int nbr_r_a, int nbr_c_b) {
  const auto rows = static_cast<std::size_t>(nbr_r_a);
  const auto cols = static_cast<std::size_t>(nbr_c_b);
  check_working_memory(matrix_bytes(rows, cols), kProductOom);
  Scratch<double> t = scratch<double>(rows * cols);
  if (!t)
    fail("%s", kProductOom);
  advise_huge_pages(t.get(), rows * cols * sizeof(double));
  return t;
}

// y = a x b, formed in t first, so that y may be a or b (squaring in place).
static void multiply_into(double** y, double** a, double** b, int nbr_r_a, int nbr_rc, int nbr_c_b,
                          double* t) {
  product(t, a, b, nbr_r_a, nbr_rc, nbr_c_b);
  for (int j = 1; j <= nbr_r_a; j++) {
    const double* tj = t + static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(nbr_c_b);
    for (int k = 1; k <= nbr_c_b; k++)
      y[j][k] = tj[k - 1];
  }
}

void multiply_array_by_array(double** y, double** a, double** b, int nbr_r_a, int nbr_rc,
                             int nbr_c_b) {
  if (y == nullptr || a == nullptr || b == nullptr) {
    fail(" *** ERROR: NULL Pointer in multiply_array_by_array()\n");
  }
  if (nbr_r_a < 1 || nbr_rc < 1 || nbr_c_b < 1) {
    fail(" *** ERROR: Illegal array dimension in mulitply_array_by_array()\n");
  }
  Scratch<double> t = product_buffer(nbr_r_a, nbr_c_b);
  multiply_into(y, a, b, nbr_r_a, nbr_rc, nbr_c_b, t.get());
}

// The total squared deviation of the entries of aa[1..n][1..n] from their column means: for
// each column c in turn, its mean (its entries summed down the rows, divided by n), then
// (aa[r][c] - mean)^2 added for r = 1..n.
static double column_deviation(double* const* aa, int n) {
  double cerror = 0.0;
  for (int c = 1; c <= n; c++) {
    double row_sum = 0.0;
    for (int r = 1; r <= n; r++)
      row_sum += aa[r][c];
    double row_average = row_sum / n;
    for (int r = 1; r <= n; r++) {
      double d = aa[r][c] - row_average;
      cerror += d * d;
    }
  }
  return cerror;
}

int calc_steady_state(double** a, double* b, int n, int max_iterations, double max_error,
                      double* error, int debug) {
  if (a == nullptr || b == nullptr || n < 1) {
    fail(" *** ERROR : NULL Pointer or n < 1 in calc_steady_state()\n");
  }
  // The working copy and the product's temporary are two more matrices as large as the
  // transition matrix: both are counted with the tables before anything is asked for, each
  // refused with its own message, rather than granted and the machine driven out of memory.
  const std::size_t stride = static_cast<std::size_t>(n) + 1;
  const std::size_t copy_bytes = matrix_bytes(stride, stride);
  const std::size_t product_bytes = matrix_bytes(stride - 1, stride - 1);
  check_working_memory(copy_bytes, kCopyOom);
  check_working_memory(
      product_bytes > SIZE_MAX - copy_bytes ? SIZE_MAX : copy_bytes + product_bytes, kProductOom);
  // The working copy, rows into one block. Not cleared: every entry the solver reads is copied
  // from a below; row 0 and column 0, as everywhere, are never read.
  Scratch<double> block = scratch<double>(stride * stride);
  Scratch<double*> aa = scratch<double*>(stride);
  if (!block || !aa)
    fail("%s", kCopyOom);
  advise_huge_pages(block.get(), stride * stride * sizeof(double));
  for (std::size_t r = 0; r < stride; r++)
    aa[r] = block.get() + r * stride;

  // A limit of 1 is honoured: it performs one squaring.
  int cmax_iteration = max_iterations >= 1 ? max_iterations : 100;
  double cmax_error = max_error > 0.0 ? max_error : 1e-6;

  for (int j = 1; j <= n; j++) {
    for (int k = 1; k <= n; k++)
      aa[j][k] = a[j][k];
  }

  // One temporary serves every squaring, instead of fresh pages for each.
  Scratch<double> t = product_buffer(n, n);
  double cerror = 0.0;
  int i = 0;
  while (i < cmax_iteration) {
    cancel_check();
    multiply_into(aa.get(), aa.get(), aa.get(), n, n, n, t.get());
    cerror = column_deviation(aa.get(), n);
    if (debug) {
      for (int c = 1; c <= n; c++) {
        for (int r = 1; r <= n; r++)
          std::fprintf(stderr, "%f ", aa[r][c]);
        std::fprintf(stderr, "\n");
      }
      std::fprintf(stderr, "i = %d  cerror = %f\n", i, cerror);
    }
    if (std::sqrt(cerror) < cmax_error)
      break;
    i++;
  }
  if (error != nullptr)
    *error = std::sqrt(cerror);
  for (int c = 1; c <= n; c++)
    b[c] = aa[1][c];
  if (debug) {
    std::fprintf(stderr, "$");
    std::fflush(stderr);
  }
  return i;
}
