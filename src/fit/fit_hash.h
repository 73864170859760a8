// fit_hash.h - pravlin-fit's hash tables: the counts keyed by a 64-bit number and the labels
// numbered in order of first appearance, as the reader and every count after it use them.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FIT_HASH_H
#define PRAVLIN_FIT_HASH_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// Keys held back 32 keys before they are counted, while the memory they count in is fetched:
/// with tables far bigger than the cache, the fetches then overlap.
struct pending_ring {
  std::uint64_t keys[32] = {};
  unsigned nbr = 0;
  unsigned next = 0;  // the oldest key once the ring is full
};
typedef struct pending_ring PENDING_RING;

/// Counts keyed by a 64-bit number, in one open-addressing table: the pairs (from << 32 | to),
/// the triples and the time blocks of the model checks.
struct count_map {
  struct slot {
    std::uint64_t key;  // key + 1; 0 marks a free slot
    std::uint64_t count;
  };
  std::vector<slot> slots;
  std::size_t used = 0;
  PENDING_RING pending;  // keys of count_map_add_soon
};
typedef struct count_map COUNT_MAP;

/// The labels met so far, numbered 0, 1, ... in order of first appearance.
struct label_table {
  std::vector<std::string> names;
  std::vector<std::uint32_t> slots;  // index + 1 into names; 0 marks a free slot
  std::vector<std::uint32_t> hashes;
  std::vector<std::uint64_t> heads;  // the first 8 bytes of each name, zero-padded
};
typedef struct label_table LABEL_TABLE;

/// Puts key in the ring. Once the ring is full, gives back in *ready the key put 32 calls
/// before, which is then due, and returns 1; otherwise returns 0.
int pending_push(PENDING_RING* r, std::uint64_t key, std::uint64_t* ready);

void count_map_add(COUNT_MAP* m, std::uint64_t key, std::uint64_t n);
/// Adds 1 to key's count, now or within the next 32 calls: the slot is fetched from memory
/// meanwhile. count_map_flush must run before the counts are read.
void count_map_add_soon(COUNT_MAP* m, std::uint64_t key);
void count_map_flush(COUNT_MAP* m);
std::uint64_t count_map_get(const COUNT_MAP* m, std::uint64_t key);

/// The index of text, adding it when new.
std::uint32_t label_intern(LABEL_TABLE* t, std::string_view text);
/// The index of text, or -1.
long label_find(const LABEL_TABLE* t, std::string_view text);

#endif
