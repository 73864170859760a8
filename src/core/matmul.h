// matmul.h - the product's kernels, which the solver (steady_state.cc) calls for every product:
// the plain loop, and the same sums blocked, vectorised and on all cores.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_MATMUL_H
#define PRAVLIN_MATMUL_H

#include <cstddef>

/// The kernels, widest vectors first; every one gives every entry the same bits.
/// ORDER KERNELS: kKernelNames in matmul.cc.
enum MatmulKernel {
  MATMUL_AVX512,  // 512-bit vectors, four rows by sixteen columns a tile
  MATMUL_AVX2,    // 256-bit vectors, six rows by eight columns
  MATMUL_SSE2,    // 128-bit vectors, four rows by four columns: every x86-64 processor
  MATMUL_PLAIN,   // the plain loop, on one core
  MATMUL_KERNELS
};

/// The kernel's name as PRAVLIN_KERNEL gives it: "avx512", "avx2", "sse2" or "plain".
const char* matmul_kernel_name(MatmulKernel kernel);
/// Whether this processor runs the kernel.
bool matmul_kernel_runs(MatmulKernel kernel);
/// The kernel that value of PRAVLIN_KERNEL names; null or empty: the widest this processor
/// runs. Fails with one message when it names no kernel, or one this processor cannot run.
MatmulKernel matmul_kernel_named(const char* name);
/// The kernel of the solver's products in this process: PRAVLIN_KERNEL's, read at the first
/// call.
MatmulKernel matmul_kernel();

/// t[j * cols + k - 1] = a[j + 1][1..inner] x b[1..inner][k] for j = 0..rows-1, k = 1..cols
/// (a and b 1-based, t 0-based and not cleared), by the kernel, which this processor must run:
/// every entry the plain loop's sum, its terms added for i = 1, 2, ... in that order, a
/// multiply and then an add. The vector kernels work in blocks and tiles, on all cores for a
/// large product.
void matmul_with(MatmulKernel kernel, double* t, double* const* a, double* const* b,
                 std::size_t rows, std::size_t inner, std::size_t cols);

#endif
