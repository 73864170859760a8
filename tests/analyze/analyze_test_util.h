// analyze_test_util.h - what the analyze library's tests build alike: chains with closed forms
// (from rows, gambler's ruin, a reflecting walk, a birth-death line, a random ring), the solves
// that several themes check against, and a configuration read as pravlin-analyze reads it, with
// its notes (a chain as the solvers' sparse matrix: analyze_test_matrix.h).
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_TEST_UTIL_H
#define PRAVLIN_ANALYZE_TEST_UTIL_H

#include <algorithm>
#include <cstddef>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "analyze.h"
#include "analyze_hitting.h"
#include "analyze_notes.h"
#include "config.h"
#include "tables.h"
#include "xml/xml_test_util.h"

/// A chain from rows written out in full: rows[i - 1][j - 1] is P(i -> j).
inline SPARSE_CHAIN chain_of(const std::vector<std::vector<double>>& rows) {
  std::vector<TRANSITION_ENTRY> list;
  const int n = static_cast<int>(rows.size());
  for (int i = 1; i <= n; i++) {
    for (int j = 1; j <= n; j++) {
      if (rows[i - 1][j - 1] != 0.0)
        list.push_back(TRANSITION_ENTRY{i, j, rows[i - 1][j - 1]});
    }
  }
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, n, list);
  return c;
}

/// Gambler's ruin on 0..N (states 1..N+1): up with p, down with q = 1 - p, 0 and N absorbing.
inline SPARSE_CHAIN gamblers_ruin(int big_n, double p) {
  std::vector<TRANSITION_ENTRY> list;
  list.push_back(TRANSITION_ENTRY{1, 1, 1.0});
  for (int i = 1; i < big_n; i++) {
    list.push_back(TRANSITION_ENTRY{i + 1, i, 1 - p});
    list.push_back(TRANSITION_ENTRY{i + 1, i + 2, p});
  }
  list.push_back(TRANSITION_ENTRY{big_n + 1, big_n + 1, 1.0});
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, big_n + 1, list);
  return c;
}

/// A birth-death line of n states: up with up[i], down with down[i] (drawn in 0.25 .. 0.3, none
/// beyond the ends), the rest staying put. Slow-mixing, with closed forms for its stationary
/// distribution and passage times.
inline SPARSE_CHAIN birth_death_line(int n, std::mt19937_64* rng, std::vector<double>* up,
                                     std::vector<double>* down) {
  std::uniform_real_distribution<double> u(0.25, 0.3);
  up->assign(static_cast<std::size_t>(n) + 1, 0.0);
  down->assign(static_cast<std::size_t>(n) + 1, 0.0);
  std::vector<TRANSITION_ENTRY> list;
  for (int i = 1; i <= n; i++) {
    (*up)[i] = i < n ? u(*rng) : 0.0;
    (*down)[i] = i > 1 ? u(*rng) : 0.0;
    if (i > 1)
      list.push_back(TRANSITION_ENTRY{i, i - 1, (*down)[i]});
    list.push_back(TRANSITION_ENTRY{i, i, 1.0 - (*up)[i] - (*down)[i]});
    if (i < n)
      list.push_back(TRANSITION_ENTRY{i, i + 1, (*up)[i]});
  }
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, n, list);
  return c;
}

/// A random fast-mixing chain of n states: each moves to the next on a ring and to four states
/// drawn at random, with random weights.
inline SPARSE_CHAIN random_ring_chain(int n, std::mt19937_64* rng) {
  std::uniform_real_distribution<double> u(0.01, 1.0);
  std::uniform_int_distribution<int> pick(1, n);
  std::vector<TRANSITION_ENTRY> list;
  for (int i = 1; i <= n; i++) {
    std::vector<std::pair<int, double>> row = {{i % n + 1, u(*rng)}};
    for (int m = 0; m < 4; m++)
      row.emplace_back(pick(*rng), u(*rng));
    std::sort(row.begin(), row.end());
    double total = 0.0;
    for (const auto& e : row)
      total += e.second;
    for (std::size_t e = 0; e < row.size(); e++) {
      if (e > 0 && row[e].first == row[e - 1].first) {
        list.back().probability += row[e].second / total;
      } else {
        list.push_back(TRANSITION_ENTRY{i, row[e].first, row[e].second / total});
      }
    }
  }
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, n, list);
  return c;
}

/// A chain of n states, from each the given moves (to, probability).
inline SPARSE_CHAIN chain_of_rows(int n,
                                  const std::vector<std::vector<std::pair<int, double>>>& rows) {
  std::vector<TRANSITION_ENTRY> list;
  for (int i = 1; i <= n; i++) {
    for (const auto& [to, p] : rows[static_cast<std::size_t>(i) - 1])
      list.push_back(TRANSITION_ENTRY{i, to, p});
  }
  sort_transitions(&list);
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, n, list);
  return c;
}

/// The symmetric random walk on 0..n-1 (states 1..n) that turns back at both ends.
inline SPARSE_CHAIN reflecting_walk(int n) {
  std::vector<TRANSITION_ENTRY> list;
  list.push_back(TRANSITION_ENTRY{1, 2, 1.0});
  for (int i = 2; i < n; i++) {
    list.push_back(TRANSITION_ENTRY{i, i - 1, 0.5});
    list.push_back(TRANSITION_ENTRY{i, i + 1, 0.5});
  }
  list.push_back(TRANSITION_ENTRY{n, n - 1, 1.0});
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, n, list);
  return c;
}

/// Stationary distribution of every closed class, on its states.
inline std::vector<double> class_distributions(const SPARSE_CHAIN& c, const CHAIN_CLASSES& cl) {
  std::vector<double> pi(static_cast<std::size_t>(c.n) + 1, 0.0);
  for (int k = 1; k <= cl.nbr_classes; k++) {
    if (cl.closed[k])
      class_stationary(&c, &cl, k, pi.data());
  }
  return pi;
}

inline HITTING hitting_of(const SPARSE_CHAIN& c, const std::vector<int>& targets) {
  HITTING h;
  solve_hitting(&c, targets, &h);
  return h;
}

/// Reads text as pravlin-analyze reads it, into pv and list, and returns its notes.
inline std::vector<READ_NOTE> read_noting(const std::string& text, PRAVLIN* pv,
                                          std::vector<TRANSITION_ENTRY>* list) {
  init_pravlin(pv);
  pv->in = open_text(text).release();
  std::vector<READ_NOTE> notes;
  read_configuration(pv, READ_LIST, 0, list);
  collect_read_notes(pv, *list, &notes);
  return notes;
}

#endif
