// analyze_among.h - what the committor, rewards and lumping share: the reversed transitions,
// searches backwards over them, the states sure to reach a goal, and systems (I - Q) X = B over
// a set of states.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_AMONG_H
#define PRAVLIN_ANALYZE_AMONG_H

#include <cstdio>
#include <vector>

#include "analyze.h"

/// The transitions by destination: the entries into state v are in_start[v] .. in_start[v+1]-1
/// of in_from[] and in_p[], in increasing order of their source.
struct reversed_chain {
  std::vector<std::size_t> in_start;  // [n + 2]
  std::vector<int> in_from;           // source of each entry, 1..n
  std::vector<double> in_p;           // its probability
};
typedef struct reversed_chain REVERSED_CHAIN;

/// Fills r from c, in time and memory linear in the transitions.
void reverse_chain(const SPARSE_CHAIN* c, REVERSED_CHAIN* r);

/// Marks every state that reaches a marked one, passing only through states with pass[u] != 0:
/// a breadth-first search backwards. marked[1..n] grows in place.
void reach_backwards(const REVERSED_CHAIN* r, const std::vector<char>& pass,
                     std::vector<char>* marked);

/// How the states fare against a goal set G within a stop set S (G a part of S): the chain
/// is stopped on entering S.
struct goal_sets {
  std::vector<char> reaches;   // [n + 1] 1: G itself, or a state outside S that can reach G
                               // without passing through S
  std::vector<int> certain;    // [n + 1] place 1..nbr_certain of each state outside S that
                               // reaches G with probability 1; else 0
  std::vector<int> uncertain;  // [n + 1] place 1..nbr_uncertain of each state outside S that
                               // may reach G and may miss it; else 0
  int nbr_certain;
  int nbr_uncertain;
};
typedef struct goal_sets GOAL_SETS;

/// Finds, by two searches backwards, the states that reach G for certain and those that may
/// reach it, with stop[s] != 0 on S and goal[s] != 0 on G.
void find_goal_sets(const SPARSE_CHAIN* c, const REVERSED_CHAIN* r, const std::vector<char>& stop,
                    const std::vector<char>& goal, GOAL_SETS* g);

/// The largest relative residual a system (I - Q) X = B may keep: ||(I - Q) x - b||_1 over
/// ||b||_1, for each column.
const double AMONG_RESIDUAL_GOAL = 1e-10;

/// Solves (I - Q) X = B over the m states with index[s] > 0 (numbered 1..m), Q the transitions
/// among them; every one of them must be able to leave the set. B is held by rows in
/// b[(i - 1) * nb + j], i = 1..m, j = 0..nb-1, and must not be negative; X overwrites it.
/// By elimination without subtraction (as absorption's) up to DENSE_MAX_STATES states, or
/// beyond within a band cheap enough; else by the shared sparse solver. The result says how,
/// with the residual (0 for the dense elimination, exact to rounding). Does not return when
/// the residual misses AMONG_RESIDUAL_GOAL: " *** ERROR: the <what> system of ...".
SOLVE_RESULT solve_among_set(const SPARSE_CHAIN* c, const std::vector<int>& index, int m,
                             std::vector<double>* b, int nb, const char* what);

/// "  residual ... (sparse solve: ...)" after a sparse solve; nothing after a dense one.
void print_among_residual(FILE* out, const SOLVE_RESULT* how);

#endif
