// xml_grammar.h - the entity reader's grammar, written once: every construct read from a byte
// source and handed to a handler. The tree reader (xml.cc) is one handler, which builds nodes;
// the configuration's streamed reader (xml_stream.h) is another, which keeps none.
// Part of pravlin; see README.md. Knows nothing of the chain calculator.
#ifndef PRAVLIN_XML_GRAMMAR_H
#define PRAVLIN_XML_GRAMMAR_H

#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "xml_entity.h"

/// Bytes a source's block needs beyond its size: a short start tag is copied out of the block
/// as one 16-byte move.
constexpr std::size_t kXmlBlockSlack = 16;

/// The reader's end of input, as a character.
constexpr int XML_EOF_CHAR = -1;

/// The fixed name of a node that is not an element, by its XmlType.
inline const char* xml_node_label(int type) {
  switch (type) {
    case XML_COMMENT:
      return "COMMENT";
    case XML_CDATA:
      return "CDATA";
    case XML_PI:
      return "PROCESSING INSTRUCTION";
    default:
      return "UNKNOWN";
  }
}

/// The grammar over a source S and a handler H.
///
/// S holds the block being read, `const unsigned char* p` (its unread bytes) and `end`, with
/// kXmlBlockSlack readable bytes beyond end; `int refill()` is called when p reaches end and
/// returns the next character (0-255) with p and end set past it, or XML_EOF_CHAR; and
/// `off_t last_offset() const` is the offset in the input of the character just read. A source
/// with no block (p == end always) is read one character at a time, and the grammar then takes
/// no byte beyond the construct it reads.
///
/// H gets, for every construct that yields a node:
///   bool open(int depth, const char* name, std::size_t len, bool empty, off_t at,
///             const char* tag, std::size_t tag_len): an element's start tag; its name as
///     xmlParseTag takes it (depth 1: top level), the offset of its "<", and the tag's whole
///     text (without "<", ">" and the "/" of an empty-element tag, not zero-terminated, with
///     kXmlBlockSlack readable bytes after it); empty
///     for an empty-element tag, which is closed at once. Returns whether the element's text is
///     wanted.
///   void close(int depth, const char* text, std::size_t len, bool has_text, int code): the
///     element is complete: its text as a node's s holds it (cut at a zero byte, trimmed when the
///     end tag was whole; has_text false for an empty-element tag; not meaningful when the text
///     was not wanted) and the code the reader writes with it.
///   void other(int depth, int type, const char* body, std::size_t len): a comment, CDATA
///     section, processing instruction or declaration (XmlType) with its s.
/// and may have:
///   std::size_t shortcut(int depth, const unsigned char* p, const unsigned char* end): in the
///     content of an element whose text is not wanted, at a "<" at p: how many bytes the handler
///     has read itself, as a whole construct that yields a node with code 0 and the same calls
///     as reading it here would make; 0 to leave them to the reader.
///   void top(int code): a top-level construct yielded a node, read with that code.
/// The handler may throw; the reading then stops where it is.
template <class S, class H>
class XmlGrammar {
 public:
  XmlGrammar(S* source, H* handler) : s_(source), h_(handler) {}

  /// Reads the top-level constructs to the end of the input (or to a stop or a suspension).
  void read_top_level() {
    while (!stopped_ && split_state_ != kSuspended) {
      if (s_->p != s_->end) {
        const auto* lt = static_cast<const unsigned char*>(
            std::memchr(s_->p, '<', static_cast<std::size_t>(s_->end - s_->p)));
        s_->p = lt != nullptr ? lt : s_->end;
      }
      const int c = next_char();
      if (c == XML_EOF_CHAR)
        break;
      if (c != '<')
        continue;
      tag_at_ = s_->last_offset();
      int err = 0;
      const bool node = read_construct(&err, 1);
      if (split_state_ == kSuspended)
        break;
      if (!node) {
        // Constructs that yield nothing are passed over; an overlong one is reported.
        if (err == XML_TOO_LONG) {
          code_ = err;
          stopped_ = true;
        }
        continue;
      }
      if constexpr (requires { h_->top(err); })
        h_->top(err);
      if (err != 0)
        code_ = err;
      top_nodes_++;
    }
  }

