// xml_entity.h - the reader's node and its codes: the records every file of the reader shares,
// below the reader itself (xml.h), its grammar and its memory.
// Part of pravlin; see README.md. Knows nothing of the chain calculator.
#ifndef PRAVLIN_XML_ENTITY_H
#define PRAVLIN_XML_ENTITY_H

#include <cstddef>
#include <cstring>

/// Kinds of node, stored in XMLENTITY::type. ORDER XMLTYPE
enum XmlType {
  XML_DECLARATION = 0,  // a "<!" declaration other than a comment or CDATA; also attribute nodes
  XML_COMMENT = 1,
  XML_CDATA = 2,
  XML_PI = 3,  // processing instruction
  XML_ELEMENT = 4,
};

/// Reader result codes, written through the errflag out-parameters. ORDER XMLRESULT
enum XmlResult {
  XML_OK = 0,
  XML_EOF = 1,        // the input ended inside a construct
  XML_MALFORMED = 2,  // a malformed construct, or a declaration that is not a comment or CDATA
  XML_TOO_LONG = 3,   // a construct longer than the scan buffer, or nesting past XML_MAX_DEPTH
  XML_END_TAG = 4,    // an end tag begins here: a signal to the enclosing element
};

/// Size of the scan buffer for one tag, comment, CDATA section, instruction or declaration.
constexpr int XML_MAXLEN = 2048;
/// Deepest element level that is read; the root is level 1. An element deeper than this is
/// not descended into (code XML_TOO_LONG), so no input can exhaust the stack.
constexpr int XML_MAX_DEPTH = 256;

/// One node of a parsed document. Freeing the first node of a list frees the whole list, and
/// everything reachable through child, Nmtoken and next. A node made by alloc_XMLENTITY or
/// xmlParseTag owns its two strings; the nodes of a read share their document's memory
/// (xml_memory.h), where equal names and short texts may be one string (readfile_XMLENTITY),
/// and all of it goes when the document's first node is freed.
///
/// type is declared beside errflag rather than after s: the two ints then share one 8-byte slot
/// instead of each carrying 4 bytes of padding, and a large configuration is millions of nodes
/// (48 bytes instead of 56 is 90 MiB less for 12 million).
struct XMLEntity {
  char* name;          // element or attribute name, or the fixed label of another kind
  char* s;             // text, attribute value or body; may be null
  XMLEntity* child;    // first construct inside an element
  XMLEntity* Nmtoken;  // first attribute of an element
  XMLEntity* next;     // next node on the same list
  int type;            // an XmlType
  int errflag;         // result code read with a top-level node; 0 elsewhere
};
static_assert(sizeof(XMLEntity) == 48, "a node is 48 bytes");
typedef XMLEntity XMLENTITY;

// Our own test rather than isspace(): the locale must not decide, and no byte above 0x7F counts.
// Takes a character as read (0-255, or EOF), so callers holding a char cast to unsigned char.
inline bool is_xml_space(int c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

/// Removes leading and trailing white space (space, \t, \n, \v, \f, \r) in place. Null is ignored.
inline void xmlStringStrip(char* s) {
  if (s == nullptr)
    return;
  char* first = s;
  while (is_xml_space(static_cast<unsigned char>(*first)))
    ++first;
  std::size_t len = std::strlen(first);
  if (first != s)
    std::memmove(s, first, len + 1);
  while (len > 0 && is_xml_space(static_cast<unsigned char>(s[len - 1])))
    s[--len] = '\0';
}

#endif
