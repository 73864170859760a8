// matmul_test.cc - the product's kernels (matmul.cc and matmul_*.cc) against the plain loop:
// every kernel this processor runs gives every entry the same bits, or it is a bug; and the
// setting that picks one.
// Part of pravlin; see README.md.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "matmul.h"
#include "test_util.h"

// The kernels this processor runs, widest first.
static std::vector<MatmulKernel> kernels_here() {
  std::vector<MatmulKernel> here;
  for (int k = 0; k < MATMUL_KERNELS; k++) {
    if (matmul_kernel_runs(static_cast<MatmulKernel>(k)))
      here.push_back(static_cast<MatmulKernel>(k));
  }
  return here;
}

// a x b by the kernel, into a buffer that starts as NaN: an entry the kernel leaves shows.
static Matrix product_by(MatmulKernel kernel, Matrix& a, Matrix& b) {
  std::vector<double> t(static_cast<std::size_t>(a.rows) * b.cols, std::nan(""));
  matmul_with(kernel, t.data(), a.p(), b.p(), a.rows, a.cols, b.cols);
  Matrix y(a.rows, b.cols);
  for (int j = 1; j <= a.rows; j++) {
    for (int k = 1; k <= b.cols; k++)
      y.ptr[j][k] = t[static_cast<std::size_t>(j - 1) * b.cols + k - 1];
  }
  return y;
}

TEST(MatmulKernels, EveryKernelGivesThePlainLoopsBits) {
  // Every square size to 70, around the tiles' edges (4, 6, 8, 16) and the row groups of the
  // cores (12); then shapes across the blocks of columns (256) and of terms (128), and products
  // large enough to be split across the cores.
  std::vector<std::vector<int>> shapes;
  for (int n = 1; n <= 70; n++)
    shapes.push_back({n, n, n});
  for (const std::vector<int>& s : std::vector<std::vector<int>>{
           {3, 129, 5}, {13, 257, 70}, {130, 300, 171}, {257, 129, 263}, {101, 511, 97}})
    shapes.push_back(s);
  std::mt19937_64 rng(7);
  for (const std::vector<int>& s : shapes) {
    SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1] << " times " << s[1] << "x" << s[2]);
    Matrix a = random_matrix(s[0], s[1], rng);
    Matrix b = random_matrix(s[1], s[2], rng);
    const Matrix want = literal_product(a, b);
    for (MatmulKernel kernel : kernels_here()) {
      SCOPED_TRACE(matmul_kernel_name(kernel));
      expect_bits_equal(product_by(kernel, a, b), want);
    }
  }
}

TEST(MatmulKernels, EveryKernelSquaresAW2LikeChainAsThePlainLoopDoes) {
  // Rows of weights 0.01 to 1.01, each divided by its sum, as the benchmark's W2 has them, at
  // an odd size; three squarings in turn, as the solver makes them.
  const int n = 389;
  std::mt19937_64 rng(2);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Matrix p(n, n);
  for (int j = 1; j <= n; j++) {
    double total = 0.0;
    for (int k = 1; k <= n; k++)
      total += p.ptr[j][k] = u(rng) + 0.01;
    for (int k = 1; k <= n; k++)
      p.ptr[j][k] /= total;
  }
  std::vector<Matrix> powers{p};
  for (int s = 0; s < 3; s++)
    powers.push_back(literal_product(powers.back(), powers.back()));
  for (MatmulKernel kernel : kernels_here()) {
    SCOPED_TRACE(matmul_kernel_name(kernel));
    for (int s = 0; s < 3; s++) {
      SCOPED_TRACE(s);
      Matrix m = powers[s];
      expect_bits_equal(product_by(kernel, m, m), powers[s + 1]);
    }
  }
}

TEST(MatmulKernelsDeathTest, SettingPicksAKernelThisProcessorRunsOrIsRefused) {
  EXPECT_EQ(matmul_kernel_named(nullptr), kernels_here().front());
  EXPECT_EQ(matmul_kernel_named(""), kernels_here().front());
  for (int k = 0; k < MATMUL_KERNELS; k++) {
    const auto kernel = static_cast<MatmulKernel>(k);
    const std::string name = matmul_kernel_name(kernel);
    SCOPED_TRACE(name);
    if (matmul_kernel_runs(kernel)) {
      EXPECT_EQ(matmul_kernel_named(name.c_str()), kernel);
    } else {
      EXPECT_EXIT(matmul_kernel_named(name.c_str()), testing::ExitedWithCode(1),
                  testing::Eq(" *** ERROR: PRAVLIN_KERNEL=" + name +
                              ": this processor cannot run that kernel\n"));
    }
  }
}