  /// Reads the content of an open root element named name[0..len) (the part of an input after
  /// a split point), then the top-level constructs after it.
  void read_from_root(const char* name, std::size_t len) {
    names_[1].assign(name, len);
    int code = 0;
    read_content(1, &code, false);
    root_code_ = code;
    read_top_level();
  }

  /// Reads one construct right after its "<", as at depth (the "<" at offset at), and no
  /// further: whether it yielded a node, and its code in *errflag.
  bool read_one(int* errflag, int depth, off_t at) {
    stopped_ = false;
    tag_at_ = at;
    return read_construct(errflag, depth);
  }

  /// Stops the reading at the "<" at offset at, when the reading gets there in the content of
  /// the top level's first node, an element named root, at its own level.
  void suspend_at(off_t at, const std::string& root) {
    split_at_ = at;
    split_root_ = root;
  }

  /// The code of the top-level constructs read, as readfile_XMLENTITY leaves it.
  int code() const {
    return code_;
  }
  /// After read_from_root, or at a suspension: the root's own code (0 when none was written).
  int root_code() const {
    return root_code_;
  }
  /// The reading stopped at the split point, inside the root.
  bool suspended() const {
    return split_state_ == kSuspended;
  }
  /// An overlong construct, or nesting past XML_MAX_DEPTH, stopped the reading.
  bool stopped() const {
    return stopped_;
  }

 private:
  static constexpr int kScanEof = -1;
  static constexpr int kScanFull = -2;
  static constexpr std::size_t kShortTag = kXmlBlockSlack;
  static constexpr int kPending = 0;
  static constexpr int kSuspended = 1;
  static constexpr int kMissed = 2;
  // Text buffers larger than this are released when their element is done, as a string of the
  // element's own would have been.
  static constexpr std::size_t kKeptText = std::size_t{1} << 16;

  // Our own test rather than isspace(): the locale must not decide, and no byte above 0x7F
  // counts. Takes a character as read (0-255, or XML_EOF_CHAR).
  static bool is_space(int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
  }

  // The next character, 0-255, or XML_EOF_CHAR.
  int next_char() {
    if (s_->p != s_->end)
      return *s_->p++;
    return s_->refill();
  }

  // Reads a comment or CDATA body up to its closing "--" or "]]" and ">", into the scan buffer.
  // A third dash resets the matcher, so "--->" does not close a comment: deliberate, and tested,
  // since it decides where a comment ends. Returns the body's length (the body is then
  // zero-terminated), kScanEof or kScanFull.
  int scan_until_close(int dash) {
    char* buf = buf_;
    int state = 0;
    for (int pos = 0; pos < XML_MAXLEN; ++pos) {
      const int c = next_char();
      if (c == XML_EOF_CHAR)
        return kScanEof;
      buf[pos] = static_cast<char>(c);
      if (c == dash) {
        state = state < 2 ? state + 1 : 0;
      } else if (c == '>' && state == 2) {
        // Completing the match in the last slot still overruns: the bodies' limit is 2044.
        if (pos == XML_MAXLEN - 1)
          return kScanFull;
        buf[pos - 2] = '\0';
        return pos - 2;
      } else {
        state = 0;
      }
    }
    return kScanFull;
  }

  // A body as a node's string holds it: up to its first zero byte.
  void other(int depth, int type, const char* body) {
    h_->other(depth, type, body, std::strlen(body));
  }

  bool read_comment(int* errflag, int depth) {
    const int len = scan_until_close('-');
    if (len == kScanEof) {
      *errflag = XML_EOF;
      return false;
    }
    if (len == kScanFull) {
      *errflag = XML_TOO_LONG;
      return false;
    }
    other(depth, XML_COMMENT, buf_);
    return true;
  }

  // Called with "<![" read; the "[" counts as the first of the seven characters of "[CDATA[".
  bool read_cdata(int* errflag, int depth) {
    static const char opener[] = "[CDATA[";
    constexpr int opener_len = sizeof opener - 1;
    buf_[0] = '[';
    for (int i = 1; i < opener_len; ++i) {
      const int c = next_char();
      if (c == XML_EOF_CHAR) {
        *errflag = XML_EOF;
        return false;
      }
      buf_[i] = static_cast<char>(c);
    }
    if (std::memcmp(buf_, opener, opener_len) != 0) {
      buf_[opener_len] = '\0';
      *errflag = XML_MALFORMED;
      return false;
    }
    const int len = scan_until_close(']');
    if (len == kScanEof) {
      *errflag = XML_EOF;
      return false;
    }
    if (len == kScanFull) {
      *errflag = XML_TOO_LONG;
      return false;
    }
    other(depth, XML_CDATA, buf_);
    return true;
  }

