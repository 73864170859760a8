// analyze.h - the structure of a chain (classes, periods, stationary distributions, absorption,
// n-step distributions) for pravlin-analyze.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_H
#define PRAVLIN_ANALYZE_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "sparse_read.h"

/// A transition matrix by rows, positive entries only. States are 1..n; the entries of row i
/// are row_start[i] .. row_start[i + 1] - 1 of to[] and p[], in increasing order of to.
struct sparse_chain {
  int n;                               // number of states
  std::vector<std::size_t> row_start;  // [n + 2]; slots 0 and 1 are 0
  std::vector<int> to;                 // destination of each entry, 1..n
  std::vector<double> p;               // its probability, > 0
};
typedef struct sparse_chain SPARSE_CHAIN;

/// The chain of n states from a list as error_check_transitions leaves it (sorted by from, to;
/// one positive entry per pair).
void sparse_chain_from_list(SPARSE_CHAIN* c, int n, const std::vector<TRANSITION_ENTRY>& list);
/// The chain from a 1-based n x n matrix a[from][to]; zero entries are left out.
void sparse_chain_from_matrix(SPARSE_CHAIN* c, double** a, int n);

/// The communicating classes of a chain. Classes are numbered 1..nbr_classes in the order of
/// their smallest state; the states of each are listed in increasing order.
struct chain_classes {
  int nbr_classes;
  int nbr_closed;                  // classes that no transition leaves
  std::vector<int> class_of;       // [n + 1] class of each state
  std::vector<std::size_t> first;  // [nbr_classes + 2] class k is member[first[k] .. first[k+1]-1]
  std::vector<int> member;         // [n] states, grouped by class
  std::vector<int> position;       // [n + 1] 1-based place of each state within its class
  std::vector<int> closed;         // [nbr_classes + 1] 1: recurrent, 0: transient
  std::vector<int> period;         // [nbr_classes + 1] gcd of cycle lengths; 0: no cycle at all
};
typedef struct chain_classes CHAIN_CLASSES;

/// Tarjan's algorithm on the positive transitions, without recursion, then the period of each
/// class from breadth-first levels. Time linear in states plus transitions.
void find_classes(const SPARSE_CHAIN* c, CHAIN_CLASSES* cl);

/// Number of states in class k.
int class_size(const CHAIN_CLASSES* cl, int k);
/// "class K", with ", the whole chain" when it is: how the analysis names a class.
std::string class_name(const CHAIN_CLASSES* cl, int k);
/// The first closed class after k of two states or more (k = 0 for the first), or 0 when there
/// is none: the classes whose spectrum, mixing and Kemeny constant are worth a section.
int next_closed_class(const CHAIN_CLASSES* cl, int k);

/// 1 when repeated squaring of the matrix can reach a power whose rows agree: exactly one
/// closed class, of period 1. Otherwise 0.
int squaring_can_converge(const CHAIN_CLASSES* cl);

/// The largest class (or set of transient states) solved densely, exactly and without
/// subtraction; a larger one goes to the sparse solver.
const int DENSE_MAX_STATES = 2000;
/// The most that the residual of a sparse solve may be: ||pi P - pi||_1 for a stationary
/// distribution, ||(I - Q) x - b||_1 for each absorption system (relative to ||b||_1 for the
/// expected steps).
const double ANALYZE_RESIDUAL_GOAL = 1e-10;

/// How a solve was done and how well.
struct solve_result {
  const char* method;  // "GTH", "elimination" (dense), or a sparse method
  int sparse;          // 1 when solved by the sparse solver
  double residual;     // as ANALYZE_RESIDUAL_GOAL says; NaN when no solve succeeded
};
typedef struct solve_result SOLVE_RESULT;

/// Grassmann-Taksar-Heyman: the stationary distribution x[1..m] of the irreducible m x m
/// matrix held 1-based and row-major in a[(m + 1) * (m + 1)], which it overwrites. Uses no
/// subtraction and no diagonal entry, so tiny probabilities keep their relative accuracy.
void gth_stationary(double* a, int m, double* x);

