// xml_memory.cc - a document's memory: its arena of nodes and strings, the names and short
// texts it shares, and the core that readies its pages ahead of a large read.
// Part of pravlin; see README.md.
#include "xml_memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "cores.h"
#include "fail.h"
#include "scratch.h"

// A large configuration is millions of small nodes and strings; one allocation each costs more
// than reading them. A document's nodes and strings come from 2 MiB chunks of its own arena
// instead, and all of them go back to the system at once, when its first node is released:
// the way a document owns its memory in tinyxml2. Every chunk starts with a header that names
// its arena, and chunks are aligned to their size, so that the arena of a node is found from
// its address. Nodes made one at a time (alloc_XMLENTITY, xmlParseTag) come from one arena of
// loose nodes that lasts as long as the process, and keep their strings in ordinary
// allocations, as xmlcopystring makes them.
struct XmlArena;

namespace {

constexpr std::size_t kChunkSize = std::size_t{1} << 21;  // one huge page
constexpr std::size_t kArenaMaxString = kChunkSize / 8;   // longer strings get a block each

struct ChunkHeader {
  XmlArena* arena;
  ChunkHeader* prev;  // the arena's chunk before this one, or null
};
constexpr std::size_t kChunkStart = 64;  // the header, then the objects

// A string too long for a chunk, in a block of its own.
struct BigString {
  BigString* next;
};

// A name or text kept once per document and shared by every node bearing it. Its first eight
// bytes are kept beside it, so that telling two short strings apart never reads the strings.
struct SharedName {
  char* text;          // null: free slot
  std::uint64_t head;  // text's first eight bytes, zero-padded
  std::uint64_t hash;
  std::size_t len;
};

struct SharedTable {
  Scratch<SharedName> slots;  // open addressing; size a power of two, or none
  std::size_t size = 0;
  std::size_t used = 0;
};

// Zeroing the pages of a fresh chunk is the kernel's work, and for a large document it costs as
// much as reading it. A second core allocates chunks and touches their pages a few ahead of the
// reader; the reader takes a ready chunk when there is one and allocates its own when there is
// not, so it never waits on the feeder and no byte of any result depends on it.
struct Feeder {
  static constexpr unsigned kAhead = 4;
  void* ready[kAhead] = {};
  std::atomic<unsigned> made{0};   // chunks made ready; written by the feeder
  std::atomic<unsigned> taken{0};  // chunks taken; written by the reader
  std::atomic<bool> done{false};   // the read is over: the feeder stops
};

// The plain numbers 0 to 9999, as the state numbers that fill a large configuration are, are
// found by their value: their table stays within the arena's first chunk.
constexpr std::size_t kNumbers = 10000;

struct RecentName {
  std::size_t len;
  char* text;  // null: none yet
};
constexpr std::size_t kRecentNames = 16;

}  // namespace

struct XmlArena {
  ChunkHeader* newest = nullptr;
  char* at = nullptr;  // free space in the newest chunk
  char* end = nullptr;
  std::size_t chunks_taken = 0;
  BigString* big = nullptr;
  XMLENTITY* head = nullptr;        // a document's first node: releasing it releases the arena
  XMLENTITY* free_nodes = nullptr;  // the loose arena's released nodes, linked by next
  Feeder* feeder = nullptr;         // while a large document is read
  RecentName recent_names[kRecentNames] = {};
  SharedTable names;
  SharedTable texts;
  char* numbers[kNumbers] = {};  // numbers[v]: the shared text of the plain number v, or null
};

namespace {

// Distinct names, and distinct texts, shared per document at most; past that, a copy per node.
constexpr std::size_t kMaxShared = std::size_t{1} << 16;
// Longest element text that is shared.
constexpr std::size_t kMaxSharedText = 7;

}  // namespace

// The arena of nodes made one at a time. Written only by xml_loose_node and xml_drop_loose_node.
static XmlArena loose_nodes;

static XmlArena* arena_of(const XMLENTITY* x) {
  std::uintptr_t base = reinterpret_cast<std::uintptr_t>(x) & ~(std::uintptr_t{kChunkSize} - 1);
  return reinterpret_cast<const ChunkHeader*>(base)->arena;
}

