// step_time.cc - the time of one step x -> x P of --steps and --horizon on a configuration's
// chain: the plain scatter (step_product), and the gather over P^T's grouped rows on one core
// and on all, beside the time of making the chain ready for the latter (P^T and its groups).
//
//   step_time CONFIG.xml [TIMES]   (TIMES steps each way, default 20)
//
// Prints the chain's size, "ready in <ms> ms", and one line per product with the least of
// TIMES steps in ms; the steps start from the uniform distribution (the plain scatter skips the
// states at 0, which a start on one state has many of in its first steps), and each product's
// answers are checked against the plain ones, bit for bit.
// Part of pravlin; see README.md.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "analyze_step_fast.h"
#include "bench_chain.h"
#include "config.h"
#include "cores.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: step_time CONFIG.xml [TIMES]\n");
    return 1;
  }
  const int times = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  static PRAVLIN pv;
  SPARSE_CHAIN c;
  read_bench_chain(&pv, argv[1], &c);
  const std::size_t w = static_cast<std::size_t>(c.n) + 1;
  std::printf("%d states, %zu entries\n", c.n, c.to.size());

  CHAIN_STEPS plain, grouped;
  prepare_steps(&c, times, STEP_PATH_PLAIN, &plain);
  const auto start = std::chrono::steady_clock::now();
  prepare_steps(&c, times, STEP_PATH_GROUPED, &grouped);
  std::printf("ready in %.2f ms%s\n", seconds_since(start) * 1e3,
              grouped.grouped ? "" : " (no memory: plain)");
  // The three products alternate, so that a change in the machine's load touches them alike;
  // each follows the same path of distributions, and must land on the same bits.
  std::vector<double> x(w, 1.0 / c.n), y(w), z(w);
  x[0] = 0.0;
  double least[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL};
  const unsigned all = std::max(1u, core_count());
  int differ = 0;
  for (int t = 0; t < times; t++) {
    auto begin = std::chrono::steady_clock::now();
    take_step(&plain, x.data(), y.data());
    least[0] = std::min(least[0], seconds_since(begin));
    for (int k = 1; k <= 2; k++) {
      grouped.cores = k == 1 ? 1 : all;
      begin = std::chrono::steady_clock::now();
      take_step(&grouped, x.data(), z.data());
      least[k] = std::min(least[k], seconds_since(begin));
      differ += !std::equal(y.begin(), y.end(), z.begin(),
                            [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; });
    }
    x.swap(y);
  }
  std::printf("plain step: %.2f ms\n", least[0] * 1e3);
  std::printf("grouped step on 1 core: %.2f ms\n", least[1] * 1e3);
  std::printf("grouped step on %u cores: %.2f ms\n", all, least[2] * 1e3);
  std::printf("%s\n", differ == 0 ? "same bits" : "DIFFERENT BITS");
  return differ == 0 ? 0 : 1;
}
