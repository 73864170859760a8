// xml.cc - the XML entity reader: nodes and strings, debug switch, reader and printer.
// Part of pravlin; see README.md.
#include "xml.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fail.h"
#include "fast.h"
#include "xml_memory.h"

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

static XMLENTITY* new_node(XmlArena* a, const char* name, const char* s, int type) {
  XMLENTITY* x = xml_arena_node(a);
  x->name = xml_arena_copy(a, name);
  x->s = xml_arena_copy(a, s);
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
  XmlArena* arena;  // the document's
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
static XMLENTITY* parse_tag(char* s, XmlArena* a);

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
  e->s = xml_arena_text(r->arena, s, len);
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
  ArenaOwner owner{xml_open_arena()};
  XmlScan r{in, buf, false, owner.arena, nullptr, nullptr, nullptr, SIZE_MAX};
  // One lock for the whole construct, so that reading a character is no library call.
  flockfile(in);
  XMLENTITY* x = read_construct(&r, errflag, 1);
  funlockfile(in);
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
  xml_debug("[Entering readfile_XMLENTITY: *errflag = %d\n", *errflag);
  *errflag = 0;
  char buf[XML_MAXLEN];
  Scratch<unsigned char> block = scratch<unsigned char>(kBlockSize + kShortTag);
  if (!block)
    fail(" *** ERROR: Out of memory in fget_XMLENTITY() 1\n");
  ArenaOwner owner{xml_open_arena()};
  XmlScan r{in, buf, false, owner.arena, block.get(), nullptr, nullptr, max_bytes};
  XMLENTITY* head = nullptr;
  // A large document in a file is read with a second core making chunks ready ahead.
  struct stat st;
  const int fd = fileno(in);
  const bool large = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                     st.st_size >= static_cast<off_t>(kFeederMinBytes);
  xml_read_fed(r.arena, large, [&] { head = read_document(&r, errflag); });
  if (head != nullptr) {  // the first node owns the arena from here on
    xml_arena_hand_over(owner.arena, head);
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
