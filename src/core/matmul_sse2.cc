// matmul_sse2.cc - the product's kernel in 128-bit vectors, which every x86-64 processor has
// (SSE2): sixteen registers, eight of them accumulators.
// Part of pravlin; see README.md.
#include "matmul_tiles.h"

typedef double v2d __attribute__((vector_size(16), aligned(8)));

// Four rows of t by four columns.
static void tile_4x4(const MatmulProduct& p, std::size_t j, std::size_t k, std::size_t i0,
                     std::size_t i1) {
  matmul_tile<v2d, 4, 2>(p, j, k, i0, i1);
}

void matmul_rows_sse2(const MatmulProduct& p, std::size_t j0, std::size_t j1) {
  matmul_walk<4, 4>(p, j0, j1, tile_4x4);
}
