// fast.cc - the cores, the vector instructions and the extra memory that the fast paths share.
// Part of pravlin; see README.md.
#include "fast.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

std::size_t physical_memory() {
  static const std::size_t bytes = [] {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0)
      return SIZE_MAX;
    if (static_cast<std::size_t>(pages) > SIZE_MAX / static_cast<std::size_t>(page_size))
      return SIZE_MAX;
    return static_cast<std::size_t>(pages) * static_cast<std::size_t>(page_size);
  }();
  return bytes;
}

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
  Joiner joiner;
  std::vector<std::thread>& workers = joiner.threads;
  unsigned inline_from = parts;  // parts from here on run on this thread, after part 0
  try {
    workers.reserve(parts > 0 ? parts - 1 : 0);
    for (unsigned part = 1; part < parts; part++) {
      workers.emplace_back(work, part);
    }
  } catch (const std::exception&) {
    // No thread to be had (or no memory to keep it): the parts not started run here.
    inline_from = static_cast<unsigned>(workers.size()) + 1;
  }
  if (parts > 0)
    work(0);
  for (unsigned part = inline_from; part < parts; part++)
    work(part);
}

// The most one request may have, for tests of the plain paths: written only by
// set_scratch_limit.
static std::size_t scratch_limit = SIZE_MAX;

void set_scratch_limit(std::size_t bytes) {
  scratch_limit = bytes;
}

void* scratch_bytes(std::size_t count, std::size_t size) {
  if (size != 0 && count > scratch_limit / size)
    return nullptr;
  return std::malloc(count * size == 0 ? 1 : count * size);
}

// A large table is filled once, page by page; in huge pages that is one fault per 2 MiB, not
// per 4 KiB, and the threads that fill it do not queue for the kernel's lock at every page.
// Only a hint: where it is refused nothing changes.
void advise_huge_pages(void* p, std::size_t bytes) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  if (bytes < 2 * kHuge)
    return;
  std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
  std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(kHuge - 1);
  if (end > begin)
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}
