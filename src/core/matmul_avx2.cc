// matmul_avx2.cc - the product's kernel in 256-bit vectors (AVX2, as on processors without
// AVX-512): sixteen registers, twelve of them accumulators. Not fused: AVX2 processors mostly
// have FMA, but a fused multiply-add rounds once where the plain loop rounds twice.
// Part of pravlin; see README.md.
#include "matmul_tiles.h"

typedef double v4d __attribute__((vector_size(32), aligned(8)));

// Six rows of t by eight columns.
MATMUL_TARGET("avx2")
static void tile_6x8(const MatmulProduct& p, std::size_t j, std::size_t k, std::size_t i0,
                     std::size_t i1) {
  matmul_tile<v4d, 6, 2>(p, j, k, i0, i1);
}

void matmul_rows_avx2(const MatmulProduct& p, std::size_t j0, std::size_t j1) {
  matmul_walk<6, 8>(p, j0, j1, tile_6x8);
}
