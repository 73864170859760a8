// matmul.cc - the product's kernel and its threads: blocked, vectorised and on all cores.
// Part of pravlin; see README.md.
#include <algorithm>
#include <cstring>

#include "fast.h"
#include "matmul.h"

// The product is computed in blocks, on all cores, vectorised, and still gives every entry the
// exact bits of the plain sum: t[j][k] receives a[j][i] * b[i][k] for i = 1, 2, ... in that
// order, a multiply and then an add (never fused: -ffp-contract=off), carried in t itself from
// one block of i to the next. Blocks only change which entries are worked on together.
namespace {

typedef double v8d __attribute__((vector_size(64), aligned(8)));

constexpr std::size_t kColBlock = 256;  // columns of t and b kept hot together
constexpr std::size_t kIBlock = 128;    // terms added to an entry per pass
constexpr std::size_t kParallelMinWork = std::size_t{1} << 21;  // multiply-adds

struct Product {
  double* t;         // rows x cols, 0-based
  double* const* a;  // 1-based rows and columns
  double* const* b;
  std::size_t rows, inner, cols;
};

}  // namespace

// The kernel in versions for AVX-512, AVX2 and plain SSE2, picked when the program is loaded;
// one version only in a ThreadSanitizer build (PRAVLIN_ONE_KERNEL).
#ifdef PRAVLIN_ONE_KERNEL
#define KERNEL_CLONES
#else
#define KERNEL_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#endif

// Four rows of t, sixteen columns from k, terms i0..i1-1 (1-based i).
KERNEL_CLONES static void kernel_4x16(const Product& p, std::size_t j, std::size_t k,
                                      std::size_t i0, std::size_t i1) {
  double* t0 = p.t + j * p.cols + k;
  double* t1 = t0 + p.cols;
  double* t2 = t1 + p.cols;
  double* t3 = t2 + p.cols;
  // The first terms start from 0.0, as every entry of t does; later ones from t.
  v8d c00{}, c01{}, c10{}, c11{}, c20{}, c21{}, c30{}, c31{};
  if (i0 > 1) {
    std::memcpy(&c00, t0, 64);
    std::memcpy(&c01, t0 + 8, 64);
    std::memcpy(&c10, t1, 64);
    std::memcpy(&c11, t1 + 8, 64);
    std::memcpy(&c20, t2, 64);
    std::memcpy(&c21, t2 + 8, 64);
    std::memcpy(&c30, t3, 64);
    std::memcpy(&c31, t3 + 8, 64);
  }
  const double* a0 = p.a[j + 1];
  const double* a1 = p.a[j + 2];
  const double* a2 = p.a[j + 3];
  const double* a3 = p.a[j + 4];
  for (std::size_t i = i0; i < i1; i++) {
    const double* bi = p.b[i] + 1 + k;
    v8d b0, b1;
    std::memcpy(&b0, bi, 64);
    std::memcpy(&b1, bi + 8, 64);
    v8d x0 = v8d{} + a0[i], x1 = v8d{} + a1[i], x2 = v8d{} + a2[i], x3 = v8d{} + a3[i];
    c00 = x0 * b0 + c00;
    c01 = x0 * b1 + c01;
    c10 = x1 * b0 + c10;
    c11 = x1 * b1 + c11;
    c20 = x2 * b0 + c20;
    c21 = x2 * b1 + c21;
    c30 = x3 * b0 + c30;
    c31 = x3 * b1 + c31;
  }
  std::memcpy(t0, &c00, 64);
  std::memcpy(t0 + 8, &c01, 64);
  std::memcpy(t1, &c10, 64);
  std::memcpy(t1 + 8, &c11, 64);
  std::memcpy(t2, &c20, 64);
  std::memcpy(t2 + 8, &c21, 64);
  std::memcpy(t3, &c30, 64);
  std::memcpy(t3 + 8, &c31, 64);
}

// One row of t, columns k0..k1-1, terms i0..i1-1: the rows and columns the kernel leaves.
static void edge(const Product& p, std::size_t j, std::size_t k0, std::size_t k1, std::size_t i0,
                 std::size_t i1) {
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

static void product_rows(const Product& p, std::size_t j0, std::size_t j1) {
  for (std::size_t kb = 0; kb < p.cols; kb += kColBlock) {
    const std::size_t kend = std::min(p.cols, kb + kColBlock);
    const std::size_t kvec = kb + (kend - kb) / 16 * 16;
    for (std::size_t ib = 1; ib <= p.inner; ib += kIBlock) {
      const std::size_t iend = std::min(p.inner + 1, ib + kIBlock);
      std::size_t j = j0;
      for (; j + 4 <= j1; j += 4) {
        for (std::size_t k = kb; k < kvec; k += 16)
          kernel_4x16(p, j, k, ib, iend);
        for (std::size_t r = 0; r < 4; r++)
          edge(p, j + r, kvec, kend, ib, iend);
      }
      for (; j < j1; j++)
        edge(p, j, kb, kend, ib, iend);
    }
  }
}

// NOLINTNEXTLINE(readability-non-const-parameter): t is written through the Product
void matmul(double* t, double* const* a, double* const* b, std::size_t rows, std::size_t inner,
            std::size_t cols) {
  const Product p{t, a, b, rows, inner, cols};
  unsigned parts = rows * cols * inner < kParallelMinWork ? 1u : core_count();
  // Row ranges in multiples of four, so that only the last one has rows the kernel leaves.
  const std::size_t groups = (rows + 3) / 4;
  parts = static_cast<unsigned>(std::min<std::size_t>(parts, groups));
  run_parts(parts, [&](unsigned part) {
    const std::size_t j0 = std::min(rows, groups * part / parts * 4);
    const std::size_t j1 = std::min(rows, groups * (part + 1) / parts * 4);
    product_rows(p, j0, j1);
  });
}