// A fresh chunk for a, its objects from start on; fails with oom when memory is exhausted.
static void add_chunk(XmlArena* a, void* chunk, std::size_t start, const char* oom) {
  if (chunk == nullptr)
    fail("%s", oom);
  // From the second chunk on, the document is large: one fault per chunk instead of one per
  // 4 KiB page, since on a virtual machine the faults of a large document cost more than
  // reading it. The first chunk stays in small pages, so that a small document touches only
  // the few it needs. Only a hint; failure changes nothing.
  if (a->chunks_taken++ > 0)
    madvise(chunk, kChunkSize, MADV_HUGEPAGE);
  auto* h = static_cast<ChunkHeader*>(chunk);
  h->arena = a;
  h->prev = a->newest;
  a->newest = h;
  a->at = static_cast<char*>(chunk) + start;
  a->end = static_cast<char*>(chunk) + kChunkSize;
}

// The first chunk of the last document released, kept for the next one: mapping 2 MiB afresh
// and faulting in the pages the arena's own record spans costs a small document far more than
// reading it, and a fuzzer or a test reads thousands of them in turn. One chunk at most;
// written only by xml_open_arena and xml_release_arena.
static std::atomic<void*> spare_chunk{nullptr};

// A document's arena, in its own first chunk.
XmlArena* xml_open_arena() {
  void* chunk = spare_chunk.exchange(nullptr);
  if (chunk == nullptr)
    chunk = std::aligned_alloc(kChunkSize, kChunkSize);
  if (chunk == nullptr)
    fail(" *** ERROR: Out of memory in alloc_XMLENTITY()\n");
  XmlArena* a = new (static_cast<char*>(chunk) + sizeof(ChunkHeader)) XmlArena();
  constexpr std::size_t start = (sizeof(ChunkHeader) + sizeof(XmlArena) + 63) / 64 * 64;
  add_chunk(a, chunk, start, nullptr);
  return a;
}

// Releases a document's arena: every node and string of the document at once.
void xml_release_arena(XmlArena* a) {
  for (BigString* b = a->big; b != nullptr;) {
    BigString* next = b->next;
    std::free(b);
    b = next;
  }
  ChunkHeader* h = a->newest;
  a->~XmlArena();  // it lives in the oldest chunk, released last
  while (h != nullptr) {
    ChunkHeader* prev = h->prev;
    void* none = nullptr;
    if (prev != nullptr || !spare_chunk.compare_exchange_strong(none, h))
      std::free(h);
    h = prev;
  }
}

// A chunk with its pages in place, or null when none is ready.
static void* take_ready(Feeder* f) {
  const unsigned taken = f->taken.load(std::memory_order_relaxed);
  if (taken == f->made.load(std::memory_order_acquire))
    return nullptr;
  void* chunk = f->ready[taken % Feeder::kAhead];
  f->taken.store(taken + 1, std::memory_order_release);
  return chunk;
}

static void feed(Feeder* f) {
  unsigned made = 0;
  while (!f->done.load(std::memory_order_acquire)) {
    if (made - f->taken.load(std::memory_order_acquire) == Feeder::kAhead) {
      std::this_thread::sleep_for(std::chrono::microseconds(50));
      continue;
    }
    void* chunk = std::aligned_alloc(kChunkSize, kChunkSize);
    if (chunk == nullptr)
      return;  // out of memory: the reader allocates for itself, and says so if it fails
    madvise(chunk, kChunkSize, MADV_HUGEPAGE);
    for (std::size_t at = 0; at < kChunkSize; at += 4096)
      static_cast<volatile char*>(chunk)[at] = 0;
    f->ready[made % Feeder::kAhead] = chunk;
    f->made.store(++made, std::memory_order_release);
  }
}

// size zero-filled bytes at the given alignment; fails with oom when memory is exhausted.
static void* arena_take(XmlArena* a, std::size_t size, std::size_t align, const char* oom) {
  auto at = reinterpret_cast<std::uintptr_t>(a->at);
  at = (at + align - 1) & ~(std::uintptr_t{align} - 1);
  if (a->at == nullptr || at + size > reinterpret_cast<std::uintptr_t>(a->end)) {
    void* chunk = a->feeder != nullptr ? take_ready(a->feeder) : nullptr;
    if (chunk == nullptr)
      chunk = std::aligned_alloc(kChunkSize, kChunkSize);
    add_chunk(a, chunk, kChunkStart, oom);
    at = reinterpret_cast<std::uintptr_t>(a->at);
  }
  char* p = reinterpret_cast<char*>(at);
  a->at = p + size;
  std::memset(p, 0, size);
  return p;
}

