// xml.cc - the XML entity reader: nodes and strings, debug switch, reader and printer.
// Part of pravlin; see README.md.
#include "xml.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "fail.h"
#include "fast.h"

// The module's one mutable global. Written only by XMLsetDEBUG and XMLclearDEBUG; nothing in the
// calculator calls either, so the reader runs silent unless a tool or a test turns it on.
static int debug = 0;

void XMLsetDEBUG() {
  debug = 1;
}

void XMLclearDEBUG() {
  debug = 0;
}

bool xml_debug_on() {
  return debug != 0;
}

__attribute__((format(printf, 1, 2))) static void xml_debug_line(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vprintf(fmt, ap);
  va_end(ap);
}

// The test comes before the call: the reader passes here several times per element, and a
// call with a variable argument list is not inlined.
#define xml_debug(...) (debug != 0 ? xml_debug_line(__VA_ARGS__) : (void)0)

// Our own test rather than isspace(): the locale must not decide, and no byte above 0x7F counts.
// Takes a character as read (0-255, or EOF), so callers holding a char cast to unsigned char.
static inline bool is_xml_space(int c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

static inline bool is_xml_space_char(char c) {
  return is_xml_space(static_cast<unsigned char>(c));
}

const char* xml_result_name(int code) {
  static const char* const names[] = {
      // ORDER XMLRESULT
      "XML_OK", "XML_EOF", "XML_MALFORMED", "XML_TOO_LONG", "XML_END_TAG",
  };
  if (code < 0 || code >= static_cast<int>(sizeof names / sizeof names[0]))
    return "XML_UNKNOWN";
  return names[code];
}

// ---- Arena -------------------------------------------------------------------------------------

// A large configuration is millions of small nodes and strings; one allocation each costs more
// than reading them. A document's nodes and strings come from 2 MiB chunks of its own arena
// instead, and all of them go back to the system at once, when its first node is released:
// the way a document owns its memory in tinyxml2. Every chunk starts with a header that names
// its arena, and chunks are aligned to their size, so that the arena of a node is found from
// its address. Nodes made one at a time (alloc_XMLENTITY, xmlParseTag) come from one arena of
// loose nodes that lasts as long as the process, and keep their strings in ordinary
// allocations, as xmlcopystring makes them.
namespace {

constexpr std::size_t kChunkSize = std::size_t{1} << 21;  // one huge page
constexpr std::size_t kArenaMaxString = kChunkSize / 8;   // longer strings get a block each

struct Arena;

struct ChunkHeader {
  Arena* arena;
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

struct Arena {
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

// Distinct names, and distinct texts, shared per document at most; past that, a copy per node.
constexpr std::size_t kMaxShared = std::size_t{1} << 16;
// Longest element text that is shared.
constexpr std::size_t kMaxSharedText = 7;

}  // namespace

// The arena of nodes made one at a time. Written only by alloc_XMLENTITY and free_XMLENTITY.
static Arena loose_nodes;

static Arena* arena_of(const XMLENTITY* x) {
  std::uintptr_t base = reinterpret_cast<std::uintptr_t>(x) & ~(std::uintptr_t{kChunkSize} - 1);
  return reinterpret_cast<const ChunkHeader*>(base)->arena;
}

// A fresh chunk for a, its objects from start on; fails with oom when memory is exhausted.
static void add_chunk(Arena* a, void* chunk, std::size_t start, const char* oom) {
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
// written only by open_arena and release_arena.
static std::atomic<void*> spare_chunk{nullptr};

// A document's arena, in its own first chunk.
static Arena* open_arena() {
  void* chunk = spare_chunk.exchange(nullptr);
  if (chunk == nullptr)
    chunk = std::aligned_alloc(kChunkSize, kChunkSize);
  if (chunk == nullptr)
    fail(" *** ERROR: Out of memory in alloc_XMLENTITY()\n");
  Arena* a = new (static_cast<char*>(chunk) + sizeof(ChunkHeader)) Arena();
  constexpr std::size_t start = (sizeof(ChunkHeader) + sizeof(Arena) + 63) / 64 * 64;
  add_chunk(a, chunk, start, nullptr);
  return a;
}

// Releases a document's arena: every node and string of the document at once.
static void release_arena(Arena* a) {
  for (BigString* b = a->big; b != nullptr;) {
    BigString* next = b->next;
    std::free(b);
    b = next;
  }
  ChunkHeader* h = a->newest;
  a->~Arena();  // it lives in the oldest chunk, released last
  while (h != nullptr) {
    ChunkHeader* prev = h->prev;
    void* none = nullptr;
    if (prev != nullptr || !spare_chunk.compare_exchange_strong(none, h))
      std::free(h);
    h = prev;
  }
}

// Releases the arena of a read that ends without a document, also when fail() unwinds it (a
// fuzz build).
struct ArenaOwner {
  Arena* arena;
  ~ArenaOwner() {
    if (arena != nullptr)
      release_arena(arena);
  }
};

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
static void* arena_take(Arena* a, std::size_t size, std::size_t align, const char* oom) {
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

static XMLENTITY* arena_node(Arena* a) {
  if (a == nullptr)
    return alloc_XMLENTITY();
  return static_cast<XMLENTITY*>(arena_take(a, sizeof(XMLENTITY), alignof(XMLENTITY),
                                            " *** ERROR: Out of memory in alloc_XMLENTITY()\n"));
}

// A copy of s[0..len) with a terminator; a is null outside a read.
static char* arena_string(Arena* a, const char* s, std::size_t len) {
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
static char* arena_shared(Arena* a, SharedTable* table, const char* s, std::size_t len) {
  if (len >= kArenaMaxString)  // a string in a block of its own is never shared
    return arena_string(a, s, len);
  // Without the room to share, a copy of its own, as beyond the limit.
  if (2 * table->used >= table->size && table->used < kMaxShared && !grow_shared(table))
    return arena_string(a, s, len);
  const std::size_t mask = table->size - 1;
  std::uint64_t head;
  const std::uint64_t hash = shared_hash(s, len, &head);
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    SharedName& slot = table->slots[i];
    if (slot.text == nullptr) {
      if (table->used >= kMaxShared || 2 * table->used >= table->size)
        return arena_string(a, s, len);
      slot.text = arena_string(a, s, len);
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
static char* arena_name(Arena* a, const char* s, std::size_t len) {
  if (a == nullptr)
    return arena_string(a, s, len);
  for (std::size_t i = 0; i < len; i++) {
    if (s[i] >= 'A' && s[i] <= 'Z')
      return arena_string(a, s, len);
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
static char* arena_text(Arena* a, const char* s, std::size_t len) {
  if (a == nullptr || len > kMaxSharedText)
    return arena_string(a, s, len);
  // Numbers are found by their value, with no hashing and in a table that stays in cache.
  const int v = plain_number(s, len);
  if (v >= 0) {
    char*& text = a->numbers[v];
    if (text == nullptr)
      text = arena_string(a, s, len);
    return text;
  }
  // A larger number is mostly one of as many as the document has states, each met a few times:
  // past the table's first 65536 texts nearly every lookup misses, after a probe into a table
  // of megabytes. A copy of its own costs less (a million-state chain: 1.4 s of its 5.5 s read).
  if (all_digits(s, len))
    return arena_string(a, s, len);
  return arena_shared(a, &a->texts, s, len);
}

static char* arena_copy(Arena* a, const char* s) {
  if (s == nullptr)
    return nullptr;
  return arena_string(a, s, std::strlen(s));
}

// ---- Nodes and strings -------------------------------------------------------------------------

XMLENTITY* alloc_XMLENTITY() {
  XMLENTITY* x = loose_nodes.free_nodes;
  if (x == nullptr) {
    return static_cast<XMLENTITY*>(arena_take(&loose_nodes, sizeof(XMLENTITY), alignof(XMLENTITY),
                                              " *** ERROR: Out of memory in alloc_XMLENTITY()\n"));
  }
  loose_nodes.free_nodes = x->next;
  *x = XMLENTITY{};
  return x;
}

void free_XMLENTITY(XMLENTITY* xml) {
  // Iterates along next: a document may hold a million siblings, but child and Nmtoken nesting
  // is bounded by XML_MAX_DEPTH for anything the reader built.
  while (xml != nullptr) {
    XMLENTITY* next = xml->next;
    Arena* a = arena_of(xml);
    if (a != &loose_nodes) {
      // A document's node: its memory goes with the document, when its first node goes.
      if (a->head == xml) {
        release_arena(a);
        return;
      }
      xml = next;
      continue;
    }
    std::free(xml->name);
    std::free(xml->s);
    free_XMLENTITY(xml->child);
    free_XMLENTITY(xml->Nmtoken);
    xml->next = loose_nodes.free_nodes;
    loose_nodes.free_nodes = xml;
    xml = next;
  }
}

char* xmlcopystring(const char* s) {
  if (s == nullptr)
    return nullptr;
  std::size_t size = std::strlen(s) + 1;
  auto* copy = static_cast<char*>(std::malloc(size));
  if (copy == nullptr)
    fail(" *** ERROR: Out of Memory in xmlcopystring()\n");
  std::memcpy(copy, s, size);
  return copy;
}

void xmlstr2lower(char* s) {
  for (; *s != '\0'; ++s) {
    if (*s >= 'A' && *s <= 'Z')
      *s = static_cast<char>(*s - 'A' + 'a');
  }
}

void name2lower_XMLENTITY(XMLENTITY* x, int recursive_flag) {
  if (x == nullptr)
    return;
  if (x->name != nullptr)
    xmlstr2lower(x->name);
  if (recursive_flag == 0)
    return;
  for (XMLENTITY* c = x->child; c != nullptr; c = c->next)
    name2lower_XMLENTITY(c, recursive_flag);
}

XMLENTITY* extract_XMLENTITY_name(XMLENTITY* x, const char* s) {
  if (x == nullptr || s == nullptr)
    return nullptr;
  for (XMLENTITY* c = x->child; c != nullptr; c = c->next) {
    if (c->name != nullptr && std::strcmp(c->name, s) == 0)
      return c;
  }
  return nullptr;
}

void xmlStringStrip(char* s) {
  if (s == nullptr)
    return;
  char* first = s;
  while (is_xml_space_char(*first))
    ++first;
  std::size_t len = std::strlen(first);
  if (first != s)
    std::memmove(s, first, len + 1);
  while (len > 0 && is_xml_space_char(s[len - 1]))
    s[--len] = '\0';
}

static XMLENTITY* new_node(Arena* a, const char* name, const char* s, int type) {
  XMLENTITY* x = arena_node(a);
  x->name = arena_copy(a, name);
  x->s = arena_copy(a, s);
  x->type = type;
  return x;
}

// ---- Reader ------------------------------------------------------------------------------------

// What every level of one read shares.
struct XmlScan {
  FILE* in;
  char* buf;  // XML_MAXLEN bytes; each construct copies its text out before anything nested
              // is read, so one buffer serves every level
  // A construct too long for the scan buffer, or an element past XML_MAX_DEPTH, was met: every
  // level stops reading at once. Reading on from inside an overlong comment would take what it
  // hides (a commented-out element, a file name) for markup.
  bool stopped;
  Arena* arena;  // the document's
  // A whole-stream read takes the stream in blocks and scans them from here; a read of one
  // construct takes one character at a time, so that it stops right after its construct.
  unsigned char* block;    // null: one character at a time
  const unsigned char* p;  // the block's unread bytes
  const unsigned char* end;
  std::size_t left;  // bytes the stream may still give in blocks
  // Element text being gathered, one buffer per level, kept from one element to the next so
  // that a text longer than a string holds in place costs no allocation each time.
  std::string texts[XML_MAX_DEPTH + 1] = {};
};

// Text buffers larger than this are released when their element is done, as a string of the
// element's own would have been.
constexpr std::size_t kKeptText = std::size_t{1} << 16;

constexpr std::size_t kBlockSize = std::size_t{1} << 16;
// A document in a file at least this large is read with the feeder.
constexpr std::size_t kFeederMinBytes = std::size_t{8} << 20;
// A short start tag is copied from the block as one 16-byte move, so the block has that many
// bytes to spare beyond kBlockSize (XML_MAXLEN leaves the scan buffer room enough).
constexpr std::size_t kShortTag = 16;

static int refill(XmlScan* r) {
  if (r->block == nullptr)
    return getc_unlocked(r->in);
  std::size_t n = fread_unlocked(r->block, 1, kBlockSize, r->in);
  if (n == 0)
    return EOF;
  if (n > r->left)
    fail(" *** ERROR: Out of memory in alloc_XMLENTITY()\n");
  r->left -= n;
  r->p = r->block;
  r->end = r->block + n;
  return *r->p++;
}

// The next character, 0-255, or EOF.
static inline int next_char(XmlScan* r) {
  if (r->p != r->end)
    return *r->p++;
  return refill(r);
}

// Scanning outcomes besides a length.
static constexpr int SCAN_EOF = -1;
static constexpr int SCAN_FULL = -2;

static XMLENTITY* read_construct(XmlScan* r, int* errflag, int depth);
static XMLENTITY* read_document(XmlScan* r, int* errflag);
static XMLENTITY* parse_tag(char* s, Arena* a);

// Reads a comment or CDATA body up to its closing "--" or "]]" and ">", into the scan buffer.
// A third dash resets the matcher, so "--->" does not close a comment: deliberate, and tested,
// since it decides where a comment ends. Returns the body's length (the body is then
// zero-terminated), SCAN_EOF or SCAN_FULL.
static int scan_until_close(XmlScan* r, int dash) {
  char* buf = r->buf;
  int state = 0;
  for (int pos = 0; pos < XML_MAXLEN; ++pos) {
    int c = next_char(r);
    if (c == EOF)
      return SCAN_EOF;
    buf[pos] = static_cast<char>(c);
    if (c == dash) {
      state = state < 2 ? state + 1 : 0;
    } else if (c == '>' && state == 2) {
      // Completing the match in the last slot still overruns: the bodies' limit is 2044.
      if (pos == XML_MAXLEN - 1)
        return SCAN_FULL;
      buf[pos - 2] = '\0';
      return pos - 2;
    } else {
      state = 0;
    }
  }
  return SCAN_FULL;
}

static XMLENTITY* read_comment(XmlScan* r, int* errflag) {
  xml_debug("{fget_XMLENTITY reading comment: *errflag = %d}\n", *errflag);
  int len = scan_until_close(r, '-');
  if (len == SCAN_EOF) {
    *errflag = XML_EOF;
    xml_debug("{Exiting fget_XMLENTITY unanticipated EOF: *errflag = %d}\n", *errflag);
    return nullptr;
  }
  if (len == SCAN_FULL) {
    *errflag = XML_TOO_LONG;
    xml_debug("{fget_XMLENTITY in comment, buffer overrun: *errflag = %d}\n", *errflag);
    return nullptr;
  }
  xml_debug("{fget_XMLENTITY in comment, comment done: *errflag = %d}\n{%s}\n", *errflag, r->buf);
  return new_node(r->arena, "COMMENT", r->buf, XML_COMMENT);
}

// Called with "<![" read; the "[" counts as the first of the seven characters of "[CDATA[".
static XMLENTITY* read_cdata(XmlScan* r, int* errflag) {
  static const char opener[] = "[CDATA[";
  constexpr int opener_len = sizeof opener - 1;
  char* buf = r->buf;
  buf[0] = '[';
  for (int i = 1; i < opener_len; ++i) {
    int c = next_char(r);
    if (c == EOF) {
      *errflag = XML_EOF;
      xml_debug("{Exiting fget_XMLENTITY unanticipated EOF: *errflag = %d}\n", *errflag);
      return nullptr;
    }
    buf[i] = static_cast<char>(c);
  }
  if (std::memcmp(buf, opener, opener_len) != 0) {
    buf[opener_len] = '\0';
    *errflag = XML_MALFORMED;
    xml_debug("{Exiting fget_XMLENTITY not CDATA (%s): *errflag = %d}\n", buf, *errflag);
    return nullptr;
  }
  xml_debug("{Reading CDATA in fget_XMLENTITY: *errflag = %d}\n", *errflag);
  int len = scan_until_close(r, ']');
  if (len == SCAN_EOF) {
    *errflag = XML_EOF;
    return nullptr;
  }
  if (len == SCAN_FULL) {
    *errflag = XML_TOO_LONG;
    xml_debug("{Buffer overrun Reading CDATA in fget_XMLENTITY: *errflag = %d}\n", *errflag);
    return nullptr;
  }
  xml_debug("{Done Reading CDATA in fget_XMLENTITY: *errflag = %d}\n", *errflag);
  return new_node(r->arena, "CDATA", buf, XML_CDATA);
}

// Called with "<!" and one more character read; that character is dropped, which is why
// "<!DOCTYPE x>" keeps "OCTYPE x". ended: that character was already the end of input.
static XMLENTITY* read_declaration(XmlScan* r, int* errflag, bool ended) {
  char* buf = r->buf;
  int len = SCAN_FULL;
  int depth = 1;
  for (int pos = 0; pos < XML_MAXLEN && !ended; ++pos) {
    int c = next_char(r);
    if (c == EOF) {
      ended = true;
      break;
    }
    buf[pos] = static_cast<char>(c);
    if (c == '<') {
      ++depth;
    } else if (c == '>' && --depth == 0) {
      if (pos < XML_MAXLEN - 1)
        len = pos;
      break;
    }
  }
  if (ended) {
    *errflag = XML_EOF;
    xml_debug("{EOF Reading other command in fget_XMLENTITY: *errflag = %d}\n", *errflag);
    return nullptr;
  }
  if (len == SCAN_FULL) {
    *errflag = XML_TOO_LONG;
    xml_debug("{Buffer overrun Reading other cmd in fget_XMLENTITY: *errflag = %d}\n", *errflag);
    return nullptr;
  }
  buf[len] = '\0';
  XMLENTITY* x = new_node(r->arena, "UNKNOWN", buf, XML_DECLARATION);
  *errflag = XML_MALFORMED;
  xml_debug("{Done reading other command: *errflag = %d}\n", *errflag);
  return x;
}

// Called with "<?" read. The instruction ends at the first ">" after its first "?", and the two
// characters before that ">" are dropped whatever they are: "<?a?b>" keeps "a?".
static XMLENTITY* read_pi(XmlScan* r, int* errflag) {
  char* buf = r->buf;
  bool seen_question = false;
  for (int pos = 0; pos < XML_MAXLEN; ++pos) {
    int c = next_char(r);
    if (c == EOF) {
      *errflag = XML_EOF;
      xml_debug("{EOF Reading PI in fget_XMLENTITY: *errflag = %d}\n", *errflag);
      return nullptr;
    }
    buf[pos] = static_cast<char>(c);
    if (c == '?') {
      seen_question = true;
    } else if (c == '>' && seen_question) {
      if (pos == XML_MAXLEN - 1)
        break;
      buf[pos - 1] = '\0';
      xmlStringStrip(buf);
      xml_debug("{Done Reading PI in fget_XMLENTITY: *errflag = %d}\n", *errflag);
      return new_node(r->arena, "PROCESSING INSTRUCTION", buf, XML_PI);
    }
  }
  *errflag = XML_TOO_LONG;
  xml_debug("{Buffer overrun Reading PI in fget_XMLENTITY: *errflag = %d}\n", *errflag);
  return nullptr;
}

// The element is complete or abandoned: its text becomes s, cut at the first zero byte as any C
// string would be.
static void set_element_text(XmlScan* r, XMLENTITY* e, std::string& text, bool trim) {
  // Most texts are a few bytes long: their end is looked for here rather than by strlen.
  const char* s = text.c_str();
  std::size_t len = text.size();
  if (len <= 32) {
    for (std::size_t i = 0; i < len; i++) {
      if (s[i] == '\0') {
        len = i;
        break;
      }
    }
  } else {
    len = std::strlen(s);
  }
  // What xmlStringStrip would leave, without moving it.
  if (trim) {
    while (len > 0 && is_xml_space_char(*s)) {
      s++;
      len--;
    }
    while (len > 0 && is_xml_space_char(s[len - 1]))
      len--;
  }
  e->s = arena_text(r->arena, s, len);
}

// Called with "</" read inside element e; text holds e's own text without that "<". The end tag
// is compared with the name as written in the start tag, one character at a time, and whatever
// does not match is left where it stands: the reader never skips ahead to resynchronise.
static void read_end_tag(XmlScan* r, XMLENTITY* e, std::string& text, int* errflag) {
  int j = 0;
  for (const char* p = e->name; *p != '\0'; ++p, ++j) {
    int c = next_char(r);
    if (c != static_cast<unsigned char>(*p)) {
      *errflag = c == EOF ? XML_EOF : XML_MALFORMED;
      set_element_text(r, e, text, false);
      xml_debug("{wrong endtag (j=%d)to <%s> in fget_XMLENTITY: *errflag = %d}\n", j, e->name,
                *errflag);
      return;
    }
  }
  int c;
  do {
    c = next_char(r);
  } while (is_xml_space(c));
  if (c != '>') {
    *errflag = c == EOF ? XML_EOF : XML_MALFORMED;
    xml_debug("{improper end of tag <%s> in fget_XMLENTITY: *errflag = %d}\n", e->name, *errflag);
  }
  set_element_text(r, e, text, true);
  xml_debug("{End of tag <%s> in fget_XMLENTITY: *errflag = %d}\n{%s}\n", e->name, *errflag, e->s);
}

// Reads element e's content and end tag. The text grows as needed: a configuration with
// thousands of states keeps them all in one element. Each construct inside leaves one "<" in it.
static void read_content(XmlScan* r, XMLENTITY* e, int* errflag, int depth) {
  XMLENTITY* last_child = nullptr;
  std::string& text = r->texts[depth];
  struct Release {
    std::string& text;
    ~Release() {
      if (text.capacity() > kKeptText)
        std::string().swap(text);
    }
  } release{text};
  text.clear();
  try {
    for (;;) {
      if (r->p != r->end) {
        // Text runs to the next "<": take the block's share of it at once. Most texts are a
        // few characters, or none, so the first few are looked at before searching.
        const unsigned char* stop = r->p;
        const unsigned char* near = r->p + std::min<std::size_t>(16, r->end - r->p);
        while (stop != near && *stop != '<')
          ++stop;
        if (stop == near && stop != r->end) {
          const auto* lt = static_cast<const unsigned char*>(
              std::memchr(stop, '<', static_cast<std::size_t>(r->end - stop)));
          stop = lt != nullptr ? lt : r->end;
        }
        text.append(reinterpret_cast<const char*>(r->p), static_cast<std::size_t>(stop - r->p));
        r->p = stop;
      }
      int c = next_char(r);
      if (c == EOF) {
        *errflag = XML_EOF;
        set_element_text(r, e, text, false);
        xml_debug("{EOF in tag <%s> in fget_XMLENTITY: *errflag = %d}\n", e->name, *errflag);
        return;
      }
      text.push_back(static_cast<char>(c));
      if (c != '<')
        continue;

      int err = 0;
      XMLENTITY* child = read_construct(r, &err, depth + 1);
      if (child != nullptr) {
        if (last_child == nullptr) {
          e->child = child;
        } else {
          last_child->next = child;
        }
        last_child = child;
        if (err != 0)
          *errflag = err;
        xml_debug("{child tag <%s> to <%s> in fget_XMLENTITY: *errflag = %d}\n", child->name,
                  e->name, *errflag);
      } else if (err == XML_END_TAG) {
        text.pop_back();
        read_end_tag(r, e, text, errflag);
        return;
      } else if (err == XML_TOO_LONG) {
        r->stopped = true;
      }
      // Otherwise the construct yielded nothing and its code is dropped: its "<" stays in the
      // text and reading goes on from where the stream stands.

      if (r->stopped) {
        *errflag = XML_TOO_LONG;
        set_element_text(r, e, text, false);
        xml_debug("{Reading stopped in tag <%s> in fget_XMLENTITY: *errflag = %d}\n", e->name,
                  *errflag);
        return;
      }
    }
  } catch (const std::bad_alloc&) {
    fail(" *** ERROR: Out of memory in fget_XMLENTITY() 1\n");
  }
}

// Called with "<" and first read. The tag is read whole before the depth is checked, so that at
// the level past the limit an unterminated tag still reports the end of input and an overlong
// one its length.
static XMLENTITY* read_tag(XmlScan* r, int* errflag, int first, int depth) {
  if (first == EOF) {
    *errflag = XML_EOF;
    return nullptr;
  }
  char* buf = r->buf;
  buf[0] = static_cast<char>(first);  // even a ">" here is tag text
  int len = 1;
  // When the block holds the closing ">" well within the buffer's limit, the tag is taken at
  // once; otherwise character by character, which also handles the limit and the end of input.
  const std::size_t window =
      std::min(static_cast<std::size_t>(r->end - r->p), static_cast<std::size_t>(XML_MAXLEN - 2));
  const auto* gt =
      window == 0 ? nullptr : static_cast<const unsigned char*>(std::memchr(r->p, '>', window));
  char last = buf[0];  // the tag's last character: "/" makes it an empty-element tag
  if (gt != nullptr) {
    const auto n = static_cast<std::size_t>(gt - r->p);
    if (n <= kShortTag) {
      std::memcpy(buf + 1, r->p, kShortTag);  // the block has kShortTag bytes to spare
    } else {
      std::memcpy(buf + 1, r->p, n);
    }
    if (n > 0)
      last = static_cast<char>(gt[-1]);  // not read back from buf, just written in one move
    len += static_cast<int>(n);
    r->p = gt + 1;
  }
  for (; gt == nullptr; ++len) {
    int c = next_char(r);
    if (c == EOF) {
      *errflag = XML_EOF;
      return nullptr;
    }
    if (len == XML_MAXLEN - 1 || c == '>') {
      break;
    }
    buf[len] = static_cast<char>(c);
    last = static_cast<char>(c);
  }
  // Past XML_MAX_DEPTH the element is not descended into, and the stop must reach the top level:
  // recursion depth is what bounds the stack, whatever the input holds.
  if (depth > XML_MAX_DEPTH)
    r->stopped = true;
  if (len == XML_MAXLEN - 1) {
    *errflag = XML_TOO_LONG;
    xml_debug("{Buffer overrun Reading tag in fget_XMLENTITY: *errflag = %d}\n", *errflag);
    return nullptr;
  }
  if (r->stopped) {
    *errflag = XML_TOO_LONG;
    xml_debug("{Nesting too deep for tag in fget_XMLENTITY: *errflag = %d}\n", *errflag);
    return nullptr;
  }

  // The "/" test looks at the byte before ">" even when a zero byte cut the text earlier:
  // "<y\0z/>" is the empty element y, "<x/\0>" a start tag named "x/".
  bool empty = last == '/';
  buf[empty ? len - 1 : len] = '\0';
  XMLENTITY* e = parse_tag(buf, r->arena);
  e->type = XML_ELEMENT;
  if (empty) {
    xml_debug("{Empty Element tag <%s> in fget_XMLENTITY: *errflag = %d}\n", e->name, *errflag);
    return e;
  }
  xml_debug("{Start tag <%s> in fget_XMLENTITY: *errflag = %d}\n", e->name, *errflag);
  read_content(r, e, errflag, depth);
  return e;
}

// One construct after its "<"; depth is the level an element read here would have (root 1).
static XMLENTITY* read_construct(XmlScan* r, int* errflag, int depth) {
  xml_debug("{Entering fget_XMLENTITY: *errflag = %d}\n", *errflag);
  int c = next_char(r);
  if (c == '/') {
    *errflag = XML_END_TAG;
    xml_debug("{Exiting fget_XMLENTITY with endtag: *errflag = %d}\n", *errflag);
    return nullptr;
  }
  if (c == '?')
    return read_pi(r, errflag);
  if (c != '!')
    return read_tag(r, errflag, c, depth);

  c = next_char(r);
  if (c == '>') {
    *errflag = XML_MALFORMED;
    xml_debug("{Exiting fget_XMLENTITY empty tag: *errflag = %d}\n", *errflag);
    return nullptr;
  }
  if (c == '[')
    return read_cdata(r, errflag);
  if (c != '-')
    return read_declaration(r, errflag, c == EOF);
  c = next_char(r);
  if (c == '-')
    return read_comment(r, errflag);
  *errflag = XML_MALFORMED;
  xml_debug("{fget_XMLENTITY in comment, not quite a comment: *errflag = %d}\n", *errflag);
  return nullptr;
}

XMLENTITY* fget_XMLENTITY(FILE* in, int* errflag) {
  if (errflag == nullptr)
    fail(" *** ERROR: NULL errflag pointer in fget_XMLENTITY()\n");
  if (in == nullptr)
    fail(" *** ERROR: NULL File Pointer in fget_XMLENTITY()\n");
  char buf[XML_MAXLEN];
  ArenaOwner owner{open_arena()};
  XmlScan r{in, buf, false, owner.arena, nullptr, nullptr, nullptr, SIZE_MAX};
  // One lock for the whole construct, so that reading a character is no library call.
  flockfile(in);
  XMLENTITY* x = read_construct(&r, errflag, 1);
  funlockfile(in);
  if (x != nullptr) {  // the node owns its arena from here on
    owner.arena->head = x;
    owner.arena = nullptr;
  }
  return x;
}

XMLENTITY* readfile_XMLENTITY(FILE* in, int* errflag) {
  return readfile_XMLENTITY_bounded(in, errflag, SIZE_MAX);
}

XMLENTITY* readfile_XMLENTITY_bounded(FILE* in, int* errflag, std::size_t max_bytes) {
  if (in == nullptr || errflag == nullptr) {
    warn(" *** ERROR: NULL Pointers on entry to readfile_XMLENTITY\n");
    return nullptr;
  }
  xml_debug("[Entering readfile_XMLENTITY: *errflag = %d\n", *errflag);
  *errflag = 0;
  char buf[XML_MAXLEN];
  Scratch<unsigned char> block = scratch<unsigned char>(kBlockSize + kShortTag);
  if (!block)
    fail(" *** ERROR: Out of memory in fget_XMLENTITY() 1\n");
  ArenaOwner owner{open_arena()};
  XmlScan r{in, buf, false, owner.arena, block.get(), nullptr, nullptr, max_bytes};
  XMLENTITY* head = nullptr;
  // A large document in a file is read with a second core making chunks ready ahead.
  struct stat st;
  const int fd = fileno(in);
  const bool large = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                     st.st_size >= static_cast<off_t>(kFeederMinBytes);
  Feeder feeder;
  run_parts(large ? 2 : 1, [&](unsigned part) {
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
    if (large)
      r.arena->feeder = &feeder;
    head = read_document(&r, errflag);
    r.arena->feeder = nullptr;
  });
  // Chunks made ready and not taken.
  while (void* chunk = take_ready(&feeder))
    std::free(chunk);
  if (head != nullptr) {  // the first node owns the arena from here on
    owner.arena->head = head;
    owner.arena = nullptr;
  }
  xml_debug("[Exiting readfile_XMLENTITY: *errflag = %d]\n", *errflag);
  return head;
}

// The top-level constructs of the stream, to its end (or to a read refused as a whole).
static XMLENTITY* read_document(XmlScan* scan, int* errflag) {
  XmlScan& r = *scan;
  XMLENTITY* head = nullptr;
  XMLENTITY* tail = nullptr;
  flockfile(r.in);
  int c;
  // After an overlong construct or nesting too deep nothing more is read: the document is
  // refused as a whole.
  while (!r.stopped && (c = next_char(&r)) != EOF) {
    if (c != '<')
      continue;
    int err = 0;
    XMLENTITY* x = read_construct(&r, &err, 1);
    xml_debug("[return from fget_XMLENTITY  err = %d]\n", err);
    if (x == nullptr) {
      // Other constructs that yield nothing are passed over; an overlong one is reported.
      if (err == XML_TOO_LONG) {
        *errflag = err;
        r.stopped = true;
      }
      continue;
    }
    if (tail == nullptr) {
      head = x;
    } else {
      tail->next = x;
    }
    tail = x;
    x->errflag = err;
    if (err != 0)
      *errflag = err;
    xml_debug("[*errflag = %d]\n", *errflag);
  }
  // Stopped early, the stream goes back to where reading stopped (where it can: on a pipe
  // what the last block took is gone, but the read was refused anyway).
  if (r.p != r.end)
    fseek(r.in, -static_cast<long>(r.end - r.p), SEEK_CUR);
  funlockfile(r.in);
  return head;
}

XMLENTITY* xmlParseTag(char* s) {
  return parse_tag(s, nullptr);
}

// a: the read's arena, or null for ordinary allocations.
static XMLENTITY* parse_tag(char* s, Arena* a) {
  if (s == nullptr)
    return nullptr;
  XMLENTITY* e = arena_node(a);
  char* p = s;
  while (is_xml_space_char(*p))
    ++p;
  char* start = p;
  while (*p != '\0' && !is_xml_space_char(*p))
    ++p;
  char stop = *p;
  *p = '\0';
  e->name = arena_name(a, start, static_cast<std::size_t>(p - start));

  XMLENTITY* last = nullptr;
  while (stop != '\0') {
    ++p;
    while (is_xml_space_char(*p))
      ++p;
    if (*p == '\0')
      break;

    // White space does not end an attribute name, so "a b=1" is one attribute named "a b".
    start = p;
    while (*p != '\0' && *p != '=')
      ++p;
    stop = *p;
    *p = '\0';
    for (char* end = p; end > start && is_xml_space_char(end[-1]);)
      *--end = '\0';
    XMLENTITY* attr = arena_node(a);
    attr->name = arena_copy(a, start);
    if (last == nullptr) {
      e->Nmtoken = attr;
    } else {
      last->next = attr;
    }
    last = attr;
    if (stop == '\0')
      break;

    ++p;
    while (is_xml_space_char(*p))
      ++p;
    if (*p == '\0')
      break;
    // Only double quotes delimit; a single quote is part of a bare value.
    if (*p == '"') {
      start = ++p;
      while (*p != '\0' && *p != '"')
        ++p;
    } else {
      start = p;
      while (*p != '\0' && !is_xml_space_char(*p))
        ++p;
    }
    stop = *p;
    *p = '\0';
    attr->s = arena_copy(a, start);
  }
  return e;
}

// ---- Printer -----------------------------------------------------------------------------------

void xmlfprint(FILE* out, const XMLENTITY* xml, int indent) {
  if (xml == nullptr)
    return;
  if (out == nullptr)
    out = stdout;
  if (indent < 0)
    indent = 0;
  switch (xml->type) {
    case XML_ELEMENT:
      std::fprintf(out, "%*s<%s", indent, "", xml->name);
      for (const XMLENTITY* a = xml->Nmtoken; a != nullptr; a = a->next) {
        if (a->name == nullptr)
          continue;
        std::fprintf(out, " %s", a->name);
        if (a->s != nullptr)
          std::fprintf(out, "=\"%s\"", a->s);
      }
      std::fprintf(out, ">[ENTITY_DATA errflag = %d]\n", xml->errflag);
      if (xml->s != nullptr)
        std::fprintf(out, "%*s{%s}\n", indent, "", xml->s);
      for (const XMLENTITY* c = xml->child; c != nullptr; c = c->next) {
        xmlfprint(out, c, indent + 1);
      }
      std::fprintf(out, "%*s</%s>\n", indent, "", xml->name);
      break;
    case XML_PI:
      std::fprintf(out, "%*s<?%s?>\n", indent, "", xml->s);
      break;
    case XML_CDATA:
      std::fprintf(out, "%*s<![CDATA[%s]]>\n", indent, "", xml->s);
      break;
    case XML_COMMENT:
      std::fprintf(out, "%*s<!-- %s -->\n", indent, "", xml->s);
      break;
    default:
      // Declarations, and attributes given on their own, leave no trace.
      break;
  }
}
