// matmul.cc - the product: the plain loop, the choice of kernel (PRAVLIN_KERNEL) and the cores.
// Part of pravlin; see README.md.
//
// Every kernel gives every entry the exact bits of the plain sum: t[j][k] receives a[j][i] *
// b[i][k] for i = 1, 2, ... in that order, a multiply and then an add (never fused:
// -ffp-contract=off), carried in t itself from one block of i to the next. Blocks, tiles and
// cores only change which entries are worked on together. The vector kernels are in
// matmul_sse2.cc, matmul_avx2.cc and matmul_avx512.cc, their shared walk in matmul_tiles.h.
#include "matmul.h"

#include <cstdlib>
#include <cstring>

#include "core_limits.h"
#include "cores.h"
#include "fail.h"
#include "matmul_tiles.h"

// ORDER KERNELS
static const char* const kKernelNames[MATMUL_KERNELS] = {"avx512", "avx2", "sse2", "plain"};

const char* matmul_kernel_name(MatmulKernel kernel) {
  return kKernelNames[kernel];
}

bool matmul_kernel_runs(MatmulKernel kernel) {
  switch (kernel) {
    case MATMUL_AVX512:
      return cpu_has_avx512();
    case MATMUL_AVX2:
      return cpu_has_avx2();
    case MATMUL_SSE2:
#if defined(__x86_64__) || defined(__i386__)
      return __builtin_cpu_supports("sse2") != 0;
#else
      return true;  // generic 128-bit vectors, as the compiler makes them
#endif
    default:
      return true;
  }
}

MatmulKernel matmul_kernel_named(const char* name) {
  if (name == nullptr || *name == '\0') {
    int k = 0;
    while (!matmul_kernel_runs(static_cast<MatmulKernel>(k)))
      k++;
    return static_cast<MatmulKernel>(k);
  }
  for (int k = 0; k < MATMUL_KERNELS; k++) {
    const auto kernel = static_cast<MatmulKernel>(k);
    if (std::strcmp(name, kKernelNames[k]) != 0)
      continue;
    if (!matmul_kernel_runs(kernel))
      fail(" *** ERROR: PRAVLIN_KERNEL=%s: this processor cannot run that kernel\n", name);
    return kernel;
  }
  fail(" *** ERROR: PRAVLIN_KERNEL=%s: no such kernel (avx512, avx2, sse2 or plain)\n", name);
}

MatmulKernel matmul_kernel() {
  static const MatmulKernel kernel = matmul_kernel_named(std::getenv("PRAVLIN_KERNEL"));
  return kernel;
}

void matmul_edge(const MatmulProduct& p, std::size_t j, std::size_t k0, std::size_t k1,
                 std::size_t i0, std::size_t i1) {
  double* tj = p.t + j * p.cols;
  const double* aj = p.a[j + 1];
  if (i0 == 1) {
    for (std::size_t k = k0; k < k1; k++)
      tj[k] = 0.0;
  }
  for (std::size_t i = i0; i < i1; i++) {
    const double aji = aj[i];
    const double* bi = p.b[i] + 1;
    for (std::size_t k = k0; k < k1; k++)
      tj[k] = aji * bi[k] + tj[k];
  }
}

// The plain loop: each entry summed in turn, b read down its columns.
static void plain_product(const MatmulProduct& p) {
  for (std::size_t j = 0; j < p.rows; j++) {
    const double* aj = p.a[j + 1];
    for (std::size_t k = 1; k <= p.cols; k++) {
      double sum = 0.0;
      for (std::size_t i = 1; i <= p.inner; i++)
        sum = aj[i] * p.b[i][k] + sum;
      p.t[j * p.cols + k - 1] = sum;
    }
  }
}

// NOLINTNEXTLINE(readability-non-const-parameter): t is written through the MatmulProduct
void matmul_with(MatmulKernel kernel, double* t, double* const* a, double* const* b,
                 std::size_t rows, std::size_t inner, std::size_t cols) {
  const MatmulProduct p{t, a, b, rows, inner, cols};
  void (*rows_of)(const MatmulProduct&, std::size_t, std::size_t) = nullptr;
  switch (kernel) {
    case MATMUL_AVX512:
      rows_of = matmul_rows_avx512;
      break;
    case MATMUL_AVX2:
      rows_of = matmul_rows_avx2;
      break;
    case MATMUL_SSE2:
      rows_of = matmul_rows_sse2;
      break;
    default:
      plain_product(p);
      return;
  }
  unsigned parts = rows * cols * inner < MATMUL_PARALLEL_MIN_WORK ? 1u : core_count();
  const std::size_t groups = (rows + kMatmulRowGroup - 1) / kMatmulRowGroup;
  parts = static_cast<unsigned>(std::min<std::size_t>(parts, groups));
  run_parts(parts, [&](unsigned part) {
    const std::size_t j0 = std::min(rows, groups * part / parts * kMatmulRowGroup);
    const std::size_t j1 = std::min(rows, groups * (part + 1) / parts * kMatmulRowGroup);
    rows_of(p, j0, j1);
  });
}
