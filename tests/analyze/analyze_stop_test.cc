// analyze_stop_test.cc - the calls that run no loop of the analyses' own, Spectra's iterations
// and the sparse LU's factorisation and solves, end with the interrupted message once a stop is
// asked for, and what they leave behind goes on working.
// Part of pravlin; see README.md.
#include <gtest/gtest.h>

#include <Eigen/Core>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "analyze_class_ops.h"
#include "analyze_krylov.h"
#include "analyze_test_util.h"
#include "cancel.h"
#include "fail_mode.h"

static void ignore(const char*, void*) {}

// Products with the class's P, counted: the one numbered stop_at asks for a stop on its way
// out, as a Ctrl-C while it runs would.
struct stopping_product {
  const CLASS_OPS* ops;
  long stop_at = 0;
  long done = 0;
};

static void stopping_apply(const void* context, const double* x, double* y) {
  auto* s = static_cast<stopping_product*>(const_cast<void*>(context));
  const Eigen::Map<const Eigen::VectorXd> in(x, s->ops->m);
  Eigen::Map<Eigen::VectorXd>(y, s->ops->m) = s->ops->p * in;
  if (++s->done == s->stop_at)
    cancel_request();
}

TEST(StopAsked, SpectraAndTheSparseLuEndWithTheInterruptedMessage) {
  // A random class of 500 states: its band is near 500, too wide to eliminate within, so the
  // group inverse of I - P is solved by the sparse LU.
  const int n = 500;
  std::mt19937_64 rng(5);
  const SPARSE_CHAIN c = random_ring_chain(n, &rng);
  CHAIN_CLASSES cl;
  find_classes(&c, &cl);
  const std::vector<double> pi = class_distributions(c, cl);
  CLASS_OPS ops;
  class_ops_build(&c, &cl, 1, pi.data(), &ops, 1);
  ASSERT_EQ(ops.band, 0);
  ASSERT_EQ(ops.direct, 1);

  stopping_product product{&ops};
  const KRYLOV_OPERATOR k{n, &product, stopping_apply};
  Eigen::VectorXcd general;
  Eigen::VectorXd symmetric;
  Eigen::MatrixXd y = Eigen::MatrixXd::Zero(n, 2), x;
  y(0, 0) = y(1, 1) = 1.0;
  // Each call is stopped from inside the product stop_at (0: before it starts), then run again
  // to its end over what the stopped one left (the solvers need not converge in their few
  // restarts here).
  const struct {
    const char* call;
    long stop_at;
    std::function<void()> run;
  } calls[] = {
      {"Arnoldi", 5, [&] { krylov_arnoldi(&k, 4, 20, 10, 1e-10, &general, nullptr); }},
      {"Lanczos", 5, [&] { krylov_lanczos(&k, 4, 20, 10, 1e-10, 1, &symmetric); }},
      {"the LU's factorisation", 0, [&] { class_ops_solver(&c, &cl, &ops); }},
      {"the LU's solves", 0, [&] { group_inverse(&ops, y, &x); }},
  };
  const FailThrows mode(ignore, nullptr);
  for (const auto& call : calls) {
    SCOPED_TRACE(call.call);
    cancel_reset();
    product.stop_at = call.stop_at;
    product.done = 0;
    if (call.stop_at == 0)
      cancel_request();
    try {
      call.run();
      ADD_FAILURE() << "not stopped";
    } catch (const FailError& e) {
      EXPECT_EQ(std::string(e.what()), " *** ERROR: interrupted\n");
    }
    EXPECT_EQ(product.done, call.stop_at);  // no product after the one that asked
    cancel_reset();
    product.stop_at = -1;
    EXPECT_NO_THROW(call.run());
  }
  EXPECT_EQ(ops.direct, 1);
  EXPECT_LE(group_inverse(&ops, y, &x), GROUP_INVERSE_GOAL);
}
