// analyze_chain.h - a chain as pravlin-analyze holds it, written as a configuration, its
// communicating classes, and the records that every solve shares: how it was done, and where the
// transient states end. Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_CHAIN_H
#define PRAVLIN_ANALYZE_CHAIN_H

#include <cstddef>
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

/// Writes the chain q to file as a pravlin configuration with the record's settings (but no
/// report file), through config_write_chain: after "<pravlin>", the lines of comment as given;
/// state b named name[b] (no name when it is empty), of value value[b] and initial probability
/// initial[b] (1-based). Opened through output_open: declare file with output_declare, after
/// noting the inputs with output_note_input, before anything is printed, and it never replaces
/// one. Does not return when the file cannot be written.
void write_chain_configuration(const char* file, const PRAVLIN* pv, const SPARSE_CHAIN* q,
                               const std::vector<std::string>& name, const double* value,
                               const double* initial, const std::string& comment);

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

/// 1 when a dense block of count doubles fits in the machine's physical memory.
int dense_fits(std::size_t count);

/// How a solve was done and how well.
struct solve_result {
  const char* method;  // "GTH", "elimination" (dense), or a sparse method
  int sparse;          // 1 when solved by the sparse solver
  double residual;     // as ANALYZE_RESIDUAL_GOAL says; NaN when no solve succeeded
};
typedef struct solve_result SOLVE_RESULT;

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

#endif
