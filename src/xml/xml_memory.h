// xml_memory.h - a document's memory: the arena its nodes and strings come from, released as
// one when its first node is freed, as tinyxml2's documents own their memory pools.
// Part of pravlin; see README.md. Knows nothing of the chain calculator.
#ifndef PRAVLIN_XML_MEMORY_H
#define PRAVLIN_XML_MEMORY_H

#include <cstddef>
#include <functional>

#include "xml_entity.h"

/// One document's memory: 2 MiB chunks of nodes and strings, and the tables of the names and
/// short texts it shares.
struct XmlArena;

/// A new arena for one read. Does not return when memory is exhausted.
XmlArena* xml_open_arena();
/// Releases the arena with every node and string taken from it.
void xml_release_arena(XmlArena* a);
/// Makes head the node whose free_XMLENTITY releases the arena: the read's first node.
void xml_arena_hand_over(XmlArena* a, XMLENTITY* head);

/// Runs read, with a second core making the arena's chunks ready ahead of it when fed is true
/// (a large document): the read never waits for it, and nothing read depends on it.
void xml_read_fed(XmlArena* a, bool fed, const std::function<void()>& read);

/// A zero-filled node of the arena; a null arena gives a loose node (xml_loose_node).
XMLENTITY* xml_arena_node(XmlArena* a);
/// A copy of s[0..len) with a terminator, in the arena, or in an ordinary allocation (as
/// xmlcopystring makes one) when a is null. Does not return when memory is exhausted.
char* xml_arena_string(XmlArena* a, const char* s, std::size_t len);
/// xml_arena_string for a node's name: a name without capitals is shared by every node of the
/// document that bears it, since lower-casing never writes to it.
char* xml_arena_name(XmlArena* a, const char* s, std::size_t len);
/// xml_arena_string for an element's text: short texts are shared by every node that bears
/// them, since nothing writes to a text the reader made.
char* xml_arena_text(XmlArena* a, const char* s, std::size_t len);
/// xml_arena_string of a whole C string; null for null.
char* xml_arena_copy(XmlArena* a, const char* s);

/// A node made on its own (alloc_XMLENTITY), zero-filled, from the process's arena of loose
/// nodes; its strings are ordinary allocations. Does not return when memory is exhausted.
XMLENTITY* xml_loose_node();
/// Takes a loose node back, for the next xml_loose_node; its strings are the caller's to free.
void xml_drop_loose_node(XMLENTITY* x);
/// Whether x is a loose node rather than a node of a read document.
bool xml_is_loose_node(const XMLENTITY* x);
/// Releases x's document, when x is the node it was handed over to; false otherwise.
bool xml_release_document(XMLENTITY* x);

/// Releases the arena of a read that ends without a document, also when fail() unwinds it (a
/// fuzz build).
struct ArenaOwner {
  XmlArena* arena;
  ~ArenaOwner() {
    if (arena != nullptr)
      xml_release_arena(arena);
  }
};

#endif