/// gth_stationary on a matrix held by bands: a[i * (2 band + 1) + j - i + band] is entry (i, j)
/// for |i - j| <= band, rows 1..m (row 0 unused). The same folding in the same order, restricted
/// to the band, which it never leaves: time m band^2, memory m band.
void gth_banded_stationary(double* a, int m, int band, double* x);
/// The largest distance between the places (within class k) of a transition's two states.
int class_bandwidth(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k);
/// Solves (D - Q) x = b for the m states of a set that the chain may leave, without
/// subtraction: Q held by bands as gth_banded_stationary holds its matrix (zero diagonal),
/// s[1..m] the probability of leaving the set from each state, and D the outflow, s plus the
/// row of Q. The right sides b[i * nb + j] (rows 1..m) must not be negative; x overwrites them.
/// Overwrites a and s; time m band^2, memory m band.
void banded_elimination(double* a, int m, int band, double* s, double* b, int nb);
/// The most work (states times band squared) for GTH within the band of a class beyond
/// DENSE_MAX_STATES: a line of a million states has a band of 1.
const double BANDED_MAX_WORK = 2e9;
/// The most entries and work of the estimated factor (lu_fits) of a system for which the sparse
/// LU is tried: some 10 s and 1.5 GB of LU. A grid of 700 x 700 states (1.9e7, 5.5e9) took 7 s
/// and 0.9 GB, one of 1000 x 1000 21 s and 1.9 GB, a random graph of 7000 states 18 s.
const double LU_MAX_ENTRIES = 3e7;
const double LU_MAX_WORK = 1e10;

/// The stationary distribution of closed class k into pi[s] for its states s; other entries of
/// pi[1..n] are left as they are. GTH up to DENSE_MAX_STATES states; beyond, GTH within the
/// band when the class's transitions keep close to their states (a line), else the sparse
/// solver. Fails when the dense matrix cannot fit in memory, or when the residual misses goal,
/// or an entry comes out negative.
SOLVE_RESULT class_stationary(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, int k, double* pi,
                              double goal = ANALYZE_RESIDUAL_GOAL);

// analyze_sparse.cc

/// Where the transient states end, from the fundamental matrix's systems (I - Q) x = b, solved
/// by elimination without forming an inverse and without subtraction.
struct absorption {
  int nbr_transient;                // t
  int nbr_closed;                   // k
  std::vector<int> state;           // [t + 1] transient states, increasing
  std::vector<int> closed_class;    // [k + 1] class number of each closed class, increasing
  std::vector<double> steps;        // [t + 1] expected steps until a closed class is entered
  std::vector<double> probability;  // [(t + 1) * (k + 1)]: [i * (k + 1) + j], transient i
                                    // ends in closed class j
  SOLVE_RESULT how;                 // elimination up to DENSE_MAX_STATES states, else sparse
};
typedef struct absorption ABSORPTION;

/// Lists the transient states and the closed classes into ab (state, closed_class, nbr_transient,
/// nbr_closed); local[s] becomes the place of transient state s in ab->state (0 for a recurrent
/// one) and column[k] that of closed class k in ab->closed_class.
void absorption_sets(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, ABSORPTION* ab,
                     std::vector<int>* local, std::vector<int>* column);
/// Fills ab for the chain's transient states: by dense elimination up to DENSE_MAX_STATES of
/// them, by the sparse solver beyond. Fails when the dense system cannot fit in memory, or when
/// the sparse solve cannot bring the residual under goal.
void solve_absorption(const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl, ABSORPTION* ab,
                      double goal = ANALYZE_RESIDUAL_GOAL);

/// Replaces x[1..n] by x P, steps times. Once the distribution repeats exactly (a fixed point,
/// or a cycle of a periodic chain), the steps left are cut to their remainder modulo the
/// cycle's length: that gives the same bits. A run still going after two seconds shows its
/// progress on standard error when that is a terminal.
void step_distribution(const SPARSE_CHAIN* c, std::vector<double>* x, long steps);

/// 1 when a dense block of count doubles fits in the machine's physical memory.
int dense_fits(std::size_t count);

#endif
