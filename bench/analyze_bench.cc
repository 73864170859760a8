// analyze_bench.cc - pravlin-analyze's class analysis on large sparse chains.
// Part of pravlin; see README.md.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "analyze.h"

// n states with three destinations each: the next state (so that the chain is one class) and
// two drawn at random, or, with lines set, a line into one absorbing state (n classes).
static SPARSE_CHAIN make_chain(int n, bool lines) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> pick(1, n);
  std::vector<TRANSITION_ENTRY> list;
  for (int i = 1; i <= n; i++) {
    if (lines) {
      list.push_back(TRANSITION_ENTRY{i, i < n ? i + 1 : n, 1.0});
      continue;
    }
    // A destination drawn twice, or drawn as the next state, adds its weight there: the rows
    // must total 1 for the sparse solver's benchmark.
    int a = pick(rng), b = pick(rng), next = i % n + 1;
    double to_next = 0.5 + (a == next ? 0.25 : 0.0) + (b == next ? 0.25 : 0.0);
    list.push_back(TRANSITION_ENTRY{i, next, to_next});
    if (a != next)
      list.push_back(TRANSITION_ENTRY{i, a, a == b ? 0.5 : 0.25});
    if (b != next && b != a)
      list.push_back(TRANSITION_ENTRY{i, b, 0.25});
  }
  std::sort(list.begin(), list.end(), [](const TRANSITION_ENTRY& x, const TRANSITION_ENTRY& y) {
    return x.from != y.from ? x.from < y.from : x.to < y.to;
  });
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, n, list);
  return c;
}

static void BM_FindClassesRandom(benchmark::State& state) {
  SPARSE_CHAIN c = make_chain(static_cast<int>(state.range(0)), false);
  for (auto _ : state) {
    CHAIN_CLASSES cl;
    find_classes(&c, &cl);
    benchmark::DoNotOptimize(cl.nbr_classes);
  }
}
BENCHMARK(BM_FindClassesRandom)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

static void BM_FindClassesLine(benchmark::State& state) {
  SPARSE_CHAIN c = make_chain(static_cast<int>(state.range(0)), true);
  for (auto _ : state) {
    CHAIN_CLASSES cl;
    find_classes(&c, &cl);
    benchmark::DoNotOptimize(cl.nbr_classes);
  }
}
BENCHMARK(BM_FindClassesLine)->Arg(100000)->Unit(benchmark::kMillisecond);

// A million absorbing states: a million closed classes, each solved in proportion to its size.
static void BM_StationaryOfAbsorbingStates(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<TRANSITION_ENTRY> list;
  for (int i = 1; i <= n; i++)
    list.push_back(TRANSITION_ENTRY{i, i, 1.0});
  SPARSE_CHAIN c;
  sparse_chain_from_list(&c, n, list);
  std::vector<double> pi(static_cast<std::size_t>(n) + 1, 0.0);
  for (auto _ : state) {
    CHAIN_CLASSES cl;
    find_classes(&c, &cl);
    for (int k = 1; k <= cl.nbr_classes; k++)
      class_stationary(&c, &cl, k, pi.data());
    benchmark::DoNotOptimize(pi.data());
  }
}
BENCHMARK(BM_StationaryOfAbsorbingStates)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The sparse solver on one random irreducible class (the chain R of bench/make_chain.py, with
// weights 1/2, 1/4, 1/4).
static void BM_SparseStationaryRandom(benchmark::State& state) {
  SPARSE_CHAIN c = make_chain(static_cast<int>(state.range(0)), false);
  CHAIN_CLASSES cl;
  find_classes(&c, &cl);
  std::vector<double> pi(static_cast<std::size_t>(c.n) + 1, 0.0);
  for (auto _ : state) {
    SOLVE_RESULT how = class_stationary(&c, &cl, 1, pi.data());
    benchmark::DoNotOptimize(how.residual);
  }
}
BENCHMARK(BM_SparseStationaryRandom)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
