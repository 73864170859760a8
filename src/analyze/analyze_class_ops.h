// analyze_class_ops.h - one closed class as a chain of its own, for the spectrum, the mixing
// time and the Kemeny constant: its transitions by local index, products with them, and the
// solves of (I - P) x = y against its stationary distribution.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_CLASS_OPS_H
#define PRAVLIN_ANALYZE_CLASS_OPS_H

#include <cstdio>
#include <vector>

#include "analyze_entropy.h"
#include "analyze_sparse.h"
#include "analyze_sparse_lu.h"

// A class counts as reversible here as the reversibility section says it is
// (REVERSIBLE_TOLERANCE, analyze_entropy.h), so that its spectrum's heading and that section
// never disagree.

/// The largest relative residual of the solves with the group inverse that the spectrum and the
/// Kemeny estimate accept: a BiCGSTAB that stalls is far above it, and the eliminations, whose
/// residual grows with the cancellation between a right side's positive and negative parts,
/// far below.
const double GROUP_INVERSE_GOAL = 1e-8;

/// The most work (states times band squared) of one elimination within the band for a solve:
/// every product with the group inverse repeats it.
const double CLASS_BANDED_MAX_WORK = 1e8;

/// Closed class k with local indices 0..m-1 (local i is states[i], the class's i-th state).
struct class_ops {
  int k;                   // the class's number
  int m;                   // its states
  const int* states;       // [m] its states, increasing (into the classes' member list)
  std::vector<double> pi;  // [m] its stationary distribution
  SPARSE_MATRIX p;         // [m x m] its transitions, rows by local index
  int reversible;          // 1 when detailed balance holds within REVERSIBLE_TOLERANCE
  double min_stay;         // the smallest P_ii
  // The solver of (I - P) x = y through I - Q, Q the class without the state `removed` (the
  // most probable): elimination within the band, without subtraction, when Q's transitions keep
  // within a narrow band; else a sparse LU when its fill is cheap; else BiCGSTAB on I - P itself.
  int direct;                  // 1 when band or lu is used
  int removed;                 // local index of the state left out of Q
  int band;                    // Q's band (0 when not used): q_band and leave hold Q as
                               // banded_elimination takes it, rows 1..m-1
  std::vector<double> q_band;  // [(m) * (2 band + 1)]
  std::vector<double> leave;   // [m] the probability of moving to the removed state
  SPARSE_MATRIX a;             // I - P, each diagonal entry the state's outflow
  SPARSE_LU lu;
};
typedef struct class_ops CLASS_OPS;

/// Fills ops for closed class k of at least two states, pi[1..n] holding its stationary
/// distribution: the local transitions and reversibility, and with solver 1 the solver of
/// group_inverse as class_ops_solver builds it (without, direct and band are 0).
void class_ops_build(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k, const double* pi,
                     CLASS_OPS* ops, int solver);

/// Adds to ops, built by class_ops_build without its solver, the solver of group_inverse: I - P,
/// and the elimination within Q's band when m band^2 is at most CLASS_BANDED_MAX_WORK, else a
/// sparse LU when its fill is cheap, else neither (BiCGSTAB).
void class_ops_solver(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, CLASS_OPS* ops);

/// Q's band, |i - j| at most over its transitions off the diagonal (Q indexed without the state
/// `removed`): the band class_ops_solver eliminates within when m band^2 allows.
int class_ops_band(const CLASS_OPS* ops);

/// x = A# y for the columns of y (m rows), ops built with its solver: A# is the group inverse of I
/// - P, so that (I - P) x = y - (pi . y) 1 and pi . x = 0. Its eigenvalues are 1 / (1 - lambda) for
/// the eigenvalues lambda != 1 of P, and 0 for 1. Returns the largest residual
/// |(I - P) x - y + (pi . y) 1|_1 of a column relative to |y|_1 + |x|_1; NaN when no solve ran.
double group_inverse(const CLASS_OPS* ops, const Eigen::MatrixXd& y, Eigen::MatrixXd* x);

/// What a class_operator applies to x (ORDER CLASS_OPERATOR).
enum class_operator_kind {
  CLASS_POWER,              // ((P - 1 pi') / scale)^power x: P with its eigenvalue 1 moved to 0
  CLASS_INVERSE,            // A# x, the group inverse of I - P
  CLASS_SYMMETRIC_INVERSE,  // Pi^1/2 A# Pi^-1/2 x, u = sqrt(pi)
  CLASS_SYMMETRIC,          // S x - u (u . x), S = Pi^1/2 P Pi^-1/2 as *s, u = sqrt(pi)
};

/// The one operator that Arnoldi and Lanczos (analyze_krylov.h) are given over a class: which
/// product it applies, and whether a solve with the group inverse missed GROUP_INVERSE_GOAL on
/// the way. The work is class_operator_apply's.
struct class_operator {
  const CLASS_OPS* ops;
  int kind;   // a class_operator_kind
  int power;  // CLASS_POWER: the power, and the scale of each factor
  double scale;
  const SPARSE_MATRIX* s;    // CLASS_SYMMETRIC: the symmetrised class
  const Eigen::VectorXd* u;  // the symmetric kinds: sqrt(pi)
  mutable int failed = 0;    // the inverse kinds: 1 once a solve's residual missed its goal
};
typedef struct class_operator CLASS_OPERATOR;

/// y[0..m) = the operator's product with x[0..m).
void class_operator_apply(const CLASS_OPERATOR* op, const double* x, double* y);
/// class_operator_apply with op (a CLASS_OPERATOR) as a KRYLOV_OPERATOR's context.
void class_operator_product(const void* op, const double* x, double* y);

/// An orthonormal basis of the real space that the columns of v span: the real and imaginary
/// parts of its vectors, of which a conjugate pair gives two real directions up to their
/// accuracy (1e-6).
Eigen::MatrixXd real_basis(const Eigen::MatrixXcd& v);

/// "class K", with ", the whole chain" when it is.
void print_class_label(FILE* out, const CHAIN_CLASSES* cl, int k);

/// The largest relative violation of detailed balance over closed class k (0 when it holds
/// exactly); HUGE_VAL when a transition has no reverse.
double balance_violation(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k, const double* pi);

#endif
