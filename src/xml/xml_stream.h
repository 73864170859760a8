// xml_stream.h - the entity reader's grammar over a regular file, for readers that keep no tree:
// every construct is read exactly as readfile_XMLENTITY reads it, and what its node would hold
// is handed to a handler instead of being built.
// Part of pravlin; see README.md. Knows nothing of the chain calculator.
#ifndef PRAVLIN_XML_STREAM_H
#define PRAVLIN_XML_STREAM_H

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "xml.h"

/// Bytes a block for XmlStream needs beyond its size: a short start tag is copied out of the
/// block as one 16-byte move.
constexpr std::size_t kXmlStreamSlack = 16;

/// Reads constructs as the tree reader does (xml.cc is the definition: the same codes, the same
/// stop after an overlong construct or nesting past XML_MAX_DEPTH, texts cut at a zero byte),
/// from the file fd between an offset and its end, in blocks taken with pread. The handler H
/// gets, for every construct that would yield a node:
///   bool open(int depth, const char* name, std::size_t len, bool empty, off_t at): an
///     element's start tag, its name as the node would hold it (depth 1: top level), at the
///     offset of its "<"; empty for an empty-element tag, which is closed at once. Returns
///     whether the element's text is wanted.
///   void close(int depth, const char* text, std::size_t len, bool has_text, int code): the
///     element is complete: its text as the node's s would hold it (has_text false: null; not
///     meaningful when the text was not wanted) and the code the reader writes with it.
///   void other(int depth, int type, const char* body, std::size_t len): a comment, CDATA
///     section, processing instruction or declaration (XmlType) with its s.
///   std::size_t shortcut(int depth, const unsigned char* p, const unsigned char* end): in the
///     content of an element at depth whose text is not wanted, at a "<" at p in the block
///     (which ends at end): how many bytes the handler has read itself, as a whole construct
///     that yields a node with code 0 and the same calls as reading it here would make; 0 to
///     leave them to the reader.
/// The handler may throw; the reading then stops where it is.
template <class H>
class XmlStream {
 public:
  /// block: block_size + kXmlStreamSlack bytes, the reader's for as long as it reads.
  XmlStream(H* handler, int fd, off_t begin, unsigned char* block, std::size_t block_size)
      : h_(handler), fd_(fd), next_off_(begin), block_(block), block_size_(block_size) {}

  /// Stops the reading at the "<" that stands at offset at, when the reading gets there in the
  /// content of the top level's first node, an element named root, at its own level; see
  /// suspended() and missed().
  void suspend_at(off_t at, const std::string& root) {
    split_at_ = at;
    split_root_ = root;
  }

  /// Reads the top-level constructs to the end of the file (or to a stop or a suspension).
  void read_document() {
    read_top_level();
  }

  /// Reads from the offset given as the content of an open root element named name[0..len)
  /// (the part of a file after a split point), then the top-level constructs after it.
  void read_from_root(const char* name, std::size_t len) {
    names_[1].assign(name, len);
    int code = 0;
    read_content(1, &code, false);
    root_code_ = code;
    read_top_level();
  }

  /// Reads the one construct whose "<" stands at offset at, as at depth, and no further: an
  /// element read again.
  void read_element_at(off_t at, int depth) {
    next_off_ = at + 1;
    p_ = end_ = nullptr;
    at_end_ = false;
    stopped_ = false;
    tag_at_ = at;
    int err = 0;
    read_construct(&err, depth);
  }

  /// The stream's code as readfile_XMLENTITY leaves it; after read_from_root, the code of the
  /// top-level constructs after the root only.
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
  /// The reading went past the split point inside a deeper construct (or not at all).
  bool missed() const {
    return split_state_ != kSuspended;
  }

 private:
  static constexpr int kEof = -1;
  static constexpr int kScanEof = -1;
  static constexpr int kScanFull = -2;
  static constexpr std::size_t kShortTag = 16;
  static constexpr int kPending = 0;
  static constexpr int kSuspended = 1;
  static constexpr int kMissed = 2;

  static bool is_space(int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
  }

