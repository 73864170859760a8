// matmul_avx512.cc - the product's kernel in 512-bit vectors (AVX-512): thirty-two registers,
// eight of them accumulators.
// Part of pravlin; see README.md.
#include "matmul_tiles.h"

typedef double v8d __attribute__((vector_size(64), aligned(8)));

// Four rows of t by sixteen columns.
MATMUL_TARGET("avx512f")
static void tile_4x16(const MatmulProduct& p, std::size_t j, std::size_t k, std::size_t i0,
                      std::size_t i1) {
  matmul_tile<v8d, 4, 2>(p, j, k, i0, i1);
}

void matmul_rows_avx512(const MatmulProduct& p, std::size_t j0, std::size_t j1) {
  matmul_walk<4, 16>(p, j0, j1, tile_4x16);
}
