// row_product_time.cc - the time of one product of pravlin-analyze's stationary solve (the
// transposed rows of a chain times a vector, row_product) on one core and on all, beside the
// products the solve of the chain's largest closed class takes and its time.
//
//   row_product_time CONFIG.xml [TIMES]   (TIMES products each way, default 20)
//
// Prints "solve: <s> s, <k> products, residual <r>", the time group_rows takes, and per core
// count one line "product on <c> core(s) (...): <ms> ms" for the product the solve takes
// (row_product_grouped) and one "plain product on <c> core(s): <ms> ms" for row_product, each
// the least of TIMES runs.
// Part of pravlin; see README.md.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "analyze.h"
#include "analyze_sparse_fast.h"
#include "bench_chain.h"
#include "config.h"
#include "cores.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: row_product_time CONFIG.xml [TIMES]\n");
    return 1;
  }
  const int times = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  static PRAVLIN pv;
  SPARSE_CHAIN c;
  read_bench_chain(&pv, argv[1], &c);

  CHAIN_CLASSES cl;
  find_classes(&c, &cl);
  std::vector<double> pi(static_cast<std::size_t>(c.n) + 1, 0.0);
  int largest = 0;
  for (int k = 1; k <= cl.nbr_classes; k++) {
    if (cl.closed[k] && (largest == 0 || class_size(&cl, k) > class_size(&cl, largest)))
      largest = k;
  }
  const unsigned long before = row_product_count();
  auto start = std::chrono::steady_clock::now();
  const SOLVE_RESULT how = class_stationary(&c, &cl, largest, pi.data());
  std::printf("solve: %.3f s, %lu products, residual %.1e (%s)\n", seconds_since(start),
              row_product_count() - before, how.residual, how.method);

  // The solve's matrix has a row per state of the transitions into it, and the diagonal.
  std::vector<Eigen::Triplet<double>> entries;
  entries.reserve(c.to.size() + static_cast<std::size_t>(c.n));
  for (int u = 1; u <= c.n; u++) {
    double out = 0.0;
    for (std::size_t e = c.row_start[u]; e < c.row_start[u + 1]; e++) {
      if (c.to[e] != u) {
        entries.emplace_back(c.to[e] - 1, u - 1, -c.p[e]);
        out += c.p[e];
      }
    }
    entries.emplace_back(u - 1, u - 1, out);
  }
  SPARSE_MATRIX a(c.n, c.n);
  a.setFromTriplets(entries.begin(), entries.end());
  entries = std::vector<Eigen::Triplet<double>>();
  start = std::chrono::steady_clock::now();
  ROW_GROUPS groups;
  if (!group_rows(a, &groups)) {
    std::fprintf(stderr, "row_product_time: no memory for the grouped rows\n");
    return 1;
  }
  std::printf("rows grouped in %.2f ms\n", seconds_since(start) * 1e3);
  // The two forms alternate, so that a change in the machine's load touches both alike.
  Eigen::VectorXd x = Eigen::VectorXd::Constant(c.n, 1.0 / c.n), y(c.n);
  for (unsigned cores = 1; cores <= std::max(1u, core_count()); cores++) {
    double least = HUGE_VAL, least_grouped = HUGE_VAL;
    for (int t = 0; t < times; t++) {
      start = std::chrono::steady_clock::now();
      row_product(a, x.data(), y.data(), cores);
      least = std::min(least, seconds_since(start));
      start = std::chrono::steady_clock::now();
      row_product_grouped(&groups, x.data(), y.data(), cores);
      least_grouped = std::min(least_grouped, seconds_since(start));
    }
    std::printf("product on %u core%s (%lld rows, %lld entries): %.2f ms\n", cores,
                cores == 1 ? "" : "s", static_cast<long long>(a.rows()),
                static_cast<long long>(a.nonZeros()), least_grouped * 1e3);
    std::printf("plain product on %u core%s: %.2f ms\n", cores, cores == 1 ? "" : "s", least * 1e3);
  }
  return 0;
}
