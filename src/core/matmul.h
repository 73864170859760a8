// matmul.h - the product's kernel, which the solver (steady_state.cc) calls for every product
// too large for the plain loop.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_MATMUL_H
#define PRAVLIN_MATMUL_H

#include <cstddef>

/// t[j * cols + k - 1] = a[j + 1][1..inner] x b[1..inner][k] for j = 0..rows-1, k = 1..cols
/// (a and b 1-based, t 0-based and not cleared): every entry the same sum as the plain
/// product's, its terms added for i = 1, 2, ... in that order, a multiply and then an add.
/// Blocked, vectorised and on all cores.
void matmul(double* t, double* const* a, double* const* b, std::size_t rows, std::size_t inner,
            std::size_t cols);

#endif
