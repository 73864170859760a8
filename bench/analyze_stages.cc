// analyze_stages.cc - times pravlin-analyze's analyses on one configuration, each beyond the
// reading that they share: the classes and stationary distributions, the entropy rate and
// reversibility, with --lump the lumping, and with --eigen K the spectrum.
//
//   analyze_stages CONFIG.xml [--lump value|coarsest|FILE] [--lump-tolerance EPS] [--copies S]
//                  [--eigen K]
//
// Prints one line "<stage>: <seconds> s" per stage, and what it found. With --copies S, for a
// chain of bench/make_chain.py C with S small states, also whether the blocks found are the
// copies of each small state. With --eigen K, the K eigenvalues of largest modulus of each
// closed class as pravlin-analyze --eigen K finds them (the same call), their time in wall and
// processor seconds, the method, and the eigenvalues to 17 digits (bench/eigen_scipy.sh sets
// them beside scipy's).
// Part of pravlin; see README.md.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "analyze.h"
#include "analyze_eigen.h"
#include "analyze_entropy.h"
#include "analyze_lump.h"
#include "bench_chain.h"
#include "config.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: analyze_stages CONFIG.xml [--lump HOW] [--lump-tolerance EPS] "
                 "[--eigen K]\n");
    return 1;
  }
  const char* lump = nullptr;
  double tolerance = LUMP_TOLERANCE;
  int copies = 0;
  int eigen = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--lump") == 0)
      lump = argv[i + 1];
    if (std::strcmp(argv[i], "--lump-tolerance") == 0)
      tolerance = std::strtod(argv[i + 1], nullptr);
    if (std::strcmp(argv[i], "--copies") == 0)
      copies = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--eigen") == 0)
      eigen = std::atoi(argv[i + 1]);
  }
  static PRAVLIN pv;
  auto start = std::chrono::steady_clock::now();
  SPARSE_CHAIN c;
  read_bench_chain(&pv, argv[1], &c);
  std::printf("read: %.3f s, %d states\n", seconds_since(start), c.n);

  start = std::chrono::steady_clock::now();
  CHAIN_CLASSES cl;
  find_classes(&c, &cl);
  std::vector<double> pi(static_cast<std::size_t>(c.n) + 1, 0.0);
  for (int k = 1; k <= cl.nbr_classes; k++) {
    if (cl.closed[k])
      class_stationary(&c, &cl, k, pi.data());
  }
  std::printf("classes and stationary distributions: %.3f s\n", seconds_since(start));

  start = std::chrono::steady_clock::now();
  std::vector<CLASS_ENTROPY> e;
  solve_entropy(&c, &cl, pi.data(), &e);
  std::printf("entropy rate and reversibility: %.3f s, class %d: %.17g nats, violation %.1e\n",
              seconds_since(start), e[0].klass, e[0].nats, e[0].violation);

  for (int k = 1; eigen > 0 && k <= cl.nbr_classes; k++) {
    if (!cl.closed[k] || class_size(&cl, k) < 2)
      continue;
    start = std::chrono::steady_clock::now();
    const std::clock_t cpu = std::clock();
    CLASS_SPECTRUM sp;
    solve_spectrum(&c, &cl, k, pi.data(), eigen, &sp);
    std::printf("spectrum of class %d (%d states, --eigen %d): %.4f s, %.4f s CPU, %s\n", k, sp.m,
                eigen, seconds_since(start),
                static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC, sp.method);
    if (!sp.found)
      std::printf("  not found: %s\n", sp.why);
    for (const EIGENVALUE& value : sp.largest)
      std::printf("  %.17g %.17g\n", value.re, value.im);
  }

  if (lump != nullptr) {
    start = std::chrono::steady_clock::now();
    LUMP_PARTITION part;
    read_lump_partition(&pv, lump, &part);
    if (part.by == LUMP_COARSEST)
      refine_lumpable(&c, tolerance, &part);
    LUMPED_CHAIN l;
    lump_chain(&pv, &c, &part, tolerance, &l);
    std::printf("lump %s: %.3f s, %d blocks, largest violation %.1e\n", lump, seconds_since(start),
                part.nbr_blocks, l.violation);
    if (copies > 0) {
      // Copy c of small state a is state c S + a: block a + 1 by the order of lowest states.
      bool same = part.nbr_blocks == copies;
      for (int s = 1; same && s <= c.n; s++)
        same = part.block_of[s] == (s - 1) % copies + 1;
      std::printf("blocks are the copies of the %d small states: %s\n", copies,
                  same ? "yes" : "no");
    }
  }
  return 0;
}