XMLENTITY* xml_arena_node(XmlArena* a) {
  if (a == nullptr)
    return xml_loose_node();
  return static_cast<XMLENTITY*>(arena_take(a, sizeof(XMLENTITY), alignof(XMLENTITY),
                                            " *** ERROR: Out of memory in alloc_XMLENTITY()\n"));
}

// A copy of s[0..len) with a terminator; a is null outside a read.
char* xml_arena_string(XmlArena* a, const char* s, std::size_t len) {
  char* copy;
  if (a == nullptr) {
    copy = static_cast<char*>(std::malloc(len + 1));
  } else if (len >= kArenaMaxString) {
    auto* b = static_cast<BigString*>(std::malloc(sizeof(BigString) + len + 1));
    copy = nullptr;
    if (b != nullptr) {
      b->next = a->big;
      a->big = b;
      copy = reinterpret_cast<char*>(b + 1);
    }
  } else {
    copy = static_cast<char*>(
        arena_take(a, len + 1, 1, " *** ERROR: Out of Memory in xmlcopystring()\n"));
  }
  if (copy == nullptr)
    fail(" *** ERROR: Out of Memory in xmlcopystring()\n");
  std::memcpy(copy, s, len);
  copy[len] = '\0';
  return copy;
}

// Eight bytes at a time: names and texts are looked up once per node. *head gets the first
// eight bytes, zero-padded.
static std::uint64_t shared_hash(const char* s, std::size_t len, std::uint64_t* head) {
  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
  std::uint64_t h = len * kMul;
  std::size_t i = 0;
  *head = 0;
  for (; i + 8 <= len; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s + i, 8);
    if (i == 0)
      *head = w;
    h = (h ^ w) * kMul;
    h ^= h >> 29;
  }
  std::uint64_t w = 0;
  for (std::size_t k = 0; i < len; i++, k += 8)
    w |= std::uint64_t{static_cast<unsigned char>(s[i])} << k;
  if (len < 8)
    *head = w;
  h = (h ^ w) * kMul;
  return h ^ (h >> 32);
}

static bool same_bytes(const char* a, const char* b, std::size_t len) {
  for (std::size_t i = 0; i < len; i++) {
    if (a[i] != b[i])
      return false;
  }
  return true;
}

// Doubles the table, which is kept at most half full: a small document gets a small one. False
// when the memory for it cannot be had.
static bool grow_shared(SharedTable* table) {
  const std::size_t size = std::max<std::size_t>(64, 2 * table->size);
  Scratch<SharedName> slots = scratch<SharedName>(size);
  if (!slots)
    return false;
  std::memset(static_cast<void*>(slots.get()), 0, size * sizeof(SharedName));
  for (std::size_t k = 0; k < table->size; k++) {
    const SharedName& e = table->slots[k];
    if (e.text == nullptr)
      continue;
    std::size_t i = e.hash & (size - 1);
    while (slots[i].text != nullptr)
      i = (i + 1) & (size - 1);
    slots[i] = e;
  }
  table->slots = std::move(slots);
  table->size = size;
  return true;
}

// Shares s[0..len) through table: a document repeats a few names and short texts millions of
// times, so each is kept once per read.
static char* arena_shared(XmlArena* a, SharedTable* table, const char* s, std::size_t len) {
  if (len >= kArenaMaxString)  // a string in a block of its own is never shared
    return xml_arena_string(a, s, len);
  // Without the room to share, a copy of its own, as beyond the limit.
  if (2 * table->used >= table->size && table->used < kMaxShared && !grow_shared(table))
    return xml_arena_string(a, s, len);
  const std::size_t mask = table->size - 1;
  std::uint64_t head;
  const std::uint64_t hash = shared_hash(s, len, &head);
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    SharedName& slot = table->slots[i];
    if (slot.text == nullptr) {
      if (table->used >= kMaxShared || 2 * table->used >= table->size)
        return xml_arena_string(a, s, len);
      slot.text = xml_arena_string(a, s, len);
      slot.head = head;
      slot.hash = hash;
      slot.len = len;
      table->used++;
      return slot.text;
    }
    if (slot.hash == hash && slot.len == len && slot.head == head &&
        (len <= 8 || same_bytes(slot.text + 8, s + 8, len - 8))) {
      return slot.text;
    }
  }
}

