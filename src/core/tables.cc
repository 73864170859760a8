// tables.cc - the record's tables: zero-filled, counted against the machine's memory, and
// released together (free_tables).
// Part of pravlin; see README.md.
#include "tables.h"

#include <climits>
#include <cstdint>
#include <cstdlib>

#include "periods.h"
#include "scratch.h"
#include "sparse_read.h"

// Bytes of record tables granted so far, with the memory counted beside them by
// count_kept_memory, and the most they may add up to (0: the machine's physical memory). Written
// only by grant, count_kept_memory, free_tables and set_table_memory_limit.
static std::size_t table_bytes = 0;
static std::size_t table_limit = 0;

void set_table_memory_limit(std::size_t bytes) {
  table_limit = bytes;
}

// Whether bytes more fit beside everything counted so far. The kernel grants a huge block
// without backing it and kills the process when it is touched; what cannot fit in memory is
// refused before it is asked for instead.
static std::size_t memory_limit() {
  static const std::size_t physical = physical_memory();
  return table_limit != 0 ? table_limit : physical;
}

static bool fits(std::size_t bytes) {
  const std::size_t limit = memory_limit();
  return bytes <= limit && table_bytes <= limit - bytes;
}

std::size_t kept_memory_room() {
  const std::size_t limit = memory_limit();
  return table_bytes <= limit ? limit - table_bytes : 0;
}

void count_kept_memory(std::size_t bytes, const char* msg) {
  if (!fits(bytes))
    fail("%s", msg);
  table_bytes += bytes;
}

void check_working_memory(std::size_t bytes, const char* msg) {
  if (!fits(bytes))
    fail("%s", msg);
}

static void* refuse(const char* msg) {
  if (msg != nullptr)
    fail("%s", msg);
  return nullptr;
}

// A refused table ends the run with msg, or, when msg is null, gives null.
static void* grant(std::size_t count, std::size_t size, const char* msg) {
  if (size != 0 && count > SIZE_MAX / size)
    return refuse(msg);
  std::size_t bytes = count * size;
  if (!fits(bytes))
    return refuse(msg);
  void* p = std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
  if (p == nullptr)
    return refuse(msg);
  table_bytes += bytes;
  advise_huge_pages(p, bytes);
  return p;
}

void* alloc_table(std::size_t count, std::size_t size, const char* msg) {
  // Every table is walked with an int index up to its count, count = entries - 1: a count of
  // INT_MAX would overflow that index (UB, then writes far outside the table) on a machine
  // with the memory to grant it, so such a table is one that cannot be allocated.
  if (count > static_cast<std::size_t>(INT_MAX))
    fail("%s", msg);
  return grant(count, size, msg);
}

template <typename T>
static bool alloc_rows_of(T** rows, int nrows, int ncols, const char* msg) {
  // Rows and columns are walked with int indices up to their counts, as alloc_table's tables are.
  if (nrows < 0 || ncols < 0 || nrows == INT_MAX || ncols == INT_MAX)
    return refuse(msg) != nullptr;
  std::size_t stride = static_cast<std::size_t>(ncols) + 1;
  std::size_t count = static_cast<std::size_t>(nrows) + 1;
  if (count > SIZE_MAX / stride)
    return refuse(msg) != nullptr;
  T* block = static_cast<T*>(grant(count * stride, sizeof(T), msg));
  if (block == nullptr)
    return false;
  for (std::size_t r = 0; r < count; r++)
    rows[r] = block + r * stride;
  return true;
}

void alloc_rows(double** rows, int nrows, int ncols, const char* msg) {
  alloc_rows_of(rows, nrows, ncols, msg);
}

void alloc_rows(int** rows, int nrows, int ncols, const char* msg) {
  alloc_rows_of(rows, nrows, ncols, msg);
}

int** try_alloc_chain_rows(int nrows, int ncols) {
  if (nrows < 0 || nrows == INT_MAX)
    return nullptr;
  auto** rows =
      static_cast<int**>(grant(static_cast<std::size_t>(nrows) + 1, sizeof(int*), nullptr));
  if (rows == nullptr)
    return nullptr;
  if (!alloc_rows_of(rows, nrows, ncols, nullptr)) {
    std::free(rows);
    table_bytes -= (static_cast<std::size_t>(nrows) + 1) * sizeof(int*);
    return nullptr;
  }
  return rows;
}

void free_tables(PRAVLIN* pv) {
  // The periods' matrices, but the record's own (the last period's), released below.
  if (pv->periods != nullptr) {
    for (const CHAIN_PERIOD& p : pv->periods->list) {
      if (p.transition_probability != nullptr &&
          p.transition_probability != pv->transition_probability) {
        std::free(p.transition_probability[0]);
        std::free(p.transition_probability);
      }
    }
    delete pv->periods;
    pv->periods = nullptr;
  }
  // A matrix's row 0 is the start of its one block (alloc_rows); its row table may have been
  // granted without the block when the block was refused.
  if (pv->transition_probability != nullptr)
    std::free(pv->transition_probability[0]);
  if (pv->pravlin != nullptr)
    std::free(pv->pravlin[0]);
  std::free(pv->state_name);
  std::free(pv->val);
  std::free(pv->initial_probability);
  std::free(pv->transition_probability);
  std::free(pv->pravlin);
  std::free(pv->steady_state_probability);
  pv->state_name = nullptr;
  pv->val = nullptr;
  pv->initial_probability = nullptr;
  pv->transition_probability = nullptr;
  pv->pravlin = nullptr;
  pv->steady_state_probability = nullptr;
  delete pv->sparse_transitions;
  pv->sparse_transitions = nullptr;
  table_bytes = 0;
}
