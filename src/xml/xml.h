// xml.h - a small, lenient reader for XML-like text: node tree, reader and printer.
// Part of pravlin; see README.md. Knows nothing of the chain calculator.
#ifndef PRAVLIN_XML_H
#define PRAVLIN_XML_H

#include <cstddef>
#include <cstdio>

#include "xml_entity.h"

// The node, its codes and xmlStringStrip are in xml_entity.h, for the reader's own files.

/// Name of a result code ("XML_EOF"), for test output and the inspection tool.
const char* xml_result_name(int code);

/// A new node with every field null or 0. Does not return when memory is exhausted.
XMLENTITY* alloc_XMLENTITY();
/// Releases a node, its strings, its children, attributes and following siblings. Null is
/// ignored. Walks along next without recursing, so a long list cannot exhaust the stack.
void free_XMLENTITY(XMLENTITY* xml);
/// A copy of s in an allocation of its length plus the terminator; null for null. Does not
/// return when memory is exhausted.
char* xmlcopystring(const char* s);
/// Lower-cases A to Z in place; every other byte is kept. s must not be null.
void xmlstr2lower(char* s);
/// Lower-cases x's name and, when recursive_flag is not 0, the names of every node below it
/// (children of every kind, not attributes, not x's following siblings). Null is ignored.
void name2lower_XMLENTITY(XMLENTITY* x, int recursive_flag);
/// The first direct child of x whose name equals s byte for byte, or null.
XMLENTITY* extract_XMLENTITY_name(XMLENTITY* x, const char* s);

/// Reads the whole stream and returns the first top-level node (null when nothing yields a
/// node); *errflag gets the last non-zero code read with a top-level node, or 0. A construct too
/// long for the scan buffer, at any level, ends the read as nesting past XML_MAX_DEPTH does: the
/// code is XML_TOO_LONG and nothing after it is read. Null arguments print a message and give
/// null. Within one read, equal names without capitals and equal short
/// element texts are one string shared by their nodes: lower-case names with
/// name2lower_XMLENTITY, and write to a text only after giving its node a copy of its own.
XMLENTITY* readfile_XMLENTITY(FILE* in, int* errflag);
/// readfile_XMLENTITY taking at most max_bytes from the stream: for a stream whose size cannot
/// be known before it is read (a pipe, a device such as /dev/zero), which may never end. Past
/// max_bytes the read fails as exhausted memory does, with the message of alloc_XMLENTITY.
XMLENTITY* readfile_XMLENTITY_bounded(FILE* in, int* errflag, std::size_t max_bytes);
/// Reads one construct right after its "<" has been read; returns its node or null, and writes
/// a non-zero code to *errflag when there is one. Does not return on a null argument.
XMLENTITY* fget_XMLENTITY(FILE* in, int* errflag);
/// Splits start-tag text (without "<", ">" and a trailing "/") into a node with name and
/// Nmtoken list filled, type 0. Overwrites characters of s. Null gives null.
XMLENTITY* xmlParseTag(char* s);

/// Writes xml and its subtree (not its following siblings) as indented text; null out means
/// standard output, a null node writes nothing, a negative indent counts as 0.
void xmlfprint(FILE* out, const XMLENTITY* xml, int indent);

#endif
