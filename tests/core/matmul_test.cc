// matmul_test.cc - the product's kernel (matmul.cc) against the plain sum: the same bits in
// every entry, or it is a bug.
// Part of pravlin; see README.md.
#include <gtest/gtest.h>

#include <random>

#include "matmul.h"
#include "pravlin.h"
#include "steady_state.h"
#include "test_util.h"

TEST(Matmul, MatchesTheLiteralSumBitForBit) {
  std::mt19937_64 rng(7);
  const int shapes[][3] = {{1, 1, 1},   {2, 3, 4},    {5, 1, 7},
                           {17, 33, 9}, {64, 64, 64}, {130, 300, 171}};
  for (const auto& s : shapes) {
    SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1] << " times " << s[1] << "x" << s[2]);
    Matrix a = random_matrix(s[0], s[1], rng);
    Matrix b = random_matrix(s[1], s[2], rng);
    Matrix a0 = a, b0 = b;
    Matrix y(s[0], s[2]);
    multiply_array_by_array(y.p(), a.p(), b.p(), s[0], s[1], s[2]);
    expect_bits_equal(y, literal_product(a0, b0));
    expect_bits_equal(a, a0);
    expect_bits_equal(b, b0);
  }
}
