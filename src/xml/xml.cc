// xml.cc - the XML entity reader: nodes and strings, reader and printer.
// Part of pravlin; see README.md.
#include "xml.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "fail.h"
#include "scratch.h"
#include "xml_grammar.h"
#include "xml_memory.h"

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

// ---- Nodes and strings -------------------------------------------------------------------------

XMLENTITY* alloc_XMLENTITY() {
  return xml_loose_node();
}

void free_XMLENTITY(XMLENTITY* xml) {
  // Iterates along next: a document may hold a million siblings, but child and Nmtoken nesting
  // is bounded by XML_MAX_DEPTH for anything the reader built.
  while (xml != nullptr) {
    XMLENTITY* next = xml->next;
    if (!xml_is_loose_node(xml)) {
      // A document's node: its memory goes with the document, when its first node goes.
      if (xml_release_document(xml))
        return;
      xml = next;
      continue;
    }
    std::free(xml->name);
    std::free(xml->s);
    free_XMLENTITY(xml->child);
    free_XMLENTITY(xml->Nmtoken);
    xml_drop_loose_node(xml);
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

static XMLENTITY* new_node(XmlArena* a, const char* name, const char* s, int type) {
  XMLENTITY* x = xml_arena_node(a);
  x->name = xml_arena_copy(a, name);
  x->s = xml_arena_copy(a, s);
  x->type = type;
  return x;
}

// ---- Reader ------------------------------------------------------------------------------------

constexpr std::size_t kBlockSize = std::size_t{1} << 16;
// A document in a file at least this large is read with the feeder.
constexpr std::size_t kFeederMinBytes = std::size_t{8} << 20;

static XMLENTITY* parse_tag(char* s, XmlArena* a);
static void parse_attributes(char* s, XMLENTITY* e, XmlArena* a);

// A stream as the grammar reads it. A whole-stream read takes the stream in blocks; a read of
// one construct takes one character at a time, so that it stops right after its construct.
struct FileSource {
  FILE* in;
  unsigned char* block;  // kBlockSize + kXmlBlockSlack bytes; null: one character at a time
  const unsigned char* p = nullptr;  // the block's unread bytes
  const unsigned char* end = nullptr;
  std::size_t left = SIZE_MAX;  // bytes the stream may still give in blocks

  int refill() {
    if (block == nullptr)
      return getc_unlocked(in);
    std::size_t n = fread_unlocked(block, 1, kBlockSize, in);
    if (n == 0)
      return EOF;
    if (n > left)
      fail(" *** ERROR: Out of memory in alloc_XMLENTITY()\n");
    left -= n;
    p = block;
    end = block + n;
    return *p++;
  }

  // Offsets are of no use to a tree.
  off_t last_offset() const {
    return 0;
  }
};

// Builds the document's nodes from what the grammar reads, each in the document's arena.
struct TreeBuilder {
  XmlArena* arena = nullptr;
  XMLENTITY* head = nullptr;  // the top-level list
  XMLENTITY* tail = nullptr;
  XMLENTITY* open_[XML_MAX_DEPTH + 1] = {};  // the element read at each level
  XMLENTITY* last_[XML_MAX_DEPTH + 1] = {};  // and its last child so far
  char tag_[XML_MAXLEN + kXmlBlockSlack];

  void link(int depth, XMLENTITY* x) {
    if (depth == 1) {
      (tail == nullptr ? head : tail->next) = x;
      tail = x;
      return;
    }
    XMLENTITY* parent = open_[depth - 1];
    (last_[depth - 1] == nullptr ? parent->child : last_[depth - 1]->next) = x;
    last_[depth - 1] = x;
  }

  // The node xmlParseTag would make of the tag: the name as the grammar found it, and the
  // attributes when white space ended the name.
  bool open(int depth, const char* name, std::size_t len, bool, off_t, const char* tag,
            std::size_t tag_len) {
    XMLENTITY* e = xml_arena_node(arena);
    e->name = xml_arena_name(arena, name, len);
    e->type = XML_ELEMENT;
    const char* rest = name + len;
    const char* tag_end = tag + tag_len;
    if (rest != tag_end && *rest != '\0') {
      const auto n = static_cast<std::size_t>(tag_end - rest) - 1;
      std::memcpy(tag_, rest + 1, n);
      tag_[n] = '\0';
      parse_attributes(tag_, e, arena);
    }
    link(depth, e);
    open_[depth] = e;
    last_[depth] = nullptr;
    return true;
  }

  void close(int depth, const char* text, std::size_t len, bool has_text, int) {
    if (has_text)
      open_[depth]->s = xml_arena_text(arena, text, len);
  }

  void other(int depth, int type, const char* body, std::size_t) {
    link(depth, new_node(arena, xml_node_label(type), body, type));
  }

  void top(int code) {
    tail->errflag = code;
  }
};

using TreeGrammar = XmlGrammar<FileSource, TreeBuilder>;

XMLENTITY* fget_XMLENTITY(FILE* in, int* errflag) {
  if (errflag == nullptr)
    fail(" *** ERROR: NULL errflag pointer in fget_XMLENTITY()\n");
  if (in == nullptr)
    fail(" *** ERROR: NULL File Pointer in fget_XMLENTITY()\n");
  ArenaOwner owner{xml_open_arena()};
  FileSource source{in, nullptr};
  auto tree = std::make_unique<TreeBuilder>();
  tree->arena = owner.arena;
  auto grammar = std::make_unique<TreeGrammar>(&source, tree.get());
  // One lock for the whole construct, so that reading a character is no library call.
  flockfile(in);
  or_out_of_memory(" *** ERROR: Out of memory in fget_XMLENTITY() 1\n",
                   [&] { grammar->read_one(errflag, 1, 0); });
  funlockfile(in);
  XMLENTITY* x = tree->head;
  if (x != nullptr) {  // the node owns its arena from here on
    xml_arena_hand_over(owner.arena, x);
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
  *errflag = 0;
  Scratch<unsigned char> block = scratch<unsigned char>(kBlockSize + kXmlBlockSlack);
  if (!block)
    fail(" *** ERROR: Out of memory in fget_XMLENTITY() 1\n");
  ArenaOwner owner{xml_open_arena()};
  FileSource source{in, block.get()};
  source.left = max_bytes;
  std::unique_ptr<TreeBuilder> tree;
  std::unique_ptr<TreeGrammar> grammar;
  or_out_of_memory(" *** ERROR: Out of memory in fget_XMLENTITY() 1\n", [&] {
    tree = std::make_unique<TreeBuilder>();
    tree->arena = owner.arena;
    grammar = std::make_unique<TreeGrammar>(&source, tree.get());
  });
  // A large document in a file is read with a second core making chunks ready ahead.
  struct stat st;
  const int fd = fileno(in);
  const bool large = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                     st.st_size >= static_cast<off_t>(kFeederMinBytes);
  flockfile(in);
  xml_read_fed(owner.arena, large, [&] {
    or_out_of_memory(" *** ERROR: Out of memory in fget_XMLENTITY() 1\n", [&] {
      // After an overlong construct or nesting too deep nothing more is read: the document is
      // refused as a whole.
      grammar->read_top_level();
    });
  });
  *errflag = grammar->code();
  // Stopped early, the stream goes back to where reading stopped (where it can: on a pipe what
  // the last block took is gone, but the read was refused anyway).
  if (source.p != source.end)
    fseek(in, -static_cast<long>(source.end - source.p), SEEK_CUR);
  funlockfile(in);
  XMLENTITY* head = tree->head;
  if (head != nullptr) {  // the first node owns the arena from here on
    xml_arena_hand_over(owner.arena, head);
    owner.arena = nullptr;
  }
  return head;
}

XMLENTITY* xmlParseTag(char* s) {
  return parse_tag(s, nullptr);
}

// a: the read's arena, or null for ordinary allocations.
static XMLENTITY* parse_tag(char* s, XmlArena* a) {
  if (s == nullptr)
    return nullptr;
  XMLENTITY* e = xml_arena_node(a);
  char* p = s;
  while (is_xml_space_char(*p))
    ++p;
  char* start = p;
  while (*p != '\0' && !is_xml_space_char(*p))
    ++p;
  char stop = *p;
  *p = '\0';
  e->name = xml_arena_name(a, start, static_cast<std::size_t>(p - start));
  if (stop != '\0')
    parse_attributes(p + 1, e, a);
  return e;
}

// The attributes of a start tag, from the character after the white space that ended its name,
// onto e's Nmtoken list. Overwrites characters of s.
static void parse_attributes(char* s, XMLENTITY* e, XmlArena* a) {
  char* p = s;
  XMLENTITY* last = nullptr;
  for (;;) {
    while (is_xml_space_char(*p))
      ++p;
    if (*p == '\0')
      break;

    // White space does not end an attribute name, so "a b=1" is one attribute named "a b".
    char* start = p;
    while (*p != '\0' && *p != '=')
      ++p;
    char stop = *p;
    *p = '\0';
    for (char* end = p; end > start && is_xml_space_char(end[-1]);)
      *--end = '\0';
    XMLENTITY* attr = xml_arena_node(a);
    attr->name = xml_arena_copy(a, start);
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
    attr->s = xml_arena_copy(a, start);
    if (stop == '\0')
      break;
    ++p;
  }
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
