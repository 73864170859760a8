// fit_hash.cc - pravlin-fit's hash tables: open addressing over a mixed key, with the counts'
// fetches overlapped and the labels compared a word at a time.
// Part of pravlin; see README.md.
#include "fit_hash.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <functional>

// A finaliser that lets every bit of the key reach the low bits: a pair's key keeps its source
// in the high half, which a plain multiplication would leave out of the slot number.
static std::uint64_t mix(std::uint64_t x) {
  x ^= x >> 31;
  x *= 0x7FB5D329728EA185ULL;
  x ^= x >> 27;
  x *= 0x81DADEF4BC2DD44DULL;
  return x ^ (x >> 33);
}

static std::size_t slot_of(std::uint64_t key, std::size_t mask) {
  return static_cast<std::size_t>(mix(key)) & mask;
}

// A table of a million pairs spans tens of megabytes read at random, and with 4 KiB pages nearly
// every count misses the TLB too. Huge pages, where the kernel gives them on request, spare
// that; they are asked for before the table is first written, or the request comes too late.
static void ask_huge_pages(const void* p, std::size_t bytes) {
  constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{1} << 21;
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t begin = (at + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
  const std::uintptr_t end = (at + bytes) & ~(HUGE_PAGE - 1);
  if (end > begin)
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

static void count_map_grow(COUNT_MAP* m) {
  std::vector<COUNT_MAP::slot> old;
  old.swap(m->slots);
  const std::size_t size = old.empty() ? 1024 : old.size() * 2;
  m->slots.reserve(size);
  ask_huge_pages(m->slots.data(), size * sizeof(COUNT_MAP::slot));
  m->slots.assign(size, COUNT_MAP::slot{0, 0});
  const std::size_t mask = m->slots.size() - 1;
  for (const COUNT_MAP::slot& s : old) {
    if (s.key == 0)
      continue;
    std::size_t i = slot_of(s.key - 1, mask);
    while (m->slots[i].key != 0)
      i = (i + 1) & mask;
    m->slots[i] = s;
  }
}

void count_map_add(COUNT_MAP* m, std::uint64_t key, std::uint64_t n) {
  if (2 * (m->used + 1) > m->slots.size())
    count_map_grow(m);
  const std::size_t mask = m->slots.size() - 1;
  std::size_t i = slot_of(key, mask);
  for (;;) {
    COUNT_MAP::slot& s = m->slots[i];
    if (s.key == key + 1) {
      s.count += n;
      return;
    }
    if (s.key == 0) {
      s.key = key + 1;
      s.count = n;
      m->used++;
      return;
    }
    i = (i + 1) & mask;
  }
}

int pending_push(PENDING_RING* r, std::uint64_t key, std::uint64_t* ready) {
  if (r->nbr < 32) {
    r->keys[r->nbr++] = key;
    return 0;
  }
  *ready = r->keys[r->next];
  r->keys[r->next] = key;
  r->next = (r->next + 1) % 32;
  return 1;
}

// A table of a million pairs is far bigger than the cache, and each count would otherwise wait
// for its slot to come from memory: the slot is asked for when the key arrives and counted
// when 32 more have, so the fetches overlap.
void count_map_add_soon(COUNT_MAP* m, std::uint64_t key) {
  if (!m->slots.empty())
    __builtin_prefetch(&m->slots[slot_of(key, m->slots.size() - 1)], 1);
  std::uint64_t ready = 0;
  if (pending_push(&m->pending, key, &ready))
    count_map_add(m, ready, 1);
}

void count_map_flush(COUNT_MAP* m) {
  for (unsigned i = 0; i < m->pending.nbr; i++)
    count_map_add(m, m->pending.keys[i], 1);
  m->pending = PENDING_RING{};
}

std::uint64_t count_map_get(const COUNT_MAP* m, std::uint64_t key) {
  if (m->slots.empty())
    return 0;
  const std::size_t mask = m->slots.size() - 1;
  for (std::size_t i = slot_of(key, mask);; i = (i + 1) & mask) {
    if (m->slots[i].key == key + 1)
      return m->slots[i].count;
    if (m->slots[i].key == 0)
      return 0;
  }
}

static std::uint64_t head_of(std::string_view text) {
  std::uint64_t h = 0;
  // An empty field's text has no bytes, and may have no address either.
  if (!text.empty())
    std::memcpy(&h, text.data(), std::min<std::size_t>(text.size(), 8));
  return h;
}

static std::uint32_t hash_text(std::string_view text) {
  // Labels are mostly a few bytes long: those are read as one number and mixed.
  const std::uint64_t h = text.size() <= 8 ? mix(head_of(text) ^ (text.size() << 59))
                                           : std::hash<std::string_view>{}(text);
  return static_cast<std::uint32_t>(h ^ (h >> 32));
}

// Whether label k is text; a short label is compared as one number.
static bool same_label(const LABEL_TABLE* t, std::size_t k, std::string_view text,
                       std::uint32_t hash) {
  if (t->hashes[k] != hash || t->names[k].size() != text.size())
    return false;
  return text.size() <= 8 ? t->heads[k] == head_of(text) : t->names[k] == text;
}

static void label_table_grow(LABEL_TABLE* t) {
  t->slots.assign(t->slots.empty() ? 1024 : t->slots.size() * 2, 0);
  const std::size_t mask = t->slots.size() - 1;
  for (std::size_t k = 0; k < t->names.size(); k++) {
    std::size_t i = t->hashes[k] & mask;
    while (t->slots[i] != 0)
      i = (i + 1) & mask;
    t->slots[i] = static_cast<std::uint32_t>(k + 1);
  }
}

long label_find(const LABEL_TABLE* t, std::string_view text) {
  if (t->slots.empty())
    return -1;
  const std::uint32_t h = hash_text(text);
  const std::size_t mask = t->slots.size() - 1;
  for (std::size_t i = h & mask;; i = (i + 1) & mask) {
    const std::uint32_t k = t->slots[i];
    if (k == 0)
      return -1;
    if (same_label(t, k - 1, text, h))
      return static_cast<long>(k - 1);
  }
}

std::uint32_t label_intern(LABEL_TABLE* t, std::string_view text) {
  if (2 * (t->names.size() + 1) > t->slots.size())
    label_table_grow(t);
  const std::uint32_t h = hash_text(text);
  const std::size_t mask = t->slots.size() - 1;
  std::size_t i = h & mask;
  for (;; i = (i + 1) & mask) {
    const std::uint32_t k = t->slots[i];
    if (k == 0)
      break;
    if (same_label(t, k - 1, text, h))
      return k - 1;
  }
  t->names.emplace_back(text);
  t->hashes.push_back(h);
  t->heads.push_back(head_of(text));
  t->slots[i] = static_cast<std::uint32_t>(t->names.size());
  return static_cast<std::uint32_t>(t->names.size() - 1);
}
