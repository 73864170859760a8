// steady_state.cc - the matrix product and the steady state by repeated squaring
// (multiply_array_by_array, calc_steady_state).
// Part of pravlin; see README.md.
#include "pravlin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

// The product is computed in blocks, on all cores, vectorised, and still gives every entry the
// exact bits of the plain sum: t[j][k] receives a[j][i] * b[i][k] for i = 1, 2, ... in that
// order, a multiply and then an add (never fused: -ffp-contract=off), carried in t itself from
// one block of i to the next. Blocks only change which entries are worked on together.
namespace {

typedef double v8d __attribute__((vector_size(64), aligned(8)));

constexpr std::size_t kColBlock = 256;  // columns of t and b kept hot together
constexpr std::size_t kIBlock = 128;    // terms added to an entry per pass
constexpr std::size_t kParallelMinWork = std::size_t{1} << 21;  // multiply-adds
constexpr std::size_t kMeasureBlock = 8;  // columns whose squared deviations are formed together

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

// Where a product is formed. Every entry is written before it is read, so the buffer is never
// cleared: each thread's first writes bring in the pages of its own rows.
struct ProductBuffer {
  std::unique_ptr<double[]> data;
  std::size_t size = 0;
};

// Bytes of a rows x cols matrix of doubles; SIZE_MAX when that cannot even be counted.
static std::size_t matrix_bytes(std::size_t rows, std::size_t cols) {
  if (cols != 0 && rows > SIZE_MAX / sizeof(double) / cols)
    return SIZE_MAX;
  return rows * cols * sizeof(double);
}

static const char kProductOom[] = " *** ERROR: NULL Pointer in multiply_array_by_array() a\n";

// The product into y, formed in work, which is (re)sized as needed: the solver keeps one buffer
// for all its squarings instead of asking for fresh pages each time.
static void multiply_into(double** y, double** a, double** b, int nbr_r_a, int nbr_rc, int nbr_c_b,
                          ProductBuffer* work) {
  if (y == nullptr || a == nullptr || b == nullptr) {
    fail(" *** ERROR: NULL Pointer in multiply_array_by_array()\n");
  }
  if (nbr_r_a < 1 || nbr_rc < 1 || nbr_c_b < 1) {
    fail(" *** ERROR: Illegal array dimension in mulitply_array_by_array()\n");
  }
  std::size_t rows = static_cast<std::size_t>(nbr_r_a);
  std::size_t cols = static_cast<std::size_t>(nbr_c_b);
  // The whole product is formed before y is written, so y may be a or b (squaring in place).
  if (work->size != rows * cols) {
    work->data.reset();
    check_working_memory(matrix_bytes(rows, cols), kProductOom);
    try {
      work->data.reset(new double[rows * cols]);
    } catch (const std::exception&) {  // bad_alloc, or bad_array_new_length for an impossible size
      fail("%s", kProductOom);
    }
    work->size = rows * cols;
    advise_huge_pages(work->data.get(), work->size * sizeof(double));
  }
  double* t = work->data.get();
  Product p{t, a, b, rows, static_cast<std::size_t>(nbr_rc), cols};
  // Asked once: the C library reads the count from /sys at every call, which took longer than
  // a small product itself, and a squaring limit may ask for billions of them.
  static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  unsigned threads = cores;
  if (rows * cols * p.inner < kParallelMinWork)
    threads = 1;
  threads = static_cast<unsigned>(std::min<std::size_t>(threads, (rows + 3) / 4));
  std::vector<std::thread> workers;
  try {
    workers.reserve(threads);
  } catch (const std::bad_alloc&) {
    threads = 1;
  }
  // Row ranges in multiples of four, so that only the last one has rows the kernel leaves.
  std::size_t groups = (rows + 3) / 4;
  for (unsigned w = 1; w < threads; w++) {
    std::size_t j0 = std::min(rows, groups * w / threads * 4);
    std::size_t j1 = std::min(rows, groups * (w + 1) / threads * 4);
    try {
      workers.emplace_back(product_rows, std::cref(p), j0, j1);
    } catch (const std::system_error&) {
      // No thread to be had (an address-space limit may leave no room for its stack): this
      // share of the rows is formed here instead.
      product_rows(p, j0, j1);
    }
  }
  product_rows(p, 0, std::min(rows, groups / threads * 4));
  for (std::thread& th : workers)
    th.join();

  for (std::size_t j = 0; j < rows; j++) {
    double* yj = y[j + 1] + 1;
    const double* tj = t + j * cols;
    for (std::size_t k = 0; k < cols; k++)
      yj[k] = tj[k];
  }
}

void multiply_array_by_array(double** y, double** a, double** b, int nbr_r_a, int nbr_rc,
                             int nbr_c_b) {
  ProductBuffer t;
  multiply_into(y, a, b, nbr_r_a, nbr_rc, nbr_c_b, &t);
}

// The total squared deviation of the entries of aa[1..n][1..n] from their column means: for
// each column c in turn, its mean (its entries summed down the rows, divided by n), then
// (aa[r][c] - mean)^2 added for r = 1..n.
static double column_deviation_plain(double* const* aa, int n) {
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

// The same sums in the same order, reading aa a row at a time instead of down each column: all
// column sums at once, each still added down the rows, then the squares of kMeasureBlock
// columns at a time, kept until they are added in column order. scratch holds
// (kMeasureBlock + 1) * n + 1 doubles.
static double column_deviation(double* const* aa, int n, double* scratch) {
  const auto un = static_cast<std::size_t>(n);
  double* mean = scratch;             // mean[1..n]
  double* square = scratch + un + 1;  // square[k * n + r - 1]: column c0 + k, row r
  for (std::size_t c = 1; c <= un; c++)
    mean[c] = 0.0;
  for (std::size_t r = 1; r <= un; r++) {
    const double* row = aa[r];
    for (std::size_t c = 1; c <= un; c++)
      mean[c] += row[c];
  }
  for (std::size_t c = 1; c <= un; c++)
    mean[c] = mean[c] / n;
  double cerror = 0.0;
  for (std::size_t c0 = 1; c0 <= un; c0 += kMeasureBlock) {
    const std::size_t width = std::min(kMeasureBlock, un - c0 + 1);
    for (std::size_t r = 1; r <= un; r++) {
      const double* row = aa[r] + c0;
      for (std::size_t k = 0; k < width; k++) {
        double d = row[k] - mean[c0 + k];
        square[k * un + r - 1] = d * d;
      }
    }
    for (std::size_t k = 0; k < width; k++) {
      for (std::size_t r = 0; r < un; r++)
        cerror += square[k * un + r];
    }
  }
  return cerror;
}

int calc_steady_state(double** a, double* b, int n, int max_iterations, double max_error,
                      double* error, int debug) {
  if (a == nullptr || b == nullptr || n < 1) {
    fail(" *** ERROR : NULL Pointer or n < 1 in calc_steady_state()\n");
  }
  std::size_t stride = static_cast<std::size_t>(n) + 1;
  // The working copy and the product's temporary are two more matrices as large as the
  // transition matrix: both are counted with the tables before anything is asked for, each
  // refused with its own message, rather than granted and the machine driven out of memory.
  static const char kCopyOom[] = " *** ERROR : NULL Pointer in calc_steady_state()\n";
  const std::size_t copy_bytes = matrix_bytes(stride, stride);
  const std::size_t product_bytes = matrix_bytes(stride - 1, stride - 1);
  check_working_memory(copy_bytes, kCopyOom);
  check_working_memory(
      product_bytes > SIZE_MAX - copy_bytes ? SIZE_MAX : copy_bytes + product_bytes, kProductOom);
  // Not cleared: every entry the solver reads is copied from a below. Row 0 and column 0, as
  // everywhere, are never read.
  std::unique_ptr<double[]> block;
  std::vector<double*> aa;
  try {
    block.reset(new double[stride * stride]);
    aa.assign(stride, nullptr);
  } catch (const std::exception&) {  // bad_alloc, or an impossible size
    fail("%s", kCopyOom);
  }
  advise_huge_pages(block.get(), stride * stride * sizeof(double));
  for (std::size_t r = 1; r < stride; r++)
    aa[r] = block.get() + r * stride;

  // A limit of 1 is honoured: it performs one squaring.
  int cmax_iteration = max_iterations >= 1 ? max_iterations : 100;
  double cmax_error = max_error > 0.0 ? max_error : 1e-6;

  for (int j = 1; j <= n; j++) {
    for (int k = 1; k <= n; k++)
      aa[j][k] = a[j][k];
  }

  // Room for the measure's column sums and a block of squared deviations; without it the
  // measure walks down the columns itself.
  std::vector<double> measure;
  try {
    measure.resize((kMeasureBlock + 1) * static_cast<std::size_t>(n) + 1);
  } catch (const std::bad_alloc&) {
    measure.clear();
  }
  double cerror = 0.0;
  int i = 0;
  ProductBuffer t;
  while (i < cmax_iteration) {
    multiply_into(aa.data(), aa.data(), aa.data(), n, n, n, &t);
    cerror = measure.empty() ? column_deviation_plain(aa.data(), n)
                             : column_deviation(aa.data(), n, measure.data());
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
