// analyze_dot.h - the chain as a Graphviz drawing.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_ANALYZE_DOT_H
#define PRAVLIN_ANALYZE_DOT_H

#include <cstdio>

#include "analyze.h"

/// Writes the chain to file as a Graphviz graph: each class a cluster (closed ones drawn in
/// blue, transient ones dashed, absorbing states as double circles), states labelled by number
/// and name, transitions by probability with precision digits. A chain too big to draw usefully
/// gets one node a class instead, and one with too many classes a title only. Returns 2 for
/// the whole chain, 1 for the classes, 0 for the title. Does not return when the file cannot be
/// written.
int write_dot(const char* file, const PRAVLIN* pv, const SPARSE_CHAIN* c, const CHAIN_CLASSES* cl,
              int precision);
/// The "drawing:" line of the text output, saying what write_dot returned.
void print_dot_line(FILE* out, const char* file, int drawn, const SPARSE_CHAIN* c,
                    const CHAIN_CLASSES* cl);

#endif
