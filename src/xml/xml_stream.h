// xml_stream.h - the entity reader's grammar (xml_grammar.h) over a regular file read in
// blocks with pread, for readers that keep no tree: every construct is read exactly as
// readfile_XMLENTITY reads it, and what its node would hold is handed to a handler instead of
// being built.
// Part of pravlin; see README.md. Knows nothing of the chain calculator.
#ifndef PRAVLIN_XML_STREAM_H
#define PRAVLIN_XML_STREAM_H

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

#include "xml_grammar.h"

/// Bytes a block for XmlStream needs beyond its size.
constexpr std::size_t kXmlStreamSlack = kXmlBlockSlack;

/// The file fd from an offset to its end, in blocks taken with pread.
struct XmlPreadSource {
  int fd;
  off_t next_off;  // where the next block starts
  unsigned char* block;
  std::size_t block_size;
  const unsigned char* p = nullptr;
  const unsigned char* end = nullptr;
  off_t block_off = 0;  // where the block in hand starts
  bool at_end = false;  // pread has given everything

  int refill() {
    while (!at_end) {
      const ssize_t n = pread(fd, block, block_size, next_off);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0) {
        at_end = true;
        break;
      }
      block_off = next_off;
      next_off += n;
      p = block;
      end = block + n;
      return *p++;
    }
    return XML_EOF_CHAR;
  }

  // Offset in the file of the character just read.
  off_t last_offset() const {
    return block_off + (p - block) - 1;
  }
};

/// Reads constructs as the tree reader does (the same codes, the same stop after an overlong
/// construct or nesting past XML_MAX_DEPTH, texts cut at a zero byte), from the file fd between
/// an offset and its end. The handler H is XmlGrammar's.
template <class H>
class XmlStream {
 public:
  /// block: block_size + kXmlStreamSlack bytes, the reader's for as long as it reads.
  XmlStream(H* handler, int fd, off_t begin, unsigned char* block, std::size_t block_size)
      : source_{fd, begin, block, block_size}, grammar_(&source_, handler) {}

  /// Stops the reading at the "<" that stands at offset at, when the reading gets there in the
  /// content of the top level's first node, an element named root, at its own level; see
  /// suspended() and missed().
  void suspend_at(off_t at, const std::string& root) {
    grammar_.suspend_at(at, root);
  }

  /// Reads the top-level constructs to the end of the file (or to a stop or a suspension).
  void read_document() {
    grammar_.read_top_level();
  }

  /// Reads from the offset given as the content of an open root element named name[0..len)
  /// (the part of a file after a split point), then the top-level constructs after it.
  void read_from_root(const char* name, std::size_t len) {
    grammar_.read_from_root(name, len);
  }

  /// Reads the one construct whose "<" stands at offset at, as at depth, and no further: an
  /// element read again.
  void read_element_at(off_t at, int depth) {
    source_.next_off = at + 1;
    source_.p = source_.end = nullptr;
    source_.at_end = false;
    int err = 0;
    grammar_.read_one(&err, depth, at);
  }

  /// The stream's code as readfile_XMLENTITY leaves it; after read_from_root, the code of the
  /// top-level constructs after the root only.
  int code() const {
    return grammar_.code();
  }
  /// After read_from_root, or at a suspension: the root's own code (0 when none was written).
  int root_code() const {
    return grammar_.root_code();
  }
  /// The reading stopped at the split point, inside the root.
  bool suspended() const {
    return grammar_.suspended();
  }
  /// The reading went past the split point inside a deeper construct (or not at all).
  bool missed() const {
    return !grammar_.suspended();
  }

 private:
  XmlPreadSource source_;
  XmlGrammar<XmlPreadSource, H> grammar_;
};

#endif
