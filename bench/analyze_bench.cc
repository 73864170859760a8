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
    int a = pick(rng), b = pick(rng), next = i % n + 1;
    list.push_back(TRANSITION_ENTRY{i, next, 0.5});
    if (a != next)
      list.push_back(TRANSITION_ENTRY{i, a, 0.25});
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

BENCHMARK_MAIN();