  // Called with "<!" and one more character read; that character is dropped, which is why
  // "<!DOCTYPE x>" keeps "OCTYPE x". ended: that character was already the end of input.
  bool read_declaration(int* errflag, int depth, bool ended) {
    int len = kScanFull;
    int level = 1;
    for (int pos = 0; pos < XML_MAXLEN && !ended; ++pos) {
      const int c = next_char();
      if (c == XML_EOF_CHAR) {
        ended = true;
        break;
      }
      buf_[pos] = static_cast<char>(c);
      if (c == '<') {
        ++level;
      } else if (c == '>' && --level == 0) {
        if (pos < XML_MAXLEN - 1)
          len = pos;
        break;
      }
    }
    if (ended) {
      *errflag = XML_EOF;
      return false;
    }
    if (len == kScanFull) {
      *errflag = XML_TOO_LONG;
      return false;
    }
    buf_[len] = '\0';
    other(depth, XML_DECLARATION, buf_);
    *errflag = XML_MALFORMED;
    return true;
  }

  // Called with "<?" read. The instruction ends at the first ">" after its first "?", and the
  // two characters before that ">" are dropped whatever they are: "<?a?b>" keeps "a?".
  bool read_pi(int* errflag, int depth) {
    bool seen_question = false;
    for (int pos = 0; pos < XML_MAXLEN; ++pos) {
      const int c = next_char();
      if (c == XML_EOF_CHAR) {
        *errflag = XML_EOF;
        return false;
      }
      buf_[pos] = static_cast<char>(c);
      if (c == '?') {
        seen_question = true;
      } else if (c == '>' && seen_question) {
        if (pos == XML_MAXLEN - 1)
          break;
        buf_[pos - 1] = '\0';
        xmlStringStrip(buf_);
        other(depth, XML_PI, buf_);
        return true;
      }
    }
    *errflag = XML_TOO_LONG;
    return false;
  }

  // The element at depth is complete or abandoned: its text becomes s, cut at the first zero
  // byte as any C string would be, and trimmed when its end tag was whole.
  void close(int depth, int code, bool want, bool trim) {
    if (!want) {
      h_->close(depth, nullptr, 0, true, code);
      return;
    }
    const std::string& text = texts_[depth];
    close_text(depth, code, trim, text.data(), text.size());
  }

  void close_text(int depth, int code, bool trim, const char* s, std::size_t len) {
    if (const void* zero = std::memchr(s, '\0', len))
      len = static_cast<std::size_t>(static_cast<const char*>(zero) - s);
    if (trim) {
      while (len > 0 && is_space(static_cast<unsigned char>(*s))) {
        s++;
        len--;
      }
      while (len > 0 && is_space(static_cast<unsigned char>(s[len - 1])))
        len--;
    }
    h_->close(depth, s, len, true, code);
  }

  // Whether the block holds name and ">" at at: the end tag of an element named name, closed
  // at once.
  bool end_tag_at(const unsigned char* at, const std::string& name) const {
    const std::size_t len = name.size();
    return static_cast<std::size_t>(s_->end - at) > len && at[len] == '>' &&
           std::memcmp(at, name.data(), len) == 0;
  }

  // Called with "</" read inside the element at depth. The end tag is compared with the name as
  // written in the start tag, one character at a time, and whatever does not match is left where
  // it stands: the reader never skips ahead to resynchronise.
  void read_end_tag(int depth, int* errflag, bool want) {
    const std::string& name = names_[depth];
    if (end_tag_at(s_->p, name)) {
      s_->p += name.size() + 1;
      close(depth, *errflag, want, true);
      return;
    }
    int j = 0;
    for (const char ch : name) {
      const int c = next_char();
      if (c != static_cast<unsigned char>(ch)) {
        *errflag = c == XML_EOF_CHAR ? XML_EOF : XML_MALFORMED;
        close(depth, *errflag, want, false);
        return;
      }
      ++j;
    }
    int c;
    do {
      c = next_char();
    } while (is_space(c));
    if (c != '>') {
      *errflag = c == XML_EOF_CHAR ? XML_EOF : XML_MALFORMED;
    }
    close(depth, *errflag, want, true);
  }

