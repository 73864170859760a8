// config_stream.h - a configuration read without the tree of its states and transitions: the
// stream path of the mapping, for regular files.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_CONFIG_STREAM_H
#define PRAVLIN_CONFIG_STREAM_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "pravlin.h"
#include "sparse_read.h"

/// A state element that reads plainly: every child an element named ser, name,
/// initial_probability or value in full, numbers that read whole, a name without a "<". Reading
/// it draws no warning, and pravlin-analyze has no note on it.
struct streamed_state {
  int ser;
  int name;  // offset of its name in the part's names, or -1 for none
  double initial_probability;
  double val;
};

/// A transition element that reads plainly (from and to in full, state and probability in full
/// inside each to, numbers that read whole): its source and how many destinations follow it in
/// the part's entries.
struct streamed_transition {
  int from;
  int count;
};

/// A node kept for the mapping and the notes, before it is made: the root's children other than
/// the plain states and transitions, down to the depth the mapping reads.
struct streamed_node {
  int type;
  int parent;                  // index of the parent in the part's nodes; -1: a child of the root
  std::size_t name, name_len;  // in the part's pool
  std::size_t text, text_len;  // in the part's pool; text == npos: no text (null)
};

/// A run of the root's children of one kind, in document order.
enum StreamedKind { STREAMED_NODES, STREAMED_STATES, STREAMED_TRANSITIONS };
struct streamed_run {
  StreamedKind kind;
  std::size_t count;
};

/// What one part of the file yields, in document order.
struct streamed_part {
  std::vector<streamed_run> runs;
  std::vector<streamed_node> kept;
  std::string pool;
  std::vector<XMLENTITY*> nodes;  // the kept children of the root, once made
  std::vector<streamed_state> states;
  std::string names;                 // each name with its terminator
  const char* names_kept = nullptr;  // the names as the tree keeps them, once made
  std::vector<streamed_transition> transitions;
  std::vector<TRANSITION_ENTRY> entries;
};

/// A document read by read_document_streamed: its parts, in order.
struct streamed_document {
  std::vector<streamed_part> parts;
};

/// Reads the document in `in` as readfile_XMLENTITY would, with the same code in *errflag and
/// the same first node, and returns true; false, having read nothing, when the stream path does
/// not apply (not a regular file, no memory for its buffers): the caller
/// reads the tree. The tree in *tree holds the root alone when the read failed or the root is
/// not pravlin; otherwise the root's children that the mapping and the notes read: every
/// element among them but the plain states and transitions, which are in doc instead, each down
/// to the depth the mapping reads, without attributes. Large files are read on both cores.
bool read_document_streamed(FILE* in, int* errflag, XMLENTITY** tree, streamed_document* doc);

/// The second pass over the states and transitions of a document read by
/// read_document_streamed, in document order, with the same checks and messages as the tree's:
/// states into the record, and with dense set, transitions into the matrix.
void read_streamed_items(PRAVLIN* pv, int dense, streamed_document* doc);

/// Appends every transition of the document to the list in document order, as
/// collect_transitions does for a tree. Fails with the transition rows' out-of-memory message
/// when the list cannot be had.
void collect_streamed_transitions(streamed_document* doc, std::vector<TRANSITION_ENTRY>* list);

/// Whether s[0..len) is a number that strtod reads whole and xml_atof reads with
/// std::from_chars, and then its value, bit for bit xml_atof's: the reals of a plain state or
/// transition.
bool stream_clean_real(const char* s, std::size_t len, double* value);

/// With on 0, every configuration is read as a tree; 1 (the
/// default) reads regular files as they are scanned (config_stream.cc). For tests that compare
/// the two.
void set_stream_reading(int on);

/// Makes bytes the smallest file that the stream path reads in two parts, one per core (0
/// restores the default, 4 MiB): lets tests split small documents anywhere.
void set_stream_split_from(std::size_t bytes);

/// How many parts the stream path read the last configuration in: 1, 2 (the first part met the
/// second's starting point), or 0 when it did not read it.
unsigned stream_parts_read();

#endif
