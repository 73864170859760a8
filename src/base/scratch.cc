// scratch.cc - the machine's memory and the fast paths' extra memory.
// Part of pravlin; see README.md.
#include "scratch.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

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