  // Reads the content and end tag of the element at depth. The text grows as needed: a
  // configuration with thousands of states keeps them all in one element. Each construct inside
  // leaves one "<" in it.
  void read_content(int depth, int* errflag, bool want) {
    std::string& text = texts_[depth];
    struct Release {
      std::string& text;
      ~Release() {
        if (text.capacity() > kKeptText)
          std::string().swap(text);
      }
    } release{text};
    text.clear();
    // Most elements hold a short text and then their end tag, all in the block: the text is
    // handed over from there.
    if (depth > 1 && s_->p != s_->end) {
      const unsigned char* stop = s_->p;
      const unsigned char* near = s_->p + std::min<std::size_t>(32, s_->end - s_->p);
      while (stop != near && *stop != '<')
        ++stop;
      if (stop + 1 < s_->end && *stop == '<' && stop[1] == '/' &&
          end_tag_at(stop + 2, names_[depth])) {
        const unsigned char* text_begin = s_->p;
        s_->p = stop + 3 + names_[depth].size();
        if (want) {
          close_text(depth, *errflag, true, reinterpret_cast<const char*>(text_begin),
                     static_cast<std::size_t>(stop - text_begin));
        } else {
          h_->close(depth, nullptr, 0, true, *errflag);
        }
        return;
      }
    }
    for (;;) {
      if (s_->p != s_->end) {
        // Text runs to the next "<": take the block's share of it at once. Most texts are a
        // few characters, or none, so the first few are looked at before searching.
        const unsigned char* stop = s_->p;
        const unsigned char* near = s_->p + std::min<std::size_t>(16, s_->end - s_->p);
        while (stop != near && *stop != '<')
          ++stop;
        if (stop == near && stop != s_->end) {
          const auto* lt = static_cast<const unsigned char*>(
              std::memchr(stop, '<', static_cast<std::size_t>(s_->end - stop)));
          stop = lt != nullptr ? lt : s_->end;
        }
        if (want)
          text.append(reinterpret_cast<const char*>(s_->p), static_cast<std::size_t>(stop - s_->p));
        s_->p = stop;
        if constexpr (requires { h_->shortcut(depth, s_->p, s_->end); }) {
          if (!want && depth > 1 && s_->p != s_->end) {
            const std::size_t used = h_->shortcut(depth, s_->p, s_->end);
            if (used != 0) {
              s_->p += used;
              continue;
            }
          }
        }
      }
      const int c = next_char();
      if (c == XML_EOF_CHAR) {
        *errflag = XML_EOF;
        close(depth, *errflag, want, false);
        return;
      }
      if (want)
        text.push_back(static_cast<char>(c));
      if (c != '<')
        continue;
      tag_at_ = s_->last_offset();
      if (depth == 1 && split_state_ == kPending && split_at_ >= 0) {
        const off_t at = tag_at_;
        if (at == split_at_ && top_nodes_ == 0 && names_[1] == split_root_) {
          split_state_ = kSuspended;
          root_code_ = *errflag;
          return;
        }
        if (at > split_at_)
          split_state_ = kMissed;
      }

      int err = 0;
      if (read_construct(&err, depth + 1)) {
        if (err != 0)
          *errflag = err;
      } else if (err == XML_END_TAG) {
        if (want)
          text.pop_back();
        read_end_tag(depth, errflag, want);
        return;
      } else if (err == XML_TOO_LONG) {
        stopped_ = true;
      }
      // Otherwise the construct yielded nothing and its code is dropped: its "<" stays in the
      // text and reading goes on from where the input stands.

      if (stopped_) {
        *errflag = XML_TOO_LONG;
        close(depth, *errflag, want, false);
        return;
      }
    }
  }

