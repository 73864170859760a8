// analyze_committor.h - the committor: from every state, the probability of reaching a set B
// before a set A.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_COMMITTOR_H
#define PRAVLIN_ANALYZE_COMMITTOR_H

#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "analyze.h"

/// The two sets of --committor A:B, as given (state numbers, repeats kept).
struct committor_sets {
  std::vector<int> a;
  std::vector<int> b;
};
typedef struct committor_sets COMMITTOR_SETS;

/// Reads "A:B", each set states by name or #number separated by commas. Does not return when
/// the text is not of that form, a set is empty, a state is unknown, or the sets share a state.
void parse_committor(const PRAVLIN* pv, const char* text, COMMITTOR_SETS* sets);

/// The committor q: q_s = P(the chain, started at s, reaches B before A), with the first step
/// counted from 0: 0 on A, 1 on B.
struct committor {
  std::vector<double> probability;  // [n + 1]
  SOLVE_RESULT how;                 // of the system over the states that may go either way
  int nbr_solved;                   // the states of that system
};
typedef struct committor COMMITTOR;

/// Fills q: exactly 0 on A and on the states that cannot reach B without passing through A,
/// exactly 1 on B and on the states that cannot avoid it, and the rest from the system
/// (I - Q) q = b over them. Does not return on failure.
void solve_committor(const SPARSE_CHAIN* c, const COMMITTOR_SETS* sets, COMMITTOR* q);

/// The committor section of the text output.
void print_committor(FILE* out, const PRAVLIN* pv, const SPARSE_CHAIN* c,
                     const COMMITTOR_SETS* sets, const COMMITTOR* q, int precision);

/// Member "committor" of the JSON document; null when q is null.
void add_committor_json(const PRAVLIN* pv, const SPARSE_CHAIN* c, const COMMITTOR_SETS* sets,
                        const COMMITTOR* q, nlohmann::ordered_json* doc);

#endif