  // The next block; false at the end of the file.
  bool fill() {
    while (!at_end_) {
      const ssize_t n = pread(fd_, block_, block_size_, next_off_);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0) {
        at_end_ = true;
        break;
      }
      block_off_ = next_off_;
      next_off_ += n;
      p_ = block_;
      end_ = block_ + n;
      return true;
    }
    return false;
  }

  int next_char() {
    if (p_ != end_)
      return *p_++;
    if (!fill())
      return kEof;
    return *p_++;
  }

  // Offset in the file of the character just read.
  off_t last_offset() const {
    return block_off_ + (p_ - block_) - 1;
  }

  void read_top_level() {
    while (!stopped_ && split_state_ != kSuspended) {
      if (p_ != end_) {
        const auto* lt = static_cast<const unsigned char*>(
            std::memchr(p_, '<', static_cast<std::size_t>(end_ - p_)));
        p_ = lt != nullptr ? lt : end_;
      }
      const int c = next_char();
      if (c == kEof)
        break;
      if (c != '<')
        continue;
      tag_at_ = last_offset();
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
      if (err != 0)
        code_ = err;
      top_nodes_++;
    }
  }

  // Body of a comment or CDATA section into buf_: its length, kScanEof or kScanFull.
  int scan_until_close(int dash) {
    char* buf = buf_;
    int state = 0;
    for (int pos = 0; pos < XML_MAXLEN; ++pos) {
      const int c = next_char();
      if (c == kEof)
        return kScanEof;
      buf[pos] = static_cast<char>(c);
      if (c == dash) {
        state = state < 2 ? state + 1 : 0;
      } else if (c == '>' && state == 2) {
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

  bool read_cdata(int* errflag, int depth) {
    static const char opener[] = "[CDATA[";
    constexpr int opener_len = sizeof opener - 1;
    buf_[0] = '[';
    for (int i = 1; i < opener_len; ++i) {
      const int c = next_char();
      if (c == kEof) {
        *errflag = XML_EOF;
        return false;
      }
      buf_[i] = static_cast<char>(c);
    }
    if (std::memcmp(buf_, opener, opener_len) != 0) {
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

  bool read_declaration(int* errflag, int depth, bool ended) {
    int len = kScanFull;
    int level = 1;
    for (int pos = 0; pos < XML_MAXLEN && !ended; ++pos) {
      const int c = next_char();
      if (c == kEof) {
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

  bool read_pi(int* errflag, int depth) {
    bool seen_question = false;
    for (int pos = 0; pos < XML_MAXLEN; ++pos) {
      const int c = next_char();
      if (c == kEof) {
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

  // The element at depth is complete or abandoned: its text as set_element_text makes it.
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
    return static_cast<std::size_t>(end_ - at) > len && at[len] == '>' &&
           std::memcmp(at, name.data(), len) == 0;
  }

  void read_end_tag(int depth, int* errflag, bool want) {
    const std::string& name = names_[depth];
    if (end_tag_at(p_, name)) {
      p_ += name.size() + 1;
      close(depth, *errflag, want, true);
      return;
    }
    for (const char ch : name) {
      const int c = next_char();
      if (c != static_cast<unsigned char>(ch)) {
        *errflag = c == kEof ? XML_EOF : XML_MALFORMED;
        close(depth, *errflag, want, false);
        return;
      }
    }
    int c;
    do {
      c = next_char();
    } while (is_space(c));
    if (c != '>')
      *errflag = c == kEof ? XML_EOF : XML_MALFORMED;
    close(depth, *errflag, want, true);
  }

  void read_content(int depth, int* errflag, bool want) {
    std::string& text = texts_[depth];
    text.clear();
    // Most elements hold a short text and then their end tag, all in the block: the text is
    // handed over from there.
    if (depth > 1 && p_ != end_) {
      const unsigned char* stop = p_;
      const unsigned char* near = p_ + std::min<std::size_t>(32, end_ - p_);
      while (stop != near && *stop != '<')
        ++stop;
      if (stop + 1 < end_ && *stop == '<' && stop[1] == '/' &&
          end_tag_at(stop + 2, names_[depth])) {
        const unsigned char* text_begin = p_;
        p_ = stop + 3 + names_[depth].size();
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
      if (p_ != end_) {
        const unsigned char* stop = p_;
        const unsigned char* near = p_ + std::min<std::size_t>(16, end_ - p_);
        while (stop != near && *stop != '<')
          ++stop;
        if (stop == near && stop != end_) {
          const auto* lt = static_cast<const unsigned char*>(
              std::memchr(stop, '<', static_cast<std::size_t>(end_ - stop)));
          stop = lt != nullptr ? lt : end_;
        }
        if (want)
          text.append(reinterpret_cast<const char*>(p_), static_cast<std::size_t>(stop - p_));
        p_ = stop;
        if (!want && depth > 1 && p_ != end_) {
          const std::size_t used = h_->shortcut(depth, p_, end_);
          if (used != 0) {
            p_ += used;
            continue;
          }
        }
      }
      const int c = next_char();
      if (c == kEof) {
        *errflag = XML_EOF;
        close(depth, *errflag, want, false);
        return;
      }
      if (want)
        text.push_back(static_cast<char>(c));
      if (c != '<')
        continue;
      tag_at_ = last_offset();
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
      if (stopped_) {
        *errflag = XML_TOO_LONG;
        close(depth, *errflag, want, false);
        return;
      }
    }
  }

  bool read_tag(int* errflag, int first, int depth) {
    if (first == kEof) {
      *errflag = XML_EOF;
      return false;
    }
    char* buf = buf_;
    buf[0] = static_cast<char>(first);
    int len = 1;
    const std::size_t window =
        std::min(static_cast<std::size_t>(end_ - p_), static_cast<std::size_t>(XML_MAXLEN - 2));
    const unsigned char* gt = p_;
    const unsigned char* near = p_ + std::min<std::size_t>(window, 32);
    while (gt != near && *gt != '>')
      ++gt;
    if (gt == near) {
      gt = gt == p_ + window ? nullptr
                             : static_cast<const unsigned char*>(std::memchr(
                                   gt, '>', window - static_cast<std::size_t>(gt - p_)));
    }
    char last = buf[0];
    if (gt != nullptr) {
      // The whole tag is in the block, from the character just read: its name is taken from
      // there, as xmlParseTag takes it from the tag's text.
      const auto n = static_cast<std::size_t>(gt - p_);
      if (n > 0)
        last = static_cast<char>(gt[-1]);
      const char* text = reinterpret_cast<const char*>(p_ - 1);
      const char* text_end = reinterpret_cast<const char*>(last == '/' ? gt - 1 : gt);
      p_ = gt + 1;
      if (depth > XML_MAX_DEPTH)
        stopped_ = true;
      if (stopped_) {
        *errflag = XML_TOO_LONG;
        return false;
      }
      const char* name = text;
      while (name != text_end && is_space(static_cast<unsigned char>(*name)))
        ++name;
      const char* name_end = name;
      while (name_end != text_end && *name_end != '\0' &&
             !is_space(static_cast<unsigned char>(*name_end)))
        ++name_end;
      return open_element(errflag, depth, name, static_cast<std::size_t>(name_end - name),
                          last == '/');
    }
    for (; gt == nullptr; ++len) {
      const int c = next_char();
      if (c == kEof) {
        *errflag = XML_EOF;
        return false;
      }
      if (len == XML_MAXLEN - 1 || c == '>')
        break;
      buf[len] = static_cast<char>(c);
      last = static_cast<char>(c);
    }
    if (depth > XML_MAX_DEPTH)
      stopped_ = true;
    if (len == XML_MAXLEN - 1 || stopped_) {
      *errflag = XML_TOO_LONG;
      return false;
    }
    const bool empty = last == '/';
    buf[empty ? len - 1 : len] = '\0';
    // The name as xmlParseTag takes it: after leading white space, up to white space or the
    // first zero byte. The attributes are of no interest here.
    const char* name = buf;
    while (is_space(static_cast<unsigned char>(*name)))
      ++name;
    const char* name_end = name;
    while (*name_end != '\0' && !is_space(static_cast<unsigned char>(*name_end)))
      ++name_end;
    return open_element(errflag, depth, name, static_cast<std::size_t>(name_end - name), empty);
  }

  bool open_element(int* errflag, int depth, const char* name, std::size_t len, bool empty) {
    const bool want = h_->open(depth, name, len, empty, tag_at_);
    if (empty) {
      h_->close(depth, nullptr, 0, false, *errflag);
      return true;
    }
    names_[depth].assign(name, len);
    read_content(depth, errflag, want);
    return true;
  }

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
      return read_declaration(errflag, depth, c == kEof);
    c = next_char();
    if (c == '-')
      return read_comment(errflag, depth);
    *errflag = XML_MALFORMED;
    return false;
  }

  H* h_;
  int fd_;
  off_t next_off_;       // where the next block starts
  off_t block_off_ = 0;  // where the block in hand starts
  off_t tag_at_ = 0;     // where the construct being read began
  unsigned char* block_;
  std::size_t block_size_;
  const unsigned char* p_ = nullptr;
  const unsigned char* end_ = nullptr;
  bool at_end_ = false;  // pread has given everything
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
