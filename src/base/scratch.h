// scratch.h - the machine's memory and the one policy for a fast path's extra memory.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_SCRATCH_H
#define PRAVLIN_SCRATCH_H

#include <cstddef>
#include <cstdlib>
#include <memory>

/// The machine's physical memory in bytes, SIZE_MAX when the system does not say; asked once.
std::size_t physical_memory();

/// The memory policy of every fast path. A fast path asks for all the extra memory it needs
/// before it starts, bounded by the size it will work on, and when any of it is refused its
/// stage takes the plain path, which needs nothing beyond the record: the same bytes come out,
/// only later. scratch<T>(count) is count uninitialised Ts, or null when they cannot be had.
void* scratch_bytes(std::size_t count, std::size_t size);
/// Makes bytes the most that one request of a fast path's extra memory may have (SIZE_MAX, the
/// default: no limit but the machine's). 0 refuses them all, so every stage takes its plain
/// path. For tests.
void set_scratch_limit(std::size_t bytes);

struct ScratchFree {
  void operator()(void* p) const {
    std::free(p);
  }
};
template <typename T>
using Scratch = std::unique_ptr<T[], ScratchFree>;

template <typename T>
Scratch<T> scratch(std::size_t count) {
  return Scratch<T>(static_cast<T*>(scratch_bytes(count, sizeof(T))));
}

/// Asks for the whole 2 MiB pages within [p, p + bytes) to be backed by huge pages: a large
/// block filled once then takes one fault per 2 MiB instead of one per 4 KiB. Only a hint;
/// blocks under 4 MiB are left alone.
void advise_huge_pages(void* p, std::size_t bytes);

#endif