// The name s[0..len) for a node. Only a name without capitals is shared: lower-casing never
// writes to it. A name with capitals gets its own copy, since lower-casing one node's name must
// not change another's.
char* xml_arena_name(XmlArena* a, const char* s, std::size_t len) {
  if (a == nullptr)
    return xml_arena_string(a, s, len);
  for (std::size_t i = 0; i < len; i++) {
    if (s[i] >= 'A' && s[i] <= 'Z')
      return xml_arena_string(a, s, len);
  }
  // A document repeats the same few names in turn ("to", "state", "probability"): the last
  // shared name of each length is tried before the table.
  RecentName& recent = a->recent_names[len % kRecentNames];
  if (recent.text != nullptr && recent.len == len && same_bytes(recent.text, s, len))
    return recent.text;
  char* name = arena_shared(a, &a->names, s, len);
  recent = RecentName{len, name};
  return name;
}

// A text that is a whole number in plain decimal, 0 to 9999 without leading zeros, as the
// state numbers that fill a large configuration are: its value, or -1. (The table it indexes
// then stays within 80 KB, whatever number a small document holds.)
static int plain_number(const char* s, std::size_t len) {
  if (len == 0 || len > 4 || (s[0] == '0' && len > 1))
    return -1;
  int v = 0;
  for (std::size_t i = 0; i < len; i++) {
    if (s[i] < '0' || s[i] > '9')
      return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

static bool all_digits(const char* s, std::size_t len) {
  for (std::size_t i = 0; i < len; i++) {
    if (s[i] < '0' || s[i] > '9')
      return false;
  }
  return len != 0;
}

// An element's text. Short ones (state numbers, keywords, the "<<" of an element holding two
// others) are shared, since nothing writes to a text the reader made; longer ones are mostly
// distinct, and looking them up would cost more than it saves.
char* xml_arena_text(XmlArena* a, const char* s, std::size_t len) {
  if (a == nullptr || len > kMaxSharedText)
    return xml_arena_string(a, s, len);
  // Numbers are found by their value, with no hashing and in a table that stays in cache.
  const int v = plain_number(s, len);
  if (v >= 0) {
    char*& text = a->numbers[v];
    if (text == nullptr)
      text = xml_arena_string(a, s, len);
    return text;
  }
  // A larger number is mostly one of as many as the document has states, each met a few times:
  // past the table's first 65536 texts nearly every lookup misses, after a probe into a table
  // of megabytes. A copy of its own costs less (doc/design/fast-paths.md, "Measurements").
  if (all_digits(s, len))
    return xml_arena_string(a, s, len);
  return arena_shared(a, &a->texts, s, len);
}

char* xml_arena_copy(XmlArena* a, const char* s) {
  if (s == nullptr)
    return nullptr;
  return xml_arena_string(a, s, std::strlen(s));
}

XMLENTITY* xml_loose_node() {
  XMLENTITY* x = loose_nodes.free_nodes;
  if (x == nullptr) {
    return static_cast<XMLENTITY*>(arena_take(&loose_nodes, sizeof(XMLENTITY), alignof(XMLENTITY),
                                              " *** ERROR: Out of memory in alloc_XMLENTITY()\n"));
  }
  loose_nodes.free_nodes = x->next;
  *x = XMLENTITY{};
  return x;
}

void xml_drop_loose_node(XMLENTITY* x) {
  x->next = loose_nodes.free_nodes;
  loose_nodes.free_nodes = x;
}

bool xml_is_loose_node(const XMLENTITY* x) {
  return arena_of(x) == &loose_nodes;
}

bool xml_release_document(XMLENTITY* x) {
  XmlArena* a = arena_of(x);
  if (a->head != x)
    return false;
  xml_release_arena(a);
  return true;
}

void xml_arena_hand_over(XmlArena* a, XMLENTITY* head) {
  a->head = head;
}

void xml_read_fed(XmlArena* a, bool fed, const std::function<void()>& read) {
  Feeder feeder;
  run_parts(fed ? 2 : 1, [&](unsigned part) {
    if (part == 1) {
      feed(&feeder);
      return;
    }
    struct Stop {  // also when fail() unwinds the read (a fuzz build)
      Feeder* feeder;
      ~Stop() {
        feeder->done.store(true, std::memory_order_release);
      }
    } stop{&feeder};
    if (fed)
      a->feeder = &feeder;
    read();
    a->feeder = nullptr;
  });
  // Chunks made ready and not taken.
  while (void* chunk = take_ready(&feeder))
    std::free(chunk);
}
