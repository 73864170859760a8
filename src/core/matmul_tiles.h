// matmul_tiles.h - what the product's vector kernels (matmul_sse2.cc, matmul_avx2.cc,
// matmul_avx512.cc) share with matmul.cc: the product, the walk over its blocks, and the plain
// loop for the entries a tile leaves.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_MATMUL_TILES_H
#define PRAVLIN_MATMUL_TILES_H

#include <algorithm>
#include <cstddef>
#include <cstring>

// Code for a wider vector than the build's own (SSE2) is compiled for it function by function,
// so that nothing a processor without it runs can hold its instructions.
#if defined(__x86_64__) || defined(__i386__)
#define MATMUL_TARGET(isa) __attribute__((target(isa)))
#else
#define MATMUL_TARGET(isa)
#endif

struct MatmulProduct {
  double* t;         // rows x cols, 0-based
  double* const* a;  // 1-based rows and columns
  double* const* b;
  std::size_t rows, inner, cols;
};

constexpr std::size_t kMatmulColBlock = 256;  // columns of t and b kept hot together
constexpr std::size_t kMatmulIBlock = 128;    // terms added to an entry per pass
/// Rows go to the cores in multiples of this, a multiple of every tile's rows, so that only
/// the last range has rows no tile covers.
constexpr std::size_t kMatmulRowGroup = 12;

/// Row j of t, columns k0..k1-1 (0-based), terms i0..i1-1 (1-based): the plain loop, for the
/// entries a tile leaves. t starts from 0.0 when i0 is 1.
void matmul_edge(const MatmulProduct& p, std::size_t j, std::size_t k0, std::size_t k1,
                 std::size_t i0, std::size_t i1);

/// Rows j0..j1-1 of t, in tiles of kRows rows and kCols columns by tile(p, j, k, i0, i1), which
/// adds terms i0..i1-1 to the tile at row j, column k (from 0.0 when i0 is 1), and the rest by
/// matmul_edge. Every entry gets its terms in order: the blocks of i go up for each entry.
template <std::size_t kRows, std::size_t kCols, typename Tile>
void matmul_walk(const MatmulProduct& p, std::size_t j0, std::size_t j1, Tile tile) {
  for (std::size_t kb = 0; kb < p.cols; kb += kMatmulColBlock) {
    const std::size_t kend = std::min(p.cols, kb + kMatmulColBlock);
    const std::size_t kvec = kb + (kend - kb) / kCols * kCols;
    for (std::size_t ib = 1; ib <= p.inner; ib += kMatmulIBlock) {
      const std::size_t iend = std::min(p.inner + 1, ib + kMatmulIBlock);
      std::size_t j = j0;
      for (; j + kRows <= j1; j += kRows) {
        for (std::size_t k = kb; k < kvec; k += kCols)
          tile(p, j, k, ib, iend);
        for (std::size_t r = 0; r < kRows; r++)
          matmul_edge(p, j + r, kvec, kend, ib, iend);
      }
      for (; j < j1; j++)
        matmul_edge(p, j, kb, kend, ib, iend);
    }
  }
}

/// The tile of kRows rows and kVecs vectors V of columns at row j, column k: terms i0..i1-1
/// added to each entry in order, a multiply then an add, carried in registers from one term to
/// the next (from 0.0 when i0 is 1, as every entry of t starts, or from t). Inlined into each
/// kernel's own function, which is compiled for its vectors: kRows x kVecs accumulators, kVecs
/// rows of b and one broadcast must fit in the registers, or they go to the stack at every term.
template <typename V, std::size_t kRows, std::size_t kVecs>
__attribute__((always_inline)) inline void matmul_tile(const MatmulProduct& p, std::size_t j,
                                                       std::size_t k, std::size_t i0,
                                                       std::size_t i1) {
  constexpr std::size_t kWidth = sizeof(V) / sizeof(double);
  static_assert(kWidth == 2 || kWidth == 4 || kWidth == 8, "vectors of 2, 4 or 8 doubles");
  double* t[kRows];
  const double* a[kRows];
  V c[kRows][kVecs];
#pragma GCC unroll 8
  for (std::size_t r = 0; r < kRows; r++) {
    t[r] = p.t + (j + r) * p.cols + k;
    a[r] = p.a[j + r + 1];
#pragma GCC unroll 8
    for (std::size_t v = 0; v < kVecs; v++) {
      c[r][v] = V{};
      if (i0 > 1)
        std::memcpy(&c[r][v], t[r] + v * kWidth, sizeof(V));
    }
  }
  for (std::size_t i = i0; i < i1; i++) {
    const double* bi = p.b[i] + 1 + k;
    V b[kVecs];
#pragma GCC unroll 8
    for (std::size_t v = 0; v < kVecs; v++)
      std::memcpy(&b[v], bi + v * kWidth, sizeof(V));
#pragma GCC unroll 8
    for (std::size_t r = 0; r < kRows; r++) {
      const double air = a[r][i];
      V x;  // air in every lane, one broadcast
      if constexpr (kWidth == 2)
        x = V{air, air};
      else if constexpr (kWidth == 4)
        x = V{air, air, air, air};
      else
        x = V{air, air, air, air, air, air, air, air};
#pragma GCC unroll 8
      for (std::size_t v = 0; v < kVecs; v++)
        c[r][v] = x * b[v] + c[r][v];
    }
  }
#pragma GCC unroll 8
  for (std::size_t r = 0; r < kRows; r++) {
#pragma GCC unroll 8
    for (std::size_t v = 0; v < kVecs; v++)
      std::memcpy(t[r] + v * kWidth, &c[r][v], sizeof(V));
  }
}

/// Rows j0..j1-1 of the product, each kernel's tiles and the edges.
void matmul_rows_sse2(const MatmulProduct& p, std::size_t j0, std::size_t j1);
void matmul_rows_avx2(const MatmulProduct& p, std::size_t j0, std::size_t j1);
void matmul_rows_avx512(const MatmulProduct& p, std::size_t j0, std::size_t j1);

#endif