  // Called with "<" and first read. The tag is read whole before the depth is checked, so that
  // at the level past the limit an unterminated tag still reports the end of input and an
  // overlong one its length.
  bool read_tag(int* errflag, int first, int depth) {
    if (first == XML_EOF_CHAR) {
      *errflag = XML_EOF;
      return false;
    }
    char* buf = buf_;
    buf[0] = static_cast<char>(first);  // even a ">" here is tag text
    int len = 1;
    // When the block holds the closing ">" well within the buffer's limit, the tag is taken
    // from there at once; otherwise character by character, which also handles the limit and
    // the end of input.
    const std::size_t window = std::min(static_cast<std::size_t>(s_->end - s_->p),
                                        static_cast<std::size_t>(XML_MAXLEN - 2));
    const unsigned char* gt = s_->p;
    const unsigned char* near = s_->p + std::min<std::size_t>(window, 32);
    while (gt != near && *gt != '>')
      ++gt;
    if (gt == near) {
      gt = gt == s_->p + window ? nullptr
                                : static_cast<const unsigned char*>(std::memchr(
                                      gt, '>', window - static_cast<std::size_t>(gt - s_->p)));
    }
    char last = buf[0];  // the tag's last character: "/" makes it an empty-element tag
    const char* text = buf;
    std::size_t text_len = 0;
    if (gt != nullptr) {
      // The whole tag is in the block, from the character just read.
      const auto n = static_cast<std::size_t>(gt - s_->p);
      if (n > 0)
        last = static_cast<char>(gt[-1]);
      text = reinterpret_cast<const char*>(s_->p - 1);
      text_len = (last == '/' ? n : n + 1);
      s_->p = gt + 1;
    } else {
      for (;; ++len) {
        const int c = next_char();
        if (c == XML_EOF_CHAR) {
          *errflag = XML_EOF;
          return false;
        }
        if (len == XML_MAXLEN - 1 || c == '>')
          break;
        buf[len] = static_cast<char>(c);
        last = static_cast<char>(c);
      }
      text_len = static_cast<std::size_t>(last == '/' ? len - 1 : len);
    }
    // Past XML_MAX_DEPTH the element is not descended into, and the stop must reach the top
    // level: recursion depth is what bounds the stack, whatever the input holds.
    if (depth > XML_MAX_DEPTH)
      stopped_ = true;
    if (len == XML_MAXLEN - 1) {
      *errflag = XML_TOO_LONG;
      return false;
    }
    if (stopped_) {
      *errflag = XML_TOO_LONG;
      return false;
    }
    // The name as xmlParseTag takes it: after leading white space, up to white space or the
    // first zero byte. The "/" test looked at the byte before ">" even when a zero byte cut the
    // text earlier: "<y\0z/>" is the empty element y, "<x/\0>" a start tag named "x/".
    const char* text_end = text + text_len;
    const char* name = text;
    while (name != text_end && is_space(static_cast<unsigned char>(*name)))
      ++name;
    const char* name_end = name;
    for (; name_end != text_end; ++name_end) {
      const auto c = static_cast<unsigned char>(*name_end);
      if (c <= ' ' && (c == '\0' || is_space(c)))
        break;
    }
    const bool empty = last == '/';
    names_[depth].assign(name, static_cast<std::size_t>(name_end - name));
    const bool want = h_->open(depth, name, static_cast<std::size_t>(name_end - name), empty,
                               tag_at_, text, text_len);
    if (empty) {
      h_->close(depth, nullptr, 0, false, *errflag);
      return true;
    }
    read_content(depth, errflag, want);
    return true;
  }

  // One construct after its "<"; depth is the level an element read here would have (root 1).
  bool read_construct(int* errflag, int depth) {
    int c = next_char();
    if (c == '/') {
      *errflag = XML_END_TAG;
      return false;
    }
    if (c == '?')
      return read_pi(errflag, depth);
    if (c != '!')
      return read_tag(errflag, c, depth);
    c = next_char();
    if (c == '>') {
      *errflag = XML_MALFORMED;
      return false;
    }
    if (c == '[')
      return read_cdata(errflag, depth);
    if (c != '-')
      return read_declaration(errflag, depth, c == XML_EOF_CHAR);
    c = next_char();
    if (c == '-')
      return read_comment(errflag, depth);
    *errflag = XML_MALFORMED;
    return false;
  }

  S* s_;
  H* h_;
  off_t tag_at_ = 0;  // where the construct being read began
  bool stopped_ = false;
  int code_ = 0;
  int root_code_ = 0;
  std::size_t top_nodes_ = 0;  // top-level constructs that yielded a node
  off_t split_at_ = -1;
  std::string split_root_;
  int split_state_ = kPending;
  char buf_[XML_MAXLEN + kShortTag];
  std::string names_[XML_MAX_DEPTH + 1];
  std::string texts_[XML_MAX_DEPTH + 1];
};

#endif
