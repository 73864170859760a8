// cores.cc - the cores, their vector instructions, and the parts of a work run on them.
// Part of pravlin; see README.md.
#include "cores.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

unsigned core_count() {
  static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return cores;
}

// The compiler's run-time reads CPUID and, for AVX and AVX-512, whether the system saves their
// registers (XGETBV), once, before main; the call makes sure of it for a caller that comes
// earlier.
bool cpu_has_avx2() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

bool cpu_has_avx512() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") != 0;
#else
  return false;
#endif
}

// Joins the threads also when a part unwinds (fail() throws in a fuzz build), since a thread
// destroyed unjoined ends the process.
struct Joiner {
  std::vector<std::thread> threads;
  ~Joiner() {
    for (std::thread& th : threads)
      th.join();
  }
};

void run_parts(unsigned parts, const std::function<void(unsigned part)>& work) {
  // What a part throws is kept, and the first part's in part order thrown again here once every
  // part is done: thrown on a thread of its own it would end the process.
  std::vector<std::exception_ptr> thrown(parts);
  const auto part_of = [&](unsigned part) {
    try {
      work(part);
    } catch (...) {
      thrown[part] = std::current_exception();
    }
  };
  {
    Joiner joiner;
    std::vector<std::thread>& workers = joiner.threads;
    unsigned inline_from = parts;  // parts from here on run on this thread, after part 0
    try {
      workers.reserve(parts > 0 ? parts - 1 : 0);
      for (unsigned part = 1; part < parts; part++) {
        workers.emplace_back(part_of, part);
      }
    } catch (const std::exception&) {
      // No thread to be had (or no memory to keep it): the parts not started run here.
      inline_from = static_cast<unsigned>(workers.size()) + 1;
    }
    if (parts > 0)
      part_of(0);
    for (unsigned part = inline_from; part < parts; part++)
      part_of(part);
  }
  for (const std::exception_ptr& e : thrown) {
    if (e)
      std::rethrow_exception(e);
  }
}
