// pravlin.cc - the model record's initial values and the allocation of its tables.
// Part of pravlin; see README.md.
#include "pravlin.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>

PRAVLIN* init_pravlin(PRAVLIN* pv) {
  if (pv == nullptr) {
    // The one silent exit: there is no record to report through, and callers never pass null.
    std::exit(1);
  }
  *pv = PRAVLIN{};
  pv->calc_flag = 1;
  return pv;
}

// Bytes of record tables granted so far. Written only by alloc_table.
static std::size_t table_bytes = 0;

static std::size_t physical_memory() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return SIZE_MAX;
  if (static_cast<std::size_t>(pages) > SIZE_MAX / static_cast<std::size_t>(page_size)) {
    return SIZE_MAX;
  }
  return static_cast<std::size_t>(pages) * static_cast<std::size_t>(page_size);
}

void* alloc_table(std::size_t count, std::size_t size, const char* msg) {
  if (size != 0 && count > SIZE_MAX / size) fail("%s", msg);
  std::size_t bytes = count * size;
  // The kernel grants a huge zero-filled block without backing it and kills the process when
  // it is touched; a table set that cannot fit in memory is refused here instead.
  static const std::size_t limit = physical_memory();
  if (bytes > limit || table_bytes > limit - bytes) fail("%s", msg);
  void* p = std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
  if (p == nullptr) fail("%s", msg);
  table_bytes += bytes;
  return p;
}

template <typename T>
static void alloc_rows_of(T** rows, int nrows, int ncols, const char* msg) {
  std::size_t stride = static_cast<std::size_t>(ncols) + 1;
  std::size_t count = static_cast<std::size_t>(nrows) + 1;
  if (count > SIZE_MAX / stride) fail("%s", msg);
  T* block = static_cast<T*>(alloc_table(count * stride, sizeof(T), msg));
  for (std::size_t r = 0; r < count; r++) rows[r] = block + r * stride;
}

void alloc_rows(double** rows, int nrows, int ncols, const char* msg) {
  alloc_rows_of(rows, nrows, ncols, msg);
}

void alloc_rows(int** rows, int nrows, int ncols, const char* msg) {
  alloc_rows_of(rows, nrows, ncols, msg);
}
